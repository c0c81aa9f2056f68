#include "copy_to_dialog.h"

#include "center_dialog.h"
#include "file_operation_progress.h"
#include "move_copy.h"
#include "string_table.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace zapfer {

namespace {

QPushButton* makeButton(const QString& text, int id, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::number(id));
    return button;
}

} // namespace

CopyToDialog::CopyToDialog(Mode mode, QString curDir, QStringList names, const QString& destDir,
                           QWidget* owner)
    : QDialog(owner), m_mode(mode), m_curDir(std::move(curDir)), m_names(std::move(names)),
      m_edit(new QLineEdit(destDir, this)) {
    setWindowTitle(loadString(mode == Mode::Move ? str::MoveFilesTitle : str::CopyFilesTitle));
    auto* label = new QLabel(tr("Destination Directory"), this);
    label->setObjectName(QStringLiteral("65535"));
    m_edit->setObjectName(QStringLiteral("1001"));
    label->setBuddy(m_edit);
    QPushButton* browseButton = makeButton(tr("Browse"), 1012, this);
    QPushButton* ok = makeButton(tr("OK"), 1, this);
    QPushButton* cancel = makeButton(tr("Cancel"), 2, this);
    ok->setDefault(true);
    browseButton->setAutoDefault(false);
    connect(browseButton, &QPushButton::clicked, this, &CopyToDialog::browse);
    connect(ok, &QPushButton::clicked, this, &CopyToDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CopyToDialog::reject);

    // One column of rows fits a narrow screen as well as a wide one.
    auto* layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0, 1, 3);
    layout->addWidget(m_edit, 1, 0, 1, 2);
    layout->addWidget(browseButton, 1, 2);
    layout->addWidget(ok, 2, 1);
    layout->addWidget(cancel, 2, 2);
    layout->setColumnStretch(0, 1);
    m_edit->setMinimumWidth(fontMetrics().averageCharWidth() * 30);
    CenterDialog(this);
}

QString CopyToDialog::destination() const {
    return m_edit->text();
}

void CopyToDialog::accept() {
    const QString destination = m_edit->text();
    if (isSameDirectory(destination, m_curDir)) {
        showMessage(sameDirectoryRefusal(), true);
        return;
    }
    const bool move = m_mode == Mode::Move;
    FileOperationProgress runner(this, windowTitle());
    runner.setShowDelay(m_progressDelayMs);
    runner.run([&](OperationProgress& progress) {
        m_result = move ? MoveSelected(m_curDir, m_names, destination, progress)
                        : CopySelected(m_curDir, m_names, destination, progress);
    });
    if (m_result.anyFailed())
        showMessage(move ? moveFailureMessage() : copyFailureMessage(), false);
    QDialog::accept();
}

void CopyToDialog::browse() {
    if (!m_pick) {
        QApplication::beep();
        return;
    }
    QString scratch = m_edit->text();
    if (m_pick(scratch))
        m_edit->setText(scratch);
}

void CopyToDialog::showMessage(const UserMessage& message, bool error) {
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::NoIcon, message.caption,
                    message.text, QMessageBox::Ok, this);
    box.exec();
}

} // namespace zapfer
