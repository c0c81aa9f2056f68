#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <array>
#include <memory>

class QLabel;
class QPoint;
class QTimer;

namespace zapfer {

struct Settings;
class BrowserPane;
class CommandButton;
class Engine;
class EngineEventBridge;
class EngineEvents;
class FileCommands;
class HistoryDialog;
class SendListController;
class SettingsCommand;
class DesktopNotifier;
class TransferController;

// Zapfer's one window: the FileList with PathButton and SortButton, the
// SendList, the seven command buttons and the status line, in a landscape
// layout above 320 pixels of width and a portrait one at 320 or less. It lays
// them out, refreshes once a second and wires the parts: every command is a
// QAction named by its command number, and the controllers do the work (GUI
// thread only).
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // `settings` outlives the window; CurDir and Sort change in it as the
    // user browses. `volumes` is the "My Computer" view.
    MainWindow(Settings& settings, QStringList volumes, QWidget* parent = nullptr);
    ~MainWindow() override;

    // What the engine reports to; it queues every call onto the GUI thread.
    EngineEvents& engineEvents();
    // The engine the window drives; detach it before the engine is destroyed.
    void attachEngine(Engine* engine);
    void detachEngine();
    Engine* engine() const;
    // Opens the link of the CommType; title, Send button. A failure is
    // reported before this returns, so start-up calls it before showing the
    // window.
    void openLink();
    int menuBarHeight() const;              // portrait splits the height around it
    int addPaths(const QStringList& paths); // command line, hand-over
    void UpdateStatusLine();

Q_SIGNALS:
    // A receive has ended (the engine listens again); a send has been reported.
    void receiveFinished(int filesDone, int fileCount);
    void sendFinished(int filesDone, int fileCount);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // A table from `address` was refused while the window is in sight.
    void showRefusal(const QString& address, int count, qint64 bytes);
    // A paired handshake from `address` failed while the window is in sight.
    void showPairingFailure(const QString& address);
    void createActions();
    // The History dialog, one at a time; asked again, it reads afresh.
    void showHistory();
    void showSendListMenu(const QPoint& pos);
    void trigger(int commandId);
    void layoutChildren(int cx, int cy);
    void StatusRefresh();
    void updateLinkDisplay();

    Settings& m_settings;
    BrowserPane* m_browser;
    SendListController* m_sendList;
    TransferController* m_transfers;
    EngineEventBridge* m_events;
    SettingsCommand* m_settingsCommand;
    DesktopNotifier* m_notifier;
    // The refusal told in the window while it is in sight; one at a time.
    QPointer<QMessageBox> m_refusal;
    QPointer<HistoryDialog> m_history;
    QPointer<QMessageBox> m_pairingFailure; // likewise, one at a time
    std::unique_ptr<FileCommands> m_fileCommands;
    QLabel* m_statusLine = nullptr;
    std::array<CommandButton*, 7> m_commandButtons{};
    QTimer* m_timer = nullptr;
};

} // namespace zapfer
