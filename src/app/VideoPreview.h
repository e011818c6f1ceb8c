// CVideoPreview: the settings page's test picture of a camera, without the window. It opens the camera at
// the first preset it takes (I420, IYUV, then 24-bit RGB), paces the grabs, and shows each captured frame
// in a view at 32 bits; a camera that stops delivering ends the preview and tells the owner.
//
// Lives on the user-interface thread, which also answers the camera's grabs.
#pragma once

#include <functional>
#include <string>

#include "platform/Messages.h"
#include "video/DeviceVideoCapture.h"
#include "video/ImageFormat.h"
#include "video/VideoCaptureWindow.h"

class IVideoPicture;

class CVideoPreview : public CMessageTarget {
public:
    // Without `bPacing` nothing grabs by itself: tests send the grabs.
    explicit CVideoPreview(IVideoPicture& view, bool bPacing = true);
    ~CVideoPreview() override;

    // Opens `camera` (an unknown or empty name: the first camera) and starts pacing at `frameRate`.
    // False, with nothing left open, when no preset starts; true also when the preview already runs.
    bool Start(const std::string& camera, int frameRate);
    // Pacing stops, the camera closes and the view goes back to its placeholder.
    void Stop();
    bool IsRunning() const { return m_nPreset >= 0; }
    // The preset the camera took, -1 while stopped.
    int Preset() const { return m_nPreset; }

    // Rates from 1 to 30; takes effect at the next grab.
    void SetFrameRate(int n) { m_Pacer.SetFrameRate(n); }
    int GetFrameRate() const { return m_Pacer.GetFrameRate(); }
    // Called after a lost camera has stopped the preview.
    void SetLostHandler(std::function<void()> handler) { m_lostHandler = std::move(handler); }

    CVideoCaptureWindow& Capture() { return m_Capture; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void ShowNewestFrame();

    IVideoPicture& m_View;
    const bool m_bPacing;
    CVideoCaptureWindow m_Capture;
    CDeviceVideoCapture m_Pacer;
    CDataBuffer m_Frame;
    CDataBuffer m_Picture;
    CImageFormat m_PictureFormat;
    std::function<void()> m_lostHandler;
    int m_nPreset = -1;
    int m_nGrabErrors = 0;
};
