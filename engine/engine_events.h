#pragma once

#include "link_error.h"
#include "transfer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zapfer {

// A peer's file table this machine refused, as the history keeps it.
struct RefusedReceive {
    uint32_t peerAddress = 0;     // host byte order; 0 on a serial link
    int32_t refusal = 0;          // PeerRefusal: the code the sender was answered
    bool peerNotAccepted = false; // refused for who sent it (the accept list)
    // The table's entries as far as they were read, each Refused.
    std::vector<FileOutcome> files;
};

enum class Sound {
    LinkUp,      // "infbeg"
    Completed,   // "infend"
    Interrupted, // "infintr"
};

// Everything the engine tells its front end. Called from TransferThread (or,
// before the engine starts, from the thread calling selectCommType or
// retrySerialPort): an implementation must return quickly and must not call back
// into the engine's blocking methods. The window turns each call into a queued
// call on the GUI thread; zapfer-cli and tests act on them directly.
//
// Each event names its transfer: a late event of an earlier transfer is told
// apart from the current one's.
class EngineEvents {
public:
    virtual ~EngineEvents() = default;

    // A peer's file table was accepted: transfer `id` is being received (the
    // receive dialog opens).
    virtual void receiveStarted(TransferId id) { (void)id; }
    // The link for send `id` is up, or could not be set up: the Connecting
    // dialog closes.
    virtual void connectingEnded(TransferId id) { (void)id; }
    // Transfer `id` (either side) has ended: its status dialog closes.
    virtual void transferEnded(TransferId id) { (void)id; }
    // A file of transfer `id` starts; `namePart` is its name without folders
    // (a received file: the name it is stored under).
    virtual void fileStarting(TransferId id, const std::string& namePart) {
        (void)id;
        (void)namePart;
    }
    // A file of transfer `id` has ended, as its outcome says (a received
    // file: at its close). A front end shows its checksum from here.
    virtual void fileEnded(TransferId id, const FileOutcome& file) {
        (void)id;
        (void)file;
    }
    // A file table of `fileCount` files and `totalBytes` bytes came from
    // `peerAddress` (host byte order), which files are not taken from: it
    // was refused and the connection closed, with nothing written.
    virtual void receiveRefused(uint32_t peerAddress, int32_t fileCount, int64_t totalBytes) {
        (void)peerAddress;
        (void)fileCount;
        (void)totalBytes;
    }
    // Every refused table, whatever the reason (a peer refused for its
    // address is told by receiveRefused as well). Nothing was written, and
    // no receive started: receiveStarted was not called for it, except on a
    // serial line, whose receive then ends with none of these files.
    virtual void tableRefused(const RefusedReceive& refusal) { (void)refusal; }
    // A connection from `peerAddress` (host byte order) to the paired port
    // failed its handshake: another code, not a paired peer at all, or
    // silence. Once per failed handshake; nothing was written.
    virtual void pairingFailed(uint32_t peerAddress) { (void)peerAddress; }
    virtual void playSound(Sound sound) = 0;
    // A link could not be opened (when selectCommType was asked to report
    // it); the front end words `error`.
    virtual void linkFailed(const LinkError& error) = 0;
};

// An EngineEvents that does nothing; a base for front ends that need a few.
class NullEngineEvents : public EngineEvents {
public:
    void playSound(Sound) override {}
    void linkFailed(const LinkError&) override {}
};

} // namespace zapfer
