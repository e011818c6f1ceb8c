// The receiving side of video: which formats open the decoder, how far a picture's header is trusted, a
// second format, a stop, and a receiver that lost its first pictures (or was told to lose them).
#include <gtest/gtest.h>

#include <vector>

#include "app/VideoReceiver.h"
#include "net/Protocol.h"
#include "video/I420Format.h"
#include "video/TestPatternCamera.h"
#include "video/VideoPicture.h"

namespace {

constexpr int kW = 320, kH = 240;

struct SWindow : IRemoteVideoWindow, IVideoPicture {
    void ShowVideo(int w, int h) override {
        shown = true;
        width = w;
        height = h;
    }
    void HideVideo() override { shown = false; }
    IVideoPicture& Picture() override { return *this; }
    void OnPictureDecoded(const uint8_t* i420, int w, int h) override {
        lastNumber = ReadTestPatternNumber(i420, w, h);
    }
    void SetPicture(const CDataBuffer& rgb32, const CImageFormat& f) override {
        bytes = rgb32.Size();
        EXPECT_GE(bytes, long(f.Width()) * f.Height() * 4);
    }
    void ClearPicture() override { bytes = 0; }
    bool shown = false;
    int width = 0, height = 0;
    long bytes = 0;
    long lastNumber = -1;
};

Bytes FormatRecord(uint32_t fourcc, int32_t w, int32_t h) {
    SBitmapInfoHeader header = I420FormatOfSize(kW, kH).m_Header.header;
    header.biCompression = fourcc;
    header.biWidth = w;
    header.biHeight = h;
    return BuildVideoFormat(header);
}

// Encoded pictures of the test pattern, numbered from 0; `keys` forces key frames at those numbers.
class CSender {
public:
    CSender() {
        m_Encoder.SetInputFormat(I420FormatOfSize(kW, kH));
        EXPECT_TRUE(m_Encoder.Create(true));
    }
    Bytes Next(bool key = false) {
        std::vector<uint8_t> picture(size_t(I420PictureSize(kW, kH)));
        std::vector<uint8_t> out(size_t(MaxEncodedPictureSize(kW, kH)));
        RenderTestPattern(I420FormatOfSize(kW, kH).m_Header.header, m_nNumber++, picture.data());
        const int n =
            m_Encoder.Encode(picture.data(), long(picture.size()), out.data(), long(out.size()), key);
        EXPECT_GT(n, 0);
        return BuildVideo(out.data(), uint32_t(n), uint32_t(picture.size()), key);
    }

private:
    CVideoCodecXvid m_Encoder;
    uint32_t m_nNumber = 0;
};

class VideoReceiver : public ::testing::Test {
protected:
    VideoReceiver() { m_receiver.SetWindow(&m_window); }
    void Format(uint32_t fourcc, int32_t w, int32_t h) {
        const Bytes r = FormatRecord(fourcc, w, h);
        m_receiver.OnVideoFormat(r.data(), r.size());
    }
    void Picture(const Bytes& p) { m_receiver.OnVideoPicture(p.data(), p.size()); }

