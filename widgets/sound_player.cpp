#include "sound_player.h"

#ifdef ZAPFER_HAVE_CANBERRA
#include <canberra.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zapfer {

namespace {

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool pathExists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// ALSA names its playback devices pcmC<card>D<device>p.
bool hasPlaybackDevice(const std::string& deviceDir) {
    std::error_code error;
    std::filesystem::directory_iterator it(deviceDir, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with("pcmC") && name.ends_with('p'))
            return true;
    }
    return false;
}

} // namespace

SoundOutputPlaces SoundOutputPlaces::ofThisSession() {
    SoundOutputPlaces places;
    places.runtimeDir = environmentText("XDG_RUNTIME_DIR");
    places.pulseServer = environmentText("PULSE_SERVER");
    return places;
}

bool soundOutputExists(const SoundOutputPlaces& places) {
    if (!places.pulseServer.empty())
        return true;
    if (!places.runtimeDir.empty()) {
        const std::filesystem::path runtime(places.runtimeDir);
        if (pathExists(runtime / "pulse" / "native") || pathExists(runtime / "pipewire-0"))
            return true;
    }
    return hasPlaybackDevice(places.deviceDir);
}

struct SoundPlayer::Context {
#ifdef ZAPFER_HAVE_CANBERRA
    ca_context* handle = nullptr;
    explicit Context(bool outputExists) {
        if (outputExists && ca_context_create(&handle) != CA_SUCCESS)
            handle = nullptr;
    }
    ~Context() {
        if (handle)
            ca_context_destroy(handle);
    }
#else
    explicit Context(bool) {}
#endif
};

SoundPlayer::SoundPlayer(SoundOutputPlaces places) : m_places(std::move(places)) {}
SoundPlayer::~SoundPlayer() = default;

const char* SoundPlayer::eventId(Sound sound) {
    switch (sound) {
    case Sound::LinkUp:
        return "device-added";
    case Sound::Completed:
        return "complete";
    case Sound::Interrupted:
        return "dialog-warning";
    }
    return "complete";
}

void SoundPlayer::play(Sound sound) {
    if (!m_context)
        m_context = std::make_unique<Context>(soundOutputExists(m_places));
#ifdef ZAPFER_HAVE_CANBERRA
    if (m_context->handle)
        ca_context_play(m_context->handle, 0, CA_PROP_EVENT_ID, eventId(sound), nullptr);
#else
    (void)sound;
#endif
}

} // namespace zapfer
