#pragma once

#include "user_feedback.h"

#include <QString>
#include <QStringList>

// Counts the window's beeps and keeps the texts of its message boxes instead
// of showing them, for as long as it lives.
class FeedbackRecorder {
public:
    FeedbackRecorder() {
        zapfer::setBeepHook([this] { ++beeps; });
        zapfer::setMessageHook(
            [this](QWidget*, QMessageBox::Icon, const QString& title, const QString& text) {
                titles.append(title);
                messages.append(text);
            });
    }
    ~FeedbackRecorder() {
        zapfer::setBeepHook({});
        zapfer::setMessageHook({});
    }
    FeedbackRecorder(const FeedbackRecorder&) = delete;
    FeedbackRecorder& operator=(const FeedbackRecorder&) = delete;

    int beeps = 0;
    QStringList titles;
    QStringList messages;
};
