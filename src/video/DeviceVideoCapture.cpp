#include "video/DeviceVideoCapture.h"

#include <chrono>
#include <thread>

#include "platform/Messages.h"
#include "video/VideoCaptureWindow.h"

namespace {

// How long a stop answers grabs before leaving the rest to the thread base's forced end.
constexpr auto kOrderlyStop = std::chrono::seconds(2);

}  // namespace

CDeviceVideoCapture::CDeviceVideoCapture() {
    SetName("CDeviceVideoCapture");
}

CDeviceVideoCapture::~CDeviceVideoCapture() {
    Stop();
}

void CDeviceVideoCapture::SetFrameRate(int n) {
    if (n < 1 || n > 30)
        return;
    m_nFrameRate = n;
    m_nInterval = 1000 / n;
}

bool CDeviceVideoCapture::StartCapture(CVideoCaptureWindow* pCaptureWindow) {
    m_pCaptureWindow = pCaptureWindow;
    {
        std::lock_guard<std::mutex> guard(m_WakeLock);
        m_bQuit = false;
    }
    return Start(0);
}

bool CDeviceVideoCapture::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_WakeLock);
        m_bQuit = true;
    }
    m_Wake.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + kOrderlyStop;
    while (IsRunning() && std::chrono::steady_clock::now() < deadline) {
        if (DispatchSentMessages() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return CThread::Stop();
}

void CDeviceVideoCapture::Run() {
    m_nInterval = 1000 / m_nFrameRate;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_WakeLock);
            if (m_bQuit || IsStopRequested())
                return;
        }
        CVideoCaptureWindow* pWindow = m_pCaptureWindow.load();
        const HWND hWnd = pWindow ? pWindow->GetSafeHwnd() : nullptr;
        if (hWnd && IsWindow(hWnd))
            SendMessage(hWnd, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
        std::unique_lock<std::mutex> lock(m_WakeLock);
        m_Wake.wait_for(lock, std::chrono::milliseconds(m_nInterval.load()),
                        [this] { return m_bQuit || IsStopRequested(); });
    }
}
