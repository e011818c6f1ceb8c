#include "app/VideoReceiver.h"

#include "net/Protocol.h"
#include "video/ColourConversion.h"
#include "video/I420Format.h"
#include "video/VideoPicture.h"

CVideoReceiver::CVideoReceiver(std::function<void()> requestKeyFrame)
    : m_requestKeyFrame(std::move(requestKeyFrame)) {}

bool CVideoReceiver::IsAcceptableFormat(const SBitmapInfoHeader& header) {
    if (header.biCompression != kFourCCI420 && header.biCompression != kFourCCIYUV)
        return false;
    const int w = header.biWidth;
    const int h = header.biHeight;
    return w > 0 && h > 0 && w % 2 == 0 && h % 2 == 0 && w <= kMaxWidth && h <= kMaxHeight;
}

void CVideoReceiver::ResetCounts() {
    m_nReceived = 0;
    m_nDecoded = 0;
    m_nKeyRequests = 0;
    m_nLost = 0;
}

void CVideoReceiver::OnVideoFormat(const uint8_t* data, size_t size) {
    if (m_pWindow == nullptr)
        return;
    SBitmapInfoHeader header;
    if (!ParseVideoFormat(data, size, header) || !IsAcceptableFormat(header))
        return;
    // A second format without a stop keeps the decoder it has; the old picture must not be read at
    // the new size, so the view forgets it.
    if (!m_Decoder.IsCreated(false)) {
        const CImageFormat format = I420FormatOfSize(header.biWidth, header.biHeight);
        m_Decoder.SetInputFormat(format);
        if (!m_Decoder.Create(false))
            return;
        m_DecodeFormat.CopyFrom(format);
    }
    m_pWindow->Picture().ClearPicture();
    m_pWindow->ShowVideo(m_DecodeFormat.Width(), m_DecodeFormat.Height());
}

void CVideoReceiver::OnVideoStop() {
    if (m_pWindow != nullptr) {
        m_pWindow->HideVideo();
        m_pWindow->Picture().ClearPicture();
    }
    m_Decoder.Destroy(false);
}

void CVideoReceiver::OnVideoPicture(const uint8_t* payload, size_t size) {
    ++m_nReceived;
    if (!m_Decoder.IsCreated(false))
        return;
    SVideoFrame frame;
    if (!ParseVideo(payload, size, frame) || frame.encodedLength == 0)
        return;
    if (m_nLost < m_nToLose) {
        ++m_nLost;
        return;
    }
    const int width = m_DecodeFormat.Width();
    const int height = m_DecodeFormat.Height();
    const long pictureSize = I420PictureSize(width, height);
    m_Decoded.Resize(pictureSize);
    if (m_Decoded.Size() < pictureSize)
        return;
    const int result =
        m_Decoder.Decode(frame.encoded, frame.encodedLength, m_Decoded.Data(), pictureSize, frame.keyFrame);
    if (result <= 0) {
        ++m_nKeyRequests;
        if (m_requestKeyFrame)
            m_requestKeyFrame();
        if (m_pWindow != nullptr)
            m_pWindow->OnKeyFrameRequested();
        return;
    }
    ++m_nDecoded;
    if (m_pWindow == nullptr)
        return;
    m_pWindow->OnPictureDecoded(m_Decoded.Data(), width, height);
    if (I420ToRgb32(m_Decoded, m_DecodeFormat, m_Rgb, m_RgbFormat) > 0)
        m_pWindow->Picture().SetPicture(m_Rgb, m_RgbFormat);
}
