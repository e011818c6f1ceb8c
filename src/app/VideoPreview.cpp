#include "app/VideoPreview.h"

#include "platform/Trace.h"
#include "video/CaptureToRgb32.h"
#include "video/VideoPicture.h"
#include "video/VideoService.h"

CVideoPreview::CVideoPreview(IVideoPicture& view, bool bPacing) : m_View(view), m_bPacing(bPacing) {}

CVideoPreview::~CVideoPreview() {
    Stop();
}

bool CVideoPreview::Start(const std::string& camera, int frameRate) {
    if (IsRunning())
        return true;
    for (int preset : kCapturePresetOrder) {
        if (m_Capture.StartPreset(camera, &m_View, preset)) {
            m_nPreset = preset;
            break;
        }
    }
    if (!IsRunning())
        return false;
    m_nGrabErrors = 0;
    // A still scene would otherwise be compared with the last picture of an earlier run and show nothing.
    ResetCaptureReferenceFrame();
    m_Capture.m_hWndNotify = GetSafeHwnd();
    m_Pacer.SetFrameRate(frameRate);
    if (m_bPacing)
        m_Pacer.StartCapture(&m_Capture);
    return true;
}

void CVideoPreview::Stop() {
    if (!IsRunning())
        return;
    m_nPreset = -1;
    m_Pacer.Stop();
    m_Capture.m_hWndNotify = nullptr;
    m_Capture.Close();
    // Frames still in the pool belong to this run; the next one starts with an empty pool.
    CDataBuffer drop;
    m_Capture.TakeNewestFrame(drop);
    m_View.ClearPicture();
}

LRESULT CVideoPreview::WindowProc(UINT message, WPARAM, LPARAM) {
    // Notifications posted before a stop arrive after it: they find nothing running.
    if (!IsRunning())
        return 0;
    if (message == WM_DEVICE_VIDEO_FRAME) {
        m_nGrabErrors = 0;
        ShowNewestFrame();
    } else if (message == WM_DEVICE_VIDEO_ERROR) {
        // One failed grab may be a hiccup; several in a row, as for a call, mean the camera has gone.
        if (++m_nGrabErrors >= CVideoService::kLostCameraErrors) {
            Trace("%s:%d | ERROR | la cámara de la vista previa dejó de entregar imágenes\n", "VideoPreview",
                  __LINE__);
            Stop();
            if (m_lostHandler)
                m_lostHandler();
        }
    }
    return 0;
}

void CVideoPreview::ShowNewestFrame() {
    // Only the newest frame is worth drawing; older ones would make the preview lag the camera.
    if (!m_Capture.TakeNewestFrame(m_Frame))
        return;
    if (CaptureToRgb32(m_Frame, m_Capture.m_Format, m_Picture, m_PictureFormat) > 0)
        m_View.SetPicture(m_Picture, m_PictureFormat);
}
