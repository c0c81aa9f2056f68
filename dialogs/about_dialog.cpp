#include "about_dialog.h"

#include "center_dialog.h"
#include "glyphs.h"

#include <QDate>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

namespace zapfer {

namespace {

QLabel* addLabel(QDialog* dialog, QGridLayout* grid, int id, const QString& text, int row,
                 Qt::Alignment align) {
    auto* label = new QLabel(text, dialog);
    label->setObjectName(QString::number(id));
    label->setAlignment(align);
    label->setTextFormat(Qt::PlainText);
    grid->addWidget(label, row, 0);
    return label;
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About zapfer"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* grid = new QGridLayout(this);
    addLabel(this, grid, 1002, tr("Zapfer Version 1.0"), 0, Qt::AlignCenter);
    const char* credits[] = {
        QT_TR_NOOP("Beams files between two machines"),
        QT_TR_NOOP("over a LAN, the Internet or a serial line."),
        QT_TR_NOOP("Written by the Quorvel Zapfer team."),
        QT_TR_NOOP("Free to use and to share."),
    };
    for (int i = 0; i < 4; ++i)
        addLabel(this, grid, 1005 + i, tr(credits[i]), 1 + i, Qt::AlignLeft);
    addLabel(this, grid, 1003, builtText(), 5, Qt::AlignCenter);

    auto* icon = new QLabel(this);
    icon->setPixmap(zapferIcon().pixmap(QSize(32, 32), devicePixelRatioF()));
    grid->addWidget(icon, 1, 1, 3, 1, Qt::AlignCenter);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    grid->addWidget(ok, 4, 1, 2, 1, Qt::AlignCenter);
    CenterDialog(this);
}

QString AboutDialog::builtText() {
    // Written as the compiler's date has always read ("Dec  7 2026"), in
    // every language.
    const QDate date = QDate::fromString(QStringLiteral(ZAPFER_BUILD_DATE), Qt::ISODate);
    const QString day = QStringLiteral("%1 %2 %3")
                            .arg(QLocale::c().monthName(date.month(), QLocale::ShortFormat))
                            .arg(date.day(), 2)
                            .arg(date.year());
    return tr("Built: %1").arg(day);
}

void AboutDialog::reject() {
    // Esc and the window's close button do not dismiss it: only OK does.
}

} // namespace zapfer
