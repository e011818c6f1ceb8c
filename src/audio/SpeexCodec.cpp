#include "audio/SpeexCodec.h"

#include <speex/speex.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The codec's float work areas; one per thread so two codecs on different threads never share them.
thread_local std::vector<float> t_EncodeFloats;
thread_local std::vector<float> t_DecodeFloats;

}  // namespace

int16_t SaturateSample(float value) {
    if (!(value > -32768.0f))
        return value <= -32768.0f ? int16_t{-32768} : int16_t{0};  // NaN is silence
    if (value >= 32767.0f)
        return 32767;
    return static_cast<int16_t>(std::trunc(value));
}

CSpeexCodec::~CSpeexCodec() {
    Close(true);
    Close(false);
}

bool CSpeexCodec::IsOpen(bool bEncoder) const {
    return (bEncoder ? m_pEncoder : m_pDecoder) != nullptr;
}

bool CSpeexCodec::Close(bool bEncoder) {
    if (bEncoder && m_pEncoder != nullptr) {
        speex_encoder_destroy(m_pEncoder);
        speex_bits_destroy(&m_EncBits);
        m_pEncoder = nullptr;
    } else if (!bEncoder && m_pDecoder != nullptr) {
        speex_decoder_destroy(m_pDecoder);
        speex_bits_destroy(&m_DecBits);
        m_pDecoder = nullptr;
    }
    return true;
}

bool CSpeexCodec::OpenEncoder(int nAbrBitRate) {
    if (m_pEncoder != nullptr)
        return false;
    m_pEncoder = speex_encoder_init(&speex_nb_mode);
    if (m_pEncoder == nullptr)
        return false;
    spx_int32_t on = 1;
    float quality = 9.0f;  // recomputed by the average bit rate below
    spx_int32_t abr = nAbrBitRate;
    speex_encoder_ctl(m_pEncoder, SPEEX_SET_VBR, &on);
    speex_encoder_ctl(m_pEncoder, SPEEX_SET_VBR_QUALITY, &quality);
    speex_encoder_ctl(m_pEncoder, SPEEX_SET_VAD, &on);
    speex_encoder_ctl(m_pEncoder, SPEEX_SET_ABR, &abr);
    speex_encoder_ctl(m_pEncoder, SPEEX_SET_DTX, &on);
    speex_bits_init(&m_EncBits);
    return true;
}

bool CSpeexCodec::OpenDecoder() {
    if (m_pDecoder != nullptr)
        return false;
    m_pDecoder = speex_decoder_init(&speex_nb_mode);
    if (m_pDecoder == nullptr)
        return false;
    spx_int32_t on = 1;
    speex_decoder_ctl(m_pDecoder, SPEEX_SET_ENH, &on);
    speex_bits_init(&m_DecBits);
    return true;
}

int CSpeexCodec::Encode(const CByteBuffer& pcm, CByteBuffer& out) {
    if (m_pEncoder == nullptr)
        return -1;
    const size_t samples = pcm.Size() / 2;
    const size_t frames = (samples + kFrameSamples - 1) / kFrameSamples;
    auto& floats = t_EncodeFloats;
    floats.assign(frames * kFrameSamples, 0.0f);
    const uint8_t* p = pcm.Data();
    for (size_t i = 0; i < samples; ++i)
        floats[i] = static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    out.Reset();
    char scratch[kMaxFrameBytes];
    for (size_t f = 0; f < frames; ++f) {
        speex_bits_reset(&m_EncBits);
        speex_encode(m_pEncoder, &floats[f * kFrameSamples], &m_EncBits);
        const int length = speex_bits_write(&m_EncBits, scratch, kMaxFrameBytes);
        const auto lengthByte = static_cast<uint8_t>(length);
        out.Append(&lengthByte, 1);
        out.Append(scratch, static_cast<size_t>(length));
    }
    return static_cast<int>(out.Size());
}

int CSpeexCodec::Decode(const CByteBuffer& in, CByteBuffer& out, size_t maxBytes) {
    if (m_pDecoder == nullptr)
        return -1;
    auto& floats = t_DecodeFloats;
    floats.clear();
    floats.reserve(5 * kFrameSamples);
    const uint8_t* p = in.Data();
    const size_t size = in.Size();
    char scratch[256];
    float frame[kFrameSamples];
    size_t pos = 0;
    const size_t maxFloats = std::min(maxBytes, kMaxDecodeBytes) / 2;
    while (pos < size && floats.size() + kFrameSamples <= maxFloats) {
        const size_t length = p[pos++];  // unsigned: 0..255
        if (length > size - pos)
            break;  // runs past the payload
        std::memcpy(scratch, p + pos, length);
        pos += length;
        speex_bits_read_from(&m_DecBits, scratch, static_cast<int>(length));
        if (speex_decode(m_pDecoder, &m_DecBits, frame) < 0)
            break;
        floats.insert(floats.end(), frame, frame + kFrameSamples);
    }
    const size_t count = floats.size();
    out.Reserve(2 * count);
    out.SetSize(2 * count);
    uint8_t* o = out.Data();
    for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<uint16_t>(SaturateSample(floats[i]));
        o[2 * i] = static_cast<uint8_t>(v);
        o[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    return static_cast<int>(2 * count);
}
