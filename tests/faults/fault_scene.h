#pragma once

// A responder whose destination sits in a folder of its own, next to a file
// that must never be touched, with an older file in the destination. After
// each fault the scene checks what must always hold.

#include "engine_harness.h"
#include "fault_peer.h"
#include "received_file.h"

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
    explicit FaultScene(bool overwrite = true)
        : m_dest(makeFolders(m_root)), responder(m_dest, overwrite) {
        writeFile(m_dest / "keep.txt", kOldContent);
        m_descriptors = openDescriptors();
    }

    uint16_t port() { return responder.engine.listenPort(); }
    const std::filesystem::path& dest() const { return m_dest; }

    // What must hold once a peer is done with the responder, whatever it did:
    // back in Listening, no descriptor kept, nothing outside the destination,
    // no temporary file, keep.txt holding `keepContent`.
    void expectClean(const Bytes& keepContent = kOldContent) {
        EXPECT_TRUE(responder.events.waitUntil(
            [&] { return responder.engine.state().LinkState == LinkState::Listening; }));
        responder.engine.finishReceive();
        EXPECT_TRUE(responder.events.waitUntil([&] { return openDescriptors() <= m_descriptors; },
                                               std::chrono::seconds(5)));
        EXPECT_EQ(openDescriptors(), m_descriptors);
        EXPECT_EQ(listNames(m_root.path()), (std::vector<std::string>{"dest", "outside.txt"}));
        EXPECT_EQ(readFile(m_root / "outside.txt"), kOutside);
        for (const std::string& name : listNames(m_dest))
            EXPECT_FALSE(name.starts_with(kTempPrefix)) << name;
        EXPECT_EQ(readFile(m_dest / "keep.txt"), keepContent);
        EXPECT_EQ(responder.engine.state().AbortFlag, 0);
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

public:
    Responder responder;

private:
    int m_descriptors = 0;
};

} // namespace zapfer::test
