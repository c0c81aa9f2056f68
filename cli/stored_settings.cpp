#include "stored_settings.h"

#include "default_destination.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace zapfer::cli {

namespace {
std::string trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

std::optional<uint32_t> number(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > 0xFFFFFFFFull)
        return std::nullopt;
    return uint32_t(value);
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}
} // namespace

std::string storedSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && *config) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/Quorvel/Zapfer.conf";
}

std::string unescapeIniValue(const std::string& raw) {
    std::string out;
    bool quoted = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c != '\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '0':
            out += '\0';
            break;
        case 'x': { // \xhhhh: one character by its code
            size_t j = i + 1;
            uint32_t code = 0;
            while (j < raw.size() && j < i + 5 && std::isxdigit(static_cast<unsigned char>(raw[j])))
                code = code * 16 + uint32_t(std::stoi(std::string(1, raw[j++]), nullptr, 16));
            appendUtf8(out, code);
            i = j - 1;
            break;
        }
        default:
            out += e; // \\ \" \; \, and the like stand for themselves
        }
    }
    if (out.rfind("@@", 0) == 0) // a text that begins with "@" is stored with "@@"
        out.erase(0, 1);
    return out;
}

StoredSettings readStoredSettings(const std::string& path) {
    StoredSettings stored;
    std::ifstream in(path);
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        if (section != "General")
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = trim(line.substr(0, equals));
        const std::string value = unescapeIniValue(trim(line.substr(equals + 1)));
        if (key == "DestDir")
            stored.destDir = value;
        else if (key == "CommType")
            stored.commType = number(value);
        else if (key == "PeerIP")
            stored.peerIp = number(value);
        else if (key == "Preferences")
            stored.preferences = number(value);
        else if (key == "NameConflict")
            stored.nameConflict = number(value);
        else if (key == "AcceptFrom")
            stored.acceptFrom = value;
        else if (key == "UsbPort")
            stored.usbPort = value;
        else if (key == "Com1Port")
            stored.com1Port = value;
        else if (key == "Com2Port")
            stored.com2Port = value;
        else if (key == "RawIrPort")
            stored.rawIrPort = value;
        else if (key == "PairingCode")
            stored.pairingCode = value;
    }
    // As in the window: with no folder chosen, files go to the download
    // folder, never to wherever zapfer-cli happens to be started. It is made
    // only by a receive: a send or a look at the history leaves no folder.
    if (!stored.destDir)
        stored.destDir = defaultDestinationPath();
    return stored;
}

} // namespace zapfer::cli
