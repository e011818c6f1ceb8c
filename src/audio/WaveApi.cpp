#include "audio/WaveApi.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

#include "audio/AlsaWave.h"
#include "audio/VirtualWave.h"
#include "audio/WaveBackend.h"
#include "platform/Thread.h"
#include "platform/Trace.h"

namespace {

// Samples move in 20 ms pieces at 8 kHz, so a reset waits little for the stream thread.
constexpr uint32_t kChunkFrames = 160;
constexpr auto kIdleWait = std::chrono::milliseconds(10);

struct SDeviceEntry {
    std::shared_ptr<IWaveBackend> backend;
    std::string name;
};

bool IsSupportedFormat(const WAVEFORMATEX* f) {
    return f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 16 && f->nChannels >= 1 &&
           f->nChannels <= 2 && f->nSamplesPerSec >= 1000 && f->nSamplesPerSec <= 192000 &&
           f->nBlockAlign == f->nChannels * 2;
}

// One open device: the queue of headers given to it and the thread that fills or plays them.
class CWaveStream : public CThread {
public:
    CWaveStream(HWND hWnd, UINT message, uint32_t blockAlign)
        : m_hWnd(hWnd), m_nMessage(message), m_nBlockAlign(blockAlign) {}

    void SetHandle(uintptr_t handle) { m_nHandle = handle; }

