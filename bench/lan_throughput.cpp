// Sends files with zapfer-cli to zapfer-cli receive and copies the same bytes
// over a plain TCP connection with socat, the most the link gives; prints
// both rates and their ratio for each case, and the CPU seconds per GiB of
// each end (sender and receiver, from the rusage of the reaped processes):
//   - one large file over 127.0.0.1;
//   - 100 files of 4 KiB over 127.0.0.1 (files per second), and what
//     recording each transfer in the history adds to it;
//   - one file across links with 1 ms and 10 ms of delay each way, between two
//     network namespaces joined by the delay-link tool (root only);
//   - the large file and the delayed ones again on the paired (TLS) link,
//     beside the plain link's rate and CPU time. Both ends take the code
//     stored by one `zapfer-cli pair` in a private settings folder, as a user
//     would, so the key comes from the key file beside it; the one-off cost of
//     deriving it is shown apart.
// Each case runs in rounds (zapfer, the paired link where the case has one,
// then socat) and reports the median.
//
// Usage: lan_throughput [--size MIB] [--runs N] [--dir PATH] [--delay-link PATH]
//                       [--history-only] [--cli PATH]
//   --size        the large file, 1 to 2047 MiB (default 1024)
//   --runs        rounds per case, 1 to 15 (default 3); the median is shown
//   --dir         where the files live (default $TMPDIR or /tmp); /dev/shm
//                 takes the disk out of the measurement
//   --delay-link  the delay-link script; without it the delayed cases are skipped
//   --history-only  only the recording case, in --runs blocks of 16 rounds:
//                 a cost of a fraction of a millisecond needs many of them
//   --cli         the zapfer-cli to time (default: the one built beside this),
//                 so that two builds can be run in turn on the same load

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
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
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
            while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        if (m_out >= 0)
            close(m_out);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return m_pid > 0; }
    void signal(int sig) const { kill(m_pid, sig); }
    // Exit status, or -1 when killed by a signal. The CPU time of the child
    // and of the children it reaped itself is kept for cpuSeconds().
    int wait() {
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
    // User and system seconds, once wait() has reaped the child.
    double cpuSeconds() const { return m_cpuSeconds; }
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
    double m_cpuSeconds = 0;
};

