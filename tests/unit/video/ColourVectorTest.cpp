// The vector kernels against the plain ones, byte for byte: every input value of each per-pixel formula,
// and whole pictures of every camera size, at odd widths and unaligned addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "video/ColourConversion.h"
#include "video/ColourRows.h"
#include "video/Surface.h"
#include "video/VideoCpu.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs `run` with the plain kernels, then at each vector level this processor has, and expects the same
// bytes each time.
void ExpectSameAtEveryLevel(const std::function<Bytes()>& run, const std::string& what) {
    SetVideoCpuMask(0);
    const Bytes reference = run();
    SetVideoCpuMask(kVideoCpuAll);
    const unsigned features = VideoCpuFeatures();
    for (unsigned level : {unsigned(kVideoCpuSse2), unsigned(kVideoCpuSse2 | kVideoCpuAvx2)}) {
        if ((features & level) != level)
            continue;
        SetVideoCpuMask(level);
        const Bytes got = run();
        SetVideoCpuMask(kVideoCpuAll);
        ASSERT_EQ(got.size(), reference.size()) << what;
        if (got == reference)
            continue;
        const auto where = std::mismatch(got.begin(), got.end(), reference.begin());
        ADD_FAILURE() << what << ", level " << level << ": byte " << (where.first - got.begin()) << " is "
                      << int(*where.first) << ", not " << int(*where.second);
        return;
    }
}

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b)
        v = uint8_t(rng());
    return b;
}

// Values of the third channel (or sample) beside the pairs that run through all 65536: the ends and the
// middle.
constexpr int kThirds[] = {0, 1, 127, 128, 254, 255};

TEST(ColourVector, RgbPixelFormulaForEveryPairOfChannels) {
    // Each two of blue, green and red through all their 65536 pairs, the third at each of kThirds; 3- and
    // 4-byte pixels. Every colour fills a 2 x 2 block, so U and V are its own Cb and Cr.
    std::vector<uint32_t> colours;
    for (int fixed = 0; fixed < 3; ++fixed)
        for (int third : kThirds)
            for (int pair = 0; pair < 65536; ++pair) {
                const int a = pair & 255, b = pair >> 8;
                const int bgr[3][3] = {{third, a, b}, {a, third, b}, {a, b, third}};
                const int* c = bgr[fixed];
                colours.push_back(uint32_t(c[0] | c[1] << 8 | c[2] << 16));
            }
    for (int step : {3, 4}) {
        Bytes rgb;
        for (uint32_t c : colours)
            for (int twice = 0; twice < 2; ++twice)
                for (int k = 0; k < step; ++k)
                    rgb.push_back(uint8_t(c >> (8 * k)));
        ExpectSameAtEveryLevel(
            [&] {
                const int n = 2 * int(colours.size());
                Bytes out(3 * size_t(n));
                SRowPlanes rows;
                rows.in[0] = rows.in[1] = rgb.data();
                rows.out[0] = out.data(), rows.out[1] = out.data() + n;
                rows.out[2] = out.data() + 2 * n, rows.out[3] = out.data() + 2 * n + n / 2;
                SelectRgbRows(step)(rows, n);
                return out;
            },
            "rgb step " + std::to_string(step));
    }
}

