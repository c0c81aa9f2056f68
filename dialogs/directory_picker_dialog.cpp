#include "directory_picker_dialog.h"

#include "button_captions.h"
#include "center_dialog.h"
#include "directory_listing.h"
#include "file_list_model.h"
#include "path_popup.h"
#include "wait_cursor.h"
#include "window_buttons.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace zapfer {

namespace {
constexpr int kPathButtonId = 1012;
constexpr int kFolderListId = 4;
} // namespace

DirectoryPickerDialog::DirectoryPickerDialog(const QString& path, const QStringList& volumes,
                                             uint32_t sort, QWidget* owner)
    : QDialog(owner), m_path(path), m_volumes(volumes), m_sort(sort) {
    setWindowTitle(tr("Select Directory"));
    auto* layout = new QVBoxLayout(this);
    m_pathButton = new CaptionButton(kPathButtonId, CaptionButton::Align::Left, this);
    m_pathButton->setMinimumHeight(21);
    m_pathButton->setFocusPolicy(Qt::TabFocus);
    connect(m_pathButton, &QAbstractButton::clicked, this, &DirectoryPickerDialog::runPathPopup);
    layout->addWidget(m_pathButton);

    m_model = new FileListModel(this);
    m_list = new QTreeView(this);
    m_list->setObjectName(QString::number(kFolderListId));
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setHeaderHidden(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Only the name shows; size and date are practically hidden.
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setMinimumSectionSize(0);
    m_list->header()->setSectionResizeMode(FileListModel::NameColumn, QHeaderView::Stretch);
    m_list->setColumnWidth(FileListModel::SizeColumn, 1);
    m_list->setColumnWidth(FileListModel::DateColumn, 1);
    connect(m_list, &QTreeView::clicked, this, &DirectoryPickerDialog::enterRow);
    layout->addWidget(m_list);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    resize(300, 340);
    setPath(m_path);
    CenterDialog(this);
}

// A folder that cannot be read shows an empty list; OK still returns it.
void DirectoryPickerDialog::setPath(const QString& path) {
    m_path = path;
    const WaitCursor wait(listingReadsFolder(m_path));
    m_model->setRecords(ListDirectory(m_path, true, m_sort, m_volumes));
    updateCaption();
}

void DirectoryPickerDialog::enterRow(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const FileRecord& record = m_model->record(index.row());
    if (!record.folder)
        return;
    setPath(record.volume ? record.name : joinPath(m_path, record.name));
}

void DirectoryPickerDialog::runPathPopup() {
    const int k =
        PathPopup(this, m_path, m_volumes, m_pathButton, [this](bool open) { setPopupOpen(open); });
    applyPathPopupChoice(k);
}

void DirectoryPickerDialog::applyPathPopupChoice(int k) {
    if (k < 2)
        return;
    setPath(ApplyPathPopupChoice(m_path, k, m_volumes));
}

void DirectoryPickerDialog::setPopupOpen(bool open) {
    m_popupOpen = open;
    updateCaption();
}

void DirectoryPickerDialog::updateCaption() {
    m_pathButton->setCaption(pathButtonCaption(m_path, m_popupOpen, m_volumes));
}

DialogResult SelectDirectoryDialog(QWidget* owner, QString& pickerPath, const QStringList& volumes,
                                   uint32_t sort) {
    DirectoryPickerDialog dialog(pickerPath, volumes, sort, owner);
    const DialogResult result =
        dialog.exec() == QDialog::Accepted ? DialogResult::Ok : DialogResult::Cancelled;
    pickerPath = dialog.path();
    return result;
}

} // namespace zapfer
