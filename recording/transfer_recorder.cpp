#include "transfer_recorder.h"

#include "history_path.h"

#include <cstdlib>
#include <string_view>

namespace zapfer::recording {

TransferRecorder::TransferRecorder(std::string path, history::HistoryOptions options)
    : m_path(std::move(path)), m_options(options) {
    const char* setting = std::getenv("ZAPFER_HISTORY");
    m_enabled = !(setting && std::string_view(setting) == "off");
}

std::optional<HistoryProblem> TransferRecorder::tellOnce(HistoryProblem problem) {
    if (m_told)
        return std::nullopt;
    m_told = true;
    return problem;
}

std::optional<HistoryProblem> TransferRecorder::openStore() {
    const std::string path = m_path.empty() ? history::defaultHistoryPath() : m_path;
    if (path.empty())
        return HistoryProblem{true, "no folder for the transfer history (neither XDG_DATA_HOME "
                                    "nor HOME is set)"};
    auto opened = history::HistoryStore::open(path, m_options);
    if (!opened)
        return HistoryProblem{true, opened.error().text};
    m_store.emplace(std::move(opened.value()));
    if (!m_store->notice().empty())
        m_notice = HistoryProblem{false, m_store->notice()};
    return std::nullopt;
}

void TransferRecorder::prepare(std::size_t expectedFiles) {
    if (!m_enabled)
        return;
    if (!m_store && openStore())
        return; // record() opens again and tells
    // A failure is not told either: the write parses them again and tells.
    if (expectedFiles > 0)
        m_store->prepareFileWrites(expectedFiles);
}

std::optional<HistoryProblem> TransferRecorder::record(const RecordedTransfer& transfer) {
    if (!m_enabled)
        return std::nullopt;
    // Opened on the first transfer if not ahead of it, and again after a
    // failure: a folder made writable or a lock released later lets
    // recording resume.
    if (!m_store) {
        if (auto failed = openStore())
            return tellOnce(*failed);
    }
    const auto written = m_store->recordTransfer(transfer.transfer, transfer.files);
    if (!written) {
        const history::HistoryError error = written.error();
        // A file damaged under an open connection is moved aside at the next
        // open; anything else may pass, so the connection is simply renewed.
        m_store.reset();
        return tellOnce({true, error.text});
    }
    if (m_notice) {
        const HistoryProblem notice = *m_notice;
        m_notice.reset();
        return tellOnce(notice);
    }
    return std::nullopt;
}

} // namespace zapfer::recording
