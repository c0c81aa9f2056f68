#pragma once

// A serial responder on a pty whose device name is a link the test can move,
// so the line can vanish (the master closed, as when an adapter is pulled)
// and come back as a new pty. Its destination sits in a folder of its own,
// next to a file that must never be touched, with an older file in it. After
// each fault the scene checks what must always hold.

#include "fault_scene.h"
#include "serial_harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace zapfer::test {

class SerialFaultScene {
public:
    explicit SerialFaultScene(bool overwrite = true, CommType type = CommType::Com1)
        : m_dest(makeFolders(m_root)), m_device(plugIn(m_devices, m_pty)),
          responder(type, m_device.string(), m_dest, "Responder", overwrite) {
        writeFile(m_dest / "keep.txt", kOldContent);
        m_descriptors = openDescriptors();
    }

    const std::filesystem::path& dest() const { return m_dest; }
    Engine& engine() { return responder.engine; }
    SerialPeer peer() { return SerialPeer(m_pty->master.get()); }
    int32_t blockSize() { return engine().state().BlockSize; }

    // The far end closes the line; the responder is left with a hung-up
    // device, which it closes.
    void unplug() {
        m_pty.reset();
        EXPECT_TRUE(responder.events.waitUntil([&] { return !engine().canSend(); }));
    }
    // A new line under the same device name, opened by the once-a-second retry.
    void plugBackIn() {
        std::filesystem::remove(m_device);
        plugIn(m_devices, m_pty);
        EXPECT_TRUE(engine().retrySerialPort()) << int(engine().linkError().fault);
    }

    // The user cancels the receive dialog.
    void cancelReceive() {
        engine().cancel();
        engine().finishReceive();
    }

    // What must hold once a peer is done with the responder, whatever it did:
    // idle (Listening, or Connected: the link set-up of a peer that is still
    // there), AbortFlag clear once the receive dialog is over, no descriptor
    // kept, nothing outside the destination, no temporary file, keep.txt
    // holding `keepContent`.
    void expectClean(const Bytes& keepContent = kOldContent) {
        auto idle = [&] {
            const LinkState link = engine().state().LinkState;
            return link == LinkState::Listening || link == LinkState::Connected;
        };
        EXPECT_TRUE(responder.events.waitUntil(idle, std::chrono::seconds(5)))
            << "LinkState " << int(engine().state().LinkState.load());
        engine().finishReceive();
        EXPECT_TRUE(idle());
        EXPECT_EQ(engine().state().AbortFlag, 0);
        EXPECT_TRUE(responder.events.waitUntil([&] { return openDescriptors() <= m_descriptors; },
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

    TempDir m_root;
    TempDir m_devices;
    std::filesystem::path m_dest;
    std::unique_ptr<Pty> m_pty;
    std::filesystem::path m_device;

public:
    SerialEngine responder;

private:
    int m_descriptors = 0;
};

} // namespace zapfer::test
