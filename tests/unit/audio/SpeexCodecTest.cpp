// The Speex wrapper: frame layout of encoded buffers, decoding that stays inside its input, and samples
// that saturate instead of wrapping.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio/SpeexCodec.h"

namespace {

CByteBuffer Pcm(const std::vector<int16_t>& samples) {
    CByteBuffer b;
    b.SetSize(0);
    for (int16_t s : samples) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(s),
                                  static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8)};
        b.Append(bytes, 2);
    }
    return b;
}

std::vector<int16_t> Samples(const CByteBuffer& b) {
    std::vector<int16_t> s(b.Size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(b.Data()[2 * i] | (b.Data()[2 * i + 1] << 8));
    return s;
}

std::vector<int16_t> Tone(size_t count, double hz, double amplitude, size_t offset = 0) {
    std::vector<int16_t> s(count);
    for (size_t i = 0; i < count; ++i) {
        s[i] =
            static_cast<int16_t>(amplitude * std::sin(2 * std::numbers::pi * hz * double(i + offset) / 8000));
    }
    return s;
}

// Walks [L][L bytes]... and returns the lengths; fails the test when the layout is broken.
std::vector<int> FrameLengths(const CByteBuffer& encoded) {
    std::vector<int> lengths;
    size_t pos = 0;
    while (pos < encoded.Size()) {
        const int l = encoded.Data()[pos];
        lengths.push_back(l);
        pos += 1 + static_cast<size_t>(l);
    }
    EXPECT_EQ(pos, encoded.Size());
    return lengths;
}

class SpeexCodec : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_Codec.OpenEncoder(9000));
        ASSERT_TRUE(m_Codec.OpenDecoder());
    }
    CSpeexCodec m_Codec;
};

TEST_F(SpeexCodec, OpensOnceAndClosesEachSide) {
    EXPECT_FALSE(m_Codec.OpenEncoder(9000));
    EXPECT_FALSE(m_Codec.OpenDecoder());
    EXPECT_TRUE(m_Codec.Close(true));
    EXPECT_FALSE(m_Codec.IsOpen(true));
    EXPECT_TRUE(m_Codec.IsOpen(false));
    CByteBuffer out;
    EXPECT_EQ(m_Codec.Encode(Pcm(Tone(800, 440, 8000)), out), -1);
    EXPECT_TRUE(m_Codec.Close(true));  // closing a closed side is fine
    EXPECT_TRUE(m_Codec.Close(false));
    EXPECT_EQ(m_Codec.Decode(out, out), -1);
}

TEST_F(SpeexCodec, AHundredMillisecondBufferBecomesFiveLengthPrefixedFrames) {
    CByteBuffer encoded;
    const int n = m_Codec.Encode(Pcm(Tone(800, 440, 8000)), encoded);
    ASSERT_GT(n, 0);
    EXPECT_EQ(static_cast<size_t>(n), encoded.Size());
    const auto lengths = FrameLengths(encoded);
    ASSERT_EQ(lengths.size(), 5u);
    for (int l : lengths)
        EXPECT_LE(l, CSpeexCodec::kMaxFrameBytes);

    CByteBuffer decoded;
    EXPECT_EQ(m_Codec.Decode(encoded, decoded), 1600);
    EXPECT_EQ(decoded.Size(), 1600u);
}

TEST_F(SpeexCodec, AShortLastFrameIsPaddedNotReadPast) {
    CByteBuffer encoded;
    ASSERT_GT(m_Codec.Encode(Pcm(Tone(500, 440, 8000)), encoded), 0);
    EXPECT_EQ(FrameLengths(encoded).size(), 4u);  // 3 whole frames and a padded one
    CByteBuffer decoded;
    EXPECT_EQ(m_Codec.Decode(encoded, decoded), 4 * 320);
    // An empty buffer and a lone odd byte encode to nothing.
    CByteBuffer odd;
    const uint8_t byte = 7;
    odd.SetSize(0);
    odd.Append(&byte, 1);
    EXPECT_EQ(m_Codec.Encode(odd, encoded), 0);
}

