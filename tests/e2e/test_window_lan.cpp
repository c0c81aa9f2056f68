// Two Zapfer windows, each in a network namespace of its own with its own X
// server, beam files to each other: the sender finds the receiver by LAN
// broadcast on the real ports 1755 and 1756. Screenshots of both screens are
// kept for a person to look at.

#include "child_process.h"
#include "network_namespaces.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>

using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// One Zapfer window on an X server of its own inside namespace `prefix`.
class Window {
public:
    Window(const std::vector<std::string>& prefix, const std::string& home, int display,
           std::vector<std::string> env, const std::vector<std::string>& files)
        : m_home(home), m_display(display) {
        std::vector<std::string> x = prefix;
        x.insert(x.end(), {"Xvfb", ":" + std::to_string(display), "-screen", "0", "800x600x24",
                           "-nolisten", "tcp"});
        m_x = std::make_unique<ChildProcess>(x);
        if (!waitFor([display] { return std::filesystem::exists(socketOf(display)); }, 20s))
            return;
        std::vector<std::string> argv = prefix;
        argv.insert(argv.end(),
                    {"env", "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                     "XDG_RUNTIME_DIR=" + home + "/runtime", "QT_QPA_PLATFORM=xcb",
                     "DISPLAY=:" + std::to_string(display), "ZAPFER_TEST_TRANSFER_DIR=" + home,
                     "LSAN_OPTIONS=suppressions=" ZAPFER_LSAN_SUPPRESSIONS});
        argv.insert(argv.end(), env.begin(), env.end());
        argv.push_back(ZAPFER_PATH);
        argv.insert(argv.end(), files.begin(), files.end());
        m_zapfer = std::make_unique<ChildProcess>(argv);
    }
    ~Window() {
        m_zapfer.reset();
        if (m_x)
            m_x->signal(SIGTERM);
        if (m_x)
            m_x->waitExit(10s);
        m_x.reset();
        std::filesystem::remove(socketOf(m_display));
        std::filesystem::remove("/tmp/.X" + std::to_string(m_display) + "-lock");
    }

    bool waitReady() {
        return m_zapfer &&
               waitFor([this] { return std::filesystem::exists(m_home + "/ready"); }, 30s);
    }
    std::string waitResult() {
        const std::string path = m_home + "/result.txt";
        if (!waitFor([&path] { return std::filesystem::exists(path); }, 90s))
            return "<no result>";
        return readFile(path);
    }
    // Ends it as a desktop session would: SIGTERM, then its exit status.
    std::optional<int> quit() {
        if (!m_zapfer)
            return std::nullopt;
        m_zapfer->signal(SIGTERM);
        return m_zapfer->waitExit(20s);
    }
    std::string err() const { return m_zapfer ? m_zapfer->err() : "not started"; }

    static std::string socketOf(int display) {
        return "/tmp/.X11-unix/X" + std::to_string(display);
    }

private:
    std::string m_home;
    int m_display;
    std::unique_ptr<ChildProcess> m_x;
    std::unique_ptr<ChildProcess> m_zapfer;
};

int freeDisplay(int from) {
    for (int d = from; d < from + 200; ++d) {
        if (!std::filesystem::exists(Window::socketOf(d)) &&
            !std::filesystem::exists("/tmp/.X" + std::to_string(d) + "-lock"))
            return d;
    }
    return -1;
}

void makeHome(const std::string& home, const std::string& destDir,
              const std::string& extraSettings = {}) {
    std::filesystem::create_directories(home + "/config/Quorvel");
    std::filesystem::create_directories(home + "/runtime");
    std::filesystem::permissions(home + "/runtime", std::filesystem::perms::owner_all);
    // LAN, results shown, received files into destDir, shown in the FileList.
    writeFile(home + "/config/Quorvel/Zapfer.conf", "[General]\nCommType=5\nPreferences=14\n"
                                                    "DestDir=" +
                                                        destDir + "\nCurDir=" + destDir + "\n" +
                                                        extraSettings);
}

std::vector<std::string> sampleFiles(const std::string& folder, int count) {
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(folder + "/photo-" + std::to_string(i) + ".jpg");
        std::string bytes(size_t(200000 * (i + 1)), '\0');
        for (size_t k = 0; k < bytes.size(); ++k)
            bytes[k] = char((k * 31 + size_t(i)) >> 3);
        writeFile(files.back(), bytes);
    }
    return files;
}

// Both machines' namespaces, and the folders files are sent from and
// received into; each test is skipped where it cannot run.
class WindowLan : public NamespacePairTest {
protected:
    void SetUp() override {
        NamespacePairTest::SetUp();
        if (IsSkipped())
            return;
        if (runToEnd({"sh", "-c", "command -v Xvfb"}, 10s).status != 0)
            GTEST_SKIP() << "Xvfb is not installed";
        std::filesystem::create_directories(m_source);
        std::filesystem::create_directories(m_dest);
    }

