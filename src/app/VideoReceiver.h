// CVideoReceiver: the peer's video during a call. MSG_VIDEO_FORMAT creates the decoder and shows the
// remote video window, each channel-4 picture is decoded and handed to the window's view, MSG_VIDEO_STOP
// (or the end of the call) hides the window and destroys the decoder. A picture that cannot be decoded
// asks the peer for a key frame.
//
// Everything the peer sends is trusted only as far as it reaches: formats outside what a camera sends
// are ignored, and a picture is decoded into a buffer sized from the decoder's own format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "video/ImageFormat.h"
#include "video/VideoCodecXvid.h"

class IVideoPicture;

// The remote video window, as the receiving side drives it.
class IRemoteVideoWindow {
public:
    virtual ~IRemoteVideoWindow() = default;
    // Shows the window at zoom 2, centred, for pictures of width x height.
    virtual void ShowVideo(int width, int height) = 0;
    virtual void HideVideo() = 0;
    // The view the pictures go to.
    virtual IVideoPicture& Picture() = 0;
    // Each decoded picture as I420 before it is converted (observers; the headless client measures it).
    virtual void OnPictureDecoded(const uint8_t* /*i420*/, int /*width*/, int /*height*/) {}
    // The peer has just been asked for a key frame (observers).
    virtual void OnKeyFrameRequested() {}
};

class CVideoReceiver {
public:
    // The largest picture a peer may announce: the biggest capture size.
    static constexpr int kMaxWidth = 640;
    static constexpr int kMaxHeight = 480;

    // `requestKeyFrame` sends MSG_VIDEO_KEYFRAME to the peer.
    explicit CVideoReceiver(std::function<void()> requestKeyFrame);

    // The window, or null while there is none (then formats are ignored).
    void SetWindow(IRemoteVideoWindow* pWindow) { m_pWindow = pWindow; }

    // A whole MSG_VIDEO_FORMAT record, code byte first.
    void OnVideoFormat(const uint8_t* data, size_t size);
    void OnVideoStop();
    // One channel-4 payload.
    void OnVideoPicture(const uint8_t* payload, size_t size);

    bool IsDecoding() const { return m_Decoder.IsCreated(false); }
    // The format the decoder was created with.
    const CImageFormat& DecodeFormat() const { return m_DecodeFormat; }
    // Every picture payload that reached the receiver, decodable or not (losses included).
    uint32_t PicturesReceived() const { return m_nReceived; }
    uint32_t PicturesDecoded() const { return m_nDecoded; }
    uint32_t KeyFramesRequested() const { return m_nKeyRequests; }
    // The counts back to 0 (at the start of a call); the pictures to lose are lost again.
    void ResetCounts();
    // The first `count` pictures of each call are dropped before the decoder, as if the network had lost
    // them, so that recovery can be watched in a real call.
    void LosePictures(uint32_t count) { m_nToLose = count; }

    // Whether a peer's format is one this side takes: I420/IYUV with positive even sizes up to 640 x 480.
    static bool IsAcceptableFormat(const SBitmapInfoHeader& header);

private:
    std::function<void()> m_requestKeyFrame;
    IRemoteVideoWindow* m_pWindow = nullptr;
    CVideoCodecXvid m_Decoder;
    CImageFormat m_DecodeFormat;
    CDataBuffer m_Decoded;
    CDataBuffer m_Rgb;
    CImageFormat m_RgbFormat;
    uint32_t m_nReceived = 0;
    uint32_t m_nDecoded = 0;
    uint32_t m_nKeyRequests = 0;
    uint32_t m_nToLose = 0;
    uint32_t m_nLost = 0;
};
