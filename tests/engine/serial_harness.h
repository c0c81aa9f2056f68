#pragma once

// Serial-link test parts: pty pairs, a relay that joins two of them into one
// line between two engines, and engines on a serial type. A hand-driven
// peer on a pty master is a WirePeer::pty.

#include "engine_harness.h"
#include "unique_fd.h"
#include "wire_peer.h"

#include <atomic>
#include <memory>
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

// A responder engine on either link: listening on 127.0.0.1, or on serial
// type `type` at a pty whose device name is a symbolic link the test can
// move, so that the line can vanish (its master closed, as when an adapter
// is pulled) and come back as a new pty.
class LinkResponder {
public:
    LinkResponder(WireLink link, const std::filesystem::path& dest, bool overwrite = false,
                  CommType type = CommType::Com1);
    WireLink link() const { return m_link; }
    Engine& engine() { return m_socket ? m_socket->engine : m_serial->engine; }
    RecordingEvents& events() { return m_socket ? m_socket->events : m_serial->events; }
    // A new connection to the responder, or the far end of its line.
    WirePeer peer();
    // The far end closes the line; the responder is left with a hung-up
    // device, which it closes.
    void unplug();
    // A new line under the same device name, opened by the once-a-second retry.
    void plugBackIn();

private:
    void plugIn();

    WireLink m_link;
    TempDir m_devices;
    std::unique_ptr<Pty> m_pty;
    std::unique_ptr<Responder> m_socket;
    std::unique_ptr<SerialEngine> m_serial;
};

} // namespace zapfer::test
