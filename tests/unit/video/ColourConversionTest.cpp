// RGB to I420 and I420 to 32-bit RGB through their public functions: the exact values, orientation,
// the size rules and what a peer's format cannot make them do.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "video/ColourConversion.h"
#include "video/ColourRows.h"

namespace {

struct SYuv {
    int y, u, v;
};

// A 4 x 4 picture of one colour.
SYuv ConvertUniform(int b, int g, int r, int colourSpace = kColourSpaceRgb24) {
    const int step = colourSpace == kColourSpaceRgb24 ? 3 : 4;
    std::vector<uint8_t> rgb(16 * size_t(step), 0x5A);  // a fourth byte that must not matter
    for (size_t i = 0; i < 16; ++i)
        rgb[i * step] = uint8_t(b), rgb[i * step + 1] = uint8_t(g), rgb[i * step + 2] = uint8_t(r);
    std::vector<uint8_t> out(24);
    EXPECT_EQ(RgbToI420(rgb.data(), out.data(), colourSpace, 4, 4), kRgbToI420Done);
    for (int i = 1; i < 16; ++i)
        EXPECT_EQ(out[size_t(i)], out[0]);
    return {out[0], out[16], out[20]};
}

TEST(ColourSpace, CodesFollowCompressionAndBitCount) {
    const struct {
        uint32_t compression;
        int bits, code;
    } cases[] = {
        {0, 24, 17},
        {0, 32, 18},
        {0, 16, 0},
        {0, 8, 0},
        {MakeFourCC('U', 'Y', 'V', 'Y'), 16, 32},
        {MakeFourCC('Y', 'U', 'Y', '2'), 16, 33},
        {MakeFourCC('Y', 'U', 'Y', 'V'), 0, 33},
        {MakeFourCC('V', '4', '2', '2'), 16, 33},
        {MakeFourCC('Y', 'V', 'Y', 'U'), 16, 34},
        {MakeFourCC('Y', 'V', '1', '2'), 12, 64},
        {kFourCCI420, 12, 65},
        {kFourCCIYUV, 7, 65},
        {MakeFourCC('M', 'J', 'P', 'G'), 24, 0},
    };
    for (const auto& c : cases) {
        CImageFormat f(40, 320, 240, uint32_t(c.bits) << 16 | 1u, c.compression, 0, 0, 0, 0, 0);
        EXPECT_EQ(ColourSpaceOf(f), c.code) << std::hex << c.compression << " " << std::dec << c.bits;
    }
}

TEST(RgbToI420, ColoursConvertExactlyWithHalvesToEven) {
    const SYuv red = ConvertUniform(0, 0, 255);  // Y 76.2; Cb 128 - 42.9; Cr 128 + 127
    EXPECT_EQ(red.y, 76);
    EXPECT_EQ(red.u, 85);
    EXPECT_EQ(red.v, 255);
    const SYuv red32 = ConvertUniform(0, 0, 255, kColourSpaceRgb32);
    EXPECT_EQ(red32.y, 76);
    EXPECT_EQ(red32.u, 85);
    EXPECT_EQ(red32.v, 255);
    EXPECT_EQ(ConvertUniform(0, 0, 0).y, 0);
    EXPECT_EQ(ConvertUniform(255, 255, 255).y, 255);
    // Sums that land exactly on a half in single precision: 44.5, 128.5, 102.5.
    EXPECT_EQ(ConvertUniform(102, 56, 0).y, 44);
    EXPECT_EQ(ConvertUniform(2, 1, 1).u, 128);
    EXPECT_EQ(ConvertUniform(51, 51, 0).v, 102);
}

TEST(RgbToI420, TurnsTheBottomUpPictureUprightAndTruncatesChroma) {
    // 4 x 4, bottom row first in memory: the bottom row white, the rest black; the top-left 2 x 2 block
    // has blue 0, 2, 4, 6, so its Cb values are 128...131 and their mean 129.5 truncates to 129.
    std::vector<uint8_t> rgb(48, 0);
    for (int x = 0; x < 4; ++x)
        std::memset(&rgb[size_t(x) * 3], 255, 3);
    const int blues[4] = {0, 2, 4, 6};  // picture (0,0), (1,0), (0,1), (1,1)
    for (int k = 0; k < 4; ++k)
        rgb[size_t((3 - k / 2) * 12 + (k % 2) * 3)] = uint8_t(blues[k]);
    std::vector<uint8_t> out(24, 0xEE);
    ASSERT_EQ(RgbToI420(rgb.data(), out.data(), kColourSpaceRgb24, 4, 4), kRgbToI420Done);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(out[size_t(12 + x)], 255) << x;  // the last picture row
        EXPECT_LE(out[size_t(4 + x)], 1) << x;
    }
    EXPECT_EQ(out[16], 129);
}

