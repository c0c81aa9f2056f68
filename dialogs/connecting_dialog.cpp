#include "connecting_dialog.h"

#include "center_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zapfer {

ConnectingDialog::ConnectingDialog(bool infrared, QWidget* owner) : QDialog(owner) {
    setWindowTitle(tr("Connecting..."));
    // No close box: Cancel is the one way out the user has.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    auto* looking = new QLabel(tr("Looking for receiving device..."), this);
    looking->setAlignment(Qt::AlignCenter);
    layout->addWidget(looking);
    auto* hint = new QLabel(infrared ? tr("(Align infrared ports)") : QString(), this);
    hint->setObjectName(QStringLiteral("1002"));
    hint->setAlignment(Qt::AlignCenter);
    layout->addWidget(hint);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setDefault(true);
    connect(cancel, &QPushButton::clicked, this, &ConnectingDialog::reject);
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    CenterDialog(this);
}

} // namespace zapfer
