#pragma once

// What the engine's parts share: the front-end facade (Engine), the
// TransferThread with its link drivers, and the EchoResponder. One per
// engine; each part holds a reference.

#include "accept_list.h"
#include "conflict_names.h"
#include "engine_events.h"
#include "engine_state.h"
#include "link_status.h"
#include "pairing_key.h"
#include "serial_devices.h"
#include "socket_endpoint.h"
#include "task_queue.h"
#include "transfer_records.h"
#include "waker.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace zapfer {

// What the engine takes from the settings.
struct EngineSettings {
    std::string destDir;
    NameConflict nameConflict = NameConflict::Refuse;
    AcceptList acceptFrom; // socket peers; a serial link is always accepted
    uint32_t peerIp = 0;   // first octet in the most significant byte
    std::string ownerName = "No Name";
    SerialDevices serialDevices;
    // The pairing code's 12 characters in upper case; empty: none. With a
    // code, LAN and WAN sends go on the paired link only.
    std::string pairingCode;
    // The code's key when the front end has it already (kept on disk): the
    // engine then skips the slow derivation. Used only for the code it names.
    std::optional<KnownPairingKey> pairingKey;
    // Send on the plain link even with a code set (zapfer-cli --plain).
    bool plainLink = false;
};

struct EngineCore {
    EngineCore(EngineEvents& events, LinkConfig config);

    EngineSettings settings() const;
    void setSettings(const EngineSettings& settings);
    // Moves LinkState to `to` unless the engine is stopping: a late store
    // must never undo Stopped.
    void moveLinkState(LinkState to);
    void setAbort();
    TransferId nextId() { return ++lastId; }

    EngineEvents& events;
    const LinkConfig config;
    EngineState state;
    LinkStatus status;
    Waker waker;
    TaskQueue tasks; // front-end requests run on TransferThread between commands
    SocketEndpoint endpoint;

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> inTransfer{false}; // sender or socket service loop running
    PendingSend send;
    Outcomes outcomes;
    std::atomic<TransferId> lastId{kNoTransfer};
    std::atomic<TransferId> sendId{kNoTransfer};    // the send under way or last
    std::atomic<TransferId> receiveId{kNoTransfer}; // the receive under way or last

private:
    mutable std::mutex m_settingsMutex;
    EngineSettings m_settings;
};

} // namespace zapfer
