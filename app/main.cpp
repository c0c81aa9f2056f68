#include "zapfer_program.h"

#include <cstdio>
#include <string_view>

namespace {

// Answered before the application object exists, so that they need no display:
// help2man writes zapfer(1) from them, and a terminal over ssh may ask too.
constexpr const char* kHelp =
    "Usage: zapfer [OPTION]... [FILE]...\n"
    "Opens the Zapfer window with the FILEs in its send list, ready to beam to\n"
    "another computer running Zapfer. When Zapfer is already running, the FILEs\n"
    "join the send list of that window instead.\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Qt's own options (-platform, -display, -style and the like) are taken too.\n";

// True when argv asks for --help or --version, which is then printed.
bool printedInfo(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            return false;
        if (arg == "--help") {
            std::fputs(kHelp, stdout);
            return true;
        }
        if (arg == "--version") {
            std::printf("zapfer %s\n", ZAPFER_VERSION);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (printedInfo(argc, argv))
        return 0;
    return zapfer::runZapfer(argc, argv);
}
