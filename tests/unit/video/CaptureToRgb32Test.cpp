// Captured RGB frames as 32-bit pictures: 24-bit rows widened whatever their padding and direction, 32-bit
// copied, and frames shorter than their format refused.
#include <gtest/gtest.h>

#include "video/CaptureToRgb32.h"

namespace {

CImageFormat RgbFormat(int width, int height, int bits) {
    CImageFormat f;
    f.m_Header.header.biWidth = width;
    f.m_Header.header.biHeight = height;
    f.m_Header.header.biPlanes = 1;
    f.SetUncompressed(bits);
    return f;
}

// A frame of 3- or 4-byte pixels whose stored row r, column x holds (r, x, r + x) and padding 0xEE.
void MakeFrame(int width, int rows, int pixelBytes, int stride, CDataBuffer& frame) {
    frame.Resize(long(stride) * rows);
    std::fill(frame.Data(), frame.Data() + frame.Size(), 0xEE);
    for (int r = 0; r < rows; ++r)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = frame.Data() + long(r) * stride + x * pixelBytes;
            p[0] = uint8_t(r), p[1] = uint8_t(x), p[2] = uint8_t(r + x);
        }
}

// Output row `outRow` (bottom-up), column x, as blue, green, red, unused.
uint32_t Pixel(const CDataBuffer& rgb, int width, int outRow, int x) {
    const uint8_t* p = rgb.Data() + (long(outRow) * width + x) * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t Expected(int storedRow, int x) {
    return uint32_t(storedRow) | uint32_t(x) << 8 | uint32_t(uint8_t(storedRow + x)) << 16;
}

}  // namespace

TEST(CaptureToRgb32, RgbRowsAreWidenedWhateverTheirPaddingAndDirection) {
    constexpr int kW = 6, kH = 4;  // 18-byte rows: 20 when padded
    struct SCase {
        int bits, stride, height;
    } cases[] = {{24, 20, kH}, {24, 18, kH}, {24, 20, -kH}, {32, 24, kH}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, stride " << c.stride << ", height " << c.height);
        CDataBuffer frame, rgb;
        MakeFrame(kW, kH, c.bits / 8, c.stride, frame);
        CImageFormat out;
        ASSERT_EQ(CaptureToRgb32(frame, RgbFormat(kW, c.height, c.bits), rgb, out), kW * kH * 4);
        EXPECT_EQ(out.Width(), kW);
        EXPECT_EQ(out.Height(), kH);
        EXPECT_EQ(out.m_Header.header.biBitCount, 32);
        EXPECT_EQ(out.m_Header.header.biSizeImage, uint32_t(kW * kH * 4));
        for (int row = 0; row < kH; ++row)
            for (int x = 0; x < kW; ++x) {
                // A top-down frame's first row is the top: the last row of the bottom-up output.
                const int stored = c.height < 0 ? kH - 1 - row : row;
                const uint32_t got = Pixel(rgb, kW, row, x) & (c.bits == 24 ? 0xFFFFFFFFu : 0xFFFFFFu);
                ASSERT_EQ(got, Expected(stored, x)) << "row " << row << " column " << x;
            }
    }
}

TEST(CaptureToRgb32, OtherFormatsAndShortFramesAreRefused) {
    CDataBuffer frame, rgb;
    CImageFormat out;
    MakeFrame(6, 4, 3, 18, frame);
    frame.Resize(6 * 3 * 4 - 1);  // one byte short of the tightest rows
    EXPECT_EQ(CaptureToRgb32(frame, RgbFormat(6, 4, 24), rgb, out), -1);
    frame.Resize(200);
    EXPECT_EQ(CaptureToRgb32(frame, RgbFormat(6, 4, 16), rgb, out), -1);
    EXPECT_EQ(CaptureToRgb32(frame, RgbFormat(5000, 1, 24), rgb, out), -1);
}
