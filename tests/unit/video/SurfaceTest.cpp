// Surfaces: their row layouts, blit clipping, the I420 blit's even-origin rule, and the bilinear stretch's
// sampling positions, weights and edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "net/Protocol.h"
#include "video/Surface.h"

namespace {

TEST(Surface, BitmapRowsAreWhole4ByteWordsAndMemoryRows8ByteWords) {
    SBitmapInfoHeader h;
    h.biWidth = 3;
    h.biHeight = 7;
    h.biBitCount = 24;
    uint8_t pixels[1];
    const CSurface bitmap(reinterpret_cast<const uint8_t*>(&h), pixels);
    EXPECT_EQ(bitmap.m_nStride, 12);
    EXPECT_EQ(bitmap.m_nPadding, 3);
    EXPECT_EQ(bitmap.m_nSize, 84);
    EXPECT_EQ(bitmap.m_pPalette, nullptr);
    EXPECT_EQ(bitmap.m_pBits, pixels);
    const CSurface memory(pixels, 3, 7, 24);
    EXPECT_EQ(memory.m_nStride, 16);
    EXPECT_EQ(memory.m_nPadding, 7);
    EXPECT_EQ(CSurface(pixels, 5, 1, 32).m_nStride, 24);
    EXPECT_EQ(CSurface(pixels, 6, 1, 32).m_nStride, 24);
    h.biBitCount = 8;
    EXPECT_EQ(CSurface(reinterpret_cast<const uint8_t*>(&h), pixels).m_pPalette,
              reinterpret_cast<const uint8_t*>(&h) + 40);
}

TEST(Surface, ClipBlitKeepsSourceAndDestinationInStep) {
    uint8_t none[1];
    const CSurface dst(none, 100, 50, 32), src(none, 40, 30, 32);
    int dx = -5, dy = 10, sx = 3, sy = -4, w = -1, h = -1;
    ASSERT_TRUE(ClipBlit(dst, dx, dy, src, sx, sy, w, h));
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(sx, 8);  // the 5 columns cut at the destination's left are cut from the source too
    EXPECT_EQ(sy, 0);
    EXPECT_EQ(dy, 14);
    EXPECT_EQ(w, 32);  // 40 - 5 - 3 and what the source has left from column 8
    EXPECT_EQ(h, 26);  // 30 - 4
    dx = 90, dy = 45, sx = 0, sy = 0, w = 20, h = 20;
    ASSERT_TRUE(ClipBlit(dst, dx, dy, src, sx, sy, w, h));
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 5);
    dx = 100, dy = 0, sx = 0, sy = 0, w = -1, h = -1;
    EXPECT_FALSE(ClipBlit(dst, dx, dy, src, sx, sy, w, h));
    dx = 0, dy = 0, sx = -2147483647, sy = 0, w = 10, h = 10;
    EXPECT_FALSE(ClipBlit(dst, dx, dy, src, sx, sy, w, h));
}

TEST(Surface, YuvBlitMovesAnOddSourceOriginToTheNextEvenOne) {
    // 16 x 4 I420 whose Y rises by column and row; every chroma sample neutral.
    const int w = 16, h = 4;
    std::vector<uint8_t> i420(w * h * 3 / 2, 128);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            i420[size_t(y * w + x)] = uint8_t(16 + 10 * x + y);
    const CSurface src(i420.data(), w, h, 12);
    std::vector<uint32_t> pixels(size_t(w * h), 0xAAAAAAAAu);
    CSurface dst(pixels.data(), w, h, 32);
    ASSERT_TRUE(dst.YuvToRgb(0, 0, src, 3, 1, 10, 3));  // converts x 4...11, y 2...3
    const auto grey = [](int y) {
        const uint32_t v = uint32_t(std::floor(double(1.164f) * (y - 16) + 0.5));
        return v << 16 | v << 8 | v;
    };
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            // Picture rows 0 and 1 of the destination (memory rows 3 and 2) take source rows 2 and 3.
            const uint32_t expected = row >= 2 && x < 8 ? grey(16 + 10 * (x + 4) + (5 - row)) : 0xAAAAAAAAu;
            EXPECT_EQ(pixels[size_t(row * w + x)], expected) << row << "," << x;
        }
    EXPECT_FALSE(dst.YuvToRgb(0, 0, src, 9, 0, -1, -1));  // 10...15 leaves fewer than 8 columns
    CSurface rgb24(pixels.data(), w, h, 24);
    EXPECT_FALSE(rgb24.YuvToRgb(0, 0, src, 0, 0, -1, -1));
}

