#include "video/VideoService.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/Trace.h"
#include "video/ColourConversion.h"
#include "video/I420Format.h"
#include "video/VideoPicture.h"

namespace {

// A full channel is retried in slices this long, so a stop is seen within one of them.
constexpr int kPushSliceMs = 5;

}  // namespace

CVideoService::CVideoService(IVideoServiceHost& host, bool bSendThread)
    : m_Host(host), m_bSendThread(bSendThread) {}

CVideoService::~CVideoService() {
    StopVideo();
    m_Thread.Stop();
}

LRESULT CVideoService::WindowProc(UINT message, WPARAM, LPARAM) {
    if (message == WM_DEVICE_VIDEO_FRAME) {
        m_nGrabErrors = 0;
        m_nFramesSignalled.fetch_add(1);
        { std::lock_guard<std::mutex> guard(m_WakeLock); }
        m_Wake.notify_one();
        return 0;
    }
    if (message == WM_DEVICE_VIDEO_ERROR) {
        // One failed grab may be a hiccup; several in a row mean the camera has gone.
        if (m_bSending && !m_bLostReported && ++m_nGrabErrors >= kLostCameraErrors) {
            m_bLostReported = true;
            Trace("%s:%d | ERROR | la cámara dejó de entregar imágenes\n", "VideoService", __LINE__);
            m_Host.OnCameraLost();
        }
        return 0;
    }
    return 0;
}

bool CVideoService::StartVideo(const std::string& cameraName, int frameRate) {
    if (m_bSending)
        return true;
    bool opened = false;
    for (int preset : kCapturePresetOrder) {
        if (m_Capture.StartPreset(cameraName, m_pPreview, preset)) {
            opened = true;
            break;
        }
    }
    if (!opened)
        return false;

    m_EncodeFormat = I420FormatOfSize(m_Capture.m_Format.Width(), std::abs(m_Capture.m_Format.Height()));
    m_Encoder.SetFrameRate(frameRate);
    m_Encoder.SetInputFormat(m_EncodeFormat);
    if (!m_Encoder.Create(true)) {
        m_Capture.Close();
        return false;
    }
    // Room for the header and the largest picture the encoder can make, so no picture is ever cut.
    m_Packet.Resize(static_cast<long>(kVideoHeaderSize) +
                    MaxEncodedPictureSize(m_EncodeFormat.Width(), m_EncodeFormat.Height()));

    m_nFramesSignalled = 0;
    m_nGrabErrors = 0;
    m_bLostReported = false;
    m_bKeyFrameRequested = true;
    // A still camera compares with the last picture of an earlier run and would send nothing.
    ResetCaptureReferenceFrame();
    m_Capture.m_hWndNotify = GetSafeHwnd();
    m_bSending = true;
    if (m_bSendThread) {
        m_Thread.Start();
        m_Pacer.SetFrameRate(frameRate);
        m_Pacer.StartCapture(&m_Capture);
    }
    m_Host.SendVideoFormat(m_EncodeFormat.m_Header.header);
    return true;
}

void CVideoService::StopVideo() {
    if (!m_bSending)
        return;
    m_bSending = false;
    { std::lock_guard<std::mutex> guard(m_WakeLock); }
    m_Wake.notify_one();
    m_Thread.Stop();
    m_Pacer.Stop();
    m_Capture.m_hWndNotify = nullptr;
    m_Capture.Close();
    m_Host.SendVideoStop();
    m_Encoder.Destroy(true);
    if (m_pPreview != nullptr)
        m_pPreview->ClearPicture();
    // Grabs that were pending are empty now; anything still in the pool belongs to this run.
    CDataBuffer drop;
    m_Capture.TakeNewestFrame(drop);
}

void CVideoService::SetFrameRate(int n) {
    m_Pacer.SetFrameRate(n);
    m_Encoder.SetFrameRate(n);
}

void CVideoService::RequestKeyFrame() {
    m_bKeyFrameRequested = true;
    ResetCaptureReferenceFrame();
}

