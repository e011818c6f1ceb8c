#include "ui/SoundPlayer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// The body waits for the device in slices this short, so a new sound stops the old one at once.
constexpr int kWaitSliceMs = 10;
constexpr unsigned kLatencyUs = 100000;

// Closes the device on every way out of the body, a forced end included.
struct SPcmGuard {
    snd_pcm_t* pcm = nullptr;
    ~SPcmGuard() {
        if (pcm != nullptr) {
            snd_pcm_drop(pcm);
            snd_pcm_close(pcm);
        }
    }
};

struct SPlayingFlag {
    std::atomic<bool>& flag;
    ~SPlayingFlag() { flag = false; }
};

// ALSA prints its own complaints (no card, no sound server) on stderr; for these sounds a missing
// device is silence, nothing to report.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

CSoundPlayer::CSoundPlayer(std::string device) : m_strDevice(std::move(device)) {
    SetName("CSoundPlayer");
    snd_lib_error_set_handler(&QuietAlsaError);
}

CSoundPlayer::~CSoundPlayer() {
    CThread::Stop();
}

void CSoundPlayer::Play(uint32_t rate, uint16_t channels, std::vector<int16_t> samples) {
    CThread::Stop();
    if (rate == 0 || channels == 0 || samples.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_nRate = rate;
        m_nChannels = channels;
        m_Samples = std::move(samples);
    }
    m_bPlaying = true;
    if (!Start())
        m_bPlaying = false;
}

void CSoundPlayer::StopSound() {
    CThread::Stop();
}

void CSoundPlayer::Run() {
    SPlayingFlag playing{m_bPlaying};
    uint32_t rate;
    uint16_t channels;
    std::vector<int16_t> samples;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        rate = m_nRate;
        channels = m_nChannels;
        samples.swap(m_Samples);
    }
    SPcmGuard device;
    if (snd_pcm_open(&device.pcm, m_strDevice.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        device.pcm = nullptr;
        return;  // no sound device: silence
    }
    if (snd_pcm_set_params(device.pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate,
                           1, kLatencyUs) < 0)
        return;
    ++m_nStarted;

    const snd_pcm_uframes_t total = samples.size() / channels;
    snd_pcm_uframes_t done = 0;
    while (done < total && !IsStopRequested()) {
        snd_pcm_sframes_t n = snd_pcm_writei(device.pcm, samples.data() + done * channels, total - done);
        if (n == -EAGAIN) {
            snd_pcm_wait(device.pcm, kWaitSliceMs);
        } else if (n < 0) {
            if (snd_pcm_recover(device.pcm, static_cast<int>(n), 1) < 0)
                return;
        } else {
            done += static_cast<snd_pcm_uframes_t>(n);
        }
    }
    // A sound shorter than the device's buffer has not started by itself.
    if (snd_pcm_state(device.pcm) == SND_PCM_STATE_PREPARED)
        snd_pcm_start(device.pcm);
    // Let what the device holds play out, still ready to stop.
    while (!IsStopRequested()) {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(device.pcm, &delay) < 0 || delay <= 0 ||
            snd_pcm_state(device.pcm) != SND_PCM_STATE_RUNNING)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
    }
}
