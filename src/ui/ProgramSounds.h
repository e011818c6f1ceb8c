// CProgramSounds: the program's wave resources (167 ring, 169 disconnected, 170 connected), decoded once
// from the resources and played asynchronously through the default output, each stopping the one before.
// VELAPHON_SOUND_DEVICE names another ALSA device (e.g. "null" for none at all).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/StringTable.h"
#include "ui/SoundPlayer.h"

class CProgramSounds {
public:
    CProgramSounds();
    // False for an unknown id or a resource that is not a readable wave.
    bool Play(UINT resource);
    void Stop();

    UINT LastPlayed() const { return m_nLastPlayed; }
    int PlayCount() const { return m_nPlayed; }
    const CSoundPlayer& Player() const { return *m_pPlayer; }

    // The resource path of a wave id; null when there is none.
    static const char* ResourcePath(UINT resource);

private:
    struct SWave {
        uint32_t rate = 0;
        uint16_t channels = 0;
        std::vector<int16_t> samples;
    };
    const SWave* Load(UINT resource);

    std::map<UINT, SWave> m_Waves;
    std::unique_ptr<CSoundPlayer> m_pPlayer;
    UINT m_nLastPlayed = 0;
    int m_nPlayed = 0;
};
