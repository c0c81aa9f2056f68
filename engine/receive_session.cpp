#include "receive_session.h"

namespace zapfer {

ReceiveSession::ReceiveSession(const LinkTraits& traits, TransferCounters& counters,
                               SessionObserver& observer, ReplySink& sink)
    : m_context{traits, counters, observer, sink}, m_table(m_context), m_file(m_context),
      m_responder(m_context, m_parser, m_table, m_file), m_parser(traits, m_responder, sink) {}

void ReceiveSession::feed(std::span<const uint8_t> bytes, int64_t nowMs) {
    m_context.nowMs = nowMs;
    m_parser.feed(bytes, nowMs);
}

void ReceiveSession::tick(int64_t nowMs) {
    m_context.nowMs = nowMs;
    m_parser.tick(nowMs);
}

} // namespace zapfer