    MMRESULT Prepare(WAVEHDR* h) {
        if (h == nullptr || h->lpData == nullptr)
            return MMSYSERR_INVALPARAM;
        std::lock_guard<std::mutex> lock(m_mutex);
        h->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Unprepare(WAVEHDR* h) {
        if (h == nullptr)
            return MMSYSERR_INVALPARAM;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (h->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        h->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Queue(WAVEHDR* h) {
        if (h == nullptr || h->lpData == nullptr)
            return MMSYSERR_INVALPARAM;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!(h->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (h->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        h->dwBytesRecorded = 0;
        h->reserved = 0;
        m_queue.push_back(h);
        m_cv.notify_all();
        return MMSYSERR_NOERROR;
    }

    // Returns every queued header.
    MMRESULT Reset() {
        std::unique_lock<std::mutex> lock(m_mutex);
        WaitIdle(lock);
        m_bStarted = false;
        OnReset();
        while (!m_queue.empty())
            CompleteFront();
        return MMSYSERR_NOERROR;
    }

    // Ends the stream unless it refuses; the answer tells the caller whether the handle is gone.
    MMRESULT Close() {
        MMRESULT r;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            WaitIdle(lock);
            if (!m_queue.empty())
                return WAVERR_STILLPLAYING;
            r = OnClose();
            if (r != MMSYSERR_NOERROR && !IsGone(r))
                return r;
        }
        CThread::Stop();
        return r;
    }

    static bool IsGone(MMRESULT r) {
        return r == MMSYSERR_NOERROR || r == MMSYSERR_INVALHANDLE || r == MMSYSERR_NODRIVER;
    }

protected:
    // Called with the lock held and the thread idle.
    virtual void OnReset() = 0;
    virtual MMRESULT OnClose() = 0;
    // Moves samples for the front header outside the lock; the frames moved, or -1 on a device failure.
    virtual int Transfer(WAVEHDR* h, uint32_t offset, uint32_t frames) = 0;
    // Bytes already moved for a queued header.
    virtual uint32_t Progress(const WAVEHDR* h) const = 0;
    virtual void Advance(WAVEHDR* h, uint32_t bytes) = 0;

    void WaitIdle(std::unique_lock<std::mutex>& lock) {
        m_cv.wait(lock, [this] { return !m_bBusy; });
    }

    void CompleteFront() {
        WAVEHDR* h = m_queue.front();
        m_queue.pop_front();
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        PostMessage(m_hWnd, m_nMessage, m_nHandle, reinterpret_cast<LPARAM>(h));
    }

    void Run() override {
        int failures = 0;
        while (!IsStopRequested()) {
            WAVEHDR* h = nullptr;
            uint32_t offset = 0;
            uint32_t frames = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (!m_bStarted || m_queue.empty()) {
                    m_cv.wait_for(lock, kIdleWait);
                    continue;
                }
                h = m_queue.front();
                offset = Progress(h);
                frames = std::min((h->dwBufferLength - offset) / m_nBlockAlign, kChunkFrames);
                m_bBusy = frames > 0;
            }
            const int n = frames > 0 ? Transfer(h, offset, frames) : 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_bBusy = false;
                if (n > 0)
                    Advance(h, static_cast<uint32_t>(n) * m_nBlockAlign);
                if (!m_queue.empty() && m_queue.front() == h &&
                    h->dwBufferLength - Progress(h) < m_nBlockAlign) {
                    CompleteFront();
                }
                m_cv.notify_all();
            }
            if (n < 0) {
                if (failures++ == 0)
                    Trace("%s:%d | el dispositivo de audio ha fallado\n", "WaveApi", __LINE__);
                std::this_thread::sleep_for(kIdleWait);
            } else if (n > 0) {
                failures = 0;
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<WAVEHDR*> m_queue;
    bool m_bBusy = false;
    bool m_bStarted = false;

private:
    HWND m_hWnd;
    UINT m_nMessage;
    uintptr_t m_nHandle = 0;
    uint32_t m_nBlockAlign;
};

class CWaveInStream : public CWaveStream {
public:
    CWaveInStream(std::unique_ptr<IWaveSource> source, HWND hWnd, uint32_t blockAlign)
        : CWaveStream(hWnd, MM_WIM_DATA, blockAlign), m_source(std::move(source)) {
        SetName("CWaveInStream");
    }
    ~CWaveInStream() override {
        if (HasThread())
            CThread::Stop();
    }

    MMRESULT StartCapture() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStarted)
            return MMSYSERR_NOERROR;
        if (!m_source->Start())
            return MMSYSERR_ERROR;
        m_bStarted = true;
        m_cv.notify_all();
        return MMSYSERR_NOERROR;
    }

    // The buffer being filled comes back with what it holds; empty ones stay queued.
    MMRESULT StopCapture() {
        std::unique_lock<std::mutex> lock(m_mutex);
        WaitIdle(lock);
        if (!m_bStarted)
            return MMSYSERR_NOERROR;
        m_bStarted = false;
        m_source->Stop();
        if (!m_queue.empty() && m_queue.front()->dwBytesRecorded > 0)
            CompleteFront();
        return MMSYSERR_NOERROR;
    }

protected:
    void OnReset() override { m_source->Stop(); }
    MMRESULT OnClose() override { return m_source->Close(); }
    int Transfer(WAVEHDR* h, uint32_t offset, uint32_t frames) override {
        return m_source->Read(h->lpData + offset, static_cast<int>(frames));
    }
    uint32_t Progress(const WAVEHDR* h) const override { return h->dwBytesRecorded; }
    void Advance(WAVEHDR* h, uint32_t bytes) override { h->dwBytesRecorded += bytes; }

private:
    std::unique_ptr<IWaveSource> m_source;
};

class CWaveOutStream : public CWaveStream {
public:
    CWaveOutStream(std::unique_ptr<IWaveSink> sink, HWND hWnd, uint32_t blockAlign)
        : CWaveStream(hWnd, MM_WOM_DONE, blockAlign), m_sink(std::move(sink)) {
        SetName("CWaveOutStream");
        m_bStarted = true;  // playback runs whenever blocks are queued
    }
    ~CWaveOutStream() override {
        if (HasThread())
            CThread::Stop();
    }

protected:
    void OnReset() override {
        m_sink->Drop();
        m_bStarted = true;
    }
    MMRESULT OnClose() override { return m_sink->Close(); }
    int Transfer(WAVEHDR* h, uint32_t offset, uint32_t frames) override {
        return m_sink->Write(h->lpData + offset, static_cast<int>(frames));
    }
    // The header's reserved word is the interface's own: it counts the bytes already played.
    uint32_t Progress(const WAVEHDR* h) const override { return static_cast<uint32_t>(h->reserved); }
    void Advance(WAVEHDR* h, uint32_t bytes) override { h->reserved += bytes; }

private:
    std::unique_ptr<IWaveSink> m_sink;
};

// The back ends, the device snapshots and the open handles.
struct SWaveState {
    std::mutex mutex;
    bool bDefaults = false;
    std::vector<std::shared_ptr<IWaveBackend>> backends;
    bool bCaptureListed = false;
    bool bPlaybackListed = false;
    std::vector<SDeviceEntry> capture;
    std::vector<SDeviceEntry> playback;
    std::map<uintptr_t, std::shared_ptr<CWaveInStream>> inputs;
    std::map<uintptr_t, std::shared_ptr<CWaveOutStream>> outputs;
    uintptr_t nLastHandle = 0;
};

SWaveState& State() {
    static SWaveState* state = new SWaveState;  // used until the very end of the process
    return *state;
}

void MakeDefaultsLocked(SWaveState& s) {
    if (s.bDefaults)
        return;
    s.bDefaults = true;
    s.backends = {CreateAlsaWaveBackend(), GetVirtualWaveBackend()};
}

std::vector<SDeviceEntry> ListLocked(SWaveState& s, bool capture) {
    MakeDefaultsLocked(s);
    std::vector<SDeviceEntry> list;
    for (const auto& b : s.backends) {
        if (!b)
            continue;
        for (auto& name : capture ? b->CaptureDevices() : b->PlaybackDevices())
            list.push_back({b, std::move(name)});
    }
    return list;
}

std::vector<SDeviceEntry>& SnapshotLocked(SWaveState& s, bool capture) {
    bool& listed = capture ? s.bCaptureListed : s.bPlaybackListed;
    auto& list = capture ? s.capture : s.playback;
    if (!listed) {
        list = ListLocked(s, capture);
        listed = true;
    }
    return list;
}

std::shared_ptr<CWaveInStream> FindInput(HWAVEIN h) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.inputs.find(reinterpret_cast<uintptr_t>(h));
    return it == s.inputs.end() ? nullptr : it->second;
}

std::shared_ptr<CWaveOutStream> FindOutput(HWAVEOUT h) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.outputs.find(reinterpret_cast<uintptr_t>(h));
    return it == s.outputs.end() ? nullptr : it->second;
}

// Files an opened stream under a fresh handle and starts its thread. 0 when the thread could not start.
template <typename TStream>
uintptr_t AddStream(std::map<uintptr_t, std::shared_ptr<TStream>> SWaveState::*streams,
                    std::shared_ptr<TStream> stream) {
    auto& s = State();
    uintptr_t handle;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        handle = ++s.nLastHandle;
        (s.*streams)[handle] = stream;
    }
    stream->SetHandle(handle);
    if (!stream->CThread::Start()) {
        std::lock_guard<std::mutex> lock(s.mutex);
        (s.*streams).erase(handle);
        return 0;
    }
    return handle;
}

// Closes a stream; its handle is let go once the stream is gone.
template <typename TStream>
MMRESULT CloseStream(std::map<uintptr_t, std::shared_ptr<TStream>> SWaveState::*streams,
                     const std::shared_ptr<TStream>& stream, uintptr_t handle) {
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    const MMRESULT r = stream->Close();
    if (CWaveStream::IsGone(r)) {
        auto& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        (s.*streams).erase(handle);
    }
    return r;
}

MMRESULT CheckOpenArguments(const void* handle, const WAVEFORMATEX* pwfx, HWND hWnd, uint32_t flags) {
    if (handle == nullptr)
        return MMSYSERR_INVALPARAM;
    if (!IsSupportedFormat(pwfx))
        return WAVERR_BADFORMAT;
    if ((flags & CALLBACK_WINDOW) == 0)
        return MMSYSERR_INVALFLAG;
    if (!IsWindow(hWnd))
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

MMRESULT DeviceName(bool capture, UINT id, std::string& name) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto& list = SnapshotLocked(s, capture);
    if (id >= list.size())
        return MMSYSERR_BADDEVICEID;
    name = list[id].name;
    return MMSYSERR_NOERROR;
}

// The device behind an id of the latest snapshot; false when there is none.
bool DeviceEntry(bool capture, UINT id, SDeviceEntry& entry) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto& list = SnapshotLocked(s, capture);
    if (id >= list.size())
        return false;
    entry = list[id];
    return true;
}

