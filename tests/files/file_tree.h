#pragma once

// Builds and inspects real files in a temporary folder for the file
// operation tests.

#include "operation_progress.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sys/types.h>

namespace zapfer::test {

bool writeFile(const QString& path, const QByteArray& data = "data");
QByteArray readFile(const QString& path);
bool exists(const QString& path);      // without following a link
bool isDirectory(const QString& path); // without following a link
mode_t permissions(const QString& path);
// Both paths exist and lie on two different file systems.
bool onDifferentFileSystems(const QString& a, const QString& b);
int64_t modifiedSeconds(const QString& path);
bool setModified(const QString& path, int64_t seconds);

// Each test in a fresh temporary folder, m_root.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_root = m_dir.path();
    }
    QString path(const QString& relative) const { return m_root + QLatin1Char('/') + relative; }

    QTemporaryDir m_dir;
    QString m_root;
};

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
