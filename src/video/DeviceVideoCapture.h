// CDeviceVideoCapture: the pacing thread of capture. It asks the capture window for one frame every
// 1000 / rate milliseconds; the grab runs on the window's thread while the pacer waits for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/Thread.h"

class CVideoCaptureWindow;

class CDeviceVideoCapture : public CThread {
public:
    static constexpr int kDefaultFrameRate = 15;

    CDeviceVideoCapture();
    ~CDeviceVideoCapture() override;

    // Rates from 1 to 30 per second; anything else leaves the rate as it is. Takes effect at the next grab.
    void SetFrameRate(int n);
    int GetFrameRate() const { return m_nFrameRate.load(); }
    int GetInterval() const { return m_nInterval.load(); }

    bool StartCapture(CVideoCaptureWindow* pCaptureWindow);
    // Ends pacing. The calling thread keeps answering sent messages meanwhile, so a pacer waiting for a
    // grab on this thread gets its answer and ends by itself.
    bool Stop() override;

protected:
    void Run() override;

private:
    std::atomic<CVideoCaptureWindow*> m_pCaptureWindow{nullptr};
    std::atomic<int> m_nFrameRate{kDefaultFrameRate};
    std::atomic<int> m_nInterval{1000 / kDefaultFrameRate};
    std::mutex m_WakeLock;
    std::condition_variable m_Wake;
    bool m_bQuit = false;  // guarded by m_WakeLock
};
