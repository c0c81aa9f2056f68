#pragma once

#include <QObject>
#include <QStringList>

class QWidget;

namespace zapfer {

struct Settings;
class Engine;

// The Settings command (40008): the dialog, and applying what its OK
// returns to the settings, the engine and the link at once. GUI thread only.
class SettingsCommand : public QObject {
    Q_OBJECT
public:
    // `settings` outlives the command; the dialog is window-modal on `owner`.
    SettingsCommand(QWidget* owner, Settings& settings, QStringList volumes);

    void setEngine(Engine* engine) { m_engine = engine; }
    // Opens the dialog unless it is up already.
    void show();
    // Adds `address` to the accept list in force, then applies and saves.
    void trustAddress(const QString& address);

Q_SIGNALS:
    // Settings were applied: the link type or its device may have changed.
    void applied();

private:
    // Saves `chosen` and, when the type or its device changed, switches the link.
    void apply(const Settings& chosen);

    QWidget* m_owner;
    Settings& m_settings;
    const QStringList m_volumes;
    Engine* m_engine = nullptr;
};

} // namespace zapfer
