// Sends one large file with zapfer-cli to zapfer-cli receive over 127.0.0.1
// and copies the same file over a plain TCP connection with socat, the most
// the loopback link gives; prints both rates in MB/s and their ratio.
//
// Usage: lan_throughput [SIZE_MIB]   (default 1024)

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A child process, killed and reaped on every way out; stdout optionally piped.
class Child {
public:
    // Without `pipeStdout` the child's stdout is discarded.
    Child(const std::vector<std::string>& argv, bool pipeStdout) {
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int out[2] = {-1, -1};
        if (pipeStdout && pipe2(out, O_CLOEXEC) == 0) {
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
            m_out = out[0];
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        }
        if (posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (out[1] >= 0)
            close(out[1]);
    }
    ~Child() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return m_pid > 0; }
    void signal(int sig) const { kill(m_pid, sig); }
    // Exit status, or -1 when killed by a signal.
    int wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The first stdout line, waiting at most `ms`.
    std::optional<std::string> firstLine(int ms) {
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

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/zapfer-bench-XXXXXX";
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

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

void flushToDisk(const std::string& path) {
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

int fail(const char* what) {
    std::fprintf(stderr, "lan_throughput: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    uint64_t mib = 1024;
    if (argc > 1) {
        char* end = nullptr;
        mib = std::strtoull(argv[1], &end, 10);
        if (!end || *end || mib == 0 || mib >= 2048)
            return fail("SIZE_MIB must be 1 to 2047 (a file under 2 GiB)");
    }
    const uint64_t size = mib << 20;
    const std::string cli = ZAPFER_CLI_PATH;

    TempDir dir;
    if (dir.path().empty())
        return fail("cannot create a temporary folder");
    const std::string source = dir.path() + "/payload.bin";
    const std::string zapferDest = dir.path() + "/zapfer";
    const std::string plainCopy = dir.path() + "/plain.bin";
    std::filesystem::create_directory(zapferDest);
    std::printf("writing a %llu MiB file\n", static_cast<unsigned long long>(mib));
    std::fflush(stdout);
    if (!writeRandomFile(source, size))
        return fail("cannot write the test file");

    // zapfer-cli to zapfer-cli.
    double zapferSeconds = 0;
    {
        Child receiver({cli, "receive", "--port", "0", "--echo-port", "0", "--dest", zapferDest},
                       true);
        const auto line = receiver.firstLine(20000);
        const std::string lead = "listening on port ";
        if (!receiver.started() || !line || !line->starts_with(lead))
            return fail("the receiver did not start");
        const auto start = Clock::now();
        Child sender(
            {cli, "send", "--to", "127.0.0.1", "--port", line->substr(lead.size()), source}, false);
        if (!sender.started() || sender.wait() != 0)
            return fail("zapfer-cli send failed");
        zapferSeconds = seconds(Clock::now() - start);
        receiver.signal(SIGTERM);
        receiver.wait();
        std::error_code ec;
        if (std::filesystem::file_size(zapferDest + "/payload.bin", ec) != size)
            return fail("the received file has the wrong size");
        // Its pages would otherwise crowd the cache while socat writes.
        std::filesystem::remove(zapferDest + "/payload.bin", ec);
    }

    // socat from file to file: the plain TCP copy.
    double plainSeconds = 0;
    double plainSyncedSeconds = 0;
    {
        const std::string port = std::to_string(freeLoopbackPort());
        Child listener({"socat", "-b", "131072", "-u",
                        "TCP-LISTEN:" + port + ",bind=127.0.0.1,reuseaddr",
                        "OPEN:" + plainCopy + ",creat,trunc"},
                       false);
        if (!listener.started())
            return fail("cannot run socat");
        usleep(300000); // let it listen; the client retries in case it is not yet
        const auto start = Clock::now();
        Child client({"socat", "-b", "131072", "-u", "OPEN:" + source,
                      "TCP:127.0.0.1:" + port + ",retry=100,interval=0.01"},
                     false);
        if (!client.started() || client.wait() != 0 || listener.wait() != 0)
            return fail("socat failed");
        plainSeconds = seconds(Clock::now() - start);
        // The receiver flushes each file to disk before it counts; so does this copy.
        flushToDisk(plainCopy);
        plainSyncedSeconds = seconds(Clock::now() - start);
        std::error_code ec;
        if (std::filesystem::file_size(plainCopy, ec) != size)
            return fail("the socat copy has the wrong size");
    }

    const double megabytes = double(size) / 1e6;
    const double zapferRate = megabytes / zapferSeconds;
    const double plainRate = megabytes / plainSeconds;
    const double plainSyncedRate = megabytes / plainSyncedSeconds;
    std::printf("zapfer-cli send/receive   %8.1f MB/s  (%.2f s)\n", zapferRate, zapferSeconds);
    std::printf("socat -b 131072           %8.1f MB/s  (%.2f s)\n", plainRate, plainSeconds);
    std::printf("socat, then fsync         %8.1f MB/s  (%.2f s)\n", plainSyncedRate,
                plainSyncedSeconds);
    std::printf("ratio zapfer / socat      %8.0f %%\n", 100 * zapferRate / plainRate);
    std::printf("ratio zapfer / socat+fsync%8.0f %%\n", 100 * zapferRate / plainSyncedRate);
    return 0;
}
