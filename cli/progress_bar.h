#pragma once

// The one-line progress display of a transfer on a terminal: bytes, rate and
// time left. Without a terminal nothing is drawn; callers print plain lines.

#include "engine.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zapfer::cli {

// "0 B", "999 B", "1.5 KiB", "12.0 MiB", "1.0 GiB".
std::string formatBytes(int64_t bytes);
// "0:07", "12:34", "1:02:03".
std::string formatDuration(int64_t seconds);
// The bar's text for `done` of `total` bytes after `seconds`, at most `width`
// characters wide.
std::string formatProgressLine(int64_t done, int64_t total, double seconds, size_t width);

class ProgressBar {
public:
    // Draws on `out` only when `out` is a terminal.
    explicit ProgressBar(FILE* out);

    bool drawing() const { return m_terminal; }
    // Starts the clock of the rate.
    void restart();
    void update(const TransferProgress& progress);
    // Removes the bar so that a normal line can be printed.
    void clear();
    // Prints `line` on `stream` above the bar.
    void printLine(FILE* stream, const std::string& line);

private:
    FILE* m_out;
    bool m_terminal;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace zapfer::cli
