#pragma once

// A responder on either link whose destination sits in a folder of its own,
// next to a file that must never be touched, with an older file in the
// destination. After each fault the scene checks what must always hold.

#include "engine_harness.h"
#include "received_file.h"
#include "serial_harness.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace zapfer::test {

// What this process's descriptors point to, sorted, with a listing of them
// by number for messages. The listing's own descriptor is left out, and a
// pty's number too: a line plugged back in is a new pty.
struct Descriptors {
    std::vector<std::string> targets;
    std::string listing;
    bool operator==(const Descriptors& other) const { return targets == other.targets; }
};

inline Descriptors openDescriptors() {
    const std::string self = "/proc/" + std::to_string(::getpid()) + "/fd";
    std::map<int, std::string> byNumber;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        const std::string target = std::filesystem::read_symlink(entry.path(), linkError).string();
        if (!linkError && target != self)
            byNumber.emplace(std::stoi(entry.path().filename().string()), target);
    }
    Descriptors open;
    for (const auto& [fd, target] : byNumber) {
        open.targets.push_back(target.starts_with("/dev/pts/") ? "/dev/pts/" : target);
        open.listing += std::to_string(fd) + " -> " + target + "\n";
    }
    std::sort(open.targets.begin(), open.targets.end());
    return open;
}

// The descriptors once two listings 20 ms apart agree, so that one a
// starting thread holds for a moment is not taken as lasting.
inline Descriptors settledDescriptors() {
    Descriptors last = openDescriptors();
    for (int tries = 0; tries < 100; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Descriptors now = openDescriptors();
        if (now == last)
            break;
        last = std::move(now);
    }
    return last;
}

inline const Bytes kOldContent = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

class FaultScene {
public:
    explicit FaultScene(WireLink link, bool overwrite = true, CommType type = CommType::Com1)
        : m_dest(makeFolders(m_root)), m_responder(link, m_dest, overwrite, type) {
        writeFile(m_dest / "keep.txt", kOldContent);
        m_descriptors = settledDescriptors();
    }

    WireLink link() const { return m_responder.link(); }
    const std::filesystem::path& dest() const { return m_dest; }
    Engine& engine() { return m_responder.engine(); }
    RecordingEvents& events() { return m_responder.events(); }
    int32_t blockSize() { return engine().state().BlockSize; }
    uint16_t port() { return engine().listenPort(); }
    WirePeer peer() { return m_responder.peer(); }
    void unplug() { m_responder.unplug(); }
    void plugBackIn() { m_responder.plugBackIn(); }

    // Closes the file under way, answered CMD_OK. `lastOfReceive`: it ends the
    // receive, so the status dialog closes too.
    void closeFile(WirePeer& peer, bool lastOfReceive) {
        RecordingEvents& recorded = events();
        int before;
        {
            std::lock_guard lock(recorded.mutex);
            before = recorded.statusClosed;
        }
        peer.sendCommand(CMD_CLOSE_FILE);
        EXPECT_EQ(peer.readCommand(), CMD_OK);
        if (lastOfReceive) {
            EXPECT_TRUE(recorded.waitUntil([&] { return recorded.statusClosed > before; }));
        }
    }

    // The user cancels the receive dialog.
    void cancelReceive() {
        engine().cancel();
        engine().finishReceive();
    }

    // What must hold once a peer is done with the responder, whatever it did:
    // idle (Listening; on the serial line also Connected, the link set-up of a
    // peer that is still there), AbortFlag clear once the receive dialog is
    // over, no descriptor kept, nothing outside the destination, no temporary
    // file, keep.txt holding `keepContent`.
    void expectClean(const Bytes& keepContent = kOldContent) {
        const bool socket = link() == WireLink::Socket;
        auto idle = [&] {
            const LinkState state = engine().state().LinkState;
            return state == LinkState::Listening || (!socket && state == LinkState::Connected);
        };
        EXPECT_TRUE(
            events().waitUntil(idle, socket ? std::chrono::seconds(20) : std::chrono::seconds(5)))
            << "LinkState " << int(engine().state().LinkState.load());
        engine().finishReceive();
        EXPECT_TRUE(idle());
        EXPECT_EQ(engine().state().AbortFlag, 0);
        // The same descriptors, on the same things: none kept, none closed
        // that the scene still owns.
        events().waitUntil([&] { return openDescriptors() == m_descriptors; },
                           std::chrono::seconds(5));
        const Descriptors now = openDescriptors();
        EXPECT_EQ(now.targets, m_descriptors.targets) << "now:\n"
                                                      << now.listing << "at the start:\n"
                                                      << m_descriptors.listing;
        EXPECT_EQ(listNames(m_root.path()), (std::vector<std::string>{"dest", "outside.txt"}));
        EXPECT_EQ(readFile(m_root / "outside.txt"), kOutside);
        for (const std::string& name : listNames(m_dest))
            EXPECT_FALSE(name.starts_with(kTempPrefix)) << name;
        EXPECT_EQ(readFile(m_dest / "keep.txt"), keepContent);
    }

private:
    static std::filesystem::path makeFolders(const TempDir& root) {
        std::filesystem::create_directory(root / "dest");
        writeFile(root / "outside.txt", kOutside);
        return root / "dest";
    }
    static inline const Bytes kOutside = {'o', 'u', 't'};

    TempDir m_root;
    std::filesystem::path m_dest;
    LinkResponder m_responder;
    Descriptors m_descriptors;
};

} // namespace zapfer::test
