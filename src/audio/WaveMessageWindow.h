// CWaveMessageWindow ("wnd.message"): the hidden window that receives the wave devices' completions on the
// thread that created it, and routes them back: filled capture buffers to the capture device (and back to
// the driver), played blocks to be freed.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "audio/WaveApi.h"
#include "platform/Messages.h"

class CWaveDevice;
class CWaveInDevice;
class CWaveOutDevice;

class CWaveMessageWindow {
public:
    static constexpr const char* kWindowName = "wnd.message";

    CWaveMessageWindow();
    // Closes the devices still attached and frees every block they had not given back.
    ~CWaveMessageWindow();
    CWaveMessageWindow(const CWaveMessageWindow&) = delete;
    CWaveMessageWindow& operator=(const CWaveMessageWindow&) = delete;

    // Makes the window on the calling thread; its completions are dispatched there. True when it exists.
    bool Create();
    HWND GetSafeHwnd() const;

    void SetCapture(CWaveInDevice* pDevice) { m_pCapture = pDevice; }
    CWaveInDevice* GetCapture() const { return m_pCapture; }
    void AddPlayback(HWAVEOUT h, CWaveOutDevice* pDevice);
    void RemovePlayback(HWAVEOUT h);
    size_t PlaybackCount() const { return m_Playback.size(); }

    // Playback blocks handed to the driver and not yet freed.
    void TrackHeader(WAVEHDR* pHdr);
    bool ForgetHeader(WAVEHDR* pHdr);
    size_t OutstandingHeaders() const;
    // Bytes of sound in those blocks: what is queued for playing.
    size_t OutstandingBytes() const;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    friend class CWaveDevice;
    void Attach(CWaveDevice* pDevice) { m_Attached.insert(pDevice); }
    void Detach(CWaveDevice* pDevice);
    LRESULT OnCaptureData(HWAVEIN h, WAVEHDR* pHdr);
    LRESULT OnPlaybackDone(HWAVEOUT h, WAVEHDR* pHdr);

    class CTarget;
    std::unique_ptr<CTarget> m_pTarget;
    CWaveInDevice* m_pCapture = nullptr;
    std::map<HWAVEOUT, CWaveOutDevice*> m_Playback;
    std::set<CWaveDevice*> m_Attached;
    mutable std::mutex m_HeadersMutex;
    std::set<WAVEHDR*> m_Outstanding;
    size_t m_nOutstandingBytes = 0;
};
