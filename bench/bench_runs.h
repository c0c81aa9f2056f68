#pragma once

// What the benchmarks that run zapfer-cli share: child processes, scratch
// folders, test files, and timing one zapfer-cli transfer.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zapfer::bench {

using Clock = std::chrono::steady_clock;

// A child process, killed and reaped on every way out.
class Child {
public:
    enum class Output { Discard, Pipe };
    // Its stdout is discarded, or piped for firstLine().
    Child(const std::vector<std::string>& argv, Output output);
    // Its stdout goes to `stdoutFile`: for a child that prints on and on,
    // with nobody reading a pipe.
    Child(const std::vector<std::string>& argv, const std::string& stdoutFile);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return m_pid > 0; }
    void signal(int sig) const;
    // Exit status, or -1 when killed by a signal. The CPU time of the child
    // and of the children it reaped itself is kept for cpuSeconds().
    int wait();
    // User and system seconds, once wait() has reaped the child.
    double cpuSeconds() const { return m_cpuSeconds; }
    // The first line of the piped stdout, waiting at most `ms`.
    std::optional<std::string> firstLine(int ms);

private:
    void spawn(const std::vector<std::string>& argv, const std::string& stdoutFile, bool pipe);

    pid_t m_pid = -1;
    int m_out = -1;
    double m_cpuSeconds = 0;
};

// The first whole line of `file`, once something writes it; empty after `ms`.
std::string firstLineOf(const std::filesystem::path& file, int ms);

// A folder under `base` ($TMPDIR or /tmp when empty), removed with its contents.
class TempDir {
public:
    explicit TempDir(std::string base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

bool writeRandomFile(const std::string& path, uint64_t size);
void syncPath(const std::string& path);
uint16_t freeLoopbackPort();
double seconds(Clock::duration d);
double median(std::vector<double> values);

struct Peer {
    std::vector<std::string> prefix; // e.g. {"ip", "netns", "exec", "za"}; empty for this namespace
    std::string address;             // where the other side reaches it
};

std::vector<std::string> joined(const std::vector<std::string>& prefix,
                                const std::vector<std::string>& command);

// One copy: its wall time (< 0 on failure) and each end's CPU time.
struct Timing {
    double seconds = -1;
    double senderCpu = 0;
    double receiverCpu = 0;
};

// The median of each figure over the runs that succeeded; failed when any did not.
struct Summary {
    bool ok = false;
    double seconds = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
};

Summary summarize(const std::vector<Timing>& runs);

// zapfer-cli sending `files` from `sender` to a new receiver in `receiver`;
// on the paired link with the code stored under `pairedConfig` when one is given.
Timing timeZapfer(const std::string& cli, const Peer& receiver, const Peer& sender,
                  const std::vector<std::string>& files, const std::string& dest,
                  const std::string& pairedConfig = {});

// zapfer-cli sending `files` over the plain link to a receiver already
// listening on `port`; the receiver's CPU time is not in it.
Timing timeSend(const std::string& cli, const Peer& sender, const std::string& receiverAddress,
                const std::string& port, const std::vector<std::string>& files);

} // namespace zapfer::bench