TEST_F(SpeexCodec, SpeechSurvivesTheRoundTrip) {
    // Several buffers of a tone, so the codec settles; the decoded tone keeps its level.
    CByteBuffer encoded, decoded;
    std::vector<int16_t> in, out;
    for (int b = 0; b < 20; ++b) {
        auto tone = Tone(800, 440, 8000, static_cast<size_t>(b) * 800);
        ASSERT_GT(m_Codec.Encode(Pcm(tone), encoded), 0);
        ASSERT_EQ(m_Codec.Decode(encoded, decoded), 1600);
        if (b >= 10) {
            in.insert(in.end(), tone.begin(), tone.end());
            auto s = Samples(decoded);
            out.insert(out.end(), s.begin(), s.end());
        }
    }
    double ein = 0, eout = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        ein += double(in[i]) * in[i];
        eout += double(out[i]) * out[i];
    }
    const double ratio = std::sqrt(eout / ein);
    EXPECT_GT(ratio, 0.5);
    EXPECT_LT(ratio, 2.0);
}

TEST_F(SpeexCodec, DecodingStopsAtAFrameThatRunsPastTheInput) {
    CByteBuffer encoded;
    ASSERT_GT(m_Codec.Encode(Pcm(Tone(800, 440, 8000)), encoded), 0);
    const auto lengths = FrameLengths(encoded);
    // Keep two whole frames and the length byte of a third whose bits are cut short.
    const size_t keep = 2 + static_cast<size_t>(lengths[0] + lengths[1]) + 1 + 3;
    CByteBuffer cut;
    cut.SetSize(0);
    cut.Append(encoded.Data(), keep);
    CByteBuffer decoded;
    EXPECT_EQ(m_Codec.Decode(cut, decoded), 2 * 320);

    // A length byte of 128 or more is a length, not a negative number.
    CByteBuffer big;
    big.SetSize(0);
    const uint8_t l = 250;
    big.Append(&l, 1);
    std::vector<uint8_t> junk(100, 0x55);
    big.Append(junk.data(), junk.size());
    EXPECT_EQ(m_Codec.Decode(big, decoded), 0);
    EXPECT_EQ(decoded.Size(), 0u);
}

TEST_F(SpeexCodec, OutputIsBoundedWhateverTheInputClaims) {
    // A one-byte silence frame decodes to 320 bytes: a thousand of them are asked to stop at ten frames.
    CByteBuffer in, out;
    in.SetSize(0);
    for (int i = 0; i < 1000; ++i) {
        const uint8_t frame[2] = {1, 0};
        in.Append(frame, 2);
    }
    EXPECT_EQ(m_Codec.Decode(in, out, 3200), 3200);
    EXPECT_EQ(m_Codec.Decode(in, out, 3199), 9 * 320);
    EXPECT_EQ(m_Codec.Decode(in, out), 1000 * 320);
}

TEST(SpeexSamples, DecodedValuesSaturateInsteadOfWrapping) {
    EXPECT_EQ(SaturateSample(40000.0f), 32767);
    EXPECT_EQ(SaturateSample(32767.9f), 32767);
    EXPECT_EQ(SaturateSample(-40000.0f), -32768);
    EXPECT_EQ(SaturateSample(-32768.0f), -32768);
    EXPECT_EQ(SaturateSample(1.9f), 1);
    EXPECT_EQ(SaturateSample(-1.9f), -1);
    EXPECT_EQ(SaturateSample(std::nanf("")), 0);
}

TEST_F(SpeexCodec, AFullScaleSquareWaveDecodesWithoutOppositeSignClicks) {
    CByteBuffer encoded, decoded;
    std::vector<int16_t> square(800);
    int worst = 0;
    for (int b = 0; b < 10; ++b) {
        for (size_t i = 0; i < square.size(); ++i)
            square[i] = (i / 40) % 2 ? -32767 : 32767;
        ASSERT_GT(m_Codec.Encode(Pcm(square), encoded), 0);
        ASSERT_EQ(m_Codec.Decode(encoded, decoded), 1600);
        const auto s = Samples(decoded);
        // Wherever the codec overshoots full scale, a wrap would show as a jump of nearly 65536.
        for (size_t i = 1; i < s.size(); ++i)
            worst = std::max(worst, std::abs(int(s[i]) - int(s[i - 1])));
    }
    EXPECT_LT(worst, 60000);
}

}  // namespace
