// Virtual wave devices for tests and the headless client: capture from a WAV file, a tone or silence;
// playback into a WAV file (or nowhere). Each is paced in real time like a sound card, or runs as fast
// as its buffers are given (tests).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/WaveBackend.h"

enum class EWavePacing { RealTime, Fast };
// What a file capture delivers after the file's end.
enum class EWaveEnd { Silence, Loop };

class CVirtualWaveBackend : public IWaveBackend {
public:
    // A device added again under the same name replaces the earlier one.
    void AddWavFileCapture(const std::string& name, const std::string& path, EWavePacing pacing,
                           EWaveEnd end = EWaveEnd::Silence);
    // amplitude: 0..1 of full scale.
    void AddToneCapture(const std::string& name, double frequencyHz, double amplitude, EWavePacing pacing);
    void AddSilenceCapture(const std::string& name, EWavePacing pacing);
    // An empty path plays nowhere. Paced in real time, the file also records the silence heard while
    // the device ran dry.
    void AddWavFilePlayback(const std::string& name, const std::string& path, EWavePacing pacing);
    void Remove(const std::string& name);
    void Clear();

    std::vector<std::string> CaptureDevices() override;
    std::vector<std::string> PlaybackDevices() override;
    MMRESULT OpenCapture(const std::string& name, const WAVEFORMATEX& format,
                         std::unique_ptr<IWaveSource>& source) override;
    MMRESULT OpenPlayback(const std::string& name, const WAVEFORMATEX& format,
                          std::unique_ptr<IWaveSink>& sink) override;

private:
    enum class EKind { File, Tone, Silence, Playback };
    struct SDevice {
        std::string name;
        EKind kind;
        std::string path;
        EWavePacing pacing;
        EWaveEnd end = EWaveEnd::Silence;
        double frequency = 0;
        double amplitude = 0;
    };
    void Add(SDevice device);
    bool Find(const std::string& name, bool capture, SDevice& device);

    std::mutex m_mutex;
    std::vector<SDevice> m_devices;
};

// The process's virtual devices, listed after the ALSA ones; empty at start.
std::shared_ptr<CVirtualWaveBackend> GetVirtualWaveBackend();
