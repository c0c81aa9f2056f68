// --version and --help of both programs: what help2man builds the man pages
// from, and what a user on a machine without a display may run.

#include "child_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace zapfer::testing;

const std::string kVersion = ZAPFER_VERSION;

// No display of any kind: the xcb platform would abort at once if the
// window's application object were created.
std::vector<std::string> withoutDisplay(std::vector<std::string> argv) {
    argv.insert(argv.begin(),
                {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"});
    return argv;
}

TEST(ProgramVersions, CliPrintsTheProjectVersionWhereverItIsAsked) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--version"}, {"receive", "--version"}, {"send", "--to", "x", "--version"}}) {
        std::vector<std::string> argv = {ZAPFER_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult run = runToEnd(withoutDisplay(argv), 20s);
        SCOPED_TRACE(args.front());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "zapfer-cli " + kVersion + "\n");
        EXPECT_EQ(run.err, "");
    }
    // After "--" it is a file name like any other.
    const RunResult file = runToEnd({ZAPFER_CLI_PATH, "receive", "--", "--version"}, 20s);
    EXPECT_EQ(file.status, 2);
    EXPECT_EQ(file.out.find(kVersion), std::string::npos) << file.out;

    const RunResult help = runToEnd({ZAPFER_CLI_PATH, "--help"}, 20s);
    EXPECT_NE(help.out.find("  --version "), std::string::npos) << help.out;
}

#ifdef ZAPFER_PATH
TEST(ProgramVersions, WindowAnswersVersionAndHelpWithoutADisplay) {
    const RunResult version = runToEnd(withoutDisplay({ZAPFER_PATH, "--version"}), 20s);
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "zapfer " + kVersion + "\n");
    EXPECT_EQ(version.err, "");

    const RunResult help = runToEnd(withoutDisplay({ZAPFER_PATH, "--help"}), 20s);
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_TRUE(help.out.starts_with("Usage: zapfer [OPTION]... [FILE]...\n")) << help.out;
    EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;

    // Without those options it does want a display, and says so instead of
    // printing a version.
    const RunResult window = runToEnd(withoutDisplay({ZAPFER_PATH}), 20s);
    ASSERT_TRUE(window.status.has_value());
    EXPECT_NE(*window.status, 0);
    EXPECT_EQ(window.out.find(kVersion), std::string::npos);
}
#endif

} // namespace
