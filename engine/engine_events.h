#pragma once

#include <string>

namespace zapfer {

enum class Sound {
    LinkUp,      // "infbeg"
    Completed,   // "infend"
    Interrupted, // "infintr"
};

// Everything the engine tells its front end. Called from TransferThread (or,
// before the engine starts, from the thread calling selectCommType or
// retrySerialPort): an implementation must return quickly and must not call back
// into the engine's blocking methods. The window turns each call into a queued
// call on the GUI thread; zapfer-cli and tests act on them directly.
class EngineEvents {
public:
    virtual ~EngineEvents() = default;

    // A peer's file table was accepted: show the receive dialog.
    virtual void incomingTransfer() = 0;
    // The link to the peer is up: close the Connecting dialog if it is open.
    virtual void closeConnectingDialog() = 0;
    // A transfer ended (either side): close the status dialog if it is open.
    virtual void closeStatusDialog() = 0;
    // A file of the transfer starts; `namePart` is its name without folders.
    virtual void fileStarted(const std::string& namePart) = 0;
    virtual void playSound(Sound sound) = 0;
    // A link could not be opened; the front end shows `text` under `caption`.
    virtual void linkMessage(const std::string& text, const std::string& caption) = 0;
};

// An EngineEvents that does nothing; a base for front ends that need a few.
class NullEngineEvents : public EngineEvents {
public:
    void incomingTransfer() override {}
    void closeConnectingDialog() override {}
    void closeStatusDialog() override {}
    void fileStarted(const std::string&) override {}
    void playSound(Sound) override {}
    void linkMessage(const std::string&, const std::string&) override {}
};

} // namespace zapfer
