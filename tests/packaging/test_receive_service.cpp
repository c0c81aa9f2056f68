// The systemd user unit zapfer-receive.service, without systemd: its ExecStart
// is run as the user manager would run it (HOME set, the window's stored
// settings in ~/.config), stopped with its KillSignal, and its exit statuses
// are held against its Restart rules.

#include "child_process.h"

#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace zapfer::testing;

const std::string kCli = ZAPFER_CLI_PATH;

// The [Service] section of the unit: each key with its last value.
std::map<std::string, std::string> serviceKeys() {
    std::ifstream in(ZAPFER_SERVICE_FILE);
    std::map<std::string, std::string> keys;
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            section = line;
            continue;
        }
        const size_t equals = line.find('=');
        if (section == "[Service]" && equals != std::string::npos)
            keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

int signalNamed(const std::string& name) {
    static const std::map<std::string, int> kSignals = {
        {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}, {"SIGQUIT", SIGQUIT}};
    const auto it = kSignals.find(name);
    return it == kSignals.end() ? 0 : it->second;
}

// "20", "20s" or "1min" as systemd reads them. Absent, it is systemd's default
// of 90 s; "0" and "infinity" mean systemd waits for ever, which a test cannot.
std::chrono::seconds stopTimeout(const std::map<std::string, std::string>& keys) {
    const auto it = keys.find("TimeoutStopSec");
    const std::string value = it == keys.end() ? "90" : it->second;
    if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) ||
        std::stol(value) == 0)
        return 90s;
    const long number = std::stol(value);
    return value.ends_with("min") ? std::chrono::minutes(number) : std::chrono::seconds(number);
}

class ReceiveService : public ::testing::Test {
protected:
    void SetUp() override {
        m_keys = serviceKeys();
        ASSERT_TRUE(m_keys.count("ExecStart")) << "no ExecStart in " << ZAPFER_SERVICE_FILE;
        m_command = words(m_keys["ExecStart"]);
        ASSERT_FALSE(m_command.empty());
        ASSERT_EQ(std::filesystem::path(m_command[0]).filename(), "zapfer-cli");
        m_command[0] = kCli;
        m_killSignal = signalNamed(m_keys.count("KillSignal") ? m_keys["KillSignal"] : "SIGTERM");
        ASSERT_NE(m_killSignal, 0) << "unknown KillSignal " << m_keys["KillSignal"];
        std::filesystem::create_directories(m_home.path() + "/.config/Quorvel");
    }

    void storeDestination(const std::string& dest) {
        writeFile(m_home.path() + "/.config/Quorvel/Zapfer.conf",
                  "[General]\nDestDir=" + dest + "\n");
    }

    // The unit's command line in the user manager's environment; only the
    // ports move off 1756 and 1755, which the machine may be using.
    std::vector<std::string> serviceCommand(const std::vector<std::string>& ports = {
                                                "--port", "0", "--echo-port", "0"}) const {
        std::vector<std::string> argv = {"env", "-u", "XDG_CONFIG_HOME", "HOME=" + m_home.path()};
        argv.insert(argv.end(), m_command.begin(), m_command.end());
        argv.insert(argv.end(), ports.begin(), ports.end());
        return argv;
    }

    std::vector<std::string> sendCommand(const std::string& port, const std::string& file) const {
        return {"env",       "HOME=" + m_home.path(),
                kCli,        "send",
                "--to",      "127.0.0.1",
                "--port",    port,
                "--timeout", "30",
                file};
    }

    // The port the service reports listening on; empty when it never does.
    std::string portOf(ChildProcess& service) {
        const auto line = service.waitForLine("listening on port ", 20s);
        return line ? line->substr(std::string("listening on port ").size()) : std::string();
    }

    std::map<std::string, std::string> m_keys;
    std::vector<std::string> m_command;
    int m_killSignal = 0;
    TempDir m_home;
};