    TempDir m_root;
    const std::string m_source = m_root.file("source");
    const std::string m_dest = m_root.file("dest");
};

} // namespace

TEST_F(WindowLan, TwoWindowsBeamFilesFoundByBroadcastWithScreenshots) {
    const std::vector<std::string> files = sampleFiles(m_source, 3);
    makeHome(m_root.file("receiver"), m_dest);
    makeHome(m_root.file("sender"), m_source);

    const int receiverDisplay = freeDisplay(500 + getpid() % 300);
    ASSERT_GE(receiverDisplay, 0);
    Window receiver(m_namespaces->inReceiver(), m_root.file("receiver"), receiverDisplay, {}, {});
    ASSERT_TRUE(receiver.waitReady()) << receiver.err();
    const int senderDisplay = freeDisplay(receiverDisplay + 1);
    ASSERT_GE(senderDisplay, 0);
    Window sender(m_namespaces->inSender(), m_root.file("sender"), senderDisplay,
                  // Its own echo responder off 1755: the engine can still answer its
                  // own probe when that arrives as the wait for one begins.
                  {"ZAPFER_TEST_PRESS_SEND=1", "ZAPFER_TEST_TCP_PORT=0"}, files);
    ASSERT_TRUE(sender.waitReady()) << sender.err();

    EXPECT_EQ(sender.waitResult(), "3 of 3 files sent successfully") << sender.err();
    EXPECT_EQ(receiver.waitResult(), "3 of 3 files received successfully") << receiver.err();
    for (const std::string& file : files)
        EXPECT_TRUE(readFile(m_dest + "/" + std::filesystem::path(file).filename().string()) ==
                    readFile(file))
            << file;

    // The screenshots stay for a person to look at.
    std::string shots = ZAPFER_SCREENSHOT_DEFAULT_DIR;
    if (const char* dir = std::getenv("ZAPFER_SCREENSHOT_DIR"))
        shots = dir;
    std::filesystem::create_directories(shots);
    for (const char* role : {"sender", "receiver"}) {
        const std::string shot = m_root.file(role) + "/screen.png";
        EXPECT_TRUE(std::filesystem::exists(shot)) << role;
        std::filesystem::copy_file(shot, shots + "/lan_" + role + ".png",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    EXPECT_EQ(sender.quit(), 0) << sender.err();
    EXPECT_EQ(receiver.quit(), 0) << receiver.err();
}

// The window with a pairing code sends on the paired link to zapfer-cli, which
// takes paired peers only: found by broadcast as ever, then TLS on port 1757.
TEST_F(WindowLan, AWindowWithAPairingCodeSendsToZapferCliOnThePairedLink) {
    const std::vector<std::string> files = sampleFiles(m_source, 2);
    const std::string code = "7KQ3M4XD2HVF";

    std::vector<std::string> receiveArgv = m_namespaces->inReceiver();
    receiveArgv.insert(receiveArgv.end(), {"env", "HOME=" + m_root.file("receiver"),
                                           "XDG_CONFIG_HOME=" + m_root.file("receiver") + "/config",
                                           "XDG_DATA_HOME=" + m_root.file("receiver") + "/data",
                                           ZAPFER_CLI_PATH, "receive", "--dest", m_dest,
                                           "--pairing-code", "7kq3-m4xd-2hvf", "--only-paired"});
    ChildProcess receiver(receiveArgv);
    ASSERT_TRUE(receiver.waitForLine("listening for paired peers on port 1757", 20s))
        << receiver.out() << receiver.err();

    makeHome(m_root.file("sender"), m_source, "PairingCode=" + code + "\n");
    const int senderDisplay = freeDisplay(500 + getpid() % 300);
    ASSERT_GE(senderDisplay, 0);
    Window sender(m_namespaces->inSender(), m_root.file("sender"), senderDisplay,
                  {"ZAPFER_TEST_PRESS_SEND=1", "ZAPFER_TEST_TCP_PORT=0"}, files);
    ASSERT_TRUE(sender.waitReady()) << sender.err();

    EXPECT_EQ(sender.waitResult(), "2 of 2 files sent successfully") << sender.err();
    EXPECT_TRUE(receiver.waitForLine("2 of 2 files received successfully", 30s))
        << receiver.out() << receiver.err();
    for (const std::string& file : files)
        EXPECT_TRUE(readFile(m_dest + "/" + std::filesystem::path(file).filename().string()) ==
                    readFile(file))
            << file;
    EXPECT_EQ(sender.quit(), 0) << sender.err();
    receiver.signal(SIGTERM);
    EXPECT_EQ(receiver.waitExit(20s), 0) << receiver.err();
}
