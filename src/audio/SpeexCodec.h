// CSpeexCodec: Speex narrowband (8000 Hz, 160-sample frames) encoding of PCM into length-prefixed frames,
// and decoding of such frames back into PCM.
#pragma once

#include <speex/speex_bits.h>

#include <cstddef>

#include "platform/ByteBuffer.h"

class CSpeexCodec {
public:
    static constexpr int kFrameSamples = 160;
    // Largest frame the encoder is allowed to write; a length byte always holds it.
    static constexpr int kMaxFrameBytes = 200;

    CSpeexCodec() = default;
    virtual ~CSpeexCodec();
    CSpeexCodec(const CSpeexCodec&) = delete;
    CSpeexCodec& operator=(const CSpeexCodec&) = delete;

    virtual bool IsOpen(bool bEncoder) const;
    virtual bool Close(bool bEncoder);

    // Variable bit rate held to an average of nAbrBitRate bit/s, with voice detection and discontinuous
    // transmission. False when an encoder is already open.
    bool OpenEncoder(int nAbrBitRate);
    // Perceptual enhancement on. False when a decoder is already open.
    bool OpenDecoder();

    // 16-bit samples to frames of [length byte][bits]; a short last frame is padded with silence.
    // Returns the bytes in `out`, -1 when no encoder is open.
    int Encode(const CByteBuffer& pcm, CByteBuffer& out);
    // Frames back to 16-bit samples, stopping at the first frame that fails or runs past the input, and
    // before the output would pass maxBytes (a one-byte frame is 320 bytes of sound). Returns the PCM
    // bytes in `out`, -1 when no decoder is open.
    int Decode(const CByteBuffer& in, CByteBuffer& out, size_t maxBytes = kMaxDecodeBytes);
    // More than an hour of sound at 8000 Hz: beyond any single message's reason.
    static constexpr size_t kMaxDecodeBytes = 64u << 20;

private:
    void* m_pEncoder = nullptr;
    void* m_pDecoder = nullptr;
    SpeexBits m_EncBits{};
    SpeexBits m_DecBits{};
};

// A decoded float sample as 16 bits: truncated toward zero, then saturated (a loud peak stays a peak).
int16_t SaturateSample(float value);
