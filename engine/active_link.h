#pragma once

// The link TransferThread currently holds (a connection or the serial port)
// and the receive session on it, which reports to the engine through this
// object.

#include "engine_core.h"
#include "link.h"
#include "receive_session.h"

#include <memory>
#include <vector>

namespace zapfer {

class ActiveLink : private SessionObserver, private ReplySink {
public:
    explicit ActiveLink(EngineCore& core) : m_core(core) {}
    ~ActiveLink() override = default;
    ActiveLink(const ActiveLink&) = delete;
    ActiveLink& operator=(const ActiveLink&) = delete;

    Link* link() const { return m_link.get(); }
    // A new link starts with no table. `peerAddress` (host order) is the
    // far end of an accepted connection; 0 for others. A `paired` link's
    // peer proved it holds the pairing code.
    // A link this machine dialled names the peer it reached.
    void open(std::unique_ptr<Link> link, uint32_t peerAddress = 0, bool paired = false);
    // Host order; 0 for a serial link.
    uint32_t peerAddress() const { return m_peerAddress; }
    void close();
    bool hasSession() const { return m_session != nullptr; }
    // The receive session on the link, made when it is first needed.
    ReceiveSession& session();
    // A peer's transfer to this machine is under way.
    bool receiveActive() const;
    // Ends the receive under way (deleting a partial file); a socket receive
    // ends with its connection.
    void endReceive();
    // A connection carries one transfer and ends with it; a serial line
    // stays open between transfers.
    bool connectionPerTransfer() const;
    // The replies made while serving one read of a stream are held and then
    // leave together in one write: the same bytes in the same order, without
    // a system call per block.
    void holdReplies() { m_holding = true; }
    void sendHeldReplies();

private:
    // SessionObserver.
    ReceivePolicy policy() override;
    void incoming() override;
    void fileStarted(const std::string& storedName) override;
    void fileEnded(const FileOutcome& file) override;
    void closeStatus() override;
    void sound(Sound sound) override;
    void abortTransfer() override;
    void transferComplete() override;
    void linkRequested() override;
    void receiveEnded(const ReceiveOutcome& outcome) override;
    void peerNamed(const std::string& name) override;
    void tableRefused(const RefusedTable& table) override;
    // ReplySink.
    void reply(std::span<const uint8_t> bytes) override;
    void discardInput() override;
    void pace(int ms) override;

    EngineCore& m_core;
    std::unique_ptr<Link> m_link;
    uint32_t m_peerAddress = 0;
    bool m_paired = false;
    std::unique_ptr<ReceiveSession> m_session;
    bool m_holding = false;
    std::vector<uint8_t> m_held;
};

} // namespace zapfer
