#pragma once

// Two engines in one process, a sender and a responder, joined over 127.0.0.1
// on ephemeral ports, with events recorded for the test to wait on.

#include "engine.h"
#include "send_handshake.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace zapfer::test {

// Records every event; tests wait on them with bounded waits.
class RecordingEvents : public EngineEvents {
public:
    void receiveStarted(TransferId id) override {
        note([&] {
            ++incoming;
            lastReceive = id;
        });
    }
    void connectingEnded(TransferId id) override {
        note([&] {
            ++connectingClosed;
            lastConnecting = id;
        });
    }
    void transferEnded(TransferId id) override {
        note([&] {
            ++statusClosed;
            endedIds.push_back(id);
        });
    }
    void fileStarting(TransferId id, const std::string& name) override {
        note([&] {
            files.push_back(name);
            fileIds.push_back(id);
        });
    }
    void playSound(Sound sound) override {
        note([&] { sounds.push_back(sound); });
    }
    void linkFailed(const LinkError& error) override {
        note([&] { linkErrors.push_back(error); });
    }
    void tableRefused(const RefusedReceive& refusal) override {
        note([&] { refusals.push_back(refusal); });
    }

    // Waits until `predicate` holds, at most `limit`. It is checked under the
    // lock at every event and every few milliseconds, so it may also watch
    // engine state that changes without an event.
    template <typename Predicate>
    bool waitUntil(Predicate predicate,
                   std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(mutex);
        while (!predicate()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        return true;
    }

    std::mutex mutex;
    std::condition_variable changed;
    int incoming = 0;
    int connectingClosed = 0;
    int statusClosed = 0;
    std::vector<std::string> files;
    // The transfer each event named.
    TransferId lastReceive = kNoTransfer;
    TransferId lastConnecting = kNoTransfer;
    std::vector<TransferId> endedIds;
    std::vector<TransferId> fileIds;
    std::vector<Sound> sounds;
    std::vector<LinkError> linkErrors;
    std::vector<RefusedReceive> refusals;

private:
    template <typename F> void note(F change) {
        {
            std::lock_guard lock(mutex);
            change();
        }
        changed.notify_all();
    }
};

// A folder removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// A temporary folder held open, as the receive session holds its destination.
struct Folder {
    TempDir root;
    UniqueFd fd;
    Folder();
    std::filesystem::path operator/(const std::string& name) const { return root / name; }
};

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::filesystem::path& path);
// `count` files of `size` random bytes in `dir`, named f0.dat, f1.dat, ...
std::vector<std::filesystem::path> makeFiles(const TempDir& dir, int count, size_t size);
// Names in a folder, sorted (hidden ones too).
std::vector<std::string> listNames(const std::filesystem::path& folder);

uint32_t loopback(); // 127.0.0.1, first octet in the top byte

// A responder engine listening on an ephemeral port of 127.0.0.1.
struct Responder {
    explicit Responder(const std::filesystem::path& dest, bool overwrite = false);
    ~Responder();
    RecordingEvents events;
    Engine engine;
};

// A sender engine aimed (WAN type) at `port` of 127.0.0.1.
struct Sender {
    explicit Sender(uint16_t port);
    ~Sender();
    // Runs a whole send as the window does; returns its outcome.
    SendOutcome send(const std::vector<std::filesystem::path>& files);
    RecordingEvents events;
    Engine engine;
    SendHandshake handshake{engine};
};

// Runs a whole send through `handshake` as the window does: waits for the
// end of connecting and for the end of the transfer, each of this send.
SendOutcome runSend(SendHandshake& handshake, RecordingEvents& events,
                    const std::vector<SendFile>& files,
                    std::chrono::seconds limit = std::chrono::seconds(60));
std::vector<SendFile> sendFiles(const std::vector<std::filesystem::path>& files);

} // namespace zapfer::test
