#include "about_dialog.h"

#include "center_dialog.h"
#include "glyphs.h"

#include <QGridLayout>
#include <QLabel>
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
    setWindowTitle(QStringLiteral("About zapfer"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* grid = new QGridLayout(this);
    addLabel(this, grid, 1002, QStringLiteral("Zapfer Version 1.0"), 0, Qt::AlignCenter);
    const char* credits[] = {
        "Beams files between two machines",
        "over a LAN, the Internet or a serial line.",
        "Written by the Quorvel Zapfer team.",
        "Free to use and to share.",
    };
    for (int i = 0; i < 4; ++i)
        addLabel(this, grid, 1005 + i, QString::fromLatin1(credits[i]), 1 + i, Qt::AlignLeft);
    addLabel(this, grid, 1003, builtText(), 5, Qt::AlignCenter);

    auto* icon = new QLabel(this);
    icon->setPixmap(zapferIcon().pixmap(32, 32));
    grid->addWidget(icon, 1, 1, 3, 1, Qt::AlignCenter);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    grid->addWidget(ok, 4, 1, 2, 1, Qt::AlignCenter);
    CenterDialog(this);
}

QString AboutDialog::builtText() {
    return QStringLiteral("Built: %1").arg(QLatin1String(__DATE__));
}

void AboutDialog::reject() {
    // Esc and the window's close button do not dismiss it: only OK does.
}

} // namespace zapfer
