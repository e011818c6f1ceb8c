#include "audio/VirtualWave.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>

#include "audio/WavFile.h"

namespace {

using Clock = std::chrono::steady_clock;

// A paced device never waits longer than this inside one call.
constexpr auto kMaxWait = std::chrono::milliseconds(5);
// Sound a paced playback device accepts ahead of its play position, as a card's buffer would.
constexpr double kPlaybackCushionSeconds = 0.2;
// A longer pause is recorded as this much silence.
constexpr double kMaxSilenceSeconds = 10;

// Frames a real-time device has produced or consumed since `start`.
uint64_t FramesSince(Clock::time_point start, uint32_t rate) {
    const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<uint64_t>(elapsed * rate);
}

// Produces frames from a generator at the pace asked for.
class CPacedSource : public IWaveSource {
public:
    CPacedSource(EWavePacing pacing, const WAVEFORMATEX& format) : m_pacing(pacing), m_format(format) {}

    bool Start() override {
        m_start = Clock::now();
        m_nDelivered = 0;
        return true;
    }
    void Stop() override {}

    int Read(void* data, int frames) override {
        int n = frames;
        if (m_pacing == EWavePacing::RealTime) {
            const uint64_t due = FramesSince(m_start, m_format.nSamplesPerSec);
            n = static_cast<int>(std::min<uint64_t>(frames, due > m_nDelivered ? due - m_nDelivered : 0));
            if (n == 0) {
                std::this_thread::sleep_for(kMaxWait);
                return 0;
            }
        }
        auto* out = static_cast<int16_t*>(data);
        for (int i = 0; i < n; ++i) {
            const int16_t v = Next();
            for (int c = 0; c < m_format.nChannels; ++c)
                *out++ = v;
        }
        m_nDelivered += static_cast<uint64_t>(n);
        return n;
    }

protected:
    virtual int16_t Next() = 0;
    const WAVEFORMATEX& Format() const { return m_format; }

private:
    EWavePacing m_pacing;
    WAVEFORMATEX m_format;
    Clock::time_point m_start = Clock::now();
    uint64_t m_nDelivered = 0;
};

class CFileSource : public CPacedSource {
public:
    CFileSource(std::vector<int16_t> mono, EWavePacing pacing, EWaveEnd end, const WAVEFORMATEX& format)
        : CPacedSource(pacing, format), m_samples(std::move(mono)), m_end(end) {}

protected:
    int16_t Next() override {
        if (m_nPos >= m_samples.size()) {
            if (m_end == EWaveEnd::Silence || m_samples.empty())
                return 0;
            m_nPos = 0;
        }
        return m_samples[m_nPos++];
    }

private:
    std::vector<int16_t> m_samples;
    EWaveEnd m_end;
    size_t m_nPos = 0;
};

class CToneSource : public CPacedSource {
public:
    CToneSource(double frequency, double amplitude, EWavePacing pacing, const WAVEFORMATEX& format)
        : CPacedSource(pacing, format),
          m_step(2 * std::numbers::pi * frequency / format.nSamplesPerSec),
          m_amplitude(std::clamp(amplitude, 0.0, 1.0) * 32767) {}

protected:
    int16_t Next() override {
        const double v = m_amplitude * std::sin(m_phase);
        m_phase = std::fmod(m_phase + m_step, 2 * std::numbers::pi);
        return static_cast<int16_t>(std::lround(v));
    }

private:
    double m_step;
    double m_amplitude;
    double m_phase = 0;
};

class CSilenceSource : public CPacedSource {
public:
    using CPacedSource::CPacedSource;

protected:
    int16_t Next() override { return 0; }
};

class CFileSink : public IWaveSink {
public:
    CFileSink(EWavePacing pacing, const WAVEFORMATEX& format) : m_pacing(pacing), m_format(format) {}

    bool Open(const std::string& path) {
        return path.empty() || m_writer.Open(path, m_format.nSamplesPerSec, m_format.nChannels);
    }

    int Write(const void* data, int frames) override {
        int n = frames;
        if (m_pacing == EWavePacing::RealTime) {
            const auto now = Clock::now();
            if (m_playedUntil < now) {
                // Ran dry: like a card, it played silence meanwhile, and the file records it.
                if (m_bStarted)
                    WriteSilence(std::chrono::duration<double>(now - m_playedUntil).count());
                m_playedUntil = now;
            }
            m_bStarted = true;
            const double ahead = std::chrono::duration<double>(m_playedUntil - now).count();
            const double room = (kPlaybackCushionSeconds - ahead) * m_format.nSamplesPerSec;
            n = static_cast<int>(std::clamp(room, 0.0, static_cast<double>(frames)));
            if (n == 0) {
                std::this_thread::sleep_for(kMaxWait);
                return 0;
            }
            m_playedUntil += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(static_cast<double>(n) / m_format.nSamplesPerSec));
        }
        if (m_writer.IsOpen() &&
            !m_writer.Write(static_cast<const int16_t*>(data), static_cast<size_t>(n) * m_format.nChannels)) {
            return -1;
        }
        return n;
    }