TEST(ColourVector, YuvPixelFormulaForEveryLumaAndChromaPair) {
    // Y with each of U and V through all 65536 pairs, the other sample at each of kThirds. A row pair of
    // 512 pixels holds four Y values against all 256 values of the running sample.
    ExpectSameAtEveryLevel(
        [] {
            const RowKernel kernel = SelectYuvRows();
            Bytes y0(512), y1(512), running(256), fixed(256), d0(2048), d1(2048), all;
            for (int c = 0; c < 256; ++c)
                running[size_t(c)] = uint8_t(c);
            for (int uRuns = 0; uRuns < 2; ++uRuns)
                for (int third : kThirds) {
                    std::memset(fixed.data(), third, 256);
                    for (int base = 0; base < 256; base += 4) {
                        for (int c = 0; c < 256; ++c) {
                            y0[size_t(2 * c)] = uint8_t(base), y0[size_t(2 * c + 1)] = uint8_t(base + 1);
                            y1[size_t(2 * c)] = uint8_t(base + 2), y1[size_t(2 * c + 1)] = uint8_t(base + 3);
                        }
                        SRowPlanes rows;
                        rows.in[0] = y0.data(), rows.in[1] = y1.data();
                        rows.in[2] = uRuns ? running.data() : fixed.data();
                        rows.in[3] = uRuns ? fixed.data() : running.data();
                        rows.out[0] = d0.data(), rows.out[1] = d1.data();
                        kernel(rows, 512);
                        all.insert(all.end(), d0.begin(), d0.end());
                        all.insert(all.end(), d1.begin(), d1.end());
                    }
                }
            return all;
        },
        "yuv");
}

TEST(ColourVector, StretchKernelsForEveryValueAndWeight) {
    ExpectSameAtEveryLevel(
        [] {
            // Every pair of neighbouring values (a row of all 256, then reversed) with every weight.
            Bytes src(512 * 4);
            for (int i = 0; i < 512; ++i)
                for (int ch = 0; ch < 4; ++ch)
                    src[size_t(4 * i + ch)] = uint8_t(i < 256 ? (i * (ch + 1) * 37) : 511 - i);
            std::vector<int32_t> columns;
            Bytes weights;
            for (int col = 0; col < 511; ++col)
                for (int f = 0; f <= 16; ++f) {
                    columns.push_back(col);
                    for (int k = 0; k < 3; ++k)
                        weights.push_back(uint8_t(16 - f)), weights.push_back(uint8_t(f));
                    weights.push_back(0), weights.push_back(0);
                }
            const int n = int(columns.size());
            Bytes sums(size_t(n) * 8);
            SRowPlanes across;
            across.in[0] = src.data();
            across.in[1] = reinterpret_cast<const uint8_t*>(columns.data());
            across.in[2] = weights.data();
            across.out[0] = sums.data();
            SelectStretchColumns()(across, n);
            // Down: every weight between rows of those sums, including the largest (4080).
            Bytes all = sums, sums2(sums.rbegin(), sums.rend()), out(size_t(n) * 4);
            std::vector<uint16_t> a(size_t(n) * 4), b(size_t(n) * 4);
            std::memcpy(a.data(), sums.data(), sums.size());
            for (size_t i = 0; i < b.size(); ++i)
                b[i] = uint16_t(4080 - a[i]);
            for (int fy = 0; fy <= 16; ++fy) {
                SRowPlanes down;
                down.in[0] = reinterpret_cast<const uint8_t*>(a.data());
                down.in[1] = reinterpret_cast<const uint8_t*>(b.data());
                down.param = fy;
                down.out[0] = out.data();
                SelectStretchRows()(down, n);
                all.insert(all.end(), out.begin(), out.end());
            }
            return all;
        },
        "stretch kernels");
}

struct SSize {
    int w, h;
};
// The camera sizes, then odd ones that leave every kind of row remainder.
constexpr SSize kSizes[] = {{160, 120}, {176, 144}, {320, 240}, {352, 288}, {640, 480},
                            {321, 5},   {17, 9},    {1, 1},     {45, 12},   {8, 4}};

TEST(ColourVector, RgbToI420PicturesAtUnalignedAddresses) {
    for (const auto& s : kSizes)
        for (int step : {3, 4}) {
            const size_t in = size_t(s.w) * s.h * step, out = size_t(s.w) * s.h * 3 / 2;
            const Bytes rgb = Random(in + 1, uint32_t(s.w * 7 + step));
            ExpectSameAtEveryLevel(
                [&] {
                    Bytes i420(out + 3, 0xEE);
                    const int code = step == 3 ? kColourSpaceRgb24 : kColourSpaceRgb32;
                    EXPECT_EQ(RgbToI420(rgb.data() + 1, i420.data() + 3, code, s.w, s.h), kRgbToI420Done);
                    return i420;
                },
                std::to_string(s.w) + "x" + std::to_string(s.h) + " step " + std::to_string(step));
        }
}

