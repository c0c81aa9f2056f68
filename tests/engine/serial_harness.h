#pragma once

// Serial-link test parts: pty pairs, a relay that joins two of them into one
// line between two engines, and engines on a serial type. A hand-driven
// peer on a pty master is a WirePeer::pty.

#include "engine_harness.h"
#include "unique_fd.h"
#include "wire_peer.h"

#include <atomic>
#include <thread>

namespace zapfer::test {

// A pty in raw mode. The engine opens the slave by `path`; `slave` stays open
// so that the master never sees a hang-up between opens.
struct Pty {
    UniqueFd master;
    UniqueFd slave;
    std::string path;
};
Pty makePty();

// Copies bytes both ways between the masters of two ptys, as a null-modem
// cable would.
class PtyRelay {
public:
    PtyRelay();
    ~PtyRelay();
    PtyRelay(const PtyRelay&) = delete;
    PtyRelay& operator=(const PtyRelay&) = delete;
    const std::string& endA() const { return m_a.path; }
    const std::string& endB() const { return m_b.path; }

private:
    void run();
    Pty m_a;
    Pty m_b;
    UniqueFd m_stop;
    std::thread m_thread;
};

// An engine on a serial type, started, its port on `device`.
struct SerialEngine {
    SerialEngine(CommType type, const std::string& device, const std::filesystem::path& dest = {},
                 const std::string& owner = "Serial", bool overwrite = false);
    ~SerialEngine();
    // Runs a whole send as the window does; returns its outcome.
    SendOutcome send(const std::vector<std::filesystem::path>& files);
    // Starts a send and waits for the link; false when it did not come up.
    bool beginAndConnect(const std::vector<SendFile>& files);
    RecordingEvents events;
    Engine engine;
    SendHandshake handshake{engine};
};

} // namespace zapfer::test