class TempDir {
public:
    explicit TempDir(std::string base) {
        if (base.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            base = tmp && *tmp ? tmp : "/tmp";
        }
        std::string pattern = base + "/zapfer-bench-XXXXXX";
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

int fail(const char* what) {
    std::fprintf(stderr, "lan_throughput: %s\n", what);
    return 1;
}

struct Peer {
    std::vector<std::string> prefix; // e.g. {"ip", "netns", "exec", "za"}; empty for this namespace
    std::string address;             // where the other side reaches it
};

std::vector<std::string> joined(const std::vector<std::string>& prefix,
                                const std::vector<std::string>& command) {
    std::vector<std::string> all = prefix;
    all.insert(all.end(), command.begin(), command.end());
    return all;
}

// One copy: its wall time (< 0 on failure) and each end's CPU time.
struct Timing {
    double seconds = -1;
    double senderCpu = 0;
    double receiverCpu = 0;
};

// zapfer-cli sending `files` from `sender` to a receiver in `receiver`; on
// the paired link with the code stored under `pairedConfig` when one is given.
Timing timeZapfer(const std::string& cli, const Peer& receiver, const Peer& sender,
                  const std::vector<std::string>& files, const std::string& dest,
                  const std::string& pairedConfig = {}) {
    const bool paired = !pairedConfig.empty();
    // The settings (and with them the code and its kept key) of this run.
    const std::vector<std::string> settings =
        paired ? std::vector<std::string>{"env", "XDG_CONFIG_HOME=" + pairedConfig, cli}
               : std::vector<std::string>{cli};
    std::vector<std::string> receiveCommand = joined(
        settings, {"receive", "--port", "0", "--echo-port", "0", "--overwrite", "--dest", dest});
    if (paired)
        receiveCommand.insert(receiveCommand.end(), {"--paired-port", "0"});
    Child receive(joined(receiver.prefix, receiveCommand), true);
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
    const auto start = Clock::now();
    Child send(joined(sender.prefix, command), false);
    if (!send.started() || send.wait() != 0)
        return {};
    Timing timing;
    timing.seconds = seconds(Clock::now() - start);
    timing.senderCpu = send.cpuSeconds();
    receive.signal(SIGTERM);
    receive.wait();
    timing.receiverCpu = receive.cpuSeconds();
    return timing;
}

// socat copying the same bytes (a tar stream of `files` when there are
// several), then flushing them to disk as the receiver does.
Timing timePlain(const Peer& receiver, const Peer& sender, const std::vector<std::string>& files,
                 const std::string& dest) {
    const std::string port = std::to_string(freeLoopbackPort());
    const bool single = files.size() == 1;
    const std::string copy = dest + "/plain.bin";
    const std::string sink = single ? "OPEN:" + copy + ",creat,trunc" : "EXEC:tar -x -C " + dest;
    Child listener(joined(receiver.prefix, {"socat", "-b", "131072", "-u",
                                            "TCP-LISTEN:" + port + ",reuseaddr", sink}),
                   false);
    if (!listener.started())
        return {};
    usleep(300000); // let it listen; the client retries in case it is not yet
    std::string source = "OPEN:" + files.front();
    if (!single) {
        // The files are alone in their folder: the archive is that folder.
        source =
            "EXEC:tar -c -C " + std::filesystem::path(files.front()).parent_path().string() + " .";
    }
    const auto start = Clock::now();
    Child client(joined(sender.prefix,
                        {"socat", "-b", "131072", "-u", source,
                         "TCP:" + receiver.address + ":" + port + ",retry=100,interval=0.01"}),
                 false);
    if (!client.started() || client.wait() != 0 || listener.wait() != 0)
        return {};
    // The receiver syncs each file it keeps, and its folder: so does this copy.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dest))
        syncPath(entry.path().string());
    syncPath(dest);
    return {seconds(Clock::now() - start), client.cpuSeconds(), listener.cpuSeconds()};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of each figure over the runs that succeeded; failed when any did not.
struct Summary {
    bool ok = false;
    double seconds = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
};

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

void report(const std::string& label, double bytes, const std::vector<Timing>& zapferRuns,
            const std::vector<Timing>& plainRuns) {
    const Summary z = summarize(zapferRuns);
    const Summary p = summarize(plainRuns);
    if (!z.ok || !p.ok) {
        std::printf("%-34s failed\n", label.c_str());
        return;
    }
    const double zapferRate = bytes / 1e6 / z.seconds;
    const double plainRate = bytes / 1e6 / p.seconds;
    std::printf("%-34s zapfer %8.1f MB/s   socat %8.1f MB/s   ratio %4.0f %%\n", label.c_str(),
                zapferRate, plainRate, 100 * zapferRate / plainRate);
    // CPU per GiB moved, so that cases of any size compare.
    const double perGib = double(1ull << 30) / bytes;
    std::printf("%-34s CPU s/GiB  zapfer send %.2f receive %.2f both %.2f   socat send %.2f "
                "receive %.2f both %.2f   ratio %.2f\n",
                "", z.senderCpu * perGib, z.receiverCpu * perGib,
                (z.senderCpu + z.receiverCpu) * perGib, p.senderCpu * perGib,
                p.receiverCpu * perGib, (p.senderCpu + p.receiverCpu) * perGib,
                (p.senderCpu + p.receiverCpu) > 0
                    ? (z.senderCpu + z.receiverCpu) / (p.senderCpu + p.receiverCpu)
                    : 0.0);
    std::fflush(stdout);
}

bool run(const std::vector<std::string>& argv) {
    Child child(argv, false);
    return child.started() && child.wait() == 0;
}

} // namespace

// The paired link beside the plain one of the same runs.
void reportPaired(const std::string& label, double bytes, const std::vector<Timing>& pairedRuns,
                  const std::vector<Timing>& plainRuns) {
    const Summary paired = summarize(pairedRuns);
    const Summary plain = summarize(plainRuns);
    if (!paired.ok || !plain.ok) {
        std::printf("%-34s failed\n", label.c_str());
        return;
    }
    const double pairedRate = bytes / 1e6 / paired.seconds;
    const double plainRate = bytes / 1e6 / plain.seconds;
    std::printf("%-34s paired %8.1f MB/s   plain  %8.1f MB/s   ratio %4.0f %%\n", label.c_str(),
                pairedRate, plainRate, 100 * pairedRate / plainRate);
    std::printf("%-34s CPU s both ends  paired %.2f   plain %.2f\n", "",
                paired.senderCpu + paired.receiverCpu, plain.senderCpu + plain.receiverCpu);
    std::fflush(stdout);
}

int main(int argc, char** argv) {
    uint64_t mib = 1024;
    int runs = 3;
    std::string base;
    std::string delayLink;
    bool historyOnly = false;
    std::string cli = ZAPFER_CLI_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            char* end = nullptr;
            mib = std::strtoull(argv[++i], &end, 10);
            if (!end || *end || mib == 0 || mib >= 2048)
                return fail("--size must be 1 to 2047 (a file under 2 GiB)");
        } else if (arg == "--runs" && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (!end || *end || n < 1 || n > 15)
                return fail("--runs must be 1 to 15");
            runs = int(n);
        } else if (arg == "--dir" && i + 1 < argc) {
            base = argv[++i];
            if (!std::filesystem::is_directory(base))
                return fail("--dir must name an existing folder");
        } else if (arg == "--delay-link" && i + 1 < argc) {
            delayLink = argv[++i];
        } else if (arg == "--history-only") {
            historyOnly = true;
        } else if (arg == "--cli" && i + 1 < argc) {
            cli = argv[++i];
            if (::access(cli.c_str(), X_OK) != 0)
                return fail("--cli must name an executable zapfer-cli");
        } else {
            return fail("usage: lan_throughput [--size MIB] [--runs N] [--dir PATH] "
                        "[--delay-link PATH] [--history-only] [--cli PATH]");
        }
    }
    TempDir dir(base);
    if (dir.path().empty())
        return fail("cannot create a temporary folder");
    const std::string big = dir.path() + "/payload.bin";
    const std::string dest = dir.path() + "/dest";
    const std::string smallDir = dir.path() + "/small";
    std::filesystem::create_directory(dest);
    std::filesystem::create_directory(smallDir);
    // Every zapfer-cli run records its transfer: into a history of its own,
    // not the user's.
    const std::string data = dir.path() + "/data";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    if (historyOnly)
        mib = 1; // unused: the large file's cases are left out
    std::printf("writing a %llu MiB file and 100 files of 4 KiB in %s; %d round(s) per case\n",
                static_cast<unsigned long long>(mib), dir.path().c_str(), runs);
    std::fflush(stdout);
    if (!writeRandomFile(big, mib << 20))
        return fail("cannot write the test file");
    std::vector<std::string> small;
    for (int i = 0; i < 100; ++i) {
        small.push_back(smallDir + "/f" + std::to_string(i) + ".bin");
        if (!writeRandomFile(small.back(), 4096))
            return fail("cannot write the small files");
    }
    auto clearDest = [&] {
        std::error_code ec;
        std::filesystem::remove_all(dest, ec);
        std::filesystem::create_directory(dest, ec);
    };