    void Drop() override { m_playedUntil = Clock::now(); }

private:
    void WriteSilence(double seconds) {
        if (!m_writer.IsOpen())
            return;
        const auto frames =
            static_cast<size_t>(std::min(seconds, kMaxSilenceSeconds) * m_format.nSamplesPerSec);
        const std::vector<int16_t> zeros(frames * m_format.nChannels, 0);
        m_writer.Write(zeros.data(), zeros.size());
    }
    EWavePacing m_pacing;
    WAVEFORMATEX m_format;
    CWavWriter m_writer;
    Clock::time_point m_playedUntil = Clock::now();
    bool m_bStarted = false;
};

}  // namespace

void CVirtualWaveBackend::Add(SDevice device) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool capture = device.kind != EKind::Playback;
    std::erase_if(m_devices, [&](const SDevice& d) {
        return d.name == device.name && (d.kind != EKind::Playback) == capture;
    });
    m_devices.push_back(std::move(device));
}

void CVirtualWaveBackend::AddWavFileCapture(const std::string& name, const std::string& path,
                                            EWavePacing pacing, EWaveEnd end) {
    Add({name, EKind::File, path, pacing, end, 0, 0});
}

void CVirtualWaveBackend::AddToneCapture(const std::string& name, double frequencyHz, double amplitude,
                                         EWavePacing pacing) {
    Add({name, EKind::Tone, "", pacing, EWaveEnd::Silence, frequencyHz, amplitude});
}

void CVirtualWaveBackend::AddSilenceCapture(const std::string& name, EWavePacing pacing) {
    Add({name, EKind::Silence, "", pacing, EWaveEnd::Silence, 0, 0});
}

void CVirtualWaveBackend::AddWavFilePlayback(const std::string& name, const std::string& path,
                                             EWavePacing pacing) {
    Add({name, EKind::Playback, path, pacing, EWaveEnd::Silence, 0, 0});
}

void CVirtualWaveBackend::Remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase_if(m_devices, [&](const SDevice& d) { return d.name == name; });
}

void CVirtualWaveBackend::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.clear();
}

std::vector<std::string> CVirtualWaveBackend::CaptureDevices() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> names;
    for (const auto& d : m_devices) {
        if (d.kind != EKind::Playback)
            names.push_back(d.name);
    }
    return names;
}

std::vector<std::string> CVirtualWaveBackend::PlaybackDevices() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> names;
    for (const auto& d : m_devices) {
        if (d.kind == EKind::Playback)
            names.push_back(d.name);
    }
    return names;
}

bool CVirtualWaveBackend::Find(const std::string& name, bool capture, SDevice& device) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& d : m_devices) {
        if (d.name == name && (d.kind != EKind::Playback) == capture) {
            device = d;
            return true;
        }
    }
    return false;
}

MMRESULT CVirtualWaveBackend::OpenCapture(const std::string& name, const WAVEFORMATEX& format,
                                          std::unique_ptr<IWaveSource>& source) {
    SDevice d;
    if (!Find(name, true, d))
        return MMSYSERR_BADDEVICEID;
    switch (d.kind) {
        case EKind::File: {
            SWavFormat f;
            std::vector<int16_t> samples;
            if (!ReadWavFile(d.path, f, samples))
                return MMSYSERR_ERROR;
            source = std::make_unique<CFileSource>(
                ConvertPcm(samples, f.nSamplesPerSec, f.nChannels, format.nSamplesPerSec, 1), d.pacing, d.end,
                format);
            break;
        }
        case EKind::Tone:
            source = std::make_unique<CToneSource>(d.frequency, d.amplitude, d.pacing, format);
            break;
        case EKind::Silence:
            source = std::make_unique<CSilenceSource>(d.pacing, format);
            break;
        case EKind::Playback:
            return MMSYSERR_BADDEVICEID;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CVirtualWaveBackend::OpenPlayback(const std::string& name, const WAVEFORMATEX& format,
                                           std::unique_ptr<IWaveSink>& sink) {
    SDevice d;
    if (!Find(name, false, d))
        return MMSYSERR_BADDEVICEID;
    auto fileSink = std::make_unique<CFileSink>(d.pacing, format);
    if (!fileSink->Open(d.path))
        return MMSYSERR_ERROR;
    sink = std::move(fileSink);
    return MMSYSERR_NOERROR;
}

std::shared_ptr<CVirtualWaveBackend> GetVirtualWaveBackend() {
    static auto backend = std::make_shared<CVirtualWaveBackend>();
    return backend;
}
