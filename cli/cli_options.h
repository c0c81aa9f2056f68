#pragma once

// Command line of zapfer-cli. Options are rows of one table, so a new link
// type (a serial device, say) is one more row and one more field.

#include "accept_list.h"
#include "comm_type.h"
#include "conflict_names.h"
#include "serial_devices.h"
#include "stored_settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zapfer::cli {

enum class CliCommand { Help, Version, Send, Receive, History, Pair };

struct CliOptions {
    CliCommand command = CliCommand::Help;

    // receive
    std::string destDir; // empty: the current directory
    NameConflict nameConflict = NameConflict::Refuse;
    AcceptList acceptFrom; // anyone, unless --accept-from or the stored list names some
    uint16_t echoPort = 1755;

    // send
    bool lan = true;       // false: --to
    std::string toAddress; // the peer of --to, as typed
    uint16_t probePort = 1755;
    int timeoutSeconds = 30;
    std::vector<std::string> files;

    // history
    int historyLimit = 20;
    bool historyFailedOnly = false; // only transfers with failed files, only those files
    bool historyJson = false;

    // both: the TCP port listened on (receive) or connected to (send)
    uint16_t port = 1756;

    // both: the paired link. `pairingCode` is the code in force (the stored
    // one unless --pairing-code), 12 upper-case characters or empty.
    std::string pairingCode;
    // The code is the stored one: its key may be kept on disk beside it. A
    // code given for one run never is (nor anything made from it).
    bool pairingCodeStored = false;
    uint16_t pairedPort = 1757;
    bool plain = false;      // send: the plain link even with a code (--plain)
    bool onlyPaired = false; // receive: the plain port is not listened on

    // both: a serial link instead of the network (--serial), on `device`
    // when given, else on the type's default device
    std::optional<CommType> serialType;
    std::string device;

    // The window's stored serial device paths, behind --device.
    StoredSerialDevices storedDevices;
};

struct ParseResult {
    std::optional<CliOptions> options; // empty: `error` says why
    std::string error;
};

// Options not given on the command line take the window's stored settings:
// destination, name conflict choice, accept list, link type with its peer address or device.
ParseResult parseArguments(int argc, const char* const* argv, const StoredSettings& stored = {});

// The serial devices for --serial: the defaults, with --device in place of
// the chosen type's.
SerialDevices serialDevicesOf(const CliOptions& options);

// The --help text, built from the option table.
std::string usageText();

} // namespace zapfer::cli
