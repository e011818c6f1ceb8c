// WAV files: what the virtual devices read and write, and what they refuse.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/WavFile.h"
#include "support/Process.h"

namespace {

std::vector<uint8_t> Image(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                           const std::vector<uint8_t>& data, bool extraChunk = false,
                           uint32_t dataLength = 0) {
    std::vector<uint8_t> b;
    // resize + memcpy rather than insert: GCC 12 at -O3 reports a false overflow on the inlined insert.
    auto put = [&](const void* p, size_t n) {
        if (n == 0)
            return;
        size_t at = b.size();
        b.resize(at + n);
        std::memcpy(b.data() + at, p, n);
    };
    auto u16 = [&](uint16_t v) { put(&v, 2); };
    auto u32 = [&](uint32_t v) { put(&v, 4); };
    put("RIFF", 4);
    u32(0);
    put("WAVE", 4);
    if (extraChunk) {
        put("LIST", 4);
        u32(3);
        put("abc", 3);
        b.push_back(0);  // pad byte
    }
    put("fmt ", 4);
    u32(16);
    u16(tag);
    u16(channels);
    u32(rate);
    u32(rate * channels * bits / 8);
    u16(static_cast<uint16_t>(channels * bits / 8));
    u16(bits);
    put("data", 4);
    u32(dataLength ? dataLength : static_cast<uint32_t>(data.size()));
    put(data.data(), data.size());
    return b;
}

TEST(WavFile, WriterAndParserAgree) {
    vp::test::CTempDir dir;
    const std::vector<int16_t> samples = {0, 1, -1, 32767, -32768, 1234};
    const std::string path = dir.File("a.wav");
    ASSERT_TRUE(WriteWavFile(path, 8000, 1, samples));
    SWavFormat f;
    std::vector<int16_t> read;
    ASSERT_TRUE(ReadWavFile(path, f, read));
    EXPECT_EQ(read, samples);
    EXPECT_EQ(f.nSamplesPerSec, 8000u);
    EXPECT_EQ(f.nChannels, 1);

    // A growing file is readable at every step.
    CWavWriter w;
    ASSERT_TRUE(w.Open(dir.File("b.wav"), 16000, 2));
    ASSERT_TRUE(w.Write(samples.data(), 4));
    ASSERT_TRUE(ReadWavFile(dir.File("b.wav"), f, read));
    EXPECT_EQ(read.size(), 4u);
    EXPECT_EQ(f.nChannels, 2);
}

TEST(WavFile, ReadsEightBitSkipsUnknownChunksAndToleratesAShortDataChunk) {
    SWavFormat f;
    std::vector<int16_t> s;
    auto eight = Image(1, 1, 8000, 8, {0, 128, 255}, true);
    ASSERT_TRUE(ParseWav(eight.data(), eight.size(), f, s));
    EXPECT_EQ(s, (std::vector<int16_t>{-32768, 0, 32512}));
    // A writer that died before fixing its sizes claims more than is there.
    auto cut = Image(1, 1, 8000, 16, {1, 0, 2, 0, 3}, false, 1000000);
    ASSERT_TRUE(ParseWav(cut.data(), cut.size(), f, s));
    EXPECT_EQ(s, (std::vector<int16_t>{1, 2}));
}

TEST(WavFile, RefusesWhatIsNotPcm) {
    SWavFormat f;
    std::vector<int16_t> s;
    const std::vector<uint8_t> data(4, 0);
    for (auto image : {Image(3, 1, 8000, 32, data), Image(1, 0, 8000, 16, data), Image(1, 1, 8000, 24, data),
                       Image(1, 1, 10, 16, data), Image(1, 9, 8000, 16, data)}) {
        EXPECT_FALSE(ParseWav(image.data(), image.size(), f, s));
    }
    auto good = Image(1, 1, 8000, 16, data);
    good[8] = 'X';  // not WAVE
    EXPECT_FALSE(ParseWav(good.data(), good.size(), f, s));
    EXPECT_FALSE(ParseWav(good.data(), 11, f, s));
    EXPECT_FALSE(ParseWav(nullptr, 0, f, s));
}

TEST(WavFile, ConversionMixesChannelsAndResamples) {
    const std::vector<int16_t> stereo = {100, 300, -100, -300};
    EXPECT_EQ(ConvertPcm(stereo, 8000, 2, 8000, 1), (std::vector<int16_t>{200, -200}));
    std::vector<int16_t> ramp(1600);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<int16_t>(i * 10);
    const auto down = ConvertPcm(ramp, 16000, 1, 8000, 1);
    ASSERT_EQ(down.size(), 800u);
    EXPECT_EQ(down[10], 200);
    const auto up = ConvertPcm({0, 100}, 8000, 1, 16000, 2);
    EXPECT_EQ(up, (std::vector<int16_t>{0, 0, 50, 50, 100, 100, 100, 100}));
}

}  // namespace
