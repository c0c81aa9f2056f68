#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace zapfer::testing {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    m_pid = fork();
    if (m_pid == 0) {
        // Its own process group, so that a kill reaches whatever it runs.
        setpgid(0, 0);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    if (m_pid < 0) {
        close(m_outFd);
        close(m_errFd);
        m_outFd = m_errFd = -1;
    }
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_status) {
        kill(-m_pid, SIGKILL);
        kill(m_pid, SIGKILL);
        reap(true);
    }
    if (m_outFd >= 0)
        close(m_outFd);
    if (m_errFd >= 0)
        close(m_errFd);
}

void ChildProcess::signal(int sig) {
    if (m_pid > 0 && !m_status)
        kill(m_pid, sig);
}

bool ChildProcess::reap(bool block) {
    if (m_status)
        return true;
    int status = 0;
    const pid_t done = waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (done != m_pid)
        return false;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

void ChildProcess::pump(int timeoutMs) {
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0)
        return;
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        int& fd = i == 0 ? m_outFd : m_errFd;
        if (n > 0) {
            (i == 0 ? m_out : m_err).append(buffer, size_t(n));
        } else {
            close(fd);
            fd = -1;
        }
    }
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        size_t end;
        while ((end = m_out.find('\n', m_lineCursor)) != std::string::npos) {
            std::string line = m_out.substr(m_lineCursor, end - m_lineCursor);
            m_lineCursor = end + 1;
            if (line.starts_with(prefix))
                return line;
        }
        if (m_outFd < 0 || Clock::now() >= deadline)
            return std::nullopt;
        pump(50);
    }
}

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    if (m_pid <= 0)
        return std::nullopt;
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (m_outFd >= 0 || m_errFd >= 0)
            pump(20);
        else
            usleep(20000);
        if (reap(false)) {
            // Whatever it wrote before ending, bounded by the deadline too.
            while ((m_outFd >= 0 || m_errFd >= 0) && Clock::now() < deadline)
                pump(20);
            return m_status;
        }
    }
    return std::nullopt;
}

RunResult runToEnd(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    ChildProcess child(argv);
    RunResult result;
    result.status = child.waitExit(timeout);
    result.out = child.out();
    result.err = child.err();
    return result;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zapfer-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace zapfer::testing
