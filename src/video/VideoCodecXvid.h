// CVideoCodecXvid: MPEG-4 pictures through xvidcore. The encoder takes I420 pictures under single-pass
// rate control; the decoder gives I420 pictures back and takes only streams of its own picture size.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "video/VideoCodec.h"

// The library's set-up: processor detection, then initialisation with what was found. Runs once per
// process (a second run would rewrite the library's routines under a running encoder); later calls answer
// the first result. Create runs it too, so no encoder or decoder ever meets an uninitialised library.
bool InitCodecLibrary();

// The largest width or height an encoder or decoder is made for.
constexpr int kMaxCodecDimension = 2048;
// Whether pictures of width x height can have an encoder or decoder: both positive, even, at most
// kMaxCodecDimension.
bool IsCodecPictureSize(int width, int height);
// Bytes of an I420 picture of that size; 0 for a size no codec takes.
long I420PictureSize(int width, int height);
// The most bytes one encoded picture of that size can take: every coefficient of every block of every
// macroblock in the longest escape code, with motion vectors and stream headers. A noisy key frame at a
// fine quantiser exceeds the raw picture, so nothing smaller may receive the encoder's output.
long MaxEncodedPictureSize(int width, int height);

class CVideoCodecXvid : public CVideoCodec {
public:
    static constexpr int kMaxKeyInterval = 300;
    // What the library's 0.9 interface assumed for an unset frame rate.
    static constexpr int kDefaultFrameRate = 25;
    static constexpr int kMaxFrameRate = 120;

    CVideoCodecXvid() = default;
    ~CVideoCodecXvid() override;

    // Takes only I420/IYUV formats, into both the input and the output format; other formats leave both.
    // An existing encoder or decoder keeps the size it was created for.
    void SetInputFormat(const CImageFormat& format) override;
    // The pictures per second the rate control spreads its bit rate over, from the next Create(true).
    // Values outside 1..kMaxFrameRate are ignored.
    void SetFrameRate(int picturesPerSecond);

    // `picture` holds an I420 picture of the encoder's size (pictureSize at least that); `bitstream` may be
    // the same area. -1 without an encoder, for such a picture, when the library fails or when the encoded
    // picture exceeds `capacity`; the picture after a lost one is a key frame.
    int Encode(const uint8_t* picture, long pictureSize, uint8_t* bitstream, long capacity,
               bool forceKey) override;
    // The bytes taken for one picture, written as I420 of the decoder's size into `picture`. 0 when the
    // bytes held no picture (a stream header alone). -1 without a decoder, when `pictureSize` cannot hold
    // the picture, for more bytes than any picture of that size takes, when the library fails, and while
    // the stream has not announced the decoder's size: a stream of another size is shown nowhere until a
    // key frame of the right size arrives.
    int Decode(const uint8_t* bitstream, long length, uint8_t* picture, long pictureSize,
               bool keyFlag) override;

    bool IsCreated(bool encoder) const override;
    // For the input format's size; false when that one exists, for a size no codec takes, or when the
    // library or the memory fails.
    bool Create(bool encoder) override;
    bool Destroy(bool encoder) override;

protected:
    // The area the encoder writes into before a picture is copied out.
    virtual std::unique_ptr<uint8_t[]> NewEncodedArea(size_t bytes);

    // Written by the user-interface thread while the service thread may encode.
    std::atomic<void*> m_hEncoder{nullptr};
    void* m_hDecoder = nullptr;

private:
    bool CreateEncoder(int width, int height);
    bool CreateDecoder(int width, int height);
    // Puts a fresh decoder in place of one that met a stream of another size.
    void RenewDecoder();
    // Copies the bitstream into the zero-padded area the library reads from.
    const uint8_t* StageBitstream(const uint8_t* bitstream, size_t length);

    int m_nFrameRate = kDefaultFrameRate;

    // Fixed at Create(true), before the handle is published; the service thread reads them after it.
    int m_nEncodeWidth = 0;
    int m_nEncodeHeight = 0;
    std::unique_ptr<uint8_t[]> m_pEncoded;
    long m_nEncodedCapacity = 0;
    bool m_bKeyOwed = false;

    int m_nDecodeWidth = 0;
    int m_nDecodeHeight = 0;
    bool m_bDecodeSized = false;  // the stream announced the decoder's size
    std::vector<uint8_t> m_Stream;
    size_t m_nStreamPad = 0;
    size_t m_nStreamUsed = 0;  // beyond this, m_Stream holds zeros
};
