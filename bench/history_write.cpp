// What recording one transfer of 100 files costs the process that makes it,
// split into the part a transfer waits for and the part it does not.
//
// zapfer-cli opens the history on a thread of its own while the link comes
// up, and parses the write of its files there; only the write of the
// transfer's rows comes after its end. Each round
// is a new process (a fork of one that never touched SQLite), so the open
// and the write run as cold as in a zapfer-cli run: its code faulted in, its
// caches empty. Times are medians; CPU is the recording thread's own.
//
//   history_write [--dir DIR] [--rounds N] [--files N]

#include "history_store.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

using namespace zapfer::history;

namespace {

double nowSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Sample {
    double openWall = 0, openCpu = 0, writeWall = 0, writeCpu = 0;
    long openFaults = 0, writeFaults = 0;
    bool ok = false;
};

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

// The rows of a send of `count` files of 4 KiB, as zapfer-cli records them.
std::vector<FileRecord> filesOfASend(int count) {
    std::vector<FileRecord> files;
    for (int i = 1; i <= count; ++i) {
        char name[32] = {};
        std::snprintf(name, sizeof name, "f%03d.bin", i);
        files.push_back({name, name, 4096, 4096, FileResult::Sent, 0x1a2b3c4du + unsigned(i)});
    }
    return files;
}

Sample recordOnce(const std::string& path, const std::vector<FileRecord>& files) {
    Sample sample;
    const double openWall = nowSeconds(CLOCK_MONOTONIC);
    const double openCpu = nowSeconds(CLOCK_THREAD_CPUTIME_ID);
    const long openFaults = minorFaults();
    auto store = HistoryStore::open(path);
    // zapfer-cli's send parses its files' write with the open.
    if (!store || !store.value().prepareFileWrites(files.size()))
        return sample;
    const double writeWall = nowSeconds(CLOCK_MONOTONIC);
    const double writeCpu = nowSeconds(CLOCK_THREAD_CPUTIME_ID);
    const long writeFaults = minorFaults();
    TransferRecord transfer;
    transfer.link = "lan";
    transfer.peer = "127.0.0.1";
    transfer.bytes = 4096 * files.size();
    if (!store.value().recordTransfer(transfer, files))
        return sample;
    sample.openWall = writeWall - openWall;
    sample.openCpu = writeCpu - openCpu;
    sample.writeWall = nowSeconds(CLOCK_MONOTONIC) - writeWall;
    sample.writeCpu = nowSeconds(CLOCK_THREAD_CPUTIME_ID) - writeCpu;
    sample.openFaults = writeFaults - openFaults;
    sample.writeFaults = minorFaults() - writeFaults;
    sample.ok = true;
    return sample;
}

// One round in a new process; the parent never loads a page of SQLite's.
Sample recordInChild(const std::string& path, const std::vector<FileRecord>& files) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const Sample sample = recordOnce(path, files);
        const bool sent = write(pipeEnds[1], &sample, sizeof sample) == ssize_t(sizeof sample);
        _exit(sent ? 0 : 1);
    }
    close(pipeEnds[1]);
    Sample sample;
    if (child < 0 || read(pipeEnds[0], &sample, sizeof sample) != ssize_t(sizeof sample))
        sample = {};
    close(pipeEnds[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    return sample;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::string dir = "/dev/shm";
    int rounds = 200;
    int fileCount = 100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc)
            dir = argv[++i];
        else if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--files" && i + 1 < argc)
            fileCount = std::max(0, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: history_write [--dir DIR] [--rounds N] [--files N]\n");
            return 2;
        }
    }
    char folder[] = "zapfer-history-bench-XXXXXX";
    std::string scratch = dir + "/" + folder;
    if (mkdtemp(scratch.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = scratch + "/history.sqlite";
    const std::vector<FileRecord> files = filesOfASend(fileCount);

    // The first round creates the database; it is not counted.
    recordInChild(path, files);
    std::vector<double> openWall, openCpu, writeWall, writeCpu, openFaults, writeFaults;
    int failed = 0;
    for (int round = 0; round < rounds; ++round) {
        const Sample s = recordInChild(path, files);
        if (!s.ok) {
            ++failed;
            continue;
        }
        openWall.push_back(s.openWall);
        openCpu.push_back(s.openCpu);
        writeWall.push_back(s.writeWall);
        writeCpu.push_back(s.writeCpu);
        openFaults.push_back(double(s.openFaults));
        writeFaults.push_back(double(s.writeFaults));
    }
    std::filesystem::remove_all(scratch);
    std::printf("history in %s, %d files per transfer, medians of %zu new processes\n", dir.c_str(),
                fileCount, writeWall.size());
    std::printf("open, beside the link         %7.0f us wall   %7.0f us CPU   %4.0f page faults\n",
                1e6 * median(openWall), 1e6 * median(openCpu), median(openFaults));
    std::printf("write, after the transfer     %7.0f us wall   %7.0f us CPU   %4.0f page faults\n",
                1e6 * median(writeWall), 1e6 * median(writeCpu), median(writeFaults));
    if (failed > 0)
        std::printf("%d round(s) failed\n", failed);
    return failed > 0 ? 1 : 0;
}
