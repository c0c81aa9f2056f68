#pragma once

// Errors of the history come back as values: a failing history must never
// take a transfer down with it, so nothing here throws.

#include <string>
#include <utility>
#include <variant>

namespace zapfer::history {

struct HistoryError {
    enum class Kind {
        Io,           // the file or its folder cannot be made, opened or written
        Busy,         // another writer held the database past the busy timeout
        Corrupt,      // not a database, or a damaged one
        NewerVersion, // written by a newer Zapfer; left untouched
        Other,
    };
    Kind kind = Kind::Other;
    std::string text; // for the user: what failed and where
};

template <typename T> class HistoryResult {
public:
    HistoryResult(T value) : m_value(std::move(value)) {}
    HistoryResult(HistoryError error) : m_value(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<T>(m_value); }
    const T& value() const { return std::get<T>(m_value); }
    const HistoryError& error() const { return std::get<HistoryError>(m_value); }

private:
    std::variant<T, HistoryError> m_value;
};

// For calls that give nothing back but may fail.
using HistoryStatus = HistoryResult<std::monostate>;

} // namespace zapfer::history
