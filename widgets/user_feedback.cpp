#include "user_feedback.h"

#include <QApplication>

namespace zapfer {

namespace {
BeepHook& beepHook() {
    static BeepHook hook;
    return hook;
}
MessageHook& messageHook() {
    static MessageHook hook;
    return hook;
}
QuestionHook& questionHook() {
    static QuestionHook hook;
    return hook;
}
} // namespace

void beep() {
    if (beepHook())
        beepHook()();
    else
        QApplication::beep();
}

void showMessage(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                 const QString& text) {
    if (messageHook()) {
        messageHook()(owner, icon, title, text);
        return;
    }
    auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void showMessageAndWait(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                        const QString& text) {
    if (messageHook()) {
        messageHook()(owner, icon, title, text);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.exec();
}

bool askYesNo(QWidget* owner, const QString& title, const QString& text) {
    if (questionHook())
        return questionHook()(owner, title, text);
    return QMessageBox::question(owner, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void setQuestionHook(QuestionHook hook) {
    questionHook() = std::move(hook);
}

void setBeepHook(BeepHook hook) {
    beepHook() = std::move(hook);
}

void setMessageHook(MessageHook hook) {
    messageHook() = std::move(hook);
}

} // namespace zapfer
