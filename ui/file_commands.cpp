#include "file_commands.h"

#include "browser_pane.h"
#include "copy_to_dialog.h"
#include "delete_files.h"
#include "directory_picker_dialog.h"
#include "file_list_model.h"
#include "file_operation_progress.h"
#include "file_properties_dialog.h"
#include "new_folder.h"
#include "settings_store.h"
#include "string_table.h"
#include "user_feedback.h"

#include <QTreeView>

#include <algorithm>
#include <cstring>

namespace zapfer {

QStringList FileCommands::selectedNames() const {
    QStringList names;
    for (const QModelIndex& row : m_browser.selectedRows())
        names << m_browser.model()->record(row.row()).name;
    return names;
}

void FileCommands::deleteSelected() {
    const QString curDir = m_browser.settings().curDir;
    const QStringList names = selectedNames();
    const auto ask = [this](const UserMessage& question) {
        return askYesNo(m_browser.owner(), question.caption, question.text);
    };
    if (!confirmDeletion(curDir, names, m_browser.settings().promptDelete, ask))
        return;
    // With nothing selected the confirmed question still lists the folder
    // again, which shows what changed on the disk meanwhile.
    if (names.isEmpty()) {
        m_browser.listCurDir();
        return;
    }
    OperationResult result;
    FileOperationProgress(m_browser.owner(), loadString(str::DeleteFilesTitle))
        .run(
            [&](OperationProgress& progress) { result = DeleteSelected(curDir, names, progress); });
    if (result.anyFailed()) {
        const UserMessage failure = deleteFailureMessage();
        showMessage(m_browser.owner(), QMessageBox::NoIcon, failure.caption, failure.text);
    }
    m_browser.listCurDir();
}

void FileCommands::newFolder() {
    const QString curDir = m_browser.settings().curDir;
    if (curDir.isEmpty()) { // the drive view has no folder to create it in
        beep();
        return;
    }
    const NewFolder created = CreateNewFolder(curDir);
    if (created.name.isEmpty()) {
        showMessage(m_browser.owner(), QMessageBox::Critical, loadString(str::Error),
                    QString::fromLocal8Bit(std::strerror(created.error)));
        return;
    }
    m_browser.listCurDir();
    // The new folder goes to the top, its name ready to be typed over.
    FileListModel* model = m_browser.model();
    std::vector<FileRecord> records;
    for (int row = 0; row < model->rowCount(); ++row)
        records.push_back(model->record(row));
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const FileRecord& r) { return r.name == created.name; });
    if (found == records.end())
        return;
    std::rotate(records.begin(), found, found + 1);
    model->setRecords(std::move(records));
    const QModelIndex top = model->index(0, 0);
    m_browser.fileList()->setCurrentIndex(top);
    m_browser.fileList()->edit(top);
}

void FileCommands::moveOrCopy(bool move) {
    // Without a selection the dialog still opens; its OK then only lists the
    // folder again. The volume view has no folder to move out of.
    const QStringList names = selectedNames();
    if (m_browser.settings().curDir.isEmpty()) {
        beep();
        return;
    }
    CopyToDialog dialog(move ? CopyToDialog::Mode::Move : CopyToDialog::Mode::Copy,
                        m_browser.settings().curDir, names, m_browser.settings().destDir,
                        m_browser.owner());
    // The picker has no owner: it is centred on the screen, not over the
    // dialog.
    dialog.setBrowseHandler([this](QString& path) {
        return SelectDirectoryDialog(nullptr, path, m_browser.volumes(),
                                     m_browser.settings().sort) == DialogResult::Ok;
    });
    if (dialog.exec() == QDialog::Accepted)
        m_browser.listCurDir();
}

void FileCommands::moveSelected() {
    moveOrCopy(true);
}

void FileCommands::copySelected() {
    moveOrCopy(false);
}

void FileCommands::showProperties() {
    const QStringList names = selectedNames();
    if (names.isEmpty() || m_browser.settings().curDir.isEmpty()) {
        beep();
        return;
    }
    FilePropertiesDialog(m_browser.settings().curDir, names.first(), m_browser.owner()).exec();
}

} // namespace zapfer
