// The waveform audio interface the wave devices are written against: device enumeration, open handles,
// prepared headers queued to a device, and completions posted as window messages (MM_WIM_DATA,
// MM_WOM_DONE) to the window given at open. The work is done by the back ends of WaveBackend.h (ALSA,
// virtual devices); this layer gives every back end the same header and completion rules.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Messages.h"

using MMRESULT = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_DATA = 0x3C0;

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint32_t CALLBACK_WINDOW = 0x00010000;

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};

struct WAVEHDR {
    char* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;
    uintptr_t dwUser;
    uint32_t dwFlags;
    uint32_t dwLoops;
    WAVEHDR* lpNext;
    uintptr_t reserved;
};

struct HWAVEIN__;
using HWAVEIN = HWAVEIN__*;
struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;

// Enumeration takes a fresh snapshot of every back end's devices; the ids given to the open calls are
// positions in the latest snapshot.
UINT waveInGetNumDevs();
// The device's name in the latest snapshot; MMSYSERR_BADDEVICEID past its end.
MMRESULT waveInGetDevName(UINT uDeviceID, std::string& name);
MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND hWndCallback,
                    uintptr_t dwInstance, uint32_t fdwOpen);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
// Ends capture; the buffer being filled is returned with what it holds, empty ones stay queued.
MMRESULT waveInStop(HWAVEIN hwi);
// Ends capture and returns every queued buffer.
MMRESULT waveInReset(HWAVEIN hwi);
// WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveInClose(HWAVEIN hwi);

UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevName(UINT uDeviceID, std::string& name);
MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND hWndCallback,
                     uintptr_t dwInstance, uint32_t fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
// Queues the block; blocks play in the order written.
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
// Stops playback and returns every queued block.
MMRESULT waveOutReset(HWAVEOUT hwo);
// WAVERR_STILLPLAYING while blocks are queued.
MMRESULT waveOutClose(HWAVEOUT hwo);
