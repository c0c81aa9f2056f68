#include "history_dialog.h"

#include "center_dialog.h"
#include "format_size.h"
#include "history_texts.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

namespace zapfer {

namespace {

QTreeWidget* makeList(QWidget* parent, const QStringList& headers,
                      std::initializer_list<int> widths) {
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHeaderLabels(headers);
    int column = 0;
    for (int width : widths)
        list->setColumnWidth(column++, width);
    return list;
}

void alignRight(QTreeWidgetItem* item, std::initializer_list<int> columns) {
    for (int column : columns)
        item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
}

// The files "Send Again" can find again: the sender records local paths.
QStringList localPaths(const std::vector<history::FileRecord>& files) {
    QStringList paths;
    for (const history::FileRecord& file : files) {
        const QString path = QFile::decodeName(QByteArray::fromStdString(file.nameSent));
        if (QDir::isAbsolutePath(path))
            paths.append(path);
    }
    return paths;
}

} // namespace

QString folderOfStoredName(const QString& nameStored, const QString& destDir) {
    if (nameStored.isEmpty())
        return {};
    const QString path =
        QDir::isAbsolutePath(nameStored) ? nameStored : QDir(destDir).filePath(nameStored);
    return QDir::cleanPath(QFileInfo(path).path());
}

HistoryDialog::HistoryDialog(const QString& historyPath, const QString& destDir,
                             AddToSendList addToSendList, QWidget* parent)
    : QDialog(parent), m_destDir(destDir), m_addToSendList(std::move(addToSendList)),
      m_reader(std::make_unique<HistoryReader>(historyPath, kReadBusyTimeoutMs)) {
    setObjectName(QStringLiteral("HistoryDialog"));
    setWindowTitle(tr("History"));
    auto* layout = new QVBoxLayout(this);

    m_transfers = makeList(this,
                           {tr("Time"), tr("Direction"), tr("Link"), tr("Peer"), tr("Outcome"),
                            tr("Files"), tr("Bytes"), tr("Duration")},
                           {140, 80, 50, 190, 130, 50, 70, 60});
    // The peer takes the room to spare: the numbers on its right stay
    // beside the rest of their row.
    m_transfers->header()->setStretchLastSection(false);
    m_transfers->header()->setSectionResizeMode(PeerColumn, QHeaderView::Stretch);
    m_transfers->setObjectName(QStringLiteral("Transfers"));
    m_transfers->setAccessibleName(tr("Transfers"));
    auto* transfersLabel = new QLabel(tr("&Transfers, newest first"), this);
    transfersLabel->setBuddy(m_transfers);
    layout->addWidget(transfersLabel);
    layout->addWidget(m_transfers, 3);

    m_files = makeList(
        this, {tr("Name"), tr("Result"), tr("Size"), tr("Done"), tr("CRC-32"), tr("Stored as")},
        {250, 130, 60, 60, 80, 150});
    m_files->setObjectName(QStringLiteral("Files"));
    m_files->setAccessibleName(tr("Files of the selected transfer"));
    auto* filesLabel = new QLabel(tr("&Files of the selected transfer"), this);
    filesLabel->setBuddy(m_files);
    layout->addWidget(filesLabel);
    layout->addWidget(m_files, 2);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("Message"));
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->hide();
    layout->addWidget(m_message);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_openFolder = buttons->addButton(tr("&Open Folder"), QDialogButtonBox::ActionRole);
    m_openFolder->setObjectName(QStringLiteral("OpenFolder"));
    m_sendAgain = buttons->addButton(tr("&Send Again"), QDialogButtonBox::ActionRole);
    m_sendAgain->setObjectName(QStringLiteral("SendAgain"));
    m_openFolder->setEnabled(false);
    m_sendAgain->setEnabled(false);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_openFolder, &QPushButton::clicked, this, &HistoryDialog::openFolder);
    connect(m_sendAgain, &QPushButton::clicked, this, [this] {
        if (const history::StoredTransfer* t = selectedTransfer())
            requestFiles(t->id, true);
    });
    layout->addWidget(buttons);

    connect(m_transfers, &QTreeWidget::itemSelectionChanged, this,
            &HistoryDialog::selectionChanged);

    m_reader->moveToThread(&m_thread);
    connect(m_reader.get(), &HistoryReader::transfersRead, this, &HistoryDialog::showTransfers);
    connect(m_reader.get(), &HistoryReader::filesRead, this, [this](const HistoryFiles& files) {
        --m_pendingReads;
        if (files.failedOnly)
            sendAgain(files);
        else
            showFiles(files);
    });
    m_thread.setObjectName(QStringLiteral("HistoryReader"));
    m_thread.start();

    resize(900, 560);
    CenterDialog(this);
    reload();
}

// A read still waiting on a busy database ends within its busy timeout.
HistoryDialog::~HistoryDialog() {
    m_thread.quit();
    m_thread.wait();
}

void HistoryDialog::reload() {
    ++m_pendingReads;
    if (m_transfers->topLevelItemCount() == 0)
        say(tr("Reading the history..."));
    HistoryReader* reader = m_reader.get();
    QMetaObject::invokeMethod(
        reader, [reader] { reader->readTransfers(kRecentTransfers); }, Qt::QueuedConnection);
}

void HistoryDialog::requestFiles(qint64 transferId, bool failedOnly) {
    ++m_pendingReads;
    HistoryReader* reader = m_reader.get();
    QMetaObject::invokeMethod(
        reader, [reader, transferId, failedOnly] { reader->readFiles(transferId, failedOnly); },
        Qt::QueuedConnection);
}

void HistoryDialog::say(const QString& text) {
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}

