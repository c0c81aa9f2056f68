#pragma once

// The far end of a link driven by hand: a test sends exactly the bytes it
// wants (hostile, cut short, trickled) and reads the replies. The link is a
// TCP connection to a responder on 127.0.0.1 or the master of a pty whose
// slave an engine has open.
//
// It replaces three older peers; their calls map as follows.
//   RawPeer peer(port)            -> WirePeer peer = WirePeer::tcp(port)
//   FaultPeer peer(port)          -> WirePeer peer = WirePeer::tcp(port)
//   SerialPeer peer(masterFd)     -> WirePeer peer = WirePeer::pty(masterFd)
//   closedByResponder(ms)         -> closedByPeer(ms)
//   sendTable(entries, crcDelta)  -> the same (the table's CRC)
//   sendBlock(k, data, crcDelta)  -> the same (the block's CRC)
//   rawEntry(name, size)          -> textEntry(name, size)   (wire_messages.h)
//   SerialPeer's nameBlock, slice -> the same, in wire_messages.h
//   abortExchange(peer) (tests)   -> EXPECT_TRUE(peer.abortUntilAcknowledged())
// readBlockReply, reset, sendSlowly, dial and answerDial keep their names, and
// so do FaultPeer's unitEntry, textEntry, tableMessage, openMessage,
// blockMessage and frameBytes. textEntry now takes each byte as one unit, as
// rawEntry did (FaultPeer's sign-extended bytes above 0x7F).
// Reads and closedByPeer wait 5 s unless told otherwise (RawPeer and
// SerialPeer waited 3 s), which only lengthens a failing test.
//
// The scenes built on it (fault_scene.h, serial_harness.h):
//   FaultScene(overwrite)              -> FaultScene(WireLink::Socket, overwrite)
//   SerialFaultScene(overwrite, type)  -> FaultScene(WireLink::Serial, overwrite, type)
//   scene.responder.engine / .events   -> scene.engine() / scene.events()
//   FaultPeer peer(scene.port())       -> WirePeer peer = scene.peer()
//   a responder on either link         -> LinkResponder(link, dest, overwrite)

#include "unique_fd.h"
#include "wire_messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

namespace zapfer::test {

// The two links a peer can reach a responder over; suites that hold for both
// are parameterised by it.
enum class WireLink { Socket, Serial };
std::string wireLinkName(const ::testing::TestParamInfo<WireLink>& info);
void PrintTo(WireLink link, std::ostream* out);

class WirePeer {
public:
    // A blocking connection to 127.0.0.1:port from `source` (host order;
    // another loopback address stands for another machine); connected() is
    // false when it failed.
    static WirePeer tcp(uint16_t port, uint32_t source = 0x7F000001u);
    // The master of a pty, which the caller keeps open for as long as this peer.
    static WirePeer pty(int masterFd);

    WirePeer(WirePeer&& other) noexcept
        : m_owned(std::move(other.m_owned)), m_fd(std::exchange(other.m_fd, -1)),
          m_socket(other.m_socket) {}
    WirePeer& operator=(WirePeer&&) = delete;

    bool connected() const { return m_fd >= 0; }

    // All of `bytes`. On a pty, bytes that cannot be written within 5 s fail
    // the test; a socket peer may be writing to a responder that has gone,
    // which the fault tests expect.
    void send(const Bytes& bytes);
    // One byte at a time, `gap` apart.
    void sendSlowly(const Bytes& bytes, std::chrono::milliseconds gap);
    void sendCommand(uint8_t code) { send(frameBytes(code)); }
    void sendTable(const TableEntries& entries, uint32_t crcDelta = 0) {
        send(tableMessage(entries, crcDelta));
    }
    void sendOpen(uint8_t index) { send(openMessage(index)); }
    void sendBlock(int32_t k, const Bytes& data, uint32_t crcDelta = 0) {
        send(blockMessage(k, data, crcDelta));
    }

    // Up to n bytes: fewer when the time runs out or the link ends.
    Bytes read(size_t n, int timeoutMs = 5000);
    // The next command frame; 0 when none came in time.
    uint8_t readCommand(int timeoutMs = 5000);
    // A block reply of the socket link (frame and index): its command, with
    // its index in `index`; 0 when none came in time.
    uint8_t readBlockReply(int32_t* index, int timeoutMs = 5000);
    // True when the far end closed the connection within `timeoutMs`.
    bool closedByPeer(int timeoutMs = 5000);

    // An orderly close (FIN on a socket); a pty master is only let go of.
    void close();
    // An abortive close of a socket (SO_LINGER 0): the responder sees a reset.
    void reset();

    // The sender's end of a refused or broken transfer: CMD_ABORT until it is
    // acknowledged, at most `tries` times; false when it never was.
    bool abortUntilAcknowledged(int tries = 5);

    // The serial link set-up, played as the responder; returns the
    // initiator's name block.
    Bytes answerDial(const std::string& ownName);
    // The serial link set-up, played as the initiator; returns the
    // responder's name block.
    Bytes dial(const std::string& ownName);

private:
    WirePeer(UniqueFd owned, int fd, bool socket)
        : m_owned(std::move(owned)), m_fd(fd), m_socket(socket) {}

    UniqueFd m_owned; // the socket; empty for a pty
    int m_fd = -1;
    bool m_socket = false;
};

} // namespace zapfer::test
