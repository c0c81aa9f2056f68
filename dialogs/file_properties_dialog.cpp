#include "file_properties_dialog.h"

#include "center_dialog.h"
#include "directory_listing.h"
#include "string_table.h"

#include <QCheckBox>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <cerrno>
#include <cstring>

namespace zapfer {

namespace {

constexpr int kIconSize = 32;

template <typename Widget> Widget* named(Widget* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

} // namespace

FilePropertiesDialog::FilePropertiesDialog(QString curDir, const QString& name, QWidget* owner)
    : QDialog(owner), m_curDir(std::move(curDir)), m_properties(readFileProperties(m_curDir, name)),
      m_readOnly(named(new QCheckBox(tr("Readonly"), this), 1010)) {
    setWindowTitle(tr("File Properties"));
    const QString path = m_curDir.isEmpty() ? name : joinPath(m_curDir, name);

    auto* icon = named(new QLabel(this), 1016);
    icon->setFixedSize(kIconSize, kIconSize);
    icon->setPixmap(QFileIconProvider().icon(QFileInfo(path)).pixmap(kIconSize, kIconSize));
    auto* nameEdit = named(new QLineEdit(name, this), 1001);
    nameEdit->setReadOnly(true);
    nameEdit->setAccessibleName(tr("Name"));

    const bool found = m_properties.found;
    const QString unavailable = unavailableText();
    auto* size = named(new QLabel(found ? sizeText(m_properties) : unavailable, this), 1008);
    auto* created = named(new QLabel(found ? createdText(m_properties) : unavailable, this), 1003);
    auto* modified =
        named(new QLabel(found ? timeText(m_properties.modified) : unavailable, this), 1004);
    auto* accessed =
        named(new QLabel(found ? timeText(m_properties.accessed) : unavailable, this), 1005);

    m_readOnly->setChecked(found && m_properties.readOnly());
    m_readOnly->setEnabled(found);
    // Shown as they apply on Linux, never changed here.
    auto* hidden = named(new QCheckBox(tr("Hidden"), this), 1011);
    hidden->setChecked(found && m_properties.hidden());
    hidden->setEnabled(false);
    auto* archive = named(new QCheckBox(tr("Archive"), this), 1012);
    archive->setEnabled(false);
    auto* system = named(new QCheckBox(tr("System"), this), 1013);
    system->setEnabled(false);

    auto* ok = named(new QPushButton(tr("OK"), this), 1);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &FilePropertiesDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0);
    layout->addWidget(nameEdit, 0, 1, 1, 3);
    const std::pair<QString, QLabel*> rows[] = {{tr("Size:"), size},
                                                {tr("Created:"), created},
                                                {tr("Modified:"), modified},
                                                {tr("Accessed:"), accessed}};
    int row = 1;
    for (const auto& [text, value] : rows) {
        layout->addWidget(new QLabel(text, this), row, 1);
        layout->addWidget(value, row, 2, 1, 2);
        ++row;
    }
    layout->addWidget(m_readOnly, row, 0, 1, 2);
    layout->addWidget(archive, row, 2);
    layout->addWidget(hidden, row + 1, 0, 1, 2);
    layout->addWidget(system, row + 1, 2);
    layout->addWidget(ok, row + 1, 3);
    CenterDialog(this);
}

void FilePropertiesDialog::accept() {
    errno = 0;
    if (!applyReadOnly(m_curDir, m_properties, m_readOnly->isChecked())) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QMessageBox box(QMessageBox::Critical, loadString(str::Error),
                        loadString(str::ReadOnlyNotChanged).arg(m_properties.name, reason),
                        QMessageBox::Ok, this);
        box.exec();
    }
    QDialog::accept();
}

} // namespace zapfer