TEST_F(ReceiveService, ReceivesIntoTheStoredDestinationAndStopsWithExitZero) {
    TempDir dest;
    TempDir source;
    storeDestination(dest.path());
    writeFile(source.file("report.txt"), "quarterly numbers");

    ChildProcess service(serviceCommand());
    const std::string port = portOf(service);
    ASSERT_FALSE(port.empty()) << service.err();
    const RunResult sent = runToEnd(sendCommand(port, source.file("report.txt")), 60s);
    ASSERT_EQ(sent.status, 0) << sent.err;
    ASSERT_TRUE(service.waitForLine("1 of 1 files received successfully", 30s)) << service.out();
    EXPECT_EQ(readFile(dest.file("report.txt")), "quarterly numbers");

    service.signal(m_killSignal);
    EXPECT_EQ(service.waitExit(stopTimeout(m_keys)), 0) << service.err();
    EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"report.txt"});
}

// `systemctl stop` while a file is arriving: the transfer is cancelled, the
// partial file removed, and the exit is clean well within TimeoutStopSec,
// so systemd neither kills it nor records a failure.
TEST_F(ReceiveService, StopMidTransferExitsZeroInTimeAndLeavesNoPartialFile) {
    TempDir dest;
    TempDir source;
    storeDestination(dest.path());
    const std::string large = source.file("large.bin");
    writeFile(large, "");
    std::filesystem::resize_file(large, uintmax_t(1) << 30);

    ChildProcess service(serviceCommand());
    const std::string port = portOf(service);
    ASSERT_FALSE(port.empty()) << service.err();
    ChildProcess sender(sendCommand(port, large));
    ASSERT_TRUE(service.waitForLine("receiving large.bin", 30s)) << service.out() << service.err();
    // The partial file may have no name: it is seen as a file of the
    // destination that the service holds open.
    bool partialSeen = false;
    const std::string fds = "/proc/" + std::to_string(service.pid()) + "/fd";
    for (int i = 0; i < 300 && !partialSeen; ++i) {
        std::error_code ec;
        for (const auto& fd : std::filesystem::directory_iterator(fds, ec))
            partialSeen = partialSeen || std::filesystem::read_symlink(fd.path(), ec)
                                             .string()
                                             .starts_with(dest.path() + "/");
        if (!partialSeen)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(partialSeen) << "no partial file while receiving: " << service.out();

    service.signal(m_killSignal);
    EXPECT_EQ(service.waitExit(stopTimeout(m_keys)), 0) << service.err();
    EXPECT_TRUE(listDir(dest.path()).empty()) << listDir(dest.path()).front();
    EXPECT_EQ(sender.waitExit(60s), 1) << sender.err();
}

// Restart=on-failure restarts after any non-zero status; RestartPreventExitStatus
// names the statuses a restart cannot mend.
TEST_F(ReceiveService, OnlyFailuresThatWaitingCanMendAreRestarted) {
    const std::string restart = m_keys["Restart"];
    ASSERT_TRUE(restart == "on-failure" || restart == "always") << restart;
    std::set<int> prevented;
    for (const std::string& status : words(m_keys["RestartPreventExitStatus"]))
        prevented.insert(std::stoi(status));

    TempDir dest;
    storeDestination(dest.path());
    {
        // Another program holds the TCP port: it may be gone a little later.
        ChildProcess holder(serviceCommand());
        const std::string port = portOf(holder);
        ASSERT_FALSE(port.empty()) << holder.err();
        const RunResult taken = runToEnd(serviceCommand({"--port", port, "--echo-port", "0"}), 20s);
        ASSERT_TRUE(taken.status.has_value());
        EXPECT_NE(*taken.status, 0);
        EXPECT_FALSE(prevented.count(*taken.status)) << "a taken port is never retried";
        holder.signal(m_killSignal);
        EXPECT_EQ(holder.waitExit(stopTimeout(m_keys)), 0);
    }
    // The stored destination is a file: every restart would fail the same way.
    writeFile(dest.file("not-a-folder"), "");
    storeDestination(dest.file("not-a-folder"));
    const RunResult broken = runToEnd(serviceCommand(), 20s);
    ASSERT_TRUE(broken.status.has_value());
    EXPECT_NE(*broken.status, 0);
    EXPECT_TRUE(prevented.count(*broken.status))
        << "status " << *broken.status << " would restart forever: " << broken.err;
}

} // namespace