TEST(RgbToI420, SizesWithBit1SetAndOtherCodesAreRejectedUntouched) {
    std::vector<uint8_t> rgb(size_t(322) * 5 * 4, 100), out(size_t(322) * 5 * 2, 0xEE);
    EXPECT_EQ(RgbToI420(rgb.data(), out.data(), kColourSpaceRgb24, 322, 4), kRgbToI420Rejected);
    EXPECT_EQ(RgbToI420(rgb.data(), out.data(), kColourSpaceRgb24, 4, 2), kRgbToI420Rejected);
    EXPECT_EQ(RgbToI420(rgb.data(), out.data(), kColourSpaceRgb24, 2, 2), kRgbToI420Rejected);
    EXPECT_EQ(RgbToI420(rgb.data(), out.data(), kColourSpaceRgb24, 0, 4), kRgbToI420Rejected);
    EXPECT_EQ(RgbToI420(rgb.data(), out.data(), kColourSpaceI420, 4, 4), kRgbToI420Rejected);
    EXPECT_EQ(RgbToI420(rgb.data(), out.data(), kColourSpaceRgb24, 8192, 4), kRgbToI420Rejected);
    for (uint8_t b : out)
        ASSERT_EQ(b, 0xEE);
    EXPECT_EQ(RgbToI420(rgb.data(), out.data(), kColourSpaceRgb24, 321, 5), kRgbToI420Done);
    // Width 321: 160 x 2 chroma; U follows Y, V follows U directly.
    EXPECT_EQ(out[size_t(321) * 5 + 320], out[size_t(321) * 5]);
    EXPECT_EQ(out[size_t(321) * 5 + 640], 0xEE);
}

CImageFormat I420Format(int w, int h, uint32_t compression = kFourCCI420) {
    return CImageFormat(40, w, h, 12u << 16 | 1u, compression, uint32_t(w * h * 3 / 2), 0, 0, 0, 0);
}

TEST(YuvTables, SampleEntriesAndTheClamp) {
    EXPECT_EQ(kYuvTableU[0], 7934u << 16 | 4146u);
    EXPECT_EQ(kYuvTableU[255], 8448u << 16 | 4046u);
    EXPECT_EQ(kYuvTableV[0], 7988u << 16 | 4200u);
    EXPECT_EQ(kYuvTableV[255], 8395u << 16 | 3993u);
    EXPECT_EQ(kYuvTableU[128], 8192u << 16 | 4096u);
    EXPECT_EQ(kYuvTableV[128], 8192u << 16 | 4096u);
    EXPECT_EQ(kYuvTableV[253] >> 16, 8192u + 199);  // 1.596 x 125 in single precision is below 199.5
    const std::pair<int, uint32_t> luma[] = {{16, 8192}, {235, 8447}, {255, 8470}, {0, 8173}};
    for (const auto& [y, half] : luma)
        EXPECT_EQ(kYuvTableY[size_t(y)], half << 16 | half) << y;
    EXPECT_EQ(YuvClamp(kYuvClampFirst), 0);
    EXPECT_EQ(YuvClamp(16384 + 100), 100);
    EXPECT_EQ(YuvClamp(kYuvClampLast), 255);
}

// Converts an I420 picture whose planes are filled with y, u, v; returns the first pixel.
uint32_t FirstPixel(int y, int u, int v) {
    CDataBuffer i420, rgb;
    i420.Resize(8 * 2 * 3 / 2);
    std::memset(i420.Data(), y, 16);
    std::memset(i420.Data() + 16, u, 4);
    std::memset(i420.Data() + 20, v, 4);
    CImageFormat rgbFormat;
    EXPECT_EQ(I420ToRgb32(i420, I420Format(8, 2), rgb, rgbFormat), 64);
    uint32_t pixel;
    std::memcpy(&pixel, rgb.Data(), 4);
    return pixel;
}

