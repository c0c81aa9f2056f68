#pragma once

// A responder on either link whose destination sits in a folder of its own,
// next to a file that must never be touched, with an older file in the
// destination. After each fault the scene checks what must always hold.

#include "engine_harness.h"
#include "received_file.h"
#include "serial_harness.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace zapfer::test {

inline int openDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

inline const Bytes kOldContent = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

class FaultScene {
public:
    explicit FaultScene(WireLink link, bool overwrite = true, CommType type = CommType::Com1)
        : m_dest(makeFolders(m_root)), m_responder(link, m_dest, overwrite, type) {
        writeFile(m_dest / "keep.txt", kOldContent);
        m_descriptors = openDescriptors();
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
        EXPECT_TRUE(events().waitUntil([&] { return openDescriptors() <= m_descriptors; },
                                       std::chrono::seconds(5)));
        EXPECT_EQ(openDescriptors(), m_descriptors);
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
    int m_descriptors = 0;
};

} // namespace zapfer::test