bool CVideoService::ReceivePicture(CByteBuffer& out) {
    uint32_t tag = 0;
    if (!m_Channel.PopReceived(tag, out))
        return false;
    return out.Size() > 0;
}

bool CVideoService::StopAsked() const {
    return m_bSendThread && m_Thread.IsStopRequested();
}

void CVideoService::CSendThread::Run() {
    while (!IsStopRequested()) {
        if (!m_owner.SendPass()) {
            std::unique_lock<std::mutex> lock(m_owner.m_WakeLock);
            m_owner.m_Wake.wait_for(lock, std::chrono::milliseconds(kPassIntervalMs), [this] {
                return IsStopRequested() || m_owner.m_nFramesSignalled.load() > 0;
            });
        }
    }
}

bool CVideoService::SendPass() {
    const int n = m_nFramesSignalled.load();
    if (n <= 0)
        return false;
    // One picture a pass, the newest: older frames left waiting would pile up and the picture would fall
    // further and further behind the sound. An empty pool leaves in m_Frame what the last pass put there:
    // nothing to send.
    const bool taken = m_Capture.TakeNewestFrame(m_Frame);
    m_nFramesSignalled.fetch_sub(n);
    if (!taken)
        return false;

    long pictureSize = 0;
    const uint8_t* picture = PictureToEncode(pictureSize);
    if (picture == nullptr)
        return false;
    UpdatePreview(picture);

    const bool key = m_bKeyFrameRequested.exchange(false);
    uint8_t* out = m_Packet.Data() + kVideoHeaderSize;
    const long capacity = m_Packet.Size() - static_cast<long>(kVideoHeaderSize);
    const int len = m_Encoder.Encode(picture, pictureSize, out, capacity, key);
    bool sent = false;
    if (len > 0) {
        WriteVideoHeader(m_Packet.Data(), static_cast<uint32_t>(len),
                         m_EncodeFormat.m_Header.header.biSizeImage, key);
        sent = Push(kVideoHeaderSize + static_cast<size_t>(len));
    }
    if (sent)
        m_nPicturesSent.fetch_add(1);
    else if (key)
        m_bKeyFrameRequested = true;  // the peer still waits for its key frame
    return true;
}

const uint8_t* CVideoService::PictureToEncode(long& pictureSize) {
    const int width = m_EncodeFormat.Width();
    const int height = m_EncodeFormat.Height();
    const long i420Size = I420PictureSize(width, height);
    if (m_Capture.m_Format.IsI420()) {
        pictureSize = m_Frame.Size();
        return pictureSize >= i420Size ? m_Frame.Data() : nullptr;
    }
    const int space = ColourSpaceOf(m_Capture.m_Format);
    const long rgbSize = static_cast<long>(width) * height * (space == kColourSpaceRgb32 ? 4 : 3);
    if (m_Frame.Size() < rgbSize)
        return nullptr;
    m_I420.Resize(i420Size);
    if (m_I420.Size() < i420Size ||
        RgbToI420(m_Frame.Data(), m_I420.Data(), space, width, height) != kRgbToI420Done)
        return nullptr;
    pictureSize = m_I420.Size();
    return m_I420.Data();
}

void CVideoService::UpdatePreview(const uint8_t* i420) {
    if (m_pPreview == nullptr)
        return;
    // The conversion reads a buffer: for an I420 camera that is the frame itself.
    const CDataBuffer* pSource = &m_Frame;
    if (i420 == m_I420.Data())
        pSource = &m_I420;
    if (I420ToRgb32(*pSource, m_EncodeFormat, m_Preview, m_PreviewFormat) > 0)
        m_pPreview->SetPicture(m_Preview, m_PreviewFormat);
}

bool CVideoService::Push(size_t length) {
    while (!m_Channel.PushSendWait(kTagVideo, m_Packet.Data(), length, kPushSliceMs)) {
        if (StopAsked() || !m_bSendThread)
            return false;
    }
    return true;
}
