#pragma once

// Builds and inspects real files in a temporary folder for the file
// operation tests.

#include "operation_progress.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <sys/types.h>

namespace zapfer::test {

bool writeFile(const QString& path, const QByteArray& data = "data");
QByteArray readFile(const QString& path);
bool exists(const QString& path);      // without following a link
bool isDirectory(const QString& path); // without following a link
mode_t permissions(const QString& path);
int64_t modifiedSeconds(const QString& path);
bool setModified(const QString& path, int64_t seconds);

// Makes `file` in `folder` impossible to delete, for root as well: an
// immutable file when the process may set one, else a folder without write
// permission. `undo` gives both back. False when neither works here.
bool makeUndeletable(const QString& folder, const QString& file, std::function<void()>* undo);

// Progress that records what it was told and can cancel itself once a
// number of units were done.
class TestProgress final : public OperationProgress {
public:
    explicit TestProgress(int64_t cancelAfter = -1) : m_cancelAfter(cancelAfter) {}
    bool cancelled() const override {
        return m_cancelled || (m_cancelAfter >= 0 && m_done >= m_cancelAfter);
    }
    void addTotal(int64_t units) override { m_total += units; }
    void addDone(int64_t units) override { m_done += units; }
    void cancel() { m_cancelled = true; }
    int64_t total() const { return m_total; }
    int64_t done() const { return m_done; }

private:
    int64_t m_cancelAfter;
    bool m_cancelled = false;
    int64_t m_total = 0;
    int64_t m_done = 0;
};

} // namespace zapfer::test
