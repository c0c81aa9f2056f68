#pragma once

#include "accept_list.h"
#include "conflict_names.h"
#include "pairing_key.h"
#include "serial_devices.h"

#include <QString>

#include <cstdint>
#include <optional>

class QSettings;

namespace zapfer {

// Everything Zapfer remembers between runs, kept in QSettings("Quorvel",
// "Zapfer") under the value names "CurDir", "DestDir", "CommType", "PeerIP",
// "Sort", "Preferences", "NameConflict", "AcceptFrom" and "PairingCode", plus
// the serial device paths. Loaded once at start-up; saved when the Settings
// dialog is confirmed and at every normal exit. GUI thread only.
struct Settings {
    QString curDir;        // empty: the "My Computer" view
    QString destDir;       // where received files are written
    uint32_t commType = 5; // LAN: IrDA does not exist on Linux
    uint32_t peerIp = 0;   // first octet in the most significant byte
    uint32_t sort = 0;     // kept as stored, even outside 0..3
    bool pathPopupOpen = false;
    bool preferenceBit1 = true; // nothing depends on it; carried through
    bool promptDelete = true;
    bool showResults = true;
    // "NameConflict"; "Preferences" bit 4 is written in step with Replace.
    NameConflict nameConflict = NameConflict::Refuse;
    // "AcceptFrom": addresses and networks separated by spaces; empty:
    // anyone; kAcceptPairedPeers: only peers that share the pairing code.
    QString acceptFrom;
    // "PairingCode": the 12 characters in upper case, without dashes; empty:
    // none, and every transfer goes on the plain link. A stored text that is
    // not a code is kept as it is: paired sending stays in force (and fails
    // visibly) instead of falling back to the plain link unnoticed.
    QString pairingCode;
    // Serial device paths as stored ("UsbPort", "Com1Port", "Com2Port",
    // "RawIrPort"); unset ones are looked up by FindPorts.
    StoredSerialDevices serialPorts;

    uint32_t preferences() const;
    void setPreferences(uint32_t bits);
    // The stored list for the engine. Entries that cannot be read (the file
    // edited by hand) are left out, yet the list stays in force: a damaged
    // list never lets everyone in.
    AcceptList acceptList() const;
    bool acceptsPairedPeersOnly() const;
    // Sends on LAN and WAN go on the paired link.
    bool pairedSending() const;
};

// The "AcceptFrom" text of "Only paired peers". It is no address, so a reader
// that does not know it refuses the list instead of taking files from anyone.
inline constexpr char kAcceptPairedPeers[] = "paired";

// The Downloads folder of the user's desktop, else the home folder.
QString defaultTransferDir();

Settings LoadSettings(QSettings& store);
// With a pairing code, the file is readable and writable by its owner only,
// from before the code is first written. The key file beside it (written by
// zapfer-cli) goes when it is not for the code saved: cleared or replaced.
void SaveSettings(const Settings& settings, QSettings& store);

// The key of the stored code, when the key file beside the settings file
// holds it; only read, never derived, so the window does not wait for it.
std::optional<KnownPairingKey> KeptPairingKey(const Settings& settings, const QSettings& store);

} // namespace zapfer