TEST(I420ToRgb32, VideoRangeBlackWhiteAndSaturatedRed) {
    EXPECT_EQ(FirstPixel(16, 128, 128), 0x000000u);
    EXPECT_EQ(FirstPixel(235, 128, 128), 0xFFFFFFu);
    EXPECT_EQ(FirstPixel(255, 128, 255) >> 16, 0xFFu);
    // Y 100, U 150, V 90: luma term 98, red -61, blue 44, green -9 and +31: R 37, G 120, B 142.
    EXPECT_EQ(FirstPixel(100, 150, 90), 0x25788Eu);
}

TEST(I420ToRgb32, FormatSizeAndUprightRowsWithBlackForWhatIsLeftOut) {
    // 12 x 5: the top picture row white, the rest black. Columns 8...11 and the bottom row (an odd
    // height leaves it out) come out black whatever the buffer held.
    const int w = 12, h = 5;
    CDataBuffer i420, rgb;
    i420.Resize(w * h * 3 / 2);
    std::memset(i420.Data(), 16, size_t(i420.Size()));
    std::memset(i420.Data(), 235, size_t(w));
    std::memset(i420.Data() + w * h, 128, size_t(i420.Size() - w * h));
    rgb.Resize(1000);
    std::memset(rgb.Data(), 0x77, 1000);
    CImageFormat rgbFormat;
    ASSERT_EQ(I420ToRgb32(i420, I420Format(w, h, kFourCCIYUV), rgb, rgbFormat), w * h * 4);
    EXPECT_EQ(rgb.Size(), w * h * 4);
    const SBitmapInfoHeader& f = rgbFormat.m_Header.header;
    EXPECT_EQ(f.biCompression, 0u);
    EXPECT_EQ(f.biBitCount, 32);
    EXPECT_EQ(f.biSizeImage, uint32_t(w * h * 4));
    EXPECT_EQ(f.biWidth, w);
    EXPECT_EQ(f.biHeight, h);
    const auto* px = reinterpret_cast<const uint32_t*>(rgb.Data());
    for (int row = 0; row < h; ++row)  // memory row 0 is the bottom of the picture
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(px[row * w + x], row == h - 1 && x < 8 ? 0xFFFFFFu : 0u) << row << "," << x;
}

TEST(I420ToRgb32, OddWidthRowsAreWholePixelsApart) {
    // Width 9: rows of 36 bytes, as the format says, not 40.
    CDataBuffer i420, rgb;
    i420.Resize(9 * 2 * 3 / 2);
    std::memset(i420.Data(), 128, size_t(i420.Size()));
    std::memset(i420.Data(), 235, 9);  // top picture row white
    CImageFormat rgbFormat;
    ASSERT_EQ(I420ToRgb32(i420, I420Format(9, 2), rgb, rgbFormat), 72);
    uint32_t top, bottom;
    std::memcpy(&top, rgb.Data() + 36, 4);
    std::memcpy(&bottom, rgb.Data(), 4);
    EXPECT_EQ(top, 0xFFFFFFu);
    EXPECT_NE(bottom, 0xFFFFFFu);
}

TEST(I420ToRgb32, RefusesOtherFormatsAndPicturesItsBufferDoesNotHold) {
    CDataBuffer i420, rgb;
    i420.Resize(320 * 240 * 3 / 2);
    std::memset(i420.Data(), 128, size_t(i420.Size()));
    CImageFormat rgbFormat;
    const CImageFormat untouched = rgbFormat;
    const CImageFormat refused[] = {
        I420Format(320, 240, MakeFourCC('Y', 'V', '1', '2')),
        I420Format(320, 242),  // more than the buffer holds
        I420Format(0, 240),
        I420Format(320, -240),
        I420Format(8192, 2),
        I420Format(4, 240),  // nothing left after cutting the width to a multiple of 8
        I420Format(320, 1),
    };
    for (const auto& f : refused) {
        EXPECT_EQ(I420ToRgb32(i420, f, rgb, rgbFormat), -1) << f.Width() << "x" << f.Height();
        EXPECT_FALSE(rgbFormat.Differs(untouched));
    }
    CDataBuffer empty;
    EXPECT_EQ(I420ToRgb32(empty, I420Format(8, 2), rgb, rgbFormat), -1);
    EXPECT_EQ(I420ToRgb32(i420, I420Format(320, 240), rgb, rgbFormat), 320 * 240 * 4);
}

}  // namespace
