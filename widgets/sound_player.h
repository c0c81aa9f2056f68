#pragma once

#include "engine_events.h"

#include <memory>

namespace zapfer {

// The engine's three event sounds ("infbeg", "infend", "infintr"), played
// through the freedesktop sound theme when Zapfer is built with libcanberra,
// silent otherwise. GUI thread only.
class SoundPlayer {
public:
    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    void play(Sound sound);
    // The theme's event id used for `sound`.
    static const char* eventId(Sound sound);

private:
    struct Context;
    std::unique_ptr<Context> m_context; // made at the first sound
};

} // namespace zapfer
