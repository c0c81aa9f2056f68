#include "main_window.h"

#include "button_captions.h"
#include "context_menus.h"
#include "control_ids.h"
#include "directory_listing.h"
#include "file_list_model.h"
#include "format_size.h"
#include "glyphs.h"
#include "serial_devices.h"
#include "settings_store.h"
#include "string_table.h"
#include "transfer_commands.h"
#include "window_buttons.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QTreeView>

namespace zapfer {

MainWindow::MainWindow(Settings& settings, QStringList volumes, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_volumes(std::move(volumes)) {
    setWindowTitle(loadString(str::ProductName));
    setWindowIcon(zapferIcon());
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    createChildren();
    m_transfers = new TransferCommands(*this);
    connect(m_transfers, &TransferCommands::sendFinished, this, &MainWindow::sendFinished);
    connect(m_transfers, &TransferCommands::receiveFinished, this, [this](int done, int count) {
        ++m_receivesFinished;
        Q_EMIT receiveFinished(done, count);
    });
    listCurDir();
    UpdateStatusLine();
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::StatusRefresh);
    m_timer->start();
    resize(760, 480);
}

MainWindow::~MainWindow() = default;

void MainWindow::createChildren() {
    m_model = new FileListModel(this);
    m_fileList = new QTreeView(this);
    m_fileList->setObjectName(QString::number(id::FileList));
    m_fileList->setModel(m_model);
    m_fileList->setRootIsDecorated(false);
    m_fileList->setUniformRowHeights(true);
    m_fileList->setAllColumnsShowFocus(true);
    m_fileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_fileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_fileList->header()->setStretchLastSection(false);
    m_fileList->header()->setMinimumSectionSize(0);
    m_fileList->header()->setSectionsClickable(false);
    m_fileList->setEditTriggers(QAbstractItemView::EditKeyPressed);
    m_fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    m_model->setRenameHandler([this](const FileRecord& record, const QString& newName) {
        return renameRow(record, newName);
    });
    connect(m_fileList, &QTreeView::clicked, this, &MainWindow::onFileListClicked);
    connect(m_fileList, &QTreeView::doubleClicked, this, [this] { command(id::AddToSendList); });
    connect(m_fileList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        showContextMenu(m_fileList->viewport()->mapToGlobal(pos));
    });
    m_contextMenus = new ContextMenus(this);
    connect(m_contextMenus, &ContextMenus::command, this, &MainWindow::command);
    connect(m_contextMenus->single(), &QMenu::aboutToHide, this, &MainWindow::onContextMenuHidden);
    connect(m_contextMenus->multiple(), &QMenu::aboutToHide, this,
            &MainWindow::onContextMenuHidden);

    m_sendList = new SendList(this);
    connect(m_sendList, &SendList::contentsChanged, this, &MainWindow::UpdateStatusLine);
    connect(m_sendList, &QTreeWidget::itemDoubleClicked, this,
            [this] { command(id::RemoveFromSendList); });
    connect(m_sendList, &QTreeWidget::clicked, this, &MainWindow::onSendListClicked);

    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QString::number(id::StatusLine));
    m_statusLine->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    for (size_t i = 0; i < kCommandButtonIds.size(); ++i) {
        auto* button = new CommandButton(kCommandButtonIds[i], int(i), this);
        connect(button, &QAbstractButton::clicked, this,
                [this, commandId = kCommandButtonIds[i]] { command(commandId); });
        m_commandButtons[i] = button;
    }
    m_pathButton = new CaptionButton(id::PathButton, CaptionButton::Align::Left, this);
    m_sortButton = new CaptionButton(id::SortButton, CaptionButton::Align::Right, this);
    connect(m_pathButton, &QAbstractButton::clicked, this, [this] { command(id::PathButton); });
    connect(m_sortButton, &QAbstractButton::clicked, this, [this] { command(id::SortButton); });
    m_sortButton->setCaption(sortButtonCaption(m_settings.sort, m_sortPopupOpen));
}

int MainWindow::menuBarHeight() const {
    return QFontMetrics(QApplication::font("QMenuBar")).height() + 6;
}

bool MainWindow::wideScreen() const {
    const QScreen* s = screen();
    return s && s->size().height() < s->size().width();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutChildren(width(), height());
}

