#include "engine_core.h"

namespace zapfer {

EngineCore::EngineCore(EngineEvents& events_, LinkConfig config_)
    : events(events_), config(std::move(config_)), tasks(waker), endpoint(config) {}

EngineSettings EngineCore::settings() const {
    std::lock_guard lock(m_settingsMutex);
    return m_settings;
}

void EngineCore::setSettings(const EngineSettings& settings) {
    std::lock_guard lock(m_settingsMutex);
    m_settings = settings;
}

void EngineCore::moveLinkState(LinkState to) {
    LinkState current = state.LinkState;
    while (current != LinkState::Stopped && !state.LinkState.compare_exchange_weak(current, to)) {
    }
}

void EngineCore::setAbort() {
    state.AbortFlag = 1;
    waker.wake();
}

} // namespace zapfer