// Opens a device of the latest snapshot through its back end and files the stream under a fresh handle.
template <typename TStream, typename TEndpoint, typename THandle>
MMRESULT OpenStream(std::map<uintptr_t, std::shared_ptr<TStream>> SWaveState::*streams, THandle* phandle,
                    UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND hWndCallback, uint32_t fdwOpen) {
    constexpr bool kCapture = std::is_same_v<TEndpoint, IWaveSource>;
    if (MMRESULT r = CheckOpenArguments(phandle, pwfx, hWndCallback, fdwOpen))
        return r;
    SDeviceEntry entry;
    if (!DeviceEntry(kCapture, uDeviceID, entry))
        return MMSYSERR_BADDEVICEID;
    std::unique_ptr<TEndpoint> endpoint;
    MMRESULT r;
    if constexpr (kCapture)
        r = entry.backend->OpenCapture(entry.name, *pwfx, endpoint);
    else
        r = entry.backend->OpenPlayback(entry.name, *pwfx, endpoint);
    if (r != MMSYSERR_NOERROR)
        return r;
    if (!endpoint)
        return MMSYSERR_ERROR;
    const uintptr_t handle =
        AddStream(streams, std::make_shared<TStream>(std::move(endpoint), hWndCallback, pwfx->nBlockAlign));
    if (handle == 0)
        return MMSYSERR_NOMEM;
    *phandle = reinterpret_cast<THandle>(handle);
    return MMSYSERR_NOERROR;
}

