#include "main_window.h"

#include "browser_menus.h"
#include "browser_pane.h"
#include "control_ids.h"
#include "desktop_notifier.h"
#include "engine.h"
#include "engine_event_bridge.h"
#include "file_commands.h"
#include "file_list_model.h"
#include "format_size.h"
#include "glyphs.h"
#include "send_list_controller.h"
#include "serial_devices.h"
#include "settings_command.h"
#include "settings_store.h"
#include "string_table.h"
#include "transfer_controller.h"
#include "window_buttons.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

namespace zapfer {

MainWindow::MainWindow(Settings& settings, QStringList volumes, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_browser(new BrowserPane(this, settings, volumes)),
      m_sendList(new SendListController(this)),
      m_transfers(new TransferController(this, settings, *m_sendList)),
      m_events(new EngineEventBridge(this, *m_transfers)),
      m_settingsCommand(new SettingsCommand(this, settings, volumes)),
      m_notifier(new DesktopNotifier(this)),
      m_fileCommands(std::make_unique<FileCommands>(*m_browser)) {
    setWindowTitle(loadString(str::ProductName));
    setWindowIcon(zapferIcon());
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QString::number(id::StatusLine));
    m_statusLine->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    createActions();
    for (size_t i = 0; i < kCommandButtonIds.size(); ++i) {
        auto* button = new CommandButton(kCommandButtonIds[i], int(i), this);
        connect(button, &QAbstractButton::clicked, this,
                [this, commandId = kCommandButtonIds[i]] { trigger(commandId); });
        m_commandButtons[i] = button;
    }

    connect(m_browser, &BrowserPane::command, this, &MainWindow::trigger);
    connect(m_sendList, &SendListController::contentsChanged, this, &MainWindow::UpdateStatusLine);
    connect(m_sendList->view(), &QTreeView::doubleClicked, this,
            [this] { trigger(id::RemoveFromSendList); });
    m_sendList->view()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_sendList->view(), &QWidget::customContextMenuRequested, this,
            &MainWindow::showSendListMenu);
    connect(m_sendList->view(), &QTreeView::clicked, this,
            [this] { m_browser->menus()->setMenuBusy(false); });
    connect(m_events, &EngineEventBridge::incoming, this, [this] { trigger(id::Receive); });
    connect(m_transfers, &TransferController::sendFinished, this, &MainWindow::sendFinished);
    connect(m_transfers, &TransferController::receiveFinished, this, &MainWindow::receiveFinished);
    connect(m_transfers, &TransferController::receiveCompleted, this,
            [this] { m_events->playSound(Sound::Completed); });
    connect(m_transfers, &TransferController::curDirChanged, m_browser, &BrowserPane::listCurDir);
    connect(m_settingsCommand, &SettingsCommand::applied, this, &MainWindow::updateLinkDisplay);
    // Only a window out of sight needs the desktop to speak for it. One of
    // its own dialogs or notices in front keeps it in sight: the user is
    // looking at Zapfer.
    const auto outOfSight = [this] {
        if (isMinimized())
            return true;
        for (const QWidget* w = QApplication::activeWindow(); w; w = w->parentWidget())
            if (w == this)
                return false;
        return true;
    };
    connect(m_events, &EngineEventBridge::refused, this,
            [this, outOfSight](const QString& address, int count, qint64 bytes) {
                if (outOfSight())
                    m_notifier->transferRefused(count, bytes, address);
                else
                    showRefusal(address, count, bytes);
            });
    connect(m_events, &EngineEventBridge::pairingFailedFrom, this,
            [this, outOfSight](const QString& address) {
                if (outOfSight())
                    m_notifier->pairingFailed(address);
                else
                    showPairingFailure(address);
            });
    connect(m_transfers, &TransferController::filesArrived, this,
            [this, outOfSight](int count, const QString& from) {
                if (outOfSight())
                    m_notifier->filesReceived(count, from, m_settings.destDir);
            });
    connect(m_notifier, &DesktopNotifier::openFolderRequested, this,
            [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); });
    connect(m_notifier, &DesktopNotifier::trustRequested, m_settingsCommand,
            &SettingsCommand::trustAddress);

    m_browser->listCurDir();
    UpdateStatusLine();
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::StatusRefresh);
    m_timer->start();
    resize(760, 480);
}

MainWindow::~MainWindow() = default;

void MainWindow::showRefusal(const QString& address, int count, qint64 bytes) {
    // Without a modal loop, so that receiving goes on; a flood of refusals
    // updates the one box instead of stacking new ones.
    if (!m_refusal) {
        m_refusal = new QMessageBox(QMessageBox::Information, loadString(str::ReceiveResultTitle),
                                    QString(), QMessageBox::Ok, this);
        m_refusal->setAttribute(Qt::WA_DeleteOnClose);
        m_refusal->setObjectName(QStringLiteral("RefusalNotice"));
        QPushButton* trust =
            m_refusal->addButton(DesktopNotifier::trustLabel(), QMessageBox::AcceptRole);
        connect(trust, &QPushButton::clicked, this, [this] {
            if (m_refusal)
                m_settingsCommand->trustAddress(m_refusal->property("address").toString());
        });
    }
    m_refusal->setProperty("address", address);
    m_refusal->setText(DesktopNotifier::refusedText(count, bytes, address));
    m_refusal->show();
}

