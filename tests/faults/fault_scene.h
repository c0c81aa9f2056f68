#pragma once

// A responder on either link whose destination sits in a folder of its own,
// next to a file that must never be touched, with an older file in the
// destination. After each fault the scene checks what must always hold.
//
// On the serial link the responder's device name is a link the test can
// move, so the line can vanish (the master closed, as when an adapter is
// pulled) and come back as a new pty.

#include "engine_harness.h"
#include "received_file.h"
#include "serial_harness.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
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
        : m_link(link), m_dest(makeFolders(m_root)) {
        if (link == WireLink::Socket) {
            m_socket = std::make_unique<Responder>(m_dest, overwrite);
        } else {
            m_device = plugIn(m_devices, m_pty);
            m_serial = std::make_unique<SerialEngine>(type, m_device.string(), m_dest, "Responder",
                                                      overwrite);
        }
        writeFile(m_dest / "keep.txt", kOldContent);
        m_descriptors = openDescriptors();
    }

    WireLink link() const { return m_link; }
    const std::filesystem::path& dest() const { return m_dest; }
    Engine& engine() { return m_socket ? m_socket->engine : m_serial->engine; }
    RecordingEvents& events() { return m_socket ? m_socket->events : m_serial->events; }
    int32_t blockSize() { return engine().state().BlockSize; }
    uint16_t port() { return engine().listenPort(); }

    // A new connection to the responder, or the far end of its line.
    WirePeer peer() {
        return m_link == WireLink::Socket ? WirePeer::tcp(port())
                                          : WirePeer::pty(m_pty->master.get());
    }

    // The far end closes the line; the responder is left with a hung-up
    // device, which it closes.
    void unplug() {
        m_pty.reset();
        EXPECT_TRUE(events().waitUntil([&] { return !engine().canSend(); }));
    }
    // A new line under the same device name, opened by the once-a-second retry.
    void plugBackIn() {
        std::filesystem::remove(m_device);
        plugIn(m_devices, m_pty);
        EXPECT_TRUE(engine().retrySerialPort()) << engine().lastLinkError();
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
        auto idle = [&] {
            const LinkState state = engine().state().LinkState;
            return state == LinkState::Listening ||
                   (m_link == WireLink::Serial && state == LinkState::Connected);
        };
        EXPECT_TRUE(events().waitUntil(idle, m_link == WireLink::Socket ? std::chrono::seconds(20)
                                                                        : std::chrono::seconds(5)))
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
    static std::filesystem::path plugIn(const TempDir& devices, std::unique_ptr<Pty>& pty) {
        pty = std::make_unique<Pty>(makePty());
        const auto device = devices / "line";
        std::filesystem::create_symlink(pty->path, device);
        return device;
    }
    static inline const Bytes kOutside = {'o', 'u', 't'};

    WireLink m_link;
    TempDir m_root;
    TempDir m_devices;
    std::filesystem::path m_dest;
    std::unique_ptr<Pty> m_pty;
    std::filesystem::path m_device;
    std::unique_ptr<Responder> m_socket;
    std::unique_ptr<SerialEngine> m_serial;
    int m_descriptors = 0;
};

} // namespace zapfer::test