// Lists the devices anew: the ids of later calls refer to this list.
UINT CountDevices(bool capture) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto& list = capture ? s.capture : s.playback;
    list = ListLocked(s, capture);
    (capture ? s.bCaptureListed : s.bPlaybackListed) = true;
    return static_cast<UINT>(list.size());
}

}  // namespace

void SetWaveBackends(std::vector<std::shared_ptr<IWaveBackend>> backends) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.bDefaults = true;
    s.backends = std::move(backends);
    s.bCaptureListed = s.bPlaybackListed = false;
}

std::vector<std::shared_ptr<IWaveBackend>> GetWaveBackends() {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    MakeDefaultsLocked(s);
    return s.backends;
}

UINT waveInGetNumDevs() {
    return CountDevices(true);
}

MMRESULT waveInGetDevName(UINT uDeviceID, std::string& name) {
    return DeviceName(true, uDeviceID, name);
}

MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND hWndCallback, uintptr_t,
                    uint32_t fdwOpen) {
    return OpenStream<CWaveInStream, IWaveSource>(&SWaveState::inputs, phwi, uDeviceID, pwfx, hWndCallback,
                                                  fdwOpen);
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT) {
    auto s = FindInput(hwi);
    return s ? s->Prepare(pwh) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT) {
    auto s = FindInput(hwi);
    return s ? s->Unprepare(pwh) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT) {
    auto s = FindInput(hwi);
    return s ? s->Queue(pwh) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInStart(HWAVEIN hwi) {
    auto s = FindInput(hwi);
    return s ? s->StartCapture() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInStop(HWAVEIN hwi) {
    auto s = FindInput(hwi);
    return s ? s->StopCapture() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInReset(HWAVEIN hwi) {
    auto s = FindInput(hwi);
    return s ? s->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInClose(HWAVEIN hwi) {
    return CloseStream(&SWaveState::inputs, FindInput(hwi), reinterpret_cast<uintptr_t>(hwi));
}

UINT waveOutGetNumDevs() {
    return CountDevices(false);
}

MMRESULT waveOutGetDevName(UINT uDeviceID, std::string& name) {
    return DeviceName(false, uDeviceID, name);
}

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND hWndCallback, uintptr_t,
                     uint32_t fdwOpen) {
    return OpenStream<CWaveOutStream, IWaveSink>(&SWaveState::outputs, phwo, uDeviceID, pwfx, hWndCallback,
                                                 fdwOpen);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT) {
    auto s = FindOutput(hwo);
    return s ? s->Prepare(pwh) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT) {
    auto s = FindOutput(hwo);
    return s ? s->Unprepare(pwh) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT) {
    auto s = FindOutput(hwo);
    return s ? s->Queue(pwh) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
    auto s = FindOutput(hwo);
    return s ? s->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
    return CloseStream(&SWaveState::outputs, FindOutput(hwo), reinterpret_cast<uintptr_t>(hwo));
}