    int m_nRequests = 0;
    SWindow m_window;
    CVideoReceiver m_receiver{[this] { ++m_nRequests; }};
};

TEST_F(VideoReceiver, OnlyI420FormatsOfEvenSizesUpTo640x480OpenTheDecoder) {
    const struct {
        uint32_t fourcc;
        int32_t w, h;
    } refused[] = {{0, kW, kH},
                   {MakeFourCC('Y', 'V', '1', '2'), kW, kH},
                   {kFourCCI420, 0, kH},
                   {kFourCCI420, kW, -kH},
                   {kFourCCI420, 321, kH},
                   {kFourCCI420, kW, 241},
                   {kFourCCI420, 642, kH},
                   {kFourCCI420, kW, 482},
                   {kFourCCI420, 1 << 30, 1 << 30}};
    for (const auto& f : refused) {
        Format(f.fourcc, f.w, f.h);
        EXPECT_FALSE(m_receiver.IsDecoding()) << f.w << "x" << f.h;
        EXPECT_FALSE(m_window.shown);
    }
    const Bytes shortRecord = FormatRecord(kFourCCI420, kW, kH);
    m_receiver.OnVideoFormat(shortRecord.data(), shortRecord.size() - 1);
    EXPECT_FALSE(m_receiver.IsDecoding());

    Format(kFourCCIYUV, 640, 480);
    EXPECT_TRUE(m_receiver.IsDecoding());
    EXPECT_TRUE(m_window.shown);
    EXPECT_EQ(m_window.width, 640);
}

TEST_F(VideoReceiver, APictureIsTrustedOnlyAsFarAsItsPayloadAndTheDecodersOwnSize) {
    CSender sender;
    const Bytes key = sender.Next(true);
    Picture(key);  // no decoder yet: nothing happens
    EXPECT_EQ(m_nRequests, 0);
    Format(kFourCCI420, kW, kH);

    // An encoded length past the message's end, and a message shorter than its header.
    Bytes longer = key;
    longer[0] = uint8_t(longer[0] + 1);
    Picture(longer);
    m_receiver.OnVideoPicture(key.data(), kVideoHeaderSize - 1);
    EXPECT_EQ(m_receiver.PicturesDecoded(), 0u);
    EXPECT_EQ(m_nRequests, 0);

    // A hostile picture size is ignored: the buffer comes from the decoder's format.
    Bytes huge = key;
    huge[4] = huge[5] = huge[6] = huge[7] = 0xFF;
    Picture(huge);
    EXPECT_EQ(m_receiver.PicturesDecoded(), 1u);
    EXPECT_EQ(m_window.bytes, long(kW) * kH * 4);
    EXPECT_EQ(m_window.lastNumber, 0);
}

TEST_F(VideoReceiver, ASecondFormatKeepsTheDecoderAndClearsThePictureAndAStopEndsIt) {
    CSender sender;
    Format(kFourCCI420, kW, kH);
    Picture(sender.Next(true));
    ASSERT_GT(m_window.bytes, 0);

    Format(kFourCCI420, 640, 480);
    EXPECT_EQ(m_window.bytes, 0);
    EXPECT_EQ(m_receiver.DecodeFormat().Width(), kW);
    EXPECT_EQ(m_window.width, kW);
    Picture(sender.Next());
    EXPECT_EQ(m_receiver.PicturesDecoded(), 2u);
    EXPECT_EQ(m_window.lastNumber, 1);

    m_receiver.OnVideoStop();
    EXPECT_FALSE(m_window.shown);
    EXPECT_FALSE(m_receiver.IsDecoding());
    EXPECT_EQ(m_window.bytes, 0);
    Picture(sender.Next());
    EXPECT_EQ(m_receiver.PicturesDecoded(), 2u);
}

TEST_F(VideoReceiver, AReceiverThatLostItsFirstPicturesAsksForAKeyFrameAndRecovers) {
    CSender sender;
    sender.Next(true);  // lost on the way
    sender.Next();
    Format(kFourCCI420, kW, kH);
    Picture(sender.Next());
    EXPECT_EQ(m_nRequests, 1);
    EXPECT_EQ(m_receiver.PicturesDecoded(), 0u);
    EXPECT_EQ(m_window.bytes, 0);

    Picture(sender.Next(true));  // the peer answers the request
    EXPECT_EQ(m_nRequests, 1);
    EXPECT_EQ(m_receiver.PicturesDecoded(), 1u);
    EXPECT_EQ(m_window.lastNumber, 3);
    Picture(sender.Next());
    EXPECT_EQ(m_window.lastNumber, 4);
}

TEST_F(VideoReceiver, PicturesToLoseAreLostAtTheStartOfEachCall) {
    m_receiver.LosePictures(2);
    for (int call = 0; call < 2; ++call) {
        m_receiver.ResetCounts();
        Format(kFourCCI420, kW, kH);
        CSender sender;
        Picture(sender.Next(true));
        Picture(sender.Next());
        EXPECT_EQ(m_nRequests, call);
        Picture(sender.Next());
        EXPECT_EQ(m_nRequests, call + 1);
        Picture(sender.Next(true));
        EXPECT_EQ(m_receiver.PicturesDecoded(), 1u);
        // Received counts every picture that came, the lost and the undecodable too, per call.
        EXPECT_EQ(m_receiver.PicturesReceived(), 4u);
        EXPECT_EQ(m_window.lastNumber, 3);
        m_receiver.OnVideoStop();
    }
}

}  // namespace
