// CSoundPlayer: plays short sounds asynchronously through the default sound output (ALSA's "default",
// which reaches PulseAudio or PipeWire where they run). A new sound stops the one before. Without a
// usable device the sound is silence: nothing is reported.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Thread.h"

class CSoundPlayer : private CThread {
public:
    explicit CSoundPlayer(std::string device = "default");
    ~CSoundPlayer() override;

    // Interleaved signed 16-bit samples. Returns at once.
    void Play(uint32_t rate, uint16_t channels, std::vector<int16_t> samples);
    void StopSound();
    // True while a sound is being played (the device is open and samples remain).
    bool IsPlaying() const { return m_bPlaying.load(); }
    // Sounds that reached the device and were played to their end or stopped.
    int SoundsStarted() const { return m_nStarted.load(); }

private:
    void Run() override;

    std::string m_strDevice;
    std::mutex m_Mutex;  // the sound handed to the next body
    uint32_t m_nRate = 0;
    uint16_t m_nChannels = 0;
    std::vector<int16_t> m_Samples;
    std::atomic<bool> m_bPlaying{false};
    std::atomic<int> m_nStarted{0};
};
