#pragma once

#include "engine_events.h"

#include <memory>
#include <string>

namespace zapfer {

// Where a sound could be played: ALSA's device nodes and a sound server of
// the session (PulseAudio, or PipeWire in its place).
struct SoundOutputPlaces {
    std::string deviceDir = "/dev/snd";
    std::string runtimeDir;  // $XDG_RUNTIME_DIR, where the servers' sockets live
    std::string pulseServer; // $PULSE_SERVER, a server named explicitly

    static SoundOutputPlaces ofThisSession();
};

// Whether anything can play a sound: an ALSA playback device, or a sound
// server's socket. On a machine without either (a server, a container, a
// headless test run) every attempt would only fail, and ALSA would print
// its errors on the terminal each time.
bool soundOutputExists(const SoundOutputPlaces& places);

// The engine's three event sounds ("infbeg", "infend", "infintr"), played
// through the freedesktop sound theme when Zapfer is built with libcanberra,
// silent otherwise, and silent (printing nothing) where no sound output
// exists. GUI thread only.
class SoundPlayer {
public:
    explicit SoundPlayer(SoundOutputPlaces places = SoundOutputPlaces::ofThisSession());
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    void play(Sound sound);
    // The theme's event id used for `sound`.
    static const char* eventId(Sound sound);

private:
    struct Context;
    SoundOutputPlaces m_places;
    std::unique_ptr<Context> m_context; // made at the first sound
};

} // namespace zapfer
