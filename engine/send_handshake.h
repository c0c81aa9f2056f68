#pragma once

// The front end's part in a send, in the order its dialogs follow it: begin
// (the Connecting dialog opens), the end of connecting (it closes, and the
// sender runs or the send is over), and the end of the status dialog. The
// window, zapfer-cli and the tests all drive a send through this one class.
//
// Front-end thread only.

#include "engine.h"

namespace zapfer {

class SendHandshake {
public:
    explicit SendHandshake(Engine& engine) : m_engine(engine) {}

    // Starts a send; its id, or kNoTransfer with the reason when refused.
    TransferId begin(const std::vector<SendFile>& files, SendRefused* why = nullptr);
    // The send under way; kNoTransfer when none.
    TransferId current() const { return m_id; }
    // An event of transfer `id` concerns this send (and not an earlier one).
    bool owns(TransferId id) const { return id != kNoTransfer && id == m_id; }

    // The Connecting dialog has closed: through the engine's connectingEnded
    // (cancelledByUser false) or by the user's Cancel. True when the link is
    // up and the sender now runs: the status dialog follows. False when the
    // send is over; outcome() tells how.
    bool connectingClosed(bool cancelledByUser);
    // The sender has already finished (before its status dialog could show).
    bool over() const;
    // The status dialog has closed: through the engine's transferEnded, or by
    // the user's Cancel. Waits for the sender and returns how the send went.
    const SendOutcome& statusClosed(bool cancelledByUser);
    const SendOutcome& outcome() const { return m_outcome; }

private:
    void finish();

    Engine& m_engine;
    TransferId m_id = kNoTransfer;
    SendOutcome m_outcome;
};

} // namespace zapfer
