#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace zapfer {

// Every beep and message box of the window and its dialogs goes through
// here, so that tests can count beeps and read messages without a box ever
// blocking them. GUI thread only.

// The "nothing to do" beep.
void beep();

// A message box owned by `owner`. It does not block: the engine's events
// keep arriving while it is up.
void showMessage(QWidget* owner, QMessageBox::Icon icon, const QString& title, const QString& text);

// The same message box, but it is dismissed before this returns (it runs a
// modal loop): for a message that must come before what follows it.
void showMessageAndWait(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                        const QString& text);

// A Yes/No question owned by `owner`, answered before it returns (it runs a
// modal loop); true on Yes.
bool askYesNo(QWidget* owner, const QString& title, const QString& text);

using BeepHook = std::function<void()>;
using MessageHook = std::function<void(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                                       const QString& text)>;
using QuestionHook = std::function<bool(QWidget* owner, const QString& title, const QString& text)>;
// Replace the real beep, box or question; an empty function restores it.
void setBeepHook(BeepHook hook);
void setMessageHook(MessageHook hook);
void setQuestionHook(QuestionHook hook);

} // namespace zapfer
