#include "audio/WaveDevice.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "audio/WaveMessageWindow.h"
#include "platform/Trace.h"

namespace {

std::mutex g_NamesMutex;
std::vector<std::string> g_CaptureNames;
std::vector<std::string> g_PlaybackNames;
bool g_bCaptureNamesBuilt = false;
bool g_bPlaybackNamesBuilt = false;

UINT Position(const std::vector<std::string>& names, const std::string& name) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name)
            return static_cast<UINT>(i);
    }
    return 0;
}

}  // namespace

void FreeWaveHeader(WAVEHDR* pHdr) {
    if (pHdr == nullptr)
        return;
    delete[] pHdr->lpData;
    delete pHdr;
}

// ---------------------------------------------------------------------------------------------------------

CWaveDevice::CWaveDevice() {
    SetFormat(8000, 1, 16);
}

CWaveDevice::~CWaveDevice() {
    DrainHeaders();
    if (m_pNotifyWnd != nullptr)
        m_pNotifyWnd->Detach(this);
}

void CWaveDevice::SetFormat(uint32_t rate, uint16_t channels, uint16_t bits) {
    m_Format = WAVEFORMATEX{};
    m_Format.wFormatTag = WAVE_FORMAT_PCM;
    m_Format.nChannels = channels;
    m_Format.nSamplesPerSec = rate;
    m_Format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    m_Format.nAvgBytesPerSec = m_Format.nBlockAlign * rate;
    m_Format.wBitsPerSample = bits;
}

void CWaveDevice::SetNotifyWindow(CWaveMessageWindow* pWnd) {
    if (m_pNotifyWnd == pWnd)
        return;
    if (m_pNotifyWnd != nullptr)
        m_pNotifyWnd->Detach(this);
    m_pNotifyWnd = pWnd;
    if (pWnd != nullptr)
        pWnd->Attach(this);
}

void CWaveDevice::DrainHeaders() {
    while (m_Headers.size() > 0) {
        FreeWaveHeader(m_Headers.front());
        m_Headers.pop_front();
    }
}

// ---------------------------------------------------------------------------------------------------------

CWaveInDevice::CWaveInDevice() {
    const uint32_t bytes = m_Format.nAvgBytesPerSec * 100 / 1000;
    for (auto& b : m_Buffers) {
        b = WAVEHDR{};
        b.lpData = new char[bytes]();
        b.dwBufferLength = bytes;
    }
}

CWaveInDevice::~CWaveInDevice() {
    Close();
    for (auto& b : m_Buffers) {
        delete[] b.lpData;
        b.lpData = nullptr;
    }
}

bool CWaveInDevice::OnData(void*, uint32_t) {
    return false;
}

bool CWaveInDevice::OwnsBuffer(const WAVEHDR* pHdr) const {
    for (const auto& b : m_Buffers) {
        if (&b == pHdr)
            return true;
    }
    return false;
}

const std::vector<std::string>& CWaveInDevice::GetDeviceNames() {
    std::lock_guard<std::mutex> lock(g_NamesMutex);
    g_CaptureNames.clear();
    const UINT n = waveInGetNumDevs();
    for (UINT i = 0; i < n; ++i) {
        std::string name;
        if (waveInGetDevName(i, name) == MMSYSERR_NOERROR)
            g_CaptureNames.push_back(name);
    }
    g_bCaptureNamesBuilt = true;
    return g_CaptureNames;
}

UINT CWaveInDevice::FindDevice(const std::string& name) {
    if (!g_bCaptureNamesBuilt)
        GetDeviceNames();
    std::lock_guard<std::mutex> lock(g_NamesMutex);
    return Position(g_CaptureNames, name);
}

bool CWaveInDevice::Open(const char* name) {
    CLockGuard guard(m_Lock);
    if (m_hWaveIn != nullptr || name == nullptr)
        return false;
    if (m_pNotifyWnd == nullptr || m_pNotifyWnd->GetSafeHwnd() == nullptr)
        return false;
    HWAVEIN h = nullptr;
    if (waveInOpen(&h, FindDevice(name), &m_Format, m_pNotifyWnd->GetSafeHwnd(), 0, CALLBACK_WINDOW) !=
        MMSYSERR_NOERROR) {
        return false;
    }
    m_hWaveIn = h;
    SetName(name);
    m_pNotifyWnd->SetCapture(this);
    return true;
}

bool CWaveInDevice::Start() {
    if (m_hWaveIn == nullptr)
        return false;
    Reset();
    for (auto& b : m_Buffers) {
        waveInPrepareHeader(m_hWaveIn, &b, sizeof(WAVEHDR));
        waveInAddBuffer(m_hWaveIn, &b, sizeof(WAVEHDR));
    }
    return waveInStart(m_hWaveIn) == MMSYSERR_NOERROR;
}

bool CWaveInDevice::Stop() {
    return m_hWaveIn != nullptr && waveInStop(m_hWaveIn) == MMSYSERR_NOERROR;
}

bool CWaveInDevice::Reset() {
    return m_hWaveIn != nullptr && waveInReset(m_hWaveIn) == MMSYSERR_NOERROR;
}

void CWaveInDevice::Requeue(WAVEHDR* pHdr) {
    if (m_hWaveIn == nullptr)
        return;
    waveInPrepareHeader(m_hWaveIn, pHdr, sizeof(WAVEHDR));
    waveInAddBuffer(m_hWaveIn, pHdr, sizeof(WAVEHDR));
}

