#include "cli_options.h"

#include "pairing_code.h"
#include "protocol.h"

#include <charconv>
#include <set>
#include <string_view>

namespace zapfer::cli {
namespace {

constexpr unsigned ForSend = 1;
constexpr unsigned ForReceive = 2;
constexpr unsigned ForBoth = ForSend | ForReceive;
constexpr unsigned ForHistory = 4;

unsigned maskOf(CliCommand command) {
    switch (command) {
    case CliCommand::Send:
        return ForSend;
    case CliCommand::Receive:
        return ForReceive;
    case CliCommand::History:
        return ForHistory;
    default:
        return 0;
    }
}

std::string describePairingCodeProblem(const ParsedPairingCode& parsed) {
    switch (parsed.problem) {
    case PairingCodeProblem::Empty:
        return "no code given";
    case PairingCodeProblem::BadCharacter: {
        const auto byte = static_cast<unsigned char>(parsed.character);
        const std::string shown = byte > 0x20 && byte < 0x7F
                                      ? "'" + std::string(1, char(byte)) + "'"
                                      : "byte " + std::to_string(byte);
        return shown + " is not a character of a pairing code (A-Z and 2-7)";
    }
    case PairingCodeProblem::WrongLength:
        return "a pairing code has 12 characters, not " + std::to_string(parsed.length);
    case PairingCodeProblem::None:
        break;
    }
    return {};
}

std::optional<long> parseInteger(std::string_view text, long min, long max) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

std::string applyPortValue(uint16_t& field, std::string_view name, std::string_view value,
                           long min) {
    const auto port = parseInteger(value, min, 65535);
    if (!port)
        return "invalid " + std::string(name) + " '" + std::string(value) + "' (expected " +
               std::to_string(min) + " to 65535)";
    field = static_cast<uint16_t>(*port);
    return {};
}

struct OptionSpec {
    std::string_view name;
    const char* valueName; // nullptr: a flag without a value
    unsigned commands;
    const char* help;
    // Stores the option; returns an error text, or nothing when it is fine.
    std::string (*apply)(CliOptions&, std::string_view value);
};

const OptionSpec kOptions[] = {
    {"--dest", "DIR", ForReceive,
     "folder that receives the files (default: the window's destination, else the current folder)",
     [](CliOptions& o, std::string_view v) -> std::string {
         if (v.empty())
             return "--dest needs a folder";
         o.destDir = v;
         return {};
     }},
    {"--on-conflict", "CHOICE", ForReceive,
     "when a file of the same name exists: refuse (the transfer), replace (the file) or "
     "keep-both (store the new one as 'name (2).ext')",
     [](CliOptions& o, std::string_view v) -> std::string {
         static constexpr std::pair<std::string_view, NameConflict> kChoices[] = {
             {"refuse", NameConflict::Refuse},
             {"replace", NameConflict::Replace},
             {"keep-both", NameConflict::KeepBoth},
         };
         for (const auto& [name, choice] : kChoices) {
             if (v == name) {
                 o.nameConflict = choice;
                 return {};
             }
         }
         return "invalid --on-conflict '" + std::string(v) +
                "' (expected refuse, replace or keep-both)";
     }},
    {"--overwrite", nullptr, ForReceive, "the same as --on-conflict replace",
     [](CliOptions& o, std::string_view) -> std::string {
         o.nameConflict = NameConflict::Replace;
         return {};
     }},
    {"--accept-from", "ADDR[/BITS]", ForReceive,
     "take files only from this IPv4 address or network; repeatable (default: the window's "
     "list, else anyone)",
     [](CliOptions& o, std::string_view v) -> std::string {
         const std::optional<Ipv4Network> network = parseNetwork(v);
         if (!network)
             return "invalid --accept-from '" + std::string(v) +
                    "' (expected an IPv4 address such as 198.18.0.7, or a network such as "
                    "198.18.0.0/24)";
         o.acceptFrom.kind = AcceptFrom::ListedAddresses;
         o.acceptFrom.networks.push_back(*network);
         return {};
     }},
    {"--echo-port", "N", ForReceive,
     "UDP port answering LAN discovery (default 1755; 0 picks a free one)",
     [](CliOptions& o, std::string_view v) {
         return applyPortValue(o.echoPort, "--echo-port", v, 0);
     }},
    {"--lan", nullptr, ForSend,
     "find the receiver by broadcast on the local networks (default, unless the window is set to "
     "another link)",
     [](CliOptions& o, std::string_view) -> std::string {
         o.lan = true;
         return {};
     }},
    {"--to", "ADDRESS", ForSend, "send to this IPv4 address or host name",
     [](CliOptions& o, std::string_view v) -> std::string {
         if (v.empty())
             return "--to needs an address";
         o.lan = false;
         o.toAddress = v;
         return {};
     }},
    {"--probe-port", "N", ForSend, "UDP port the LAN discovery probe goes to (default 1755)",
     [](CliOptions& o, std::string_view v) {
         return applyPortValue(o.probePort, "--probe-port", v, 1);
     }},
    {"--timeout", "SECONDS", ForSend,
     "give up when no receiver answers, or a transfer stalls, for this long (default 30)",
     [](CliOptions& o, std::string_view v) -> std::string {
         const auto seconds = parseInteger(v, 1, 86400);
         if (!seconds)
             return "invalid --timeout '" + std::string(v) + "' (expected 1 to 86400 seconds)";
         o.timeoutSeconds = static_cast<int>(*seconds);
         return {};
     }},
    {"--serial", "TYPE", ForBoth,
     "use a serial link instead of the network: usb, com1, com2 or rawir",
     [](CliOptions& o, std::string_view v) -> std::string {
         static constexpr std::pair<std::string_view, CommType> kTypes[] = {
             {"usb", CommType::Usb},
             {"com1", CommType::Com1},
             {"com2", CommType::Com2},
             {"rawir", CommType::RawIr},
         };
         for (const auto& [name, type] : kTypes) {
             if (v == name) {
                 o.serialType = type;
                 return {};
             }
         }
         return "invalid --serial '" + std::string(v) + "' (expected usb, com1, com2 or rawir)";
     }},
    {"--device", "PATH", ForBoth,
     "serial device of --serial (default: /dev/ttyS0 for com1, /dev/ttyS1 for com2, the first "
     "of /dev/serial/by-id for usb; rawir has none)",
     [](CliOptions& o, std::string_view v) -> std::string {
         if (v.empty())
             return "--device needs a path";
         o.device = v;
         return {};
     }},
    {"--port", "N", ForBoth,
     "TCP port listened on (receive; 0 picks a free one) or connected to (send); default 1756",
     [](CliOptions& o, std::string_view v) {
         return applyPortValue(o.port, "--port", v, o.command == CliCommand::Send ? 1 : 0);
     }},
    {"--pairing-code", "CODE", ForBoth,
     "the pairing code for this run, as XXXX-XXXX-XXXX (default: the stored one, made by "
     "'zapfer-cli pair'); with a code, sends go on the paired link only",
     [](CliOptions& o, std::string_view v) -> std::string {
         const ParsedPairingCode parsed = parsePairingCode(v);
         if (!parsed.valid())
             return "invalid --pairing-code: " + describePairingCodeProblem(parsed);
         o.pairingCode = parsed.code;
         return {};
     }},
    {"--paired-port", "N", ForBoth,
     "TCP port of paired links, listened on (receive; 0 picks a free one) or connected to "
     "(send); default 1757",
     [](CliOptions& o, std::string_view v) {
         return applyPortValue(o.pairedPort, "--paired-port", v,
                               o.command == CliCommand::Send ? 1 : 0);
     }},
    {"--plain", nullptr, ForSend,
     "send on the plain, unencrypted link even though a pairing code is set",
     [](CliOptions& o, std::string_view) -> std::string {
         o.plain = true;
         return {};
     }},
    {"--only-paired", nullptr, ForReceive,
     "take files only from paired peers: the plain port is not listened on",
     [](CliOptions& o, std::string_view) -> std::string {
         o.onlyPaired = true;
         return {};
     }},
    {"--limit", "N", ForHistory, "show the N most recent transfers (default 20)",
     [](CliOptions& o, std::string_view v) -> std::string {
         const auto limit = parseInteger(v, 1, 10000);
         if (!limit)
             return "invalid --limit '" + std::string(v) + "' (expected 1 to 10000)";
         o.historyLimit = static_cast<int>(*limit);
         return {};
     }},
    {"--failed", nullptr, ForHistory,
     "only transfers with files that did not go through, and only those files",
     [](CliOptions& o, std::string_view) -> std::string {
         o.historyFailedOnly = true;
         return {};
     }},
    {"--json", nullptr, ForHistory, "one JSON object per transfer and line, with its files",
     [](CliOptions& o, std::string_view) -> std::string {
         o.historyJson = true;
         return {};
     }},
};

const OptionSpec* findOption(std::string_view name) {
    for (const auto& spec : kOptions)
        if (spec.name == name)
            return &spec;
    return nullptr;
}

std::string_view commandName(CliCommand command) {
    return command == CliCommand::Send      ? "send"
           : command == CliCommand::History ? "history"
                                            : "receive";
}

} // namespace

namespace {
std::string dottedAddress(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

// What the window would do for the options the command line left out.
// Returns an error text when a stored value cannot be used.
std::string applyStoredSettings(CliOptions& options, const std::set<std::string_view>& seen,
                                const StoredSettings& stored) {
    options.storedDevices = {stored.usbPort, stored.com1Port, stored.com2Port, stored.rawIrPort};
    if (!seen.count("--dest") && stored.destDir)
        options.destDir = *stored.destDir;
    if (!seen.count("--overwrite") && !seen.count("--on-conflict"))
        options.nameConflict = stored.nameConflictChoice();
    if (!seen.count("--pairing-code") && stored.pairingCode && !stored.pairingCode->empty() &&
        options.command != CliCommand::History) {
        // A damaged code must not turn into none: sends would go out in clear.
        const ParsedPairingCode parsed = parsePairingCode(*stored.pairingCode);
        if (!parsed.valid())
            return "the stored pairing code cannot be used (" + describePairingCodeProblem(parsed) +
                   "): make a new one with 'zapfer-cli pair', or give --pairing-code";
        options.pairingCode = parsed.code;
        options.pairingCodeStored = true;
    }
    if (!seen.count("--accept-from") && !seen.count("--only-paired") && stored.acceptFrom &&
        options.command == CliCommand::Receive && *stored.acceptFrom == "paired") {
        // The window's "Only paired peers".
        options.onlyPaired = true;
    } else if (!seen.count("--accept-from") && stored.acceptFrom &&
               options.command == CliCommand::Receive) {
        // A list that cannot be read must not turn into "anyone".
        const AcceptListParse parsed = parseAcceptList(*stored.acceptFrom);
        if (!parsed.list)
            return "the stored accept list has a malformed entry '" + parsed.badEntry +
                   "': correct it in the Settings dialog, or give --accept-from";
        options.acceptFrom = *parsed.list;
    }
    const bool linkGiven = seen.count("--lan") || seen.count("--to") || seen.count("--serial") ||
                           seen.count("--port") || seen.count("--probe-port") ||
                           seen.count("--echo-port") || seen.count("--paired-port");
    if (linkGiven || !stored.commType)
        return {};
    const std::optional<CommType> type = commTypeFromIndex(*stored.commType);
    if (!type)
        return {};
    if (isSerial(*type)) {
        options.serialType = type;
    } else if (*type == CommType::Wan && stored.peerIp && *stored.peerIp != 0) {
        options.lan = false;
        options.toAddress = dottedAddress(*stored.peerIp);
    }
    return {};
}
} // namespace

ParseResult parseArguments(int argc, const char* const* argv, const StoredSettings& stored) {
    ParseResult result;
    const auto fail = [&result](std::string error) {
        result.error = std::move(error);
        return result;
    };
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (const auto arg : args) {
        if (arg == "--")
            break;
        if (arg == "--help" || arg == "-h") {
            result.options = CliOptions{};
            return result;
        }
        if (arg == "--version") {
            result.options = CliOptions{};
            result.options->command = CliCommand::Version;
            return result;
        }
    }
    if (args.empty())
        return fail("no command given");

    CliOptions options;
    if (args[0] == "help") {
        result.options = options;
        return result;
    } else if (args[0] == "send") {
        options.command = CliCommand::Send;
    } else if (args[0] == "receive") {
        options.command = CliCommand::Receive;
    } else if (args[0] == "history") {
        options.command = CliCommand::History;
    } else if (args[0] == "pair") {
        if (args.size() > 1)
            return fail("pair takes no options ('" + std::string(args[1]) + "')");
        options.command = CliCommand::Pair;
        result.options = options;
        return result;
    } else if (args[0].starts_with("-")) {
        return fail("expected a command (send, receive, history or pair) before '" +
                    std::string(args[0]) + "'");
    } else {
        return fail("unknown command '" + std::string(args[0]) + "'");
    }

    std::set<std::string_view> seen;
    bool onlyFiles = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (onlyFiles || !arg.starts_with("-") || arg == "-") {
            if (options.command != CliCommand::Send)
                return fail(std::string(commandName(options.command)) + " takes no file names ('" +
                            std::string(arg) + "')");
            options.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const OptionSpec* spec = findOption(name);
        if (!spec)
            return fail("unknown option '" + std::string(name) + "'");
        if (!(spec->commands & maskOf(options.command)))
            return fail("option '" + std::string(name) + "' does not apply to " +
                        std::string(commandName(options.command)));
        std::string_view value;
        if (spec->valueName) {
            if (equals != std::string_view::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return fail("option '" + std::string(name) + "' needs a value " + spec->valueName);
            }
        } else if (equals != std::string_view::npos) {
            return fail("option '" + std::string(name) + "' takes no value");
        }
        seen.insert(spec->name);
        if (std::string error = spec->apply(options, value); !error.empty())
            return fail(std::move(error));
    }

    if (seen.count("--lan") && seen.count("--to"))
        return fail("--lan and --to cannot be used together");
    if (seen.count("--device") && !seen.count("--serial"))
        return fail("--device needs --serial");
    if (seen.count("--serial")) {
        for (const std::string_view network :
             {"--lan", "--to", "--port", "--probe-port", "--echo-port", "--paired-port", "--plain",
              "--only-paired", "--pairing-code"})
            if (seen.count(network))
                return fail("--serial and " + std::string(network) + " cannot be used together");
    }
    if (std::string error = applyStoredSettings(options, seen, stored); !error.empty())
        return fail(std::move(error));
    if (options.onlyPaired && options.pairingCode.empty())
        return fail("--only-paired needs a pairing code: make one with 'zapfer-cli pair', or "
                    "give --pairing-code");
    if (options.command == CliCommand::Send) {
        if (options.files.empty())
            return fail("send needs at least one file");
        if (options.files.size() > size_t(kMaxEntries))
            return fail("at most " + std::to_string(kMaxEntries) + " files can be sent at once (" +
                        std::to_string(options.files.size()) + " given)");
    }
    result.options = std::move(options);
    return result;
}

SerialDevices serialDevicesOf(const CliOptions& options) {
    SerialDevices devices = FindPorts(options.storedDevices);
    if (options.serialType && !options.device.empty()) {
        switch (*options.serialType) {
        case CommType::Usb:
            devices.usb = options.device;
            break;
        case CommType::Com1:
            devices.com1 = options.device;
            break;
        case CommType::Com2:
            devices.com2 = options.device;
            break;
        default:
            devices.rawIr = options.device;
            break;
        }
    }
    return devices;
}

std::string usageText() {
    std::string text = "Usage: zapfer-cli receive [OPTIONS]\n"
                       "  or:  zapfer-cli send [OPTIONS] FILE...\n"
                       "  or:  zapfer-cli history [--limit N] [--failed] [--json]\n"
                       "  or:  zapfer-cli pair\n"
                       "\n"
                       "Beams files to a peer running Zapfer, or receives them, without a "
                       "window.\n"
                       "receive serves incoming transfers until interrupted (Ctrl+C).\n"
                       "send sends the files once; it exits 0 only when every file went "
                       "through.\n"
                       "history lists the recent transfers of the window and zapfer-cli\n"
                       "(~/.local/share/Quorvel/Zapfer/history.sqlite) with their files.\n"
                       "pair makes a new pairing code, stores it as the window's and prints it;\n"
                       "two computers with the same code send over an encrypted link (TCP 1757)\n"
                       "that only they can open.\n"
                       "Options left out take the window's settings (~/.config/Quorvel/"
                       "Zapfer.conf):\n"
                       "destination, overwrite preference, link type, peer address, serial "
                       "devices.\n";
    const auto section = [&text](const char* title, unsigned mask) {
        text += "\n";
        text += title;
        text += ":\n";
        for (const auto& spec : kOptions) {
            if (spec.commands != mask)
                continue;
            std::string left = "  " + std::string(spec.name);
            if (spec.valueName)
                left += " " + std::string(spec.valueName);
            if (left.size() < 22)
                left.resize(22, ' ');
            else
                left += "\n" + std::string(22, ' ');
            text += left + spec.help + "\n";
        }
    };
    section("Options of receive", ForReceive);
    section("Options of send", ForSend);
    section("Options of both", ForBoth);
    section("Options of history", ForHistory);
    text += "  --help              show this text and exit\n"
            "  --version           show the version and exit\n"
            "\n"
            "Exit status:\n"
            "  0  success\n"
            "  1  the transfer failed or was refused, the link could not be opened\n"
            "     (a busy, missing or forbidden serial device, a taken TCP port),\n"
            "     or the history could not be read\n"
            "  2  bad arguments, or a destination that is not a writable folder\n";
    return text;
}

} // namespace zapfer::cli
