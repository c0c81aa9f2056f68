#pragma once

// What the receive session on the active link tells the engine, turned into
// the engine's link state, its events to the front end and the last
// receive's outcome.

#include "engine_core.h"
#include "session_observer.h"

#include <string>

namespace zapfer {

class ActiveLink;

class ReceiveReporter : public SessionObserver {
public:
    ReceiveReporter(EngineCore& core, const ActiveLink& link) : m_core(core), m_link(link) {}
    ReceiveReporter(const ReceiveReporter&) = delete;
    ReceiveReporter& operator=(const ReceiveReporter&) = delete;

    ReceivePolicy policy() override;
    void incoming() override;
    void fileStarted(const std::string& storedName) override;
    void fileEnded(const FileOutcome& file) override;
    void closeStatus() override;
    void sound(Sound sound) override;
    void abortTransfer() override;
    void transferComplete() override;
    void linkRequested() override;
    void receiveEnded(const ReceiveOutcome& outcome) override;
    void peerNamed(const std::string& name) override;
    void tableRefused(const RefusedTable& table) override;

private:
    EngineCore& m_core;
    const ActiveLink& m_link;
};

} // namespace zapfer
