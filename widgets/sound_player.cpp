#include "sound_player.h"

#ifdef ZAPFER_HAVE_CANBERRA
#include <canberra.h>
#endif

namespace zapfer {

struct SoundPlayer::Context {
#ifdef ZAPFER_HAVE_CANBERRA
    ca_context* handle = nullptr;
    Context() {
        if (ca_context_create(&handle) != CA_SUCCESS)
            handle = nullptr;
    }
    ~Context() {
        if (handle)
            ca_context_destroy(handle);
    }
#endif
};

SoundPlayer::SoundPlayer() = default;
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
#ifdef ZAPFER_HAVE_CANBERRA
    if (!m_context)
        m_context = std::make_unique<Context>();
    if (m_context->handle)
        ca_context_play(m_context->handle, 0, CA_PROP_EVENT_ID, eventId(sound), nullptr);
#else
    (void)sound;
#endif
}

} // namespace zapfer
