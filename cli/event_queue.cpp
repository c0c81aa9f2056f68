#include "event_queue.h"

#include "accept_list.h"
#include "link_error_text.h"
#include "progress_bar.h"
#include "protocol.h"

namespace zapfer::cli {

void EventQueue::post(CliEvent event) {
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    m_posted.notify_one();
}

std::optional<CliEvent> EventQueue::wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_posted.wait_for(lock, timeout, [this] { return !m_events.empty(); }))
        return std::nullopt;
    CliEvent event = std::move(m_events.front());
    m_events.pop_front();
    return event;
}

void EventQueue::receiveStarted(TransferId id) {
    post({CliEvent::Kind::IncomingTransfer, {}, id});
}

void EventQueue::connectingEnded(TransferId id) {
    post({CliEvent::Kind::ConnectingClosed, {}, id});
}

void EventQueue::transferEnded(TransferId id) {
    post({CliEvent::Kind::StatusClosed, {}, id});
}

void EventQueue::fileStarting(TransferId id, const std::string& namePart) {
    post({CliEvent::Kind::FileStarted, namePart, id});
}

void EventQueue::fileEnded(TransferId id, const FileOutcome& file) {
    // Only a file that went through has a checksum worth printing.
    if (file.result == FileResult::Sent)
        post({CliEvent::Kind::FileEnded, FileNamePart(file.nameAsSent), id, file.crc32});
    else if (file.result == FileResult::Stored)
        post({CliEvent::Kind::FileEnded, file.nameAsStored, id, file.crc32});
}

void EventQueue::linkFailed(const LinkError& error) {
    post({CliEvent::Kind::LinkMessage,
          std::string(commTypeName(error.type)) + ": " + describeLinkError(error)});
}

void EventQueue::receiveRefused(uint32_t peerAddress, int32_t fileCount, int64_t totalBytes) {
    post({CliEvent::Kind::Refused,
          "refused " + std::to_string(fileCount) + " file" + (fileCount == 1 ? "" : "s") + " (" +
              formatBytes(totalBytes) + ") from " + Ipv4Network{peerAddress, 32}.text() +
              ": not in the accept list"});
}

void EventQueue::tableRefused(const RefusedReceive& refusal) {
    post({CliEvent::Kind::TableRefused, {}, kNoTransfer, std::nullopt, refusal});
}

void EventQueue::pairingFailed(uint32_t peerAddress) {
    post({CliEvent::Kind::Refused, "paired handshake from " + Ipv4Network{peerAddress, 32}.text() +
                                       " failed: another pairing code, or not a paired peer"});
}

} // namespace zapfer::cli
