#pragma once

class QString;

namespace zapfer {

// The wait cursor over the whole application for as long as it lives, when
// `show` is set. GUI thread only.
class WaitCursor {
public:
    explicit WaitCursor(bool show);
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool m_shown;
};

// Whether a listing of `path` has anything to read, and so earns the wait
// cursor: the volume view ("") and a folder that can be opened do; a path
// that is missing or cannot be read lists at once, empty, without it.
bool listingReadsFolder(const QString& path);

} // namespace zapfer
