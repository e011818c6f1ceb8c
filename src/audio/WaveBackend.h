// Back ends behind the waveform audio interface: each lists its devices and opens streams of 16-bit PCM.
// A stream only moves samples; queueing, header flags and completion messages are the interface's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/WaveApi.h"

// Reads are made from the interface's own thread, one at a time.
class IWaveSource {
public:
    virtual ~IWaveSource() = default;
    virtual bool Start() = 0;
    // Ends capturing and forgets what was captured but not read.
    virtual void Stop() = 0;
    // Fills at most `frames` frames, waiting a few milliseconds at most. Returns the frames filled (0: none
    // yet), -1 when the device failed.
    virtual int Read(void* data, int frames) = 0;
    // Asked before the stream is closed: non-zero refuses (the code is the close call's answer), except
    // MMSYSERR_INVALHANDLE and MMSYSERR_NODRIVER, which close the stream all the same.
    virtual MMRESULT Close() { return MMSYSERR_NOERROR; }
};

class IWaveSink {
public:
    virtual ~IWaveSink() = default;
    // Takes at most `frames` frames for playing, waiting a few milliseconds at most. Returns the frames taken
    // (0: no room yet), -1 when the device failed.
    virtual int Write(const void* data, int frames) = 0;
    // Forgets what was taken but not yet played.
    virtual void Drop() = 0;
    // As IWaveSource::Close.
    virtual MMRESULT Close() { return MMSYSERR_NOERROR; }
};

class IWaveBackend {
public:
    virtual ~IWaveBackend() = default;
    virtual std::vector<std::string> CaptureDevices() = 0;
    virtual std::vector<std::string> PlaybackDevices() = 0;
    virtual MMRESULT OpenCapture(const std::string& name, const WAVEFORMATEX& format,
                                 std::unique_ptr<IWaveSource>& source) = 0;
    virtual MMRESULT OpenPlayback(const std::string& name, const WAVEFORMATEX& format,
                                  std::unique_ptr<IWaveSink>& sink) = 0;
};

// The back ends in the order their devices are listed. The process starts with ALSA and then the virtual
// devices (VirtualWave.h); tests and the headless client may choose their own.
void SetWaveBackends(std::vector<std::shared_ptr<IWaveBackend>> backends);
std::vector<std::shared_ptr<IWaveBackend>> GetWaveBackends();
