#pragma once

#include "engine.h"

#include <functional>

namespace zapfer {

class ZapferApp;

// How the program runs: the engine's sockets (TCP 1756, UDP 1755 unless
// moved) and what to do once the window is up. The installed program
// passes the defaults; only a test build of it passes anything else.
struct ProgramOptions {
    LinkConfig link;
    std::function<void(ZapferApp& app)> started;
};

// Everything main() does: the application object, start-up (or the hand-over
// to a running instance), the event loop, and the shutdown that joins the
// engine's threads and saves the settings. Returns the exit code.
int runZapfer(int argc, char** argv, const ProgramOptions& options = {});

} // namespace zapfer
