#include "bench_runs.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace zapfer::bench {

Child::Child(const std::vector<std::string>& argv, Output output) {
    spawn(argv, "/dev/null", output == Output::Pipe);
}

Child::Child(const std::vector<std::string>& argv, const std::string& stdoutFile) {
    spawn(argv, stdoutFile, false);
}

void Child::spawn(const std::vector<std::string>& argv, const std::string& stdoutFile, bool pipe) {
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int out[2] = {-1, -1};
    if (pipe && pipe2(out, O_CLOEXEC) == 0) {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        m_out = out[0];
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (out[1] >= 0)
        close(out[1]);
}

Child::~Child() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_out >= 0)
        close(m_out);
}

void Child::signal(int sig) const {
    kill(m_pid, sig);
}

int Child::wait() {
    int status = 0;
    rusage usage{};
    pid_t got;
    do {
        got = wait4(m_pid, &status, 0, &usage);
    } while (got < 0 && errno == EINTR);
    m_pid = -1;
    if (got < 0)
        return -1;
    m_cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<std::string> Child::firstLine(int ms) {
    std::string text;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        pollfd fd{m_out, POLLIN, 0};
        if (poll(&fd, 1, 50) <= 0)
            continue;
        char c;
        if (read(m_out, &c, 1) != 1)
            break;
        if (c == '\n')
            return text;
        text += c;
    }
    return std::nullopt;
}

std::string firstLineOf(const std::filesystem::path& file, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        std::ifstream in(file);
        std::string line;
        // good(): the line ended in a newline, it is not half written.
        if (std::getline(in, line) && in.good())
            return line;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

TempDir::TempDir(std::string base) {
    if (base.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = base + "/zapfer-bench-XXXXXX";
    if (mkdtemp(pattern.data()))
        m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ec);
}

bool writeRandomFile(const std::string& path, uint64_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::vector<uint64_t> chunk(1 << 17); // 1 MiB
    uint64_t state = 0x9E3779B97F4A7C15u;
    bool ok = true;
    for (uint64_t written = 0; ok && written < size;) {
        for (auto& word : chunk) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const size_t n = size_t(std::min<uint64_t>(size - written, chunk.size() * 8));
        ok = ::write(fd, chunk.data(), n) == ssize_t(n);
        written += n;
    }
    return close(fd) == 0 && ok;
}

void syncPath(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

uint16_t freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0)
        return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<std::string> joined(const std::vector<std::string>& prefix,
                                const std::vector<std::string>& command) {
    std::vector<std::string> all = prefix;
    all.insert(all.end(), command.begin(), command.end());
    return all;
}

Summary summarize(const std::vector<Timing>& runs) {
    Summary summary;
    std::vector<double> wall, sender, receiver;
    for (const Timing& t : runs) {
        if (t.seconds < 0)
            return summary;
        wall.push_back(t.seconds);
        sender.push_back(t.senderCpu);
        receiver.push_back(t.receiverCpu);
    }
    if (wall.empty())
        return summary;
    return {true, median(wall), median(sender), median(receiver)};
}

namespace {

// The sending command's wall and CPU time; failed unless it exits with 0.
Timing timeSender(const Peer& sender, const std::vector<std::string>& command) {
    const auto start = Clock::now();
    Child send(joined(sender.prefix, command), Child::Output::Discard);
    if (!send.started() || send.wait() != 0)
        return {};
    Timing timing;
    timing.seconds = seconds(Clock::now() - start);
    timing.senderCpu = send.cpuSeconds();
    return timing;
}

} // namespace

Timing timeZapfer(const std::string& cli, const Peer& receiver, const Peer& sender,
                  const std::vector<std::string>& files, const std::string& dest,
                  const std::string& pairedConfig) {
    const bool paired = !pairedConfig.empty();
    // The settings (and with them the code and its kept key) of this run.
    const std::vector<std::string> settings =
        paired ? std::vector<std::string>{"env", "XDG_CONFIG_HOME=" + pairedConfig, cli}
               : std::vector<std::string>{cli};
    std::vector<std::string> receiveCommand = joined(
        settings, {"receive", "--port", "0", "--echo-port", "0", "--overwrite", "--dest", dest});
    if (paired)
        receiveCommand.insert(receiveCommand.end(), {"--paired-port", "0"});
    Child receive(joined(receiver.prefix, receiveCommand), Child::Output::Pipe);
    auto line = receive.firstLine(20000);
    const std::string lead = paired ? "listening for paired peers on port " : "listening on port ";
    if (paired && line && !line->starts_with(lead))
        line = receive.firstLine(20000);
    if (!receive.started() || !line || !line->starts_with(lead))
        return {};
    std::vector<std::string> command = joined(settings, {"send", "--to", receiver.address});
    if (paired)
        command.insert(command.end(), {"--paired-port", line->substr(lead.size())});
    else
        command.insert(command.end(), {"--port", line->substr(lead.size()), "--plain"});
    command.insert(command.end(), files.begin(), files.end());
    Timing timing = timeSender(sender, command);
    if (timing.seconds < 0)
        return timing;
    receive.signal(SIGTERM);
    receive.wait();
    timing.receiverCpu = receive.cpuSeconds();
    return timing;
}

Timing timeSend(const std::string& cli, const Peer& sender, const std::string& receiverAddress,
                const std::string& port, const std::vector<std::string>& files) {
    std::vector<std::string> command = {cli,      "send", "--to",   receiverAddress,
                                        "--port", port,   "--plain"};
    command.insert(command.end(), files.begin(), files.end());
    return timeSender(sender, command);
}

} // namespace zapfer::bench
