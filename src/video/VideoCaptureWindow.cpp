#include "video/VideoCaptureWindow.h"

#include <cstring>
#include <mutex>

#include "platform/Trace.h"
#include "video/CaptureDrivers.h"
#include "video/FrameChange.h"

const UINT WM_DEVICE_VIDEO_FRAME = RegisterWindowMessage("WM_DEVICE_VIDEO_FRAME");
const UINT WM_DEVICE_VIDEO_ERROR = RegisterWindowMessage("WM_DEVICE_VIDEO_ERROR");

namespace {

// Drivers are connected by an index the capture messages carry in a byte-sized range.
constexpr int kMaxDriverIndex = 127;

// The last frame passed on, kept as its block means (all that comparing needs) and the size they were
// taken at.
struct SReference {
    bool present = false;
    int width = 0, height = 0;
    std::vector<SBlockMeans> means;
};
std::mutex g_referenceLock;
SReference g_Reference;

}  // namespace

void ResetCaptureReferenceFrame() {
    std::lock_guard<std::mutex> guard(g_referenceLock);
    g_Reference.present = false;
}

// The invisible capture window: it lives on the thread that started capture, so grabs sent to it run the
// frame callback there.
class CVideoCaptureWindow::CCaptureTarget : public CMessageTarget {
public:
    explicit CCaptureTarget(CVideoCaptureWindow& owner) : m_owner(owner) {}
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
        if (message == WM_CAP_GRAB_FRAME_NOSTOP) {
            m_owner.OnGrab();
            return 1;
        }
        return 0;
    }

private:
    CVideoCaptureWindow& m_owner;
};

CVideoCaptureWindow::CVideoCaptureWindow() {
    for (int i = 0; i < kFrameCount; ++i)
        m_FreeFrames.push_back(new CDataBuffer);
}

CVideoCaptureWindow::~CVideoCaptureWindow() {
    Close();
    CLockGuard guard(m_FramesLock);
    for (CDataBuffer* b : m_FreeFrames)
        delete b;
    for (CDataBuffer* b : m_FullFrames)
        delete b;
    m_FreeFrames.clear();
    m_FullFrames.clear();
}

bool CVideoCaptureWindow::StartPreset(const std::string& name, void* pParent, int preset) {
    if (preset < 0 || preset >= kCapturePresetCount)
        return false;
    const SCapturePreset& p = kCapturePresets[preset];
    return Start(name, pParent, p.fourccIndex, p.sizeIndex, p.bitsIndex);
}

bool CVideoCaptureWindow::StartKeyed(const std::string& name, void* pParent, int key) {
    const auto it = m_KeyedPresets.find(key);
    if (it == m_KeyedPresets.end())
        return false;
    return Start(name, pParent, it->second.fourccIndex, it->second.sizeIndex, it->second.bitsIndex);
}

bool CVideoCaptureWindow::Start(const std::string& name, void* pParent, int fourccIndex, int sizeIndex,
                                int bitsIndex) {
    if (m_pWindow)
        return false;
    m_pParent = pParent;
    m_pWindow = std::make_unique<CCaptureTarget>(*this);

    int index = FindDriver(name);
    if (index < 0 || index > kMaxDriverIndex)
        index = 0;
    m_pDriver = ConnectCaptureDriver(index);
    if (!m_pDriver) {
        DestroyWindow();
        return false;
    }
    m_hWnd = m_pWindow->GetSafeHwnd();
    if (!SetCaptureFormat(fourccIndex, sizeIndex, bitsIndex)) {
        Close();
        return false;
    }
    SCaptureFormat inEffect;
    if (!m_pDriver->GetFormat(inEffect)) {
        Close();
        return false;
    }
    m_Format.m_Header = inEffect;
    SetName(name);
    return true;
}

bool CVideoCaptureWindow::SetCaptureFormat(int fourccIndex, int sizeIndex, int bitsIndex) {
    if (fourccIndex < 0 || fourccIndex >= kCaptureFourCCCount || sizeIndex < 0 ||
        sizeIndex >= kCaptureSizeCount || bitsIndex < 0 || bitsIndex >= kCaptureBitsCount)
        return false;
    SCaptureFormat format;
    if (!m_pDriver->GetFormat(format))
        return false;
    SBitmapInfoHeader& h = format.header;
    h.biSizeImage = 0;
    h.biCompression = kCaptureFourCCs[fourccIndex];
    h.biBitCount = static_cast<uint16_t>(kCaptureBits[bitsIndex]);
    h.biWidth = kCaptureSizes[sizeIndex].width;
    h.biHeight = kCaptureSizes[sizeIndex].height;
    // The size a bitmap of this header takes (rows padded to 4 bytes); a compressed format's size is the
    // driver's to give.
    if (h.biCompression == 0 && h.biWidth > 0 && h.biHeight > 0)
        h.biSizeImage = static_cast<uint32_t>(((h.biWidth * h.biBitCount + 31) / 32) * 4 * h.biHeight);
    return m_pDriver->SetFormat(format);
}