void MainWindow::showPairingFailure(const QString& address) {
    // As a refusal: no modal loop, and a flood updates the one box.
    if (!m_pairingFailure) {
        m_pairingFailure =
            new QMessageBox(QMessageBox::Warning, loadString(str::ReceiveResultTitle), QString(),
                            QMessageBox::Ok, this);
        m_pairingFailure->setAttribute(Qt::WA_DeleteOnClose);
        m_pairingFailure->setObjectName(QStringLiteral("PairingFailureNotice"));
    }
    m_pairingFailure->setText(DesktopNotifier::pairingFailedText(address));
    m_pairingFailure->show();
}

EngineEvents& MainWindow::engineEvents() {
    return *m_events;
}

int MainWindow::menuBarHeight() const {
    return QFontMetrics(QApplication::font("QMenuBar")).height() + 6;
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutChildren(width(), height());
}

void MainWindow::layoutChildren(int cx, int cy) {
    const auto place = [](QWidget* child, int x, int y, int w, int h) {
        child->setGeometry(x, y, std::max(w, 0), std::max(h, 0));
    };
    QTreeView* fileList = m_browser->fileList();
    QTreeView* sendList = m_sendList->view();
    QWidget* pathButton = m_browser->menus()->pathButton();
    QWidget* sortButton = m_browser->menus()->sortButton();
    if (cx > 320) {
        const int h = cx / 2;
        place(fileList, 0, 21, h - 20, cy - 21);
        place(sendList, h + 20, 21, h - 20, cy - 21);
        place(pathButton, 0, 0, h - 90, 21);
        place(sortButton, h - 90, 0, 70, 21);
        for (int i = 0; i < int(m_commandButtons.size()); ++i)
            place(m_commandButtons[size_t(i)], h - 16, 2 + 36 * i, 32, 32);
        place(m_statusLine, h + 20, 0, h - 20, 21);
    } else {
        const int m = menuBarHeight();
        const int v = cy / 2 - m;
        const int step = (cx - 224) / 8 + 32;
        place(fileList, 0, 21, cx, v - 2);
        for (int i = 0; i < int(m_commandButtons.size()); ++i)
            place(m_commandButtons[size_t(i)], i * step, v + 21, 32, 32);
        place(m_statusLine, 0, v + 53, cx, 16);
        place(sendList, 0, v + 69, cx, (cy - cy / 2) + m - 69);
        place(pathButton, 0, 0, cx - 70, 21);
        place(sortButton, cx - 70, 0, 70, 21);
    }
    const int w = cx - 40;
    const auto widths = [](QTreeView* list, std::initializer_list<int> columns) {
        int column = 0;
        for (int width : columns)
            list->setColumnWidth(column++, std::max(width, 0));
    };
    widths(fileList, {w / 4 + 26, w / 8 - 22, w / 8 - 9});
    widths(sendList, {w / 3, w / 6 - 4});
}

void MainWindow::UpdateStatusLine() {
    m_statusLine->setText(loadString(str::StatusLineFormat)
                              .arg(m_sendList->model()->fileCount())
                              .arg(FormatSize(m_sendList->model()->totalBytes())));
}

void MainWindow::attachEngine(Engine* engine) {
    m_transfers->setEngine(engine);
    m_settingsCommand->setEngine(engine);
}

void MainWindow::detachEngine() {
    attachEngine(nullptr);
}

Engine* MainWindow::engine() const {
    return m_transfers->engine();
}

int MainWindow::addPaths(const QStringList& paths) {
    return m_sendList->addPaths(paths);
}

void MainWindow::openLink() {
    if (Engine* e = engine())
        e->selectCommType(static_cast<CommType>(m_settings.commType), true);
    updateLinkDisplay();
    m_events->showPendingLinkMessagesNow();
}

void MainWindow::updateLinkDisplay() {
    const auto type = static_cast<CommType>(m_settings.commType);
    QString link = loadString(str::CommTypeBase + int(type));
    if (m_settings.pairedSending())
        link = loadString(str::PairedLinkFormat).arg(link);
    setWindowTitle(QStringLiteral("%1 - %2").arg(loadString(str::ProductName), link));
    // IRDA keeps Send pressable: it explains that infrared is not available.
    m_commandButtons[2]->setEnabled(engine() && (engine()->snapshot().canSend || type == CommType::Irda));
}

// Once a second: the transfer progress, then the port monitor that opens a
// serial port as soon as it is free.
void MainWindow::StatusRefresh() {
    Engine* e = engine();
    if (!e)
        return;
    m_transfers->refresh();
    const auto type = static_cast<CommType>(m_settings.commType);
    if (isSerial(type) && !e->snapshot().canSend) {
        EngineSettings engineSettings = e->settings();
        engineSettings.serialDevices = FindPorts(m_settings.serialPorts);
        e->setSettings(engineSettings);
        e->retrySerialPort();
        updateLinkDisplay();
    }
}

} // namespace zapfer