    // The paired cases' code, made once as a user makes it; `pair` derives
    // its key and keeps it beside the settings, so the sends below read it.
    const std::string config = dir.path() + "/config";
    {
        const auto start = Clock::now();
        Child pair({"env", "XDG_CONFIG_HOME=" + config, cli, "pair"}, false);
        if (!pair.started() || pair.wait() != 0)
            return fail("zapfer-cli pair failed");
        std::printf("%-34s %.3f s wall, %.3f s CPU (zapfer-cli pair, once per code)\n",
                    "pairing key, derived once", seconds(Clock::now() - start), pair.cpuSeconds());
        if (!std::filesystem::exists(config + "/Quorvel/Zapfer.pairing-key"))
            std::printf("%-34s not kept: every paired send below derives it again\n", "");
        std::fflush(stdout);
    }

    // Rounds of zapfer, the paired link where the case has one, then socat,
    // `count` times, each into an empty folder. The paired runs sit between
    // the plain runs they are set against, so that a part of the run in which
    // the machine is slower weighs on both alike.
    struct Rounds {
        std::vector<Timing> zapfer, plain, paired;
    };
    auto timeRounds = [&](const Peer& receiver, const Peer& sender,
                          const std::vector<std::string>& files, int count, bool withPaired) {
        Rounds all;
        for (int i = 0; i < count; ++i) {
            all.zapfer.push_back(timeZapfer(cli, receiver, sender, files, dest));
            clearDest();
            if (withPaired) {
                all.paired.push_back(timeZapfer(cli, receiver, sender, files, dest, config));
                clearDest();
            }
            all.plain.push_back(timePlain(receiver, sender, files, dest));
            clearDest();
        }
        return all;
    };

