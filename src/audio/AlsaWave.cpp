#include "audio/AlsaWave.h"

#include <alsa/asoundlib.h>

#include <algorithm>

#include "platform/Trace.h"

namespace {

// Buffer lengths asked of ALSA: capture holds 400 ms, playback 300 ms; both in 4 periods.
constexpr unsigned kCaptureLatencyUs = 400000;
constexpr unsigned kPlaybackLatencyUs = 300000;
// Longest wait inside one read or write, so that resets and stops are prompt.
constexpr int kWaitMs = 10;

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Opens `name` for 16-bit interleaved PCM in the given format. Playback starts after one period.
snd_pcm_t* OpenPcm(const std::string& name, snd_pcm_stream_t stream, const WAVEFORMATEX& format,
                   MMRESULT& result) {
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, name.c_str(), stream, SND_PCM_NONBLOCK);
    if (err < 0) {
        Trace("%s:%d | no se puede abrir %s: %s\n", "AlsaWave", __LINE__, name.c_str(), snd_strerror(err));
        result = MMSYSERR_ALLOCATED;
        return nullptr;
    }
    const bool capture = stream == SND_PCM_STREAM_CAPTURE;
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                             format.nSamplesPerSec, 1, capture ? kCaptureLatencyUs : kPlaybackLatencyUs);
    if (err >= 0 && !capture) {
        snd_pcm_uframes_t buffer = 0;
        snd_pcm_uframes_t period = 0;
        snd_pcm_sw_params_t* sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        if (snd_pcm_get_params(pcm, &buffer, &period) >= 0 && snd_pcm_sw_params_current(pcm, sw) >= 0 &&
            snd_pcm_sw_params_set_start_threshold(pcm, sw, period) >= 0) {
            err = snd_pcm_sw_params(pcm, sw);
        }
    }
    if (err < 0) {
        Trace("%s:%d | formato no aceptado por %s: %s\n", "AlsaWave", __LINE__, name.c_str(),
              snd_strerror(err));
        snd_pcm_close(pcm);
        result = WAVERR_BADFORMAT;
        return nullptr;
    }
    result = MMSYSERR_NOERROR;
    return pcm;
}

// Waits for the device, then moves samples; a lost stream (overrun, underrun, suspend) is recovered.
template <typename Transfer>
int Move(snd_pcm_t* pcm, Transfer transfer) {
    int err = snd_pcm_wait(pcm, kWaitMs);
    if (err == 0)
        return 0;
    snd_pcm_sframes_t n = err < 0 ? err : transfer();
    if (n == -EAGAIN)
        return 0;
    if (n < 0) {
        if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0)
            return -1;
        return 0;
    }
    return static_cast<int>(n);
}

class CAlsaSource : public IWaveSource {
public:
    explicit CAlsaSource(snd_pcm_t* pcm) : m_pcm(pcm) {}
    ~CAlsaSource() override { snd_pcm_close(m_pcm); }

    bool Start() override {
        if (snd_pcm_state(m_pcm) != SND_PCM_STATE_PREPARED)
            snd_pcm_prepare(m_pcm);
        return snd_pcm_start(m_pcm) >= 0;
    }
    void Stop() override {
        snd_pcm_drop(m_pcm);
        snd_pcm_prepare(m_pcm);
    }
    int Read(void* data, int frames) override {
        if (snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED)
            snd_pcm_start(m_pcm);  // after a recovery
        return Move(m_pcm,
                    [&] { return snd_pcm_readi(m_pcm, data, static_cast<snd_pcm_uframes_t>(frames)); });
    }

private:
    snd_pcm_t* m_pcm;
};

class CAlsaSink : public IWaveSink {
public:
    explicit CAlsaSink(snd_pcm_t* pcm) : m_pcm(pcm) {}
    ~CAlsaSink() override { snd_pcm_close(m_pcm); }

    int Write(const void* data, int frames) override {
        return Move(m_pcm,
                    [&] { return snd_pcm_writei(m_pcm, data, static_cast<snd_pcm_uframes_t>(frames)); });
    }
    void Drop() override {
        snd_pcm_drop(m_pcm);
        snd_pcm_prepare(m_pcm);
    }

private:
    snd_pcm_t* m_pcm;
};

class CAlsaBackend : public IWaveBackend {
public:
    std::vector<std::string> CaptureDevices() override { return SelectAlsaDeviceNames(Hints(), true); }
    std::vector<std::string> PlaybackDevices() override { return SelectAlsaDeviceNames(Hints(), false); }

    MMRESULT OpenCapture(const std::string& name, const WAVEFORMATEX& format,
                         std::unique_ptr<IWaveSource>& source) override {
        MMRESULT r;
        snd_pcm_t* pcm = OpenPcm(name, SND_PCM_STREAM_CAPTURE, format, r);
        if (pcm != nullptr)
            source = std::make_unique<CAlsaSource>(pcm);
        return r;
    }

    MMRESULT OpenPlayback(const std::string& name, const WAVEFORMATEX& format,
                          std::unique_ptr<IWaveSink>& sink) override {
        MMRESULT r;
        snd_pcm_t* pcm = OpenPcm(name, SND_PCM_STREAM_PLAYBACK, format, r);
        if (pcm != nullptr)
            sink = std::make_unique<CAlsaSink>(pcm);
        return r;
    }

private:
    static std::vector<std::pair<std::string, std::string>> Hints() {
        std::vector<std::pair<std::string, std::string>> list;
        void** hints = nullptr;
        if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr)
            return list;
        for (void** h = hints; *h != nullptr; ++h) {
            char* name = snd_device_name_get_hint(*h, "NAME");
            char* ioid = snd_device_name_get_hint(*h, "IOID");
            if (name != nullptr)
                list.emplace_back(name, ioid != nullptr ? ioid : "");
            free(name);
            free(ioid);
        }
        snd_device_name_free_hint(hints);
        return list;
    }
};

}  // namespace

std::vector<std::string> SelectAlsaDeviceNames(const std::vector<std::pair<std::string, std::string>>& hints,
                                               bool capture) {
    std::vector<std::string> names;
    auto add = [&](const std::string& n) {
        if (std::find(names.begin(), names.end(), n) == names.end())
            names.push_back(n);
    };
    const char* wrongWay = capture ? "Output" : "Input";
    std::vector<std::string> usable;
    for (const auto& [name, ioid] : hints) {
        if (ioid == wrongWay)
            continue;
        if (name == "default" || name == "pulse" || name == "pipewire" || StartsWith(name, "sysdefault:") ||
            StartsWith(name, "plughw:")) {
            usable.push_back(name);
        } else if (StartsWith(name, "hw:")) {
            usable.push_back("plug" + name);  // a card's raw device, with format conversion
        }
    }
    // "default" leads: the first entry is what a missing or unknown name falls back to.
    if (std::find(usable.begin(), usable.end(), "default") != usable.end())
        add("default");
    for (const auto& n : usable)
        add(n);
    return names;
}

namespace {
// ALSA prints its own complaints (no sound server, no card) on stderr; the open calls' results say enough.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

std::shared_ptr<IWaveBackend> CreateAlsaWaveBackend() {
    snd_lib_error_set_handler(&QuietAlsaError);
    return std::make_shared<CAlsaBackend>();
}