TEST(ColourVector, YuvBlitsOfPicturesAndPartsOfThem) {
    for (const auto& s : kSizes) {
        if (s.w < 8 || s.h < 2)
            continue;
        const Bytes i420 = Random(size_t(s.w) * s.h * 3 / 2, uint32_t(s.w));
        ExpectSameAtEveryLevel(
            [&] {
                CDataBuffer in, rgb;
                in.Resize(long(i420.size()));
                std::memcpy(in.Data(), i420.data(), i420.size());
                CImageFormat rgbFormat, format(40, s.w, s.h, 12u << 16 | 1u, kFourCCI420, 0, 0, 0, 0, 0);
                EXPECT_EQ(I420ToRgb32(in, format, rgb, rgbFormat), s.w * s.h * 4);
                return Bytes(rgb.Data(), rgb.Data() + rgb.Size());
            },
            "whole " + std::to_string(s.w) + "x" + std::to_string(s.h));
        // A part at odd places, into an unaligned destination with rows of an odd number of pixels.
        ExpectSameAtEveryLevel(
            [&] {
                Bytes out(size_t(CSurface::StrideFor8ByteRows(s.w + 3, 32)) * (s.h + 2) + 1, 0xEE);
                CSurface dst(out.data() + 1, s.w + 3, s.h + 2, 32);
                const CSurface src(const_cast<uint8_t*>(i420.data()), s.w, s.h, 12);
                dst.YuvToRgb(3, 1, src, 2, 2, s.w - 2, -1);
                return out;
            },
            "part " + std::to_string(s.w) + "x" + std::to_string(s.h));
    }
}

TEST(ColourVector, StretchesUpDownAndSideways) {
    const struct {
        int sw, sh, dw, dh;
        double dx, dy, dwf, dhf, sx, sy, swf, shf;
    } cases[] = {
        {320, 240, 640, 480, 0, 0, 640, 480, 0, 0, 320, 240},
        {176, 144, 352, 288, 0, 0, 352, 288, 0, 0, 176, 144},
        {640, 480, 320, 240, 0, 0, 320, 240, 0, 0, 640, 480},
        {160, 120, 333, 217, 0, 0, 333, 217, 0, 0, 160, 120},
        {352, 288, 301, 401, -5.5, 3.25, 290.5, 390, 7.75, -3, 320, 300},
        {1, 1, 37, 3, 0, 0, 37, 3, 0, 0, 1, 1},
        {3, 2, 1, 1, 0, 0, 1, 1, 0, 0, 3, 2},
    };
    for (const auto& c : cases) {
        const Bytes source =
            Random(size_t(CSurface::StrideFor8ByteRows(c.sw, 32)) * c.sh + 1, uint32_t(c.sw + c.dw));
        ExpectSameAtEveryLevel(
            [&] {
                Bytes out(size_t(CSurface::StrideFor8ByteRows(c.dw, 32)) * c.dh + 1, 0xEE);
                CSurface dst(out.data() + 1, c.dw, c.dh, 32);
                const CSurface src(const_cast<uint8_t*>(source.data()) + 1, c.sw, c.sh, 32);
                EXPECT_TRUE(dst.StretchBilinear(c.dx, c.dy, c.dwf, c.dhf, src, c.sx, c.sy, c.swf, c.shf));
                return out;
            },
            "stretch " + std::to_string(c.sw) + "x" + std::to_string(c.sh) + " to " + std::to_string(c.dw) +
                "x" + std::to_string(c.dh));
    }
}

}  // namespace