    const Peer local{{}, "127.0.0.1"};
    if (!historyOnly) {
        const Rounds large = timeRounds(local, local, {big}, runs, true);
        const std::string label = "127.0.0.1, " + std::to_string(mib) + " MiB";
        report(label, double(mib << 20), large.zapfer, large.plain);
        reportPaired(label + ", paired", double(mib << 20), large.paired, large.zapfer);
    }
    if (!historyOnly) {
        const Rounds many = timeRounds(local, local, small, runs, false);
        report("127.0.0.1, 100 files of 4 KiB", 100.0 * 4096, many.zapfer, many.plain);
        const Summary s = summarize(many.zapfer);
        if (s.ok)
            std::printf("%-34s zapfer %8.0f files/s\n", "", 100 / s.seconds);
    }
    {
        // What recording each transfer in the history costs: runs with it and
        // without alternate, so that the machine's load falls on both alike.
        // The CPU time of both ends says it too, less swayed by that load.
        // Each end keeps a history of its own, as two machines do: one file
        // for both would make each end wait for the other's write.
        auto end = [&](const char* history, const char* side) {
            return Peer{{"env", history, "XDG_DATA_HOME=" + data + "/" + side}, "127.0.0.1"};
        };
        const Peer recordedReceiver = end("ZAPFER_HISTORY=on", "receiver");
        const Peer recordedSender = end("ZAPFER_HISTORY=on", "sender");
        const Peer unrecordedReceiver = end("ZAPFER_HISTORY=off", "receiver");
        const Peer unrecordedSender = end("ZAPFER_HISTORY=off", "sender");
        // A second arm without recording, in the same turn, says how far two
        // runs of the very same thing differ on this machine: a cost smaller
        // than that spread cannot be told apart from it.
        std::vector<Timing> on, off, offAgain;
        const int rounds = historyOnly ? 16 * runs : 16;
        for (int round = 0; round < rounds; ++round) {
            for (int turn = 0; turn < 3; ++turn) {
                const int arm = (round + turn) % 3;
                const bool recording = arm == 0;
                const Peer& receiver = recording ? recordedReceiver : unrecordedReceiver;
                const Peer& sender = recording ? recordedSender : unrecordedSender;
                std::vector<Timing>& into = arm == 0 ? on : arm == 1 ? off : offAgain;
                into.push_back(timeZapfer(cli, receiver, sender, small, dest));
                clearDest();
            }
        }
        const Summary with = summarize(on);
        const Summary without = summarize(off);
        const Summary control = summarize(offAgain);
        const char* label = "100 files of 4 KiB, history";
        if (!with.ok || !without.ok || !control.ok) {
            std::printf("%-34s failed\n", label);
        } else {
            const double cpuWith = with.senderCpu + with.receiverCpu;
            const double cpuWithout = without.senderCpu + without.receiverCpu;
            const double cpuControl = control.senderCpu + control.receiverCpu;
            std::printf(
                "%-34s recorded %7.1f ms   not %7.1f ms   cost %+5.1f %% (medians of %zu)\n", label,
                1000 * with.seconds, 1000 * without.seconds,
                100 * (with.seconds - without.seconds) / without.seconds, on.size());
            std::printf("%-34s CPU both ends  recorded %6.1f ms   not %6.1f ms   cost %+5.1f %%\n",
                        "", 1000 * cpuWith, 1000 * cpuWithout,
                        cpuWithout > 0 ? 100 * (cpuWith - cpuWithout) / cpuWithout : 0.0);
            std::printf("%-34s not recorded, again: %7.1f ms, %+5.1f %%; CPU %6.1f ms, %+5.1f %%"
                        " (the machine's own spread)\n",
                        "", 1000 * control.seconds,
                        100 * (control.seconds - without.seconds) / without.seconds,
                        1000 * cpuControl,
                        cpuWithout > 0 ? 100 * (cpuControl - cpuWithout) / cpuWithout : 0.0);
            // Each end opens its history in a process of its own: its share
            // says where the cost falls.
            for (const auto& [side, recorded, notRecorded] :
                 {std::tuple{"sender  ", with.senderCpu, without.senderCpu},
                  std::tuple{"receiver", with.receiverCpu, without.receiverCpu}})
                std::printf("%-34s CPU %s   recorded %6.1f ms   not %6.1f ms   %+6.2f ms\n", "",
                            side, 1000 * recorded, 1000 * notRecorded,
                            1000 * (recorded - notRecorded));
        }
        std::fflush(stdout);
    }
    if (historyOnly)
        return 0;
    if (delayLink.empty()) {
        std::printf("delayed links skipped: give --delay-link PATH (and run as root)\n");
        return 0;
    }
    if (geteuid() != 0) {
        std::printf("delayed links skipped: they need root\n");
        return 0;
    }
    const uint64_t delayedMib = std::min<uint64_t>(mib, 256);
    const std::string delayedFile = dir.path() + "/delayed.bin";
    if (!writeRandomFile(delayedFile, delayedMib << 20))
        return fail("cannot write the delayed test file");
    for (const int delayUs : {1000, 10000}) {
        const std::string a = "zapbench-a";
        const std::string b = "zapbench-b";
        run({delayLink, "down", a, b});
        if (!run({delayLink, "up", a, b, std::to_string(delayUs)})) {
            std::printf("delay-link up failed\n");
            continue;
        }
        const Peer receiver{{"ip", "netns", "exec", b}, "198.18.0.2"};
        const Peer sender{{"ip", "netns", "exec", a}, "198.18.0.1"};
        const Rounds delayed = timeRounds(receiver, sender, {delayedFile}, runs, true);
        run({delayLink, "down", a, b});
        const std::string label =
            std::to_string(delayUs / 1000) + " ms each way, " + std::to_string(delayedMib) + " MiB";
        report(label, double(delayedMib << 20), delayed.zapfer, delayed.plain);
        reportPaired(label + ", paired", double(delayedMib << 20), delayed.paired, delayed.zapfer);
    }
    return 0;
}
