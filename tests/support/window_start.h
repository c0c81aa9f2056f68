#pragma once

// A whole Zapfer window started the way the program starts it, from stored
// settings that each test seeds afresh, with a temporary folder for its
// files. The window suites derive their fixtures from it.

#include "control_ids.h"
#include "main_window.h"
#include "settings_dialog.h"
#include "window_parts.h"
#include "zapfer_app.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <utility>

namespace zapfer::test {

class AppWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_root.isValid()); }

    // The stored settings emptied, then `values` stored; the settings file's path.
    static QString seedSettings(std::initializer_list<std::pair<const char*, QVariant>> values) {
        QSettings s(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
        s.clear();
        for (const auto& [key, value] : values)
            s.setValue(key, value);
        s.sync();
        return s.fileName();
    }
    static void store(QAnyStringView key, const QVariant& value) {
        QSettings s(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
        s.setValue(key, value);
        s.sync();
    }
    static QVariant stored(QAnyStringView key) {
        QSettings s(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
        return s.value(key);
    }

    QString dir(const char* name) const { return m_root.filePath(QString::fromLatin1(name)); }
    // Folders `names` made in the temporary folder.
    void makeFolders(std::initializer_list<const char*> names) {
        for (const char* name : names)
            ASSERT_TRUE(QDir(m_root.path()).mkdir(QString::fromLatin1(name))) << name;
    }
    static QString writeFile(const QString& path, const QByteArray& content) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(content);
        return path;
    }
    // A file to send, in the folder "out".
    QString makeFile(const QString& name, const QByteArray& content) const {
        return writeFile(dir("out") + QLatin1Char('/') + name, content);
    }

    // The window on a free listening port, with no echo responder; null when
    // it did not start.
    MainWindow* startWindow(LinkConfig link = {}) {
        link.listenPort = 0;
        link.echoPort = 0;
        m_app = std::make_unique<ZapferApp>(link);
        return m_app->start({}) ? m_app->window() : nullptr;
    }

    // The Settings dialog, opened by its command and shown; null otherwise.
    static SettingsDialog* openSettings(MainWindow* window) {
        command(*window, id::Settings);
        auto* dialog = window->findChild<SettingsDialog*>();
        if (dialog && !QTest::qWaitForWindowExposed(dialog, 5000))
            return nullptr;
        return dialog;
    }
    template <typename T> static T* control(SettingsDialog* dialog, const char* name) {
        return dialog->findChild<T*>(QString::fromLatin1(name));
    }
    static void pressOk(SettingsDialog* dialog) {
        QTest::mouseClick(control<QPushButton>(dialog, "1"), Qt::LeftButton);
    }
    static bool pressOkAndWaitClosed(MainWindow* window, SettingsDialog* dialog) {
        pressOk(dialog);
        return QTest::qWaitFor([window] { return !window->findChild<SettingsDialog*>(); }, 5000);
    }

    QTemporaryDir m_root;
    std::unique_ptr<ZapferApp> m_app; // after m_root: ends before the folders go
};

} // namespace zapfer::test
