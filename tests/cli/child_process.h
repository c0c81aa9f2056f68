#pragma once

// A zapfer-cli (or any) child process for tests: its output captured, every
// wait bounded, and the process killed and reaped on every way out.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zapfer::testing {

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    void signal(int sig);

    // The next stdout line starting with `prefix` (earlier lines are passed
    // over), or nothing on time-out or end of output.
    std::optional<std::string> waitForLine(const std::string& prefix,
                                           std::chrono::milliseconds timeout);
    // The exit status (128 + signal when killed by one), or nothing on time-out.
    std::optional<int> waitExit(std::chrono::milliseconds timeout);

    const std::string& out() const { return m_out; }
    const std::string& err() const { return m_err; }

private:
    // Takes whatever output is ready within `timeoutMs`.
    void pump(int timeoutMs);
    bool reap(bool block);

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::optional<int> m_status;
    std::string m_out;
    std::string m_err;
    size_t m_lineCursor = 0;
};

struct RunResult {
    std::optional<int> status; // nothing: it did not end in time (and was killed)
    std::string out;
    std::string err;
};

RunResult runToEnd(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
// The names in `dir`, sorted.
std::vector<std::string> listDir(const std::string& dir);

} // namespace zapfer::testing