// Pixel (x, y) of a test picture, distinct per channel; the fourth byte set so that its clearing shows.
uint32_t Pattern(int x, int y) {
    return 0xFF000000u | uint32_t((x * 37 + y * 11) & 255) << 16 | uint32_t((x * 5 + y * 3) & 255) << 8 |
           uint32_t((x ^ y) & 255);
}

std::vector<uint32_t> PatternPicture(int w, int h) {
    std::vector<uint32_t> p(size_t(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p[size_t(y * w + x)] = Pattern(x, y);
    return p;
}

uint32_t Channel(uint32_t p, int c) {
    return p >> (8 * c) & 255;
}

TEST(Surface, DoubleSizeStretchSamplesWhereExpected) {
    // Whole 320 x 240 onto 640 x 480: step 0.5, column i samples x = i / 2 - 0.21875.
    const int sw = 320, sh = 240;
    auto source = PatternPicture(sw, sh);
    std::vector<uint32_t> out(640 * 480, 0x12345678u);
    const CSurface src(source.data(), sw, sh, 32);
    CSurface dst(out.data(), 640, 480, 32);
    ASSERT_TRUE(dst.StretchBilinear(0, 0, 640, 480, src, 0, 0, sw, sh));
    const auto at = [&](int x, int y) { return out[size_t(y * 640 + x)]; };
    // Row 0 samples y = -0.21875 (row 0 alone) and so does column 0.
    EXPECT_EQ(at(0, 0), Pattern(0, 0) & 0xFFFFFFu);
    for (int c = 0; c < 3; ++c) {
        // Column 1: x 0.28125, weights 12 and 4; column 639: x 319.28125 takes column 319 alone.
        EXPECT_EQ(Channel(at(1, 0), c),
                  (12 * Channel(Pattern(0, 0), c) + 4 * Channel(Pattern(1, 0), c)) >> 4);
        EXPECT_EQ(Channel(at(639, 0), c), Channel(Pattern(319, 0), c));
        EXPECT_EQ(Channel(at(0, 479), c), Channel(Pattern(0, 239), c));
        // Row 1, column 1: both axes weighted 12 / 4.
        const auto p = [&](int x, int y) { return Channel(Pattern(x, y), c); };
        EXPECT_EQ(Channel(at(1, 1), c),
                  ((12 * p(0, 0) + 4 * p(1, 0)) * 12 + (12 * p(0, 1) + 4 * p(1, 1)) * 4) >> 8);
    }
    for (uint32_t p : out)
        ASSERT_EQ(p >> 24, 0u);
}

TEST(Surface, StretchMatchesTheFormulaAtAnyScaleAndPlacement) {
    // Positions from x = sx + (i - dx + 0.5) * step - 0.5 + 1/32, in double, with edges repeated.
    const int sw = 38, sh = 23, dw = 50, dh = 41;  // even widths: 8-byte rows are w x 4 bytes
    auto source = PatternPicture(sw, sh);
    const CSurface src(source.data(), sw, sh, 32);
    const struct {
        double dx, dy, dw, dh, sx, sy, sw, sh;
    } cases[] = {
        {0, 0, 50, 41, 0, 0, 38, 23},         // up
        {3, 2, 20, 11, 0, 0, 38, 23},         // down, placed inside
        {-7, -3, 60, 50, 2.5, 1.25, 30, 20},  // part of the source, hanging over the top left
        {10, 5, 13, 9, -4, -2, 45, 30},       // a source rectangle larger than the picture
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> out(size_t(dw * dh), 0xABABABABu);
        CSurface dst(out.data(), dw, dh, 32);
        ASSERT_TRUE(dst.StretchBilinear(c.dx, c.dy, c.dw, c.dh, src, c.sx, c.sy, c.sw, c.sh));
        const auto tap = [](double pos, int size, int& i0, int& i1, int& f) {
            const double fl = std::floor(pos);
            f = int(std::floor((pos - fl) * 16));
            i0 = int(fl), i1 = i0 + 1;
            if (pos < 0)
                i0 = i1 = 0, f = 0;
            else if (i1 > size - 1)
                i0 = i1 = size - 1, f = 0;
        };
        for (int j = 0; j < dh; ++j)
            for (int i = 0; i < dw; ++i) {
                const auto covers = [](double d, double size, int k) {
                    const double first = std::ceil(d - 0.5);
                    return k >= first && k < first + std::floor(std::ceil(d - 0.5 + size) - (d - 0.5));
                };
                const bool inside = covers(c.dx, c.dw, i) && covers(c.dy, c.dh, j);
                uint32_t expected = 0xABABABABu;
                if (inside) {
                    int x0, x1, fx, y0, y1, fy;
                    tap(c.sx + (i - c.dx + 0.5) * c.sw / c.dw - 0.5 + 1.0 / 32, sw, x0, x1, fx);
                    tap(c.sy + (j - c.dy + 0.5) * c.sh / c.dh - 0.5 + 1.0 / 32, sh, y0, y1, fy);
                    expected = 0;
                    for (int ch = 0; ch < 3; ++ch) {
                        const auto p = [&](int x, int y) { return Channel(Pattern(x, y), ch); };
                        const uint32_t v = ((p(x0, y0) * (16 - fx) + p(x1, y0) * fx) * (16 - fy) +
                                            (p(x0, y1) * (16 - fx) + p(x1, y1) * fx) * fy) >>
                                           8;
                        expected |= v << (8 * ch);
                    }
                }
                ASSERT_EQ(out[size_t(j * dw + i)], expected) << i << "," << j << " case dx " << c.dx;
            }
    }
}

TEST(Surface, SameSizeStretchCopiesAndTinyOrMissingPicturesAreHandled) {
    auto source = PatternPicture(34, 17);
    std::vector<uint32_t> out(34 * 17);
    const CSurface src(source.data(), 34, 17, 32);
    CSurface dst(out.data(), 34, 17, 32);
    ASSERT_TRUE(dst.StretchBilinear(0, 0, 34, 17, src, 0, 0, 34, 17));
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], source[i] & 0xFFFFFFu) << i;

    // One pixel fills everything.
    uint32_t one = 0xFF102030u;
    const CSurface dot(&one, 1, 1, 32);
    ASSERT_TRUE(dst.StretchBilinear(0, 0, 34, 17, dot, 0, 0, 1, 1));
    for (uint32_t p : out)
        ASSERT_EQ(p, 0x102030u);

    EXPECT_FALSE(dst.StretchBilinear(40, 0, 10, 10, src, 0, 0, 34, 17));  // off the surface
    EXPECT_FALSE(dst.StretchBilinear(0, 0, 0, 10, src, 0, 0, 34, 17));
    EXPECT_FALSE(dst.StretchBilinear(0, 0, 10, 10, src, 0, 0, NAN, 17));
    EXPECT_FALSE(dst.StretchBilinear(0, 0, 10, 10, src, 1e300, 0, 34, 17));
    CSurface rgb24(out.data(), 34, 17, 24);
    EXPECT_FALSE(rgb24.StretchBilinear(0, 0, 34, 17, src, 0, 0, 34, 17));
}

}  // namespace
