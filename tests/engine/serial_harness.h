#pragma once

// Serial-link test parts: pty pairs, a relay that joins two of them into one
// line between two engines, engines on a serial type, and a hand-driven peer
// on a pty master.

#include "engine_harness.h"
#include "unique_fd.h"

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

// The far end of a pty driven by hand: exactly the bytes a test wants.
class SerialPeer {
public:
    explicit SerialPeer(int masterFd) : m_fd(masterFd) {}
    void send(const std::vector<uint8_t>& bytes);
    void sendCommand(uint8_t code);
    void sendTable(const std::vector<std::pair<std::string, int32_t>>& entries);
    void sendOpen(uint8_t index);
    void sendBlock(int32_t k, const std::vector<uint8_t>& data, uint32_t crcDelta = 0);
    // Bytes as they come, at most n, until `timeoutMs` passes.
    std::vector<uint8_t> read(size_t n, int timeoutMs = 3000);
    // The next command frame; 0 when none arrived in time or it was not one.
    uint8_t readCommand(int timeoutMs = 3000);
    // Plays the responder's part of the link set-up; returns the initiator's
    // name block.
    std::vector<uint8_t> answerDial(const std::string& ownName);
    // Plays the initiator's part of the link set-up; returns the responder's
    // name block.
    std::vector<uint8_t> dial(const std::string& ownName);

private:
    int m_fd;
};

std::vector<uint8_t> nameBlock(const std::string& name);
std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t begin, size_t length);

} // namespace zapfer::test
