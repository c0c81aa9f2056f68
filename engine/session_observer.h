#pragma once

// What a receive session tells the engine, and what it asks of it: the
// policy a table is checked against, a table refused, a receive's outcome.

#include "conflict_names.h"
#include "engine_events.h"
#include "transfer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zapfer {

// What the session takes from the settings when a table arrives.
struct ReceivePolicy {
    std::string destDir;
    NameConflict nameConflict = NameConflict::Refuse;
    std::string ownerName = "No Name";
    // Whether files are taken from the peer of this link at all (the accept
    // list). A table from a peer refused here is answered CMD_CANNOT_CREATE,
    // before anything touches the destination, and the link is dropped.
    bool peerAccepted = true;
};

// A table the session refused: because of who sent it, or because the
// destination cannot take it.
struct RefusedTable {
    int32_t fileCount = 0;
    int64_t totalBytes = 0;
    int32_t refusal = 0;          // PeerRefusal, the code the sender hears
    bool peerNotAccepted = false; // refused for who sent it
    // Its entries as far as they were read, each Refused: a name that made
    // the table unsafe is the last.
    std::vector<FileOutcome> files;
};

// How a receive ended, with each file of its table.
struct ReceiveOutcome {
    TransferId id = kNoTransfer;
    bool aborted = false;
    int32_t filesDone = 0;
    int32_t fileCount = 0;
    std::vector<FileOutcome> files;
    uint32_t peerAddress = 0; // host order; 0 on a serial link
};

// What the session tells the engine.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual ReceivePolicy policy() = 0;
    // A table arrived that the user should see (the receive dialog opens).
    virtual void incoming() = 0;
    virtual void fileStarted(const std::string& storedName) = 0;
    // The file under way was closed: kept whole or dropped.
    virtual void fileEnded(const FileOutcome& file) { (void)file; }
    virtual void closeStatus() = 0;
    virtual void sound(Sound sound) = 0;
    // The transfer must stop: the peer aborted, or a file could not be
    // created or written.
    virtual void abortTransfer() = 0;
    // The last file of the table was closed.
    virtual void transferComplete() = 0;
    // A serial initiator asks for a new link.
    virtual void linkRequested() = 0;
    // The receive ended (complete, aborted or cut): the outcome.
    virtual void receiveEnded(const ReceiveOutcome& outcome) = 0;
    // The peer sent its name block.
    virtual void peerNamed(const std::string& name) { (void)name; }
    // A table was refused (a peer that files are not taken from, a name
    // conflict, no space, a name that cannot be created): nothing was
    // written, and the table is no part of the receive.
    virtual void tableRefused(const RefusedTable& table) { (void)table; }
};

} // namespace zapfer
