// CVideoService: sends the local camera during a call. It owns the camera, the pacing thread, the encoder
// and channel 4, and a send thread that takes one captured picture per pass, shows it in the local
// preview, encodes it and queues it with the 9-byte picture header.
//
// Everything but the send loop runs on the user-interface thread, which also answers the camera's grabs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "net/Channel.h"
#include "platform/ByteBuffer.h"
#include "platform/Messages.h"
#include "platform/Thread.h"
#include "video/DeviceVideoCapture.h"
#include "video/ImageFormat.h"
#include "video/VideoCaptureWindow.h"
#include "video/VideoCodecXvid.h"

class IVideoPicture;

// What the service needs from the session: the two control records of video, and word of a lost camera.
class IVideoServiceHost {
public:
    virtual ~IVideoServiceHost() = default;
    virtual void SendVideoFormat(const SBitmapInfoHeader& header) = 0;
    virtual void SendVideoStop() = 0;
    // The camera stopped delivering while video was sent. Video is still on: the owner stops it.
    virtual void OnCameraLost() = 0;
};

class CVideoService : public CMessageTarget {
public:
    static constexpr const char* kWindowName = "wnd.service.video";
    // Failed grabs in a row, with no picture between them, that count as a lost camera.
    static constexpr int kLostCameraErrors = 3;
    // The pause between passes of the send loop when no notification wakes it.
    static constexpr int kPassIntervalMs = 10;

    // Without `bSendThread` nothing runs by itself: no send thread and no pacing; tests grab through
    // Capture() and call SendPass().
    explicit CVideoService(IVideoServiceHost& host, bool bSendThread = true);
    ~CVideoService() override;

    CChannel& Channel() { return m_Channel; }
    // The local preview; null for none. Set while video is stopped.
    void SetPreview(IVideoPicture* pPreview) { m_pPreview = pPreview; }

    // Opens `cameraName` (empty: the first camera) at the first preset it takes, creates the encoder,
    // tells the peer the format and starts sending. False, with nothing left running, when no camera
    // or encoder starts; true also when video already runs.
    bool StartVideo(const std::string& cameraName, int frameRate);
    // Ends sending and tells the peer; nothing when video is not running. Never waits on the preview or
    // on a full channel.
    void StopVideo();
    bool IsSending() const { return m_bSending; }
    // Pictures per second of the camera and of the encoder's rate control (from its next start).
    void SetFrameRate(int n);
    // The next picture sent is a key frame; a still scene lets its next picture through for it.
    void RequestKeyFrame();
    // The oldest received channel-4 message into `out`; false when none waits or it is empty.
    bool ReceivePicture(CByteBuffer& out);

    // One pass of the send loop: takes at most one picture and consumes the notifications counted when
    // it began. False when it took none.
    bool SendPass();

    int FramesSignalled() const { return m_nFramesSignalled.load(); }
    uint32_t PicturesSent() const { return m_nPicturesSent.load(); }
    CVideoCaptureWindow& Capture() { return m_Capture; }
    // The format the encoder was given and the peer told.
    const CImageFormat& SentFormat() const { return m_EncodeFormat; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    class CSendThread : public CThread {
    public:
        explicit CSendThread(CVideoService& owner) : m_owner(owner) { SetName("CVideoService"); }
        ~CSendThread() override { Stop(); }

    protected:
        void Run() override;

    private:
        CVideoService& m_owner;
    };

    // The capture picture as I420 of the capture size; null when it cannot be made.
    const uint8_t* PictureToEncode(long& pictureSize);
    void UpdatePreview(const uint8_t* i420);
    // Queues m_Packet's first `length` bytes, waiting for room until it is taken or a stop is asked.
    bool Push(size_t length);
    bool StopAsked() const;

    IVideoServiceHost& m_Host;
    const bool m_bSendThread;
    CChannel m_Channel{kChannelVideo, true};
    CSendThread m_Thread{*this};
    CDataBuffer m_Packet;
    CDataBuffer m_Frame;
    CDataBuffer m_I420;     // the picture of an RGB camera, as I420
    CDataBuffer m_Preview;  // the preview at 32 bits
    CImageFormat m_PreviewFormat;
    IVideoPicture* m_pPreview = nullptr;
    CVideoCaptureWindow m_Capture;
    CDeviceVideoCapture m_Pacer;
    CVideoCodecXvid m_Encoder;
    CImageFormat m_EncodeFormat;
    std::atomic<bool> m_bKeyFrameRequested{false};
    std::atomic<int> m_nFramesSignalled{0};
    std::atomic<uint32_t> m_nPicturesSent{0};
    int m_nGrabErrors = 0;
    bool m_bSending = false;
    bool m_bLostReported = false;

    std::mutex m_WakeLock;
    std::condition_variable m_Wake;
};
