// Sends files with zapfer-cli to zapfer-cli receive and copies the same bytes
// over a plain TCP connection with socat, the most the link gives; prints
// both rates and their ratio for each case, and the CPU seconds per GiB of
// each end (sender and receiver, from the rusage of the reaped processes):
//   - one large file over 127.0.0.1;
//   - 100 files of 4 KiB over 127.0.0.1 (files per second), and what
//     recording each transfer in the history adds to it, with a 95 %
//     interval (history_cost.h);
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

#include "bench_runs.h"
#include "history_cost.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace zapfer::bench;

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "lan_throughput: %s\n", what);
    return 1;
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
                   Child::Output::Discard);
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
                 Child::Output::Discard);
    if (!client.started() || client.wait() != 0 || listener.wait() != 0)
        return {};
    // The receiver syncs each file it keeps, and its folder: so does this copy.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dest))
        syncPath(entry.path().string());
    syncPath(dest);
    return {seconds(Clock::now() - start), client.cpuSeconds(), listener.cpuSeconds()};
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
    Child child(argv, Child::Output::Discard);
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
        Child pair({"env", "XDG_CONFIG_HOME=" + config, cli, "pair"}, Child::Output::Discard);
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
    if (!reportHistoryCost({cli, data, dir.path(), small, historyOnly ? 16 * runs : 16}) &&
        historyOnly)
        return 1;
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
