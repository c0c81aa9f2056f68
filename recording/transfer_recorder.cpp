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

std::optional<HistoryProblem> TransferRecorder::record(const RecordedTransfer& transfer) {
    if (!m_enabled)
        return std::nullopt;
    std::optional<HistoryProblem> notice;
    if (!m_store) {
        // Opened on the first transfer, and again after a failure: a folder
        // made writable or a lock released later lets recording resume.
        const std::string path = m_path.empty() ? history::defaultHistoryPath() : m_path;
        if (path.empty())
            return tellOnce({true, "no folder for the transfer history (neither XDG_DATA_HOME "
                                   "nor HOME is set)"});
        auto opened = history::HistoryStore::open(path, m_options);
        if (!opened)
            return tellOnce({true, opened.error().text});
        m_store.emplace(std::move(opened.value()));
        if (!m_store->notice().empty())
            notice = HistoryProblem{false, m_store->notice()};
    }
    const auto written = m_store->recordTransfer(transfer.transfer, transfer.files);
    if (!written) {
        const history::HistoryError error = written.error();
        // A file damaged under an open connection is moved aside at the next
        // open; anything else may pass, so the connection is simply renewed.
        m_store.reset();
        return tellOnce({true, error.text});
    }
    if (notice)
        return tellOnce(*notice);
    return std::nullopt;
}

} // namespace zapfer::recording
