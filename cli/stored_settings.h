#pragma once

// The window's stored settings (~/.config/Quorvel/Zapfer.conf, written by
// QSettings in its INI form), read without Qt so that zapfer-cli takes the
// same destination, link type, peer address and preferences as the window.

#include "conflict_names.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zapfer::cli {

struct StoredSettings {
    std::optional<std::string> destDir;
    std::optional<uint32_t> commType;
    std::optional<uint32_t> peerIp; // first octet in the most significant byte
    std::optional<uint32_t> preferences;
    std::optional<uint32_t> nameConflict;
    std::optional<std::string> acceptFrom;
    std::optional<std::string> usbPort;
    std::optional<std::string> com1Port;
    std::optional<std::string> com2Port;
    std::optional<std::string> rawIrPort;
    std::optional<std::string> pairingCode; // as stored; checked where it is used

    bool overwriteFiles() const { return preferences && (*preferences & 16u); }
    NameConflict nameConflictChoice() const {
        return storedNameConflict(nameConflict, preferences);
    }
};

// $XDG_CONFIG_HOME/Quorvel/Zapfer.conf, else ~/.config/Quorvel/Zapfer.conf.
std::string storedSettingsPath();

// Values missing, unreadable or not of their type stay empty, except the
// destination: absent, it is the default destination (created when missing).
StoredSettings readStoredSettings(const std::string& path);

// One INI value as QSettings writes it: quotes removed, escapes undone.
std::string unescapeIniValue(const std::string& raw);

} // namespace zapfer::cli
