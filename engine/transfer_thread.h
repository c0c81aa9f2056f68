#pragma once

// TransferThread: the responder role while nobody sends, the link set-up and
// the sender while the user sends. It alone reads and writes the links and
// the received files; the front end's requests reach it through the task
// queue, run between two commands.

#include "active_link.h"
#include "engine_core.h"
#include "serial_driver.h"
#include "socket_driver.h"

#include <thread>

namespace zapfer {

class TransferThread {
public:
    explicit TransferThread(EngineCore& core)
        : m_core(core), m_active(core), m_socket(core, m_active), m_serial(core, m_active) {}

    void start();
    // Returns once the thread has ended (LinkState Stopped was set first).
    void join();

    // The rest is called on TransferThread (through the task queue), or
    // while it is not running.

    // Makes `type` current: closes the previous type's link, opens the new.
    void applyCommType(CommType type, bool reportFailure);
    // Opens the serial port of the current type if it is closed.
    void reopenSerialPort();
    void closeLinks();
    bool receiveActive() const { return m_active.receiveActive(); }
    // The user ended the receive under way.
    void stopReceive();
    // The engine stops: a receive under way ends; a connection is dropped.
    void leaveLinks();

private:
    void main();
    void runSender();

    EngineCore& m_core;
    ActiveLink m_active;
    SocketDriver m_socket;
    SerialDriver m_serial;
    std::thread m_thread;
};

} // namespace zapfer
