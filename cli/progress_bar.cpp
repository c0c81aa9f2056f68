#include "progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>

namespace zapfer::cli {

std::string formatBytes(int64_t bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = double(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string formatDuration(int64_t seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600,
                      int(seconds / 60 % 60), int(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%d:%02d", int(seconds / 60), int(seconds % 60));
    return text;
}

std::string formatProgressLine(int64_t done, int64_t total, double seconds, size_t width) {
    done = std::clamp<int64_t>(done, 0, std::max<int64_t>(total, 0));
    const int percent = total > 0 ? int(done * 100 / total) : 100;
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    std::string left = "--:--";
    if (rate > 0)
        left = formatDuration(int64_t((double(total - done) / rate) + 0.999));
    char tail[160];
    std::snprintf(tail, sizeof tail, " %3d%%  %s of %s  %s/s  %s left", percent,
                  formatBytes(done).c_str(), formatBytes(total).c_str(),
                  formatBytes(int64_t(rate)).c_str(), left.c_str());
    std::string line = tail;
    // The bar takes what room is left, between 10 and 40 cells.
    if (width > line.size() + 12) {
        const size_t cells = std::min<size_t>(40, width - line.size() - 2);
        const size_t filled =
            total > 0 ? size_t(double(cells) * double(done) / double(total)) : cells;
        line = "[" + std::string(filled, '#') + std::string(cells - filled, '.') + "]" + line;
    }
    if (line.size() > width)
        line.resize(width);
    return line;
}

ProgressBar::ProgressBar(FILE* out)
    : m_out(out), m_terminal(isatty(fileno(out)) == 1), m_start(std::chrono::steady_clock::now()) {}

void ProgressBar::restart() {
    m_start = std::chrono::steady_clock::now();
}

void ProgressBar::update(const TransferProgress& progress) {
    if (!m_terminal)
        return;
    size_t width = 80;
    winsize size{};
    if (ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        width = size.ws_col;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    // One column short of the edge, so the cursor never wraps to a new line.
    const std::string line =
        formatProgressLine(progress.bytesDone, progress.totalBytes, seconds, width - 1);
    std::fprintf(m_out, "\r%s\033[K", line.c_str());
    std::fflush(m_out);
    m_shown = true;
}

void ProgressBar::clear() {
    if (!m_shown)
        return;
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
    m_shown = false;
}

void ProgressBar::printLine(FILE* stream, const std::string& line) {
    clear();
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
}

} // namespace zapfer::cli
