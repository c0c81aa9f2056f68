#pragma once

#include "engine.h"
#include "settings_store.h"

#include <QStringList>

#include <memory>

namespace zapfer {

class MainWindow;
class SingleInstance;

// Start-up and shutdown of the program around its event loop.
class ZapferApp {
public:
    // `link` is the engine's socket configuration; the program passes the
    // defaults (TCP 1756, UDP 1755), tests move them.
    explicit ZapferApp(LinkConfig link = {});
    ~ZapferApp();
    ZapferApp(const ZapferApp&) = delete;
    ZapferApp& operator=(const ZapferApp&) = delete;

    // Everything up to the event loop. Returns false when another instance
    // is running and took `files` (made absolute here); nothing then starts
    // and the settings are left as they are.
    bool start(const QStringList& files);
    // After the event loop: the engine's threads stop and are joined, then
    // the settings are saved.
    void shutdown();

    MainWindow* window() const { return m_window.get(); }
    Engine* engine() const { return m_engine.get(); }
    Settings& settings() { return m_settings; }
    bool wideScreen() const { return m_wideScreen; }

private:
    const LinkConfig m_link;
    Settings m_settings;
    // Read with the settings, handed to the engine once it exists.
    std::optional<KnownPairingKey> m_pairingKey;
    bool m_wideScreen = false;
    bool m_started = false;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Engine> m_engine;
};

} // namespace zapfer
