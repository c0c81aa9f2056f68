#pragma once

// Answers each message the parser hands over on the receiving side: the
// table and the file's messages go to the table and the block sides, the
// link's own (ping, link set-up, names, abort) are served here, and so is
// the life of the receive as the user sees it (announced, stopped, ended).

#include "incoming_file.h"
#include "incoming_table.h"
#include "message_parser.h"
#include "receive_context.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zapfer {

class MessageResponder : public MessageHandler {
public:
    // `parser` is the one that feeds this responder; it is only used once
    // messages arrive, so it may still be under construction.
    MessageResponder(ReceiveContext& context, MessageParser& parser, IncomingTable& table,
                     IncomingFile& file)
        : m_context(context), m_parser(parser), m_table(table), m_file(file) {}
    MessageResponder(const MessageResponder&) = delete;
    MessageResponder& operator=(const MessageResponder&) = delete;

    // Ends the receive under way: a partial file is deleted, the folder
    // synced, the outcome reported. `aborted`: it did not end by itself.
    void end(bool aborted);
    // The local side stopped a serial receive: the sender's next open, block
    // or close is answered CMD_ABORT until a new link or table starts.
    void stopByUser();
    bool peerAborted() const { return m_peerAborted; }
    bool linkEnded() const { return m_linkEnded; }

private:
    bool reading() const override { return !m_linkEnded && !m_table.peerRefused(); }
    void command(uint8_t code) override;
    void table(uint8_t count, uint32_t crc, std::span<const uint8_t> entries) override;
    void open(uint8_t index) override;
    std::optional<size_t> blockHeader(int32_t index, uint32_t crc) override;
    void blockData(std::span<const uint8_t> data, bool arrived) override;
    void name(std::string name) override;
    void unfinished(Unfinished message) override;
    void inputServed() override { m_file.storeRun(); }

    void serveClose();
    void serveAbort();
    void serveConnect();

    ReceiveContext& m_context;
    MessageParser& m_parser;
    IncomingTable& m_table;
    IncomingFile& m_file;
    bool m_announced = false; // the user was shown the incoming table
    bool m_peerAborted = false;
    bool m_linkEnded = false;
    bool m_stopped = false; // stopByUser, until a new link or table
};

} // namespace zapfer
