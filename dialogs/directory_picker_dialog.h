#pragma once

#include "dialog_result.h"

#include <QDialog>
#include <QStringList>

#include <cstdint>

class QTreeView;

namespace zapfer {

class CaptionButton;
class FileListModel;

// "Select Directory": the folders of one directory (or the volumes of "My
// Computer"), a path button above them that opens the path popup, OK and
// Cancel. A click on a folder or volume enters it.
class DirectoryPickerDialog : public QDialog {
    Q_OBJECT
public:
    // `path` empty: the "My Computer" view of `volumes`. The folders are in
    // the order of `sort`, the FileList's Sort.
    DirectoryPickerDialog(const QString& path, const QStringList& volumes, uint32_t sort,
                          QWidget* owner = nullptr);

    // The directory shown now.
    QString path() const { return m_path; }
    void setPath(const QString& path);
    // The chosen entry k of the path popup (1024 + k).
    void applyPathPopupChoice(int k);

    QTreeView* folderList() const { return m_list; }
    FileListModel* folderModel() const { return m_model; }
    CaptionButton* pathButton() const { return m_pathButton; }

private:
    void enterRow(const QModelIndex& index);
    void runPathPopup();
    void setPopupOpen(bool open);
    void updateCaption();

    QString m_path;
    const QStringList m_volumes;
    const uint32_t m_sort;
    bool m_popupOpen = false;
    CaptionButton* m_pathButton = nullptr;
    QTreeView* m_list = nullptr;
    FileListModel* m_model = nullptr;
};

// SelectDirectoryDialog: modal; `pickerPath` holds the directory shown when
// it closed, whichever button closed it. Returns DialogResult::Ok or
// DialogResult::Cancelled: callers take the path over only on Ok.
DialogResult SelectDirectoryDialog(QWidget* owner, QString& pickerPath, const QStringList& volumes,
                                   uint32_t sort);

} // namespace zapfer
