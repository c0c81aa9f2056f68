#pragma once

#include "file_list_model.h"
#include "main_window.h"
#include "settings_store.h"
#include "window_parts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// A MainWindow without an engine, listing a temporary folder.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_settings.curDir = m_dir.path();
        m_settings.destDir = m_dir.path();
    }

    zapfer::MainWindow& window() {
        if (!m_window) {
            m_window = std::make_unique<zapfer::MainWindow>(m_settings, m_volumes);
            m_window->show();
        }
        return *m_window;
    }

    // Resizes the client area and waits (bounded) until the window has it.
    bool resizeTo(int width, int height) {
        window().resize(width, height);
        return QTest::qWaitFor(
            [this, width, height] {
                return window().width() == width && window().height() == height;
            },
            5000);
    }

    // A file in the listed folder.
    void makeFile(const QString& name, const QByteArray& content = "data") {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
        file.write(content);
    }

    // The FileList row that shows `name`; -1 when none does.
    int rowOf(const QString& name) {
        const zapfer::FileListModel* model = zapfer::test::browserOf(window()).model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->record(row).name == name)
                return row;
        }
        return -1;
    }

    QTemporaryDir m_dir;
    zapfer::Settings m_settings;
    QStringList m_volumes = {QStringLiteral("/"), QStringLiteral("/media/usb")};
    std::unique_ptr<zapfer::MainWindow> m_window;
};