void MainWindow::layoutChildren(int cx, int cy) {
    const auto place = [](QWidget* child, int x, int y, int w, int h) {
        child->setGeometry(x, y, std::max(w, 0), std::max(h, 0));
    };
    if (cx > 320) {
        const int h = cx / 2;
        place(m_fileList, 0, 21, h - 20, cy - 21);
        place(m_sendList, h + 20, 21, h - 20, cy - 21);
        place(m_pathButton, 0, 0, h - 90, 21);
        place(m_sortButton, h - 90, 0, 70, 21);
        for (int i = 0; i < int(m_commandButtons.size()); ++i)
            place(m_commandButtons[size_t(i)], h - 16, 2 + 36 * i, 32, 32);
        place(m_statusLine, h + 20, 0, h - 20, 21);
    } else {
        const int m = menuBarHeight();
        const int v = cy / 2 - m;
        const int step = (cx - 224) / 8 + 32;
        place(m_fileList, 0, 21, cx, v - 2);
        for (int i = 0; i < int(m_commandButtons.size()); ++i)
            place(m_commandButtons[size_t(i)], i * step, v + 21, 32, 32);
        place(m_statusLine, 0, v + 53, cx, 16);
        place(m_sendList, 0, v + 69, cx, (cy - cy / 2) + m - 69);
        place(m_pathButton, 0, 0, cx - 70, 21);
        place(m_sortButton, cx - 70, 0, 70, 21);
    }
    const int w = cx - 40;
    const auto widths = [](QTreeView* list, std::initializer_list<int> columns) {
        int column = 0;
        for (int width : columns)
            list->setColumnWidth(column++, std::max(width, 0));
    };
    widths(m_fileList, {w / 4 + 26, w / 8 - 22, w / 8 - 9});
    widths(m_sendList, {w / 3, w / 6 - 4});
}

void MainWindow::listCurDir() {
    m_model->setRecords(ListDirectory(m_settings.curDir, false, m_settings.sort, m_volumes));
    m_pathButton->setCaption(
        pathButtonCaption(m_settings.curDir, m_settings.pathPopupOpen, m_volumes));
}

void MainWindow::setSort(uint32_t sort) {
    m_settings.sort = sort;
    m_model->sortBy(sort);
    m_sortButton->setCaption(sortButtonCaption(sort, m_sortPopupOpen));
}

void MainWindow::setPathPopupOpen(bool open) {
    m_settings.pathPopupOpen = open;
    m_pathButton->setCaption(pathButtonCaption(m_settings.curDir, open, m_volumes));
}

void MainWindow::setSortPopupOpen(bool open) {
    m_sortPopupOpen = open;
    m_sortButton->setCaption(sortButtonCaption(m_settings.sort, open));
}

void MainWindow::UpdateStatusLine() {
    m_statusLine->setText(loadString(str::StatusLineFormat)
                              .arg(m_sendList->fileCount())
                              .arg(FormatSize(m_sendList->totalBytes())));
}

void MainWindow::attachEngine(Engine* engine) {
    m_engine = engine;
}

void MainWindow::detachEngine() {
    m_engine = nullptr;
}

void MainWindow::openLink() {
    if (m_engine)
        m_engine->selectCommType(static_cast<CommType>(m_settings.commType), true);
    updateLinkDisplay();
}

void MainWindow::updateLinkDisplay() {
    const auto type = static_cast<CommType>(m_settings.commType);
    setWindowTitle(QStringLiteral("%1 - %2").arg(loadString(str::ProductName),
                                                 loadString(str::CommTypeBase + int(type))));
    // IRDA keeps Send pressable: it explains that infrared is not available.
    m_commandButtons[2]->setEnabled(m_engine && (m_engine->canSend() || type == CommType::Irda));
}

// Once a second: the transfer progress, then the port monitor that opens a
// serial port as soon as it is free.
void MainWindow::StatusRefresh() {
    if (!m_engine)
        return;
    m_transfers->refresh();
    const auto type = static_cast<CommType>(m_settings.commType);
    if (isSerial(type) && !m_engine->canSend()) {
        EngineSettings engineSettings = m_engine->settings();
        engineSettings.serialDevices = FindPorts(m_settings.serialPorts);
        m_engine->setSettings(engineSettings);
        m_engine->retrySerialPort();
        updateLinkDisplay();
    }
}

} // namespace zapfer