bool CWaveInDevice::Close() {
    CLockGuard guard(m_Lock);
    // Late buffers of this device are then only unprepared.
    if (m_pNotifyWnd != nullptr && m_pNotifyWnd->GetCapture() == this)
        m_pNotifyWnd->SetCapture(nullptr);
    int tries = 0;
    while (m_hWaveIn != nullptr) {
        Reset();
        const MMRESULT r = waveInClose(m_hWaveIn);
        if (r == MMSYSERR_NOERROR || r == MMSYSERR_INVALHANDLE || r == MMSYSERR_NODRIVER)
            break;
        if (r == WAVERR_STILLPLAYING) {
            Reset();
            Stop();
        }
        // The driver keeps refusing: give the handle up rather than hold the user-interface thread.
        if (++tries >= kMaxCloseTries) {
            Trace("%s:%d | waveInClose sigue fallando (%u)\n", "WaveDevice", __LINE__, r);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_hWaveIn = nullptr;
    return true;
}

bool CWaveInDevice::IsSilent(const void* pData, uint32_t nBytes, uint16_t* pPeakToPeak) const {
    const auto* p = static_cast<const uint8_t*>(pData);
    int32_t max = -32700;
    int32_t min = 32700;
    const uint32_t count = pData != nullptr ? nBytes / 2 : 0;
    for (uint32_t i = 0; i < count; ++i) {
        const auto s = static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
        if (s > max)
            max = s;
        if (s < min)
            min = s;
    }
    const int32_t difference = max - min;
    if (pPeakToPeak != nullptr)
        *pPeakToPeak = static_cast<uint16_t>(difference);
    // Unsigned on purpose: the empty block's negative difference is never silent.
    return m_nSilenceThreshold >= static_cast<uint32_t>(difference);
}

// ---------------------------------------------------------------------------------------------------------

CWaveOutDevice::CWaveOutDevice() = default;

CWaveOutDevice::~CWaveOutDevice() {
    Close();
    DrainHeaders();
}

const std::vector<std::string>& CWaveOutDevice::GetDeviceNames() {
    std::lock_guard<std::mutex> lock(g_NamesMutex);
    g_PlaybackNames.clear();
    const UINT n = waveOutGetNumDevs();
    for (UINT i = 0; i < n; ++i) {
        std::string name;
        if (waveOutGetDevName(i, name) == MMSYSERR_NOERROR)
            g_PlaybackNames.push_back(name);
    }
    g_bPlaybackNamesBuilt = true;
    return g_PlaybackNames;
}

UINT CWaveOutDevice::FindDevice(const std::string& name) {
    if (!g_bPlaybackNamesBuilt)
        GetDeviceNames();
    std::lock_guard<std::mutex> lock(g_NamesMutex);
    return Position(g_PlaybackNames, name);
}

bool CWaveOutDevice::Open(const char* name) {
    CLockGuard guard(m_OpenLock);
    if (m_hWaveOut != nullptr)
        return false;
    if (m_pNotifyWnd == nullptr || m_pNotifyWnd->GetSafeHwnd() == nullptr)
        return false;
    HWAVEOUT h = nullptr;
    if (waveOutOpen(&h, FindDevice(name != nullptr ? name : ""), &m_Format, m_pNotifyWnd->GetSafeHwnd(), 0,
                    CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        return false;
    }
    m_hWaveOut = h;
    if (name != nullptr)
        SetName(name);
    m_pNotifyWnd->AddPlayback(h, this);
    return true;
}

bool CWaveOutDevice::Reset() {
    return m_hWaveOut != nullptr && waveOutReset(m_hWaveOut) == MMSYSERR_NOERROR;
}

uint32_t CWaveOutDevice::Write(const void* pData, uint32_t nBytes) {
    if (m_hWaveOut == nullptr || (pData == nullptr && nBytes > 0))
        return 0;
    auto* h = new WAVEHDR{};
    h->dwBufferLength = nBytes;
    h->lpData = new char[nBytes > 0 ? nBytes : 1];
    if (nBytes > 0)
        std::memcpy(h->lpData, pData, nBytes);
    if (m_hWaveOut != nullptr && !(h->dwFlags & WHDR_PREPARED)) {
        waveOutPrepareHeader(m_hWaveOut, h, sizeof(WAVEHDR));
    }
    // Known to the window before the driver can give it back.
    if (m_pNotifyWnd != nullptr)
        m_pNotifyWnd->TrackHeader(h);
    MMRESULT r;
    {
        CLockGuard guard(*this);
        r = waveOutWrite(m_hWaveOut, h, sizeof(WAVEHDR));
    }
    if (r != MMSYSERR_NOERROR) {
        // The driver never took it: nothing will give it back.
        if (m_pNotifyWnd != nullptr)
            m_pNotifyWnd->ForgetHeader(h);
        FreeWaveHeader(h);
        return 0;
    }
    return nBytes;
}

bool CWaveOutDevice::ReleaseHeader(WAVEHDR* pHdr) {
    CLockGuard guard(*this);
    if (m_hWaveOut == nullptr || pHdr == nullptr)
        return false;
    const bool ok = waveOutUnprepareHeader(m_hWaveOut, pHdr, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    if (m_pNotifyWnd != nullptr)
        m_pNotifyWnd->ForgetHeader(pHdr);
    FreeWaveHeader(pHdr);
    return ok;
}

bool CWaveOutDevice::Close() {
    CLockGuard guard(m_OpenLock);
    if (m_hWaveOut == nullptr)
        return true;
    Reset();  // every queued block comes back as MM_WOM_DONE
    if (m_pNotifyWnd != nullptr)
        m_pNotifyWnd->RemovePlayback(m_hWaveOut);
    if (waveOutClose(m_hWaveOut) != MMSYSERR_NOERROR) {
        if (m_pNotifyWnd != nullptr)
            m_pNotifyWnd->AddPlayback(m_hWaveOut, this);
        return false;
    }
    m_hWaveOut = nullptr;
    DrainHeaders();
    return true;
}
