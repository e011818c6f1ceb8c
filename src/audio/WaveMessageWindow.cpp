#include "audio/WaveMessageWindow.h"

#include <vector>

#include "audio/WaveDevice.h"

class CWaveMessageWindow::CTarget : public CMessageTarget {
public:
    explicit CTarget(CWaveMessageWindow& owner) : m_owner(owner) {}
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        return m_owner.WindowProc(message, wParam, lParam);
    }

private:
    CWaveMessageWindow& m_owner;
};

CWaveMessageWindow::CWaveMessageWindow() = default;

CWaveMessageWindow::~CWaveMessageWindow() {
    // No driver may keep a block or buffer of ours once we are gone.
    const std::vector<CWaveDevice*> attached(m_Attached.begin(), m_Attached.end());
    for (CWaveDevice* d : attached) {
        d->Close();
        d->m_pNotifyWnd = nullptr;
    }
    m_Attached.clear();
    m_pTarget.reset();  // completions still queued for us are dropped
    std::lock_guard<std::mutex> lock(m_HeadersMutex);
    for (WAVEHDR* h : m_Outstanding)
        FreeWaveHeader(h);
    m_Outstanding.clear();
    m_nOutstandingBytes = 0;
}

bool CWaveMessageWindow::Create() {
    if (!m_pTarget)
        m_pTarget = std::make_unique<CTarget>(*this);
    return GetSafeHwnd() != nullptr;
}

HWND CWaveMessageWindow::GetSafeHwnd() const {
    return m_pTarget ? m_pTarget->GetSafeHwnd() : nullptr;
}

void CWaveMessageWindow::AddPlayback(HWAVEOUT h, CWaveOutDevice* pDevice) {
    m_Playback[h] = pDevice;
}

void CWaveMessageWindow::RemovePlayback(HWAVEOUT h) {
    m_Playback.erase(h);
}

void CWaveMessageWindow::TrackHeader(WAVEHDR* pHdr) {
    std::lock_guard<std::mutex> lock(m_HeadersMutex);
    if (m_Outstanding.insert(pHdr).second)
        m_nOutstandingBytes += pHdr->dwBufferLength;
}

bool CWaveMessageWindow::ForgetHeader(WAVEHDR* pHdr) {
    std::lock_guard<std::mutex> lock(m_HeadersMutex);
    if (m_Outstanding.erase(pHdr) == 0)
        return false;
    m_nOutstandingBytes -= pHdr->dwBufferLength;
    return true;
}

size_t CWaveMessageWindow::OutstandingBytes() const {
    std::lock_guard<std::mutex> lock(m_HeadersMutex);
    return m_nOutstandingBytes;
}

size_t CWaveMessageWindow::OutstandingHeaders() const {
    std::lock_guard<std::mutex> lock(m_HeadersMutex);
    return m_Outstanding.size();
}

void CWaveMessageWindow::Detach(CWaveDevice* pDevice) {
    m_Attached.erase(pDevice);
    if (m_pCapture == pDevice)
        m_pCapture = nullptr;
    std::erase_if(m_Playback, [pDevice](const auto& entry) { return entry.second == pDevice; });
}

LRESULT CWaveMessageWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case MM_WIM_DATA:
            return OnCaptureData(reinterpret_cast<HWAVEIN>(wParam), reinterpret_cast<WAVEHDR*>(lParam));
        case MM_WOM_DONE:
            return OnPlaybackDone(reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<WAVEHDR*>(lParam));
        default:
            return 0;
    }
}

LRESULT CWaveMessageWindow::OnCaptureData(HWAVEIN h, WAVEHDR* pHdr) {
    if (pHdr == nullptr)
        return 1;
    // Only buffers of a device still attached are touched: a late message may outlive its device.
    CWaveInDevice* owner = nullptr;
    for (CWaveDevice* d : m_Attached) {
        auto* in = dynamic_cast<CWaveInDevice*>(d);
        if (in != nullptr && in->OwnsBuffer(pHdr))
            owner = in;
    }
    if (owner == nullptr || pHdr->lpData == nullptr)
        return 1;
    // The completion of a handle closed since: the device (reopened or not) has set its buffers up
    // again, and this one may be queued with the new handle already.
    if (owner->GetHandle() != h)
        return 1;
    // A buffer that went back to the driver since this message was posted is not ours to touch.
    if (waveInUnprepareHeader(h, pHdr, sizeof(WAVEHDR)) == WAVERR_STILLPLAYING)
        return 1;
    if (m_pCapture == nullptr || m_pCapture != owner) {
        pHdr->dwFlags = 0;
        return 1;
    }
    if (pHdr->dwBytesRecorded != 0)
        m_pCapture->OnData(pHdr->lpData, pHdr->dwBytesRecorded);
    // OnData may have closed the device.
    if (m_pCapture == owner)
        owner->Requeue(pHdr);
    return 1;
}

LRESULT CWaveMessageWindow::OnPlaybackDone(HWAVEOUT h, WAVEHDR* pHdr) {
    // Blocks we never handed out, or already freed, are left alone.
    if (pHdr == nullptr || !ForgetHeader(pHdr))
        return 1;
    if (pHdr->lpData == nullptr) {
        delete pHdr;
        return 1;
    }
    if (pHdr->dwFlags & WHDR_DONE) {
        waveOutUnprepareHeader(h, pHdr, sizeof(WAVEHDR));
        FreeWaveHeader(pHdr);
        return 1;
    }
    TrackHeader(pHdr);  // not finished: still the driver's
    return 1;
}
