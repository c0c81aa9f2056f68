// 1,000 transfers back to back between two processes on 127.0.0.1: one
// zapfer-cli receive, and a zapfer-cli send per transfer, every fifth of them
// cut off at a random point (interrupted or killed). Prints transfers per
// second, the receiver's open descriptors and resident memory at the start,
// after a warm-up and at the end, and any file left behind.
//
//   soak [TRANSFERS] [FILE_BYTES]

#include "bench_runs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

pid_t spawn(const std::vector<std::string>& args, const fs::path& out,
            const fs::path& err = "/dev/null") {
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int waitExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int descriptorsOf(pid_t pid) {
    int count = 0;
    std::error_code error;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error))
        ++count;
    return count;
}

long residentKbOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

void report(const char* when, pid_t pid) {
    std::printf("%-22s descriptors %3d   resident %7ld kB\n", when, descriptorsOf(pid),
                residentKbOf(pid));
}

} // namespace

int main(int argc, char** argv) {
    const int transfers = argc > 1 ? std::atoi(argv[1]) : 1000;
    const long fileBytes = argc > 2 ? std::atol(argv[2]) : 2L << 20;
    const std::string cli = ZAPFER_CLI_PATH;

    char pattern[] = "/tmp/zapfer-soak-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const fs::path root = pattern;
    const fs::path dest = root / "dest";
    fs::create_directory(dest);
    const fs::path source = root / "soak.bin";
    {
        std::mt19937 random(1);
        std::vector<char> bytes(static_cast<size_t>(fileBytes));
        for (char& b : bytes)
            b = char(random());
        std::ofstream(source, std::ios::binary).write(bytes.data(), long(bytes.size()));
    }

    const pid_t receiver = spawn(
        {cli, "receive", "--dest", dest.string(), "--overwrite", "--port", "0", "--echo-port", "0"},
        root / "receiver.out");
    const std::string line = zapfer::bench::firstLineOf(root / "receiver.out", 20000);
    const std::string lead = "listening on port ";
    if (receiver < 0 || line.rfind(lead, 0) != 0) {
        std::fprintf(stderr, "soak: the receiver did not start\n");
        return 1;
    }
    const std::string port = line.substr(lead.size());
    std::printf("soak: %d transfers of %ld bytes, every fifth cut off; receiver pid %d\n",
                transfers, fileBytes, int(receiver));
    report("start", receiver);

    std::mt19937 random(42);
    double completedSeconds = 0;
    int completed = 0, failed = 0, cut = 0;
    const auto start = Clock::now();
    for (int i = 0; i < transfers; ++i) {
        const auto begin = Clock::now();
        const pid_t sender = spawn(
            {cli, "send", "--to", "127.0.0.1", "--port", port, "--timeout", "20", source.string()},
            "/dev/null");
        if (sender < 0) {
            ++failed;
            continue;
        }
        if (i % 5 == 4) {
            // Somewhere in a transfer: from the start-up to just past its usual end.
            const double typical = completed ? completedSeconds / completed : 0.02;
            std::uniform_real_distribution<double> at(0.0, 1.2 * typical);
            std::this_thread::sleep_for(std::chrono::duration<double>(at(random)));
            kill(sender, (i / 5) % 2 ? SIGKILL : SIGINT);
            waitExit(sender);
            ++cut;
        } else if (const int status = waitExit(sender); status == 0) {
            ++completed;
            completedSeconds += std::chrono::duration<double>(Clock::now() - begin).count();
        } else {
            ++failed;
            std::ifstream err(root / "sender.err");
            std::string text(std::istreambuf_iterator<char>(err), {});
            std::replace(text.begin(), text.end(), '\r', '\n'); // the progress bar's returns
            std::printf("transfer %d failed (exit %d): %s\n", i, status,
                        text.substr(text.size() > 300 ? text.size() - 300 : 0).c_str());
        }
        if (i == 9)
            report("after 10 transfers", receiver);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the last cut-off settles
    report("end", receiver);
    std::printf("%d completed, %d cut off, %d failed in %.1f s: %.1f transfers/s "
                "(%.1f completed/s)\n",
                completed, cut, failed, seconds, transfers / seconds, completed / seconds);

    int stray = 0;
    for (const auto& entry : fs::directory_iterator(dest)) {
        if (entry.path().filename() == "soak.bin" &&
            fs::file_size(entry.path()) == fs::file_size(source))
            continue;
        std::printf("left over: %s (%ju bytes)\n", entry.path().filename().c_str(),
                    uintmax_t(entry.is_regular_file() ? fs::file_size(entry.path()) : 0));
        ++stray;
    }
    std::printf("%d stray file(s)\n", stray);

    kill(receiver, SIGTERM);
    waitExit(receiver);
    fs::remove_all(root);
    return stray == 0 && failed == 0 ? 0 : 1;
}