const history::StoredTransfer* HistoryDialog::selectedTransfer() const {
    const QList<QTreeWidgetItem*> selected = m_transfers->selectedItems();
    if (selected.isEmpty())
        return nullptr;
    const int index = m_transfers->indexOfTopLevelItem(selected.first());
    return index >= 0 && size_t(index) < m_shown.size() ? &m_shown[size_t(index)] : nullptr;
}

void HistoryDialog::showTransfers(const HistoryPage& page) {
    --m_pendingReads;
    const history::StoredTransfer* before = selectedTransfer();
    const qint64 keep = before ? before->id : -1;
    {
        // One selection change for the whole refill, not one per row.
        const QSignalBlocker quiet(m_transfers);
        m_transfers->clear();
        m_shown = page.transfers;
        for (const history::StoredTransfer& stored : m_shown) {
            const history::TransferRecord& t = stored.record;
            auto* item = new QTreeWidgetItem(m_transfers);
            item->setText(TimeColumn, timeText(t.startedMs));
            item->setText(DirectionColumn, directionText(t.direction));
            // "lan", "usb", "com1": shown as the window names them.
            item->setText(LinkColumn, visibleText(t.link).toUpper());
            item->setText(PeerColumn, peerText(t));
            item->setText(OutcomeColumn, outcomeText(t.outcome, t.refusalCode));
            item->setToolTip(OutcomeColumn, visibleText(t.detail));
            item->setText(FilesColumn, tr("%1 of %2")
                                           .arg(stored.fileCount - stored.failedFileCount)
                                           .arg(stored.fileCount));
            item->setText(BytesColumn, FormatSize(static_cast<int64_t>(t.bytes)));
            item->setText(DurationColumn, durationText(t.durationMs));
            alignRight(item, {FilesColumn, BytesColumn, DurationColumn});
            if (stored.id == keep)
                item->setSelected(true);
        }
    }
    if (!page.problem.isEmpty())
        say(tr("The history cannot be read: %1").arg(page.problem));
    else if (!page.notice.isEmpty())
        say(page.notice);
    else if (m_shown.empty())
        say(tr("No transfers have been recorded yet."));
    else
        say({});
    if (m_transfers->selectedItems().isEmpty() && m_transfers->topLevelItemCount() > 0)
        m_transfers->topLevelItem(0)->setSelected(true); // emits the change itself
    else
        selectionChanged();
}

void HistoryDialog::selectionChanged() {
    const history::StoredTransfer* t = selectedTransfer();
    m_sendAgain->setEnabled(t && t->record.direction == history::Direction::Sent &&
                            t->failedFileCount > 0);
    m_openFolder->setEnabled(false);
    if (t && t->id == m_filesOf && !m_shownFiles.empty()) {
        m_openFolder->setEnabled(t->record.direction == history::Direction::Received);
        return;
    }
    m_files->clear();
    m_shownFiles.clear();
    m_filesOf = t ? t->id : -1;
    if (t)
        requestFiles(t->id, false);
}

void HistoryDialog::showFiles(const HistoryFiles& answer) {
    // An answer for a transfer no longer selected is old news.
    if (answer.transferId != m_filesOf)
        return;
    if (!answer.problem.isEmpty()) {
        say(tr("The history cannot be read: %1").arg(answer.problem));
        return;
    }
    m_files->clear();
    m_shownFiles = answer.files;
    for (const history::FileRecord& file : m_shownFiles) {
        auto* item = new QTreeWidgetItem(m_files);
        item->setText(NameColumn, visibleText(file.nameSent));
        item->setToolTip(NameColumn, item->text(NameColumn));
        item->setText(ResultColumn, fileResultText(file.result));
        item->setText(SizeColumn, FormatSize(static_cast<int64_t>(file.size)));
        item->setText(DoneColumn, FormatSize(static_cast<int64_t>(file.bytesDone)));
        item->setText(CrcColumn, crcText(file.crc32));
        item->setText(StoredAsColumn, visibleText(file.nameStored));
        item->setToolTip(StoredAsColumn, item->text(StoredAsColumn));
        alignRight(item, {SizeColumn, DoneColumn});
    }
    const history::StoredTransfer* t = selectedTransfer();
    m_openFolder->setEnabled(t && t->record.direction == history::Direction::Received &&
                             !m_shownFiles.empty());
}

void HistoryDialog::openFolder() {
    // The selected file, else the first one that was stored.
    QString name;
    const int row =
        m_files->currentItem() ? m_files->indexOfTopLevelItem(m_files->currentItem()) : -1;
    if (row >= 0 && size_t(row) < m_shownFiles.size())
        name = QFile::decodeName(QByteArray::fromStdString(m_shownFiles[size_t(row)].nameStored));
    for (size_t i = 0; name.isEmpty() && i < m_shownFiles.size(); ++i)
        name = QFile::decodeName(QByteArray::fromStdString(m_shownFiles[i].nameStored));
    const QString folder = name.isEmpty() ? m_destDir : folderOfStoredName(name, m_destDir);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        say(tr("The folder %1 does not exist any more.").arg(folder));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void HistoryDialog::sendAgain(const HistoryFiles& failed) {
    if (!failed.problem.isEmpty()) {
        say(tr("The history cannot be read: %1").arg(failed.problem));
        return;
    }
    const QStringList paths = localPaths(failed.files);
    const int asked = int(failed.files.size());
    const int added = m_addToSendList ? m_addToSendList(paths) : 0;
    if (added == asked && added == 1)
        say(tr("1 file put back into the Send List."));
    else if (added == asked)
        say(tr("%1 files put back into the Send List.").arg(added));
    else
        say(tr("%1 of %2 files put back into the Send List; the others are in it already, do not "
               "exist any more or do not fit.")
                .arg(added)
                .arg(asked));
}

} // namespace zapfer
