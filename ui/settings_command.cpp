#include "settings_command.h"

#include "engine.h"
#include "serial_devices.h"
#include "settings_dialog.h"
#include "settings_store.h"

#include <QFile>
#include <QSettings>

namespace zapfer {

SettingsCommand::SettingsCommand(QWidget* owner, Settings& settings, QStringList volumes)
    : QObject(owner), m_owner(owner), m_settings(settings), m_volumes(std::move(volumes)) {}

void SettingsCommand::show() {
    if (m_owner->findChild<SettingsDialog*>())
        return;
    auto* dialog = new SettingsDialog(m_settings, m_volumes, m_owner);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] { apply(dialog->chosen()); });
    dialog->open();
}

void SettingsCommand::trustAddress(const QString& address) {
    Settings chosen = m_settings;
    QStringList entries = chosen.acceptFrom.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    // With no list nobody is refused, and a listed address is in already;
    // with only paired peers it is the code that lets a peer in.
    if (entries.isEmpty() || entries.contains(address) || chosen.acceptsPairedPeersOnly())
        return;
    entries.append(address);
    chosen.acceptFrom = entries.join(QLatin1Char(' '));
    apply(chosen);
}

void SettingsCommand::apply(const Settings& chosen) {
    const uint32_t oldType = m_settings.commType;
    const SerialDevices oldDevices = FindPorts(m_settings.serialPorts);
    const QString oldCode = m_settings.pairingCode;
    const bool oldPairedOnly = m_settings.acceptsPairedPeersOnly();
    m_settings.destDir = chosen.destDir;
    m_settings.promptDelete = chosen.promptDelete;
    m_settings.showResults = chosen.showResults;
    m_settings.nameConflict = chosen.nameConflict;
    m_settings.acceptFrom = chosen.acceptFrom;
    m_settings.peerIp = chosen.peerIp;
    m_settings.serialPorts = chosen.serialPorts;
    m_settings.commType = chosen.commType;
    m_settings.pairingCode = chosen.pairingCode;
    const auto type = static_cast<CommType>(m_settings.commType);
    if (m_engine) {
        EngineSettings engineSettings = m_engine->settings();
        engineSettings.destDir = QFile::encodeName(m_settings.destDir).toStdString();
        engineSettings.nameConflict = m_settings.nameConflict;
        engineSettings.acceptFrom = m_settings.acceptList();
        engineSettings.peerIp = m_settings.peerIp;
        engineSettings.serialDevices = FindPorts(m_settings.serialPorts);
        engineSettings.pairingCode = m_settings.pairingCode.toStdString();
        {
            // A new code's key may be kept already (zapfer-cli made it).
            const QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
            engineSettings.pairingKey = KeptPairingKey(m_settings, store);
        }
        m_engine->setSettings(engineSettings);
        // A new device for the serial type in use counts as a change of link.
        const bool deviceChanged =
            isSerial(type) && serialDeviceFor(type, engineSettings.serialDevices) !=
                                  serialDeviceFor(type, oldDevices);
        // The code and "Only paired peers" decide which ports are listened on.
        const bool pairingChanged = m_settings.pairingCode != oldCode ||
                                    m_settings.acceptsPairedPeersOnly() != oldPairedOnly;
        if (m_settings.commType != oldType || deviceChanged || (!isSerial(type) && pairingChanged))
            m_engine->selectCommType(type, true);
    }
    Q_EMIT applied();
    QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
    SaveSettings(m_settings, store);
}

} // namespace zapfer
