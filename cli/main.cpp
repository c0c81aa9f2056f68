// zapfer-cli: Zapfer's transfer engine without a window.

#include <cstdio>
#include <cstring>

namespace {
constexpr const char* kUsage =
    "Usage: zapfer-cli COMMAND [OPTIONS]\n"
    "\n"
    "Beams files to a peer running Zapfer, or receives them, without a window.\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n";
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
