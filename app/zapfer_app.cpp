#include "zapfer_app.h"

#include "main_window.h"
#include "mounted_volumes.h"
#include "owner_name.h"
#include "serial_devices.h"
#include "single_instance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

#include <utility>

namespace zapfer {

ZapferApp::ZapferApp(LinkConfig link) : m_link(std::move(link)) {}

ZapferApp::~ZapferApp() {
    shutdown();
}

bool ZapferApp::start(const QStringList& files) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    m_wideScreen = screen && screen->size().height() < screen->size().width();
    const QStringList volumes = mountedVolumes();
    {
        QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
        m_settings = LoadSettings(store);
        m_pairingKey = KeptPairingKey(m_settings, store);
    }
    const SerialDevices devices = FindPorts(m_settings.serialPorts);
    const std::string owner = ownerName();

    QStringList absolute;
    for (const QString& file : files)
        absolute.append(QDir::cleanPath(QFileInfo(file).absoluteFilePath()));
    m_instance = std::make_unique<SingleInstance>();
    if (!m_instance->claim(absolute))
        return false;

    m_window = std::make_unique<MainWindow>(m_settings, volumes);
    QObject::connect(m_instance.get(), &SingleInstance::handedOver, m_window.get(),
                     [window = m_window.get()](const QStringList& paths) {
                         window->addPaths(paths);
                         window->showNormal();
                         window->raise();
                         window->activateWindow();
                     });
    m_engine = std::make_unique<Engine>(m_window->engineEvents(), m_link);
    m_window->attachEngine(m_engine.get());
    EngineSettings engineSettings;
    engineSettings.destDir = QFile::encodeName(m_settings.destDir).toStdString();
    engineSettings.nameConflict = m_settings.nameConflict;
    engineSettings.acceptFrom = m_settings.acceptList();
    engineSettings.peerIp = m_settings.peerIp;
    engineSettings.ownerName = owner;
    engineSettings.serialDevices = devices;
    engineSettings.pairingCode = m_settings.pairingCode.toStdString();
    engineSettings.pairingKey = std::exchange(m_pairingKey, std::nullopt);
    m_engine->setSettings(engineSettings);
    m_window->openLink();
    m_window->show();
    m_window->activateWindow();

    m_window->addPaths(absolute);
    m_engine->start();
    m_window->UpdateStatusLine();
    m_started = true;
    return true;
}

void ZapferApp::shutdown() {
    if (!m_started)
        return;
    m_started = false;
    m_engine->stop();
    m_window->detachEngine();
    m_settings.pathPopupOpen = false;
    QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
    SaveSettings(m_settings, store);
    m_engine.reset();
    m_window.reset();
    m_instance.reset();
}

} // namespace zapfer
