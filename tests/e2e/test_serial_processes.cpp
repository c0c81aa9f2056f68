// Two zapfer-cli processes on the two ends of a serial line that socat makes
// from a pair of ptys.

#include "cli_peers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

using namespace zapfer::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

bool haveSocat() {
    return runToEnd({"sh", "-c", "command -v socat"}, 10s).status == 0;
}

// A null-modem line between `dir`/a and `dir`/b for as long as it lives.
struct SocatLine {
    explicit SocatLine(const TempDir& dir)
        : a(dir.file("a")), b(dir.file("b")),
          process({"socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b}) {
        for (int i = 0; i < 200 && !(fs::exists(a) && fs::exists(b)); ++i)
            std::this_thread::sleep_for(25ms);
    }
    bool ready() const { return fs::exists(a) && fs::exists(b); }
    std::string a;
    std::string b;
    ChildProcess process;
};

std::unique_ptr<ChildProcess> startSerialReceiver(const std::string& device,
                                                  const std::string& dest) {
    auto receiver = std::make_unique<ChildProcess>(
        cliCommand({"receive", "--serial", "com1", "--device", device, "--dest", dest}));
    EXPECT_TRUE(receiver->waitForLine("listening on " + device + " (COM1)", 20s))
        << receiver->err();
    return receiver;
}

} // namespace

TEST(SerialProcesses, FilesCrossASocatLineByteIdentical) {
    if (!haveSocat())
        GTEST_SKIP() << "socat is not installed";
    TempDir line;
    TempDir source;
    TempDir dest;
    SocatLine socat(line);
    ASSERT_TRUE(socat.ready()) << socat.process.err();
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty.bin", ""},
        {"one.txt", "1"},
        {"exact.bin", randomBytes(8192, 4)},
        {"random.bin", randomBytes(100 * 1024, 5)},
    };
    std::vector<std::string> args = {"send",  "--serial",  "com1", "--device",
                                     socat.b, "--timeout", "20"};
    for (const auto& [name, bytes] : files) {
        writeFile(source.file(name), bytes);
        args.push_back(source.file(name));
    }
    auto receiver = startSerialReceiver(socat.a, dest.path());

    const RunResult sent = runToEnd(cliCommand(args), 120s);
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_NE(sent.out.find("4 of 4 files sent successfully\n"), std::string::npos) << sent.out;
    ASSERT_TRUE(receiver->waitForLine("4 of 4 files received successfully", 30s))
        << receiver->out() << receiver->err();
    expectExactlyReceived(dest, files);

    receiver->signal(SIGTERM);
    EXPECT_EQ(receiver->waitExit(20s), 0) << receiver->err();
}

TEST(SerialProcesses, APortThatCannotBeOpenedIsAnErrorNamingDeviceAndCause) {
    TempDir dest;
    TempDir source;
    writeFile(source.file("x.txt"), "x");
    if (haveSocat()) {
        SCOPED_TRACE("busy");
        TempDir line;
        SocatLine socat(line);
        ASSERT_TRUE(socat.ready());
        auto first = startSerialReceiver(socat.a, dest.path());
        const RunResult second = runToEnd(
            cliCommand({"receive", "--serial", "com1", "--device", socat.a, "--dest", dest.path()}),
            20s);
        EXPECT_EQ(second.status, 1);
        EXPECT_NE(second.err.find(socat.a), std::string::npos) << second.err;
        EXPECT_NE(second.err.find("busy"), std::string::npos) << second.err;
    }
    {
        SCOPED_TRACE("missing");
        const RunResult sent =
            runToEnd(cliCommand({"send", "--serial", "usb", "--device", dest.file("no-such-tty"),
                                 source.file("x.txt")}),
                     20s);
        EXPECT_EQ(sent.status, 1);
        EXPECT_NE(sent.err.find(dest.file("no-such-tty") + " does not exist"), std::string::npos)
            << sent.err;
    }
    {
        SCOPED_TRACE("not a serial device");
        const RunResult sent = runToEnd(cliCommand({"send", "--serial", "com2", "--device",
                                                    source.file("x.txt"), source.file("x.txt")}),
                                        20s);
        EXPECT_EQ(sent.status, 1);
        EXPECT_NE(sent.err.find("is not a serial device"), std::string::npos) << sent.err;
    }
    {
        SCOPED_TRACE("argument errors");
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"send", "--serial", "com9", source.file("x.txt")},
              {"send", "--device", "/dev/null", source.file("x.txt")},
              {"send", "--serial", "com1", "--to", "127.0.0.1", source.file("x.txt")},
              {"receive", "--serial", "usb", "--port", "0"}}) {
            const RunResult run = runToEnd(cliCommand(args), 20s);
            EXPECT_EQ(run.status, 2) << args[1] << " " << args[2] << ": " << run.err;
        }
    }
}