void CVideoCaptureWindow::DestroyWindow() {
    m_hWnd = nullptr;
    m_pDriver.reset();
    m_pWindow.reset();
}

bool CVideoCaptureWindow::Close() {
    if (!m_pWindow)
        return false;
    DestroyWindow();
    return true;
}

size_t CVideoCaptureWindow::FramePictureSize() const {
    const SBitmapInfoHeader& h = m_Format.m_Header.header;
    if (h.biSizeImage != 0)
        return h.biSizeImage;
    const long w = h.biWidth, height = h.biHeight < 0 ? -long(h.biHeight) : h.biHeight;
    return w > 0 ? size_t(w) * size_t(height) * h.biBitCount / 8 : 0;
}

void CVideoCaptureWindow::OnGrab() {
    if (m_pDriver && !m_pDriver->Grab(*this)) {
        Trace("%s:%d | ERROR | el capturador no entrega imagen\n", "VideoCaptureWindow", __LINE__);
        if (m_hWndNotify)
            PostMessage(m_hWndNotify, WM_DEVICE_VIDEO_ERROR, 0, 0);
    }
}

void CVideoCaptureWindow::OnCaptureFrame(const uint8_t* data, size_t size) {
    if (!m_hWndNotify)
        return;
    const int width = m_Format.Width();
    const int height = m_Format.Height() < 0 ? -m_Format.Height() : m_Format.Height();
    const size_t lumaBytes = width > 0 ? size_t(width) * size_t(height) : 0;
    // A short frame would have change detection and the consumer read past its end.
    const bool whole = data && size >= FramePictureSize() && size >= lumaBytes && size > 0;

    CDataBuffer* pBuffer = nullptr;
    if (whole) {
        CLockGuard guard(m_FramesLock);
        if (!m_FreeFrames.empty()) {
            // The buffer stays first in the free queue until the frame is passed on; only this thread
            // takes from that end.
            pBuffer = m_FreeFrames.front();
            pBuffer->Resize(static_cast<long>(size));
            if (pBuffer->Size() == static_cast<long>(size))
                std::memcpy(pBuffer->Data(), data, size);
            else
                pBuffer = nullptr;  // no memory for it: dropped
        }
    }
    if (pBuffer) {
        // Kept between frames: this runs for every grab.
        thread_local std::vector<SBlockMeans> means;
        const bool reduced =
            ComputeBlockMeans(pBuffer->Data(), width, height, 1, kChangeColumns, kChangeRows, means);
        std::lock_guard<std::mutex> guard(g_referenceLock);
        // A reference taken at another size is not comparable; neither is a picture too small for blocks.
        const bool comparable =
            reduced && g_Reference.present && g_Reference.width == width && g_Reference.height == height;
        if (comparable &&
            !BlockMeansDiffer(g_Reference.means, means, 1, kChangeThreshold, kChangeBlocksNeeded))
            return;
        g_Reference.present = reduced;
        g_Reference.width = width;
        g_Reference.height = height;
        g_Reference.means.swap(means);
    }
    if (pBuffer) {
        CLockGuard guard(m_FramesLock);
        m_FreeFrames.pop_front();
        m_FullFrames.push_back(pBuffer);
    }
    bool waiting;
    {
        CLockGuard guard(m_FramesLock);
        waiting = !m_FullFrames.empty();
    }
    if (waiting)
        PostMessage(m_hWndNotify, WM_DEVICE_VIDEO_FRAME, 0, 0);
}

bool CVideoCaptureWindow::TakeFrame(CDataBuffer& buffer) {
    CLockGuard guard(m_FramesLock);
    if (m_FullFrames.empty())
        return false;
    CDataBuffer* pFrame = m_FullFrames.front();
    m_FullFrames.pop_front();
    // The caller's storage goes back to the pool in exchange: the frame itself is not copied.
    buffer.Swap(*pFrame);
    m_FreeFrames.push_back(pFrame);
    return true;
}

bool CVideoCaptureWindow::TakeNewestFrame(CDataBuffer& buffer) {
    CLockGuard guard(m_FramesLock);
    if (m_FullFrames.empty())
        return false;
    while (m_FullFrames.size() > 1) {
        m_FreeFrames.push_back(m_FullFrames.front());
        m_FullFrames.pop_front();
    }
    CDataBuffer* pFrame = m_FullFrames.front();
    m_FullFrames.pop_front();
    buffer.Swap(*pFrame);
    m_FreeFrames.push_back(pFrame);
    return true;
}

int CVideoCaptureWindow::FullFrameCount() {
    CLockGuard guard(m_FramesLock);
    return static_cast<int>(m_FullFrames.size());
}
