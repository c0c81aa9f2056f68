#pragma once

#include <string>

// Whether a file can be sent, decided in one place for the window, zapfer-cli
// and the engine: a file must arrive under its own name and whole.

#include <cstdint>
#include <string_view>

namespace zapfer {

enum class SendRefusal {
    None,
    TooLarge,      // 2 GiB or more: the table's size field is signed 32-bit
    NameTooLong,   // over 125 bytes: the table's name field holds no more
    NameUnsafe,    // a control character (the receiver refuses it) or a
                   // backslash (the receiver would take it as a folder)
    DuplicateName, // another file of the send has this name, ignoring case
};

// What keeps a file named `name` (without its folders) of `size` bytes from
// being sent; None when nothing does.
SendRefusal checkSendable(std::string_view name, int64_t size);

// Why the engine did not start a send: a code, and the file concerned.
struct SendRefused {
    enum class Reason {
        NoFiles,
        TooManyFiles, // over 100
        LinkClosed,   // the link of the selected type is not open
        Busy,         // a transfer is in progress
        File,         // `file` keeps `path` from being sent
    };
    Reason reason = Reason::NoFiles;
    SendRefusal file = SendRefusal::None;
    std::string path;
};

// Two names the send list takes for the same: compared ignoring case, so
// that a receiver whose file system ignores case keeps both files.
bool sameSendName(std::string_view a, std::string_view b);

} // namespace zapfer
