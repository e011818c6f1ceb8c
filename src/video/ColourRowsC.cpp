// The plain row kernels (the reference for the vector ones) and the tables they read.
#include <algorithm>
#include <cmath>

#include "video/ColourRows.h"

namespace {

// round(c x d) = floor(c x d + 0.5) with the coefficient held in single precision: 1.596 x 125 is just
// under 199.5 and gives 199.
constexpr int RoundTerm(float coefficient, int d) {
    const double x = double(coefficient) * d + 0.5;  // exact: a 24-bit by 9-bit product
    const int t = static_cast<int>(x);
    return t > x ? t - 1 : t;
}

constexpr std::array<uint32_t, 256> MakeTable(float high, float low, int offset, bool lowIsGreen) {
    std::array<uint32_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        const int d = i - offset;
        const int l = lowIsGreen ? 4096 - RoundTerm(low, d) : 8192 + RoundTerm(low, d);
        t[size_t(i)] = uint32_t(8192 + RoundTerm(high, d)) << 16 | uint32_t(l);
    }
    return t;
}

using SClampTable = std::array<uint8_t, kYuvClampLast - kYuvClampFirst + 1>;
constexpr SClampTable kClamp = [] {
    SClampTable t{};
    for (int i = kYuvClampFirst; i <= kYuvClampLast; ++i)
        t[size_t(i - kYuvClampFirst)] = uint8_t(std::clamp(i - 16384, 0, 255));
    return t;
}();

struct SRgbTables {
    float t[7][256];
    SRgbTables() {
        static const float coefficients[7] = {0.299f, 0.587f, 0.114f, 0.1684f, 0.3316f, 0.4187f, 0.0813f};
        for (int k = 0; k < 7; ++k)
            for (int i = 0; i < 256; ++i)
                t[k][i] = float(i) * coefficients[k];
    }
};

const SRgbTables& RgbTables() {
    static const SRgbTables tables;  // built on first use, once
    return tables;
}

uint8_t ClampRound(float v) {
    v = v < 0.0f ? 0.0f : v > 255.0f ? 255.0f : v;
    return static_cast<uint8_t>(std::nearbyint(v));  // halves to even in the default rounding mode
}

template <int Step>
void RgbRows(const SRowPlanes& rows, int width) {
    const auto& t = RgbTables().t;
    for (int x = 0; x < width; x += 2) {
        int cb = 0, cr = 0;
        for (int k = 0; k < 2; ++k)
            for (int i = x; i < x + 2 && i < width; ++i) {
                const uint8_t* p = rows.in[k] + i * Step;
                const int b = p[0], g = p[1], r = p[2];
                rows.out[k][i] = ClampRound(t[0][r] + t[1][g] + t[2][b]);
                cb += ClampRound(float(b >> 1) - (t[3][r] + t[4][g]) + 128.0f);
                cr += ClampRound(float(r >> 1) - t[5][g] - t[6][b] + 128.0f);
            }
        if (x + 1 < width) {
            rows.out[2][x / 2] = uint8_t(cb >> 2);
            rows.out[3][x / 2] = uint8_t(cr >> 2);
        }
    }
}

uint32_t YuvPixel(int y, int u, int v) {
    const uint32_t ty = kYuvTableY[size_t(y)], tu = kYuvTableU[size_t(u)], tv = kYuvTableV[size_t(v)];
    const uint32_t r = YuvClamp(int((ty >> 16) + (tv >> 16)));
    const uint32_t g = YuvClamp(int((ty & 0xFFFF) + (tu & 0xFFFF) + (tv & 0xFFFF)));
    const uint32_t b = YuvClamp(int((ty & 0xFFFF) + (tu >> 16)));
    return r << 16 | g << 8 | b;
}

void StorePixel(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}

}  // namespace

extern constexpr std::array<uint32_t, 256> kYuvTableY = MakeTable(1.164f, 1.164f, 16, false);
extern constexpr std::array<uint32_t, 256> kYuvTableU = MakeTable(2.018f, 0.391f, 128, true);
extern constexpr std::array<uint32_t, 256> kYuvTableV = MakeTable(1.596f, 0.813f, 128, true);

// Every sum the tables can give has its entry in the clamp table.
static_assert([] {
    const auto low = [](uint32_t e) { return int(e & 0xFFFF); };
    const auto high = [](uint32_t e) { return int(e >> 16); };
    for (int y = 0; y < 256; ++y)
        for (int c = 0; c < 256; ++c) {
            const int ty = low(kYuvTableY[size_t(y)]);
            for (int s : {ty + high(kYuvTableV[size_t(c)]), ty + high(kYuvTableU[size_t(c)]),
                          ty + low(kYuvTableU[size_t(c)]) + low(kYuvTableV[0]),
                          ty + low(kYuvTableU[size_t(c)]) + low(kYuvTableV[255])})
                if (s < kYuvClampFirst || s > kYuvClampLast)
                    return false;
        }
    return true;
}());

uint8_t YuvClamp(int sum) {
    return kClamp[size_t(sum - kYuvClampFirst)];
}

const float* RgbCoefficientTable(int index) {
    return RgbTables().t[index];
}

namespace colour_rows {

void RgbRows24C(const SRowPlanes& rows, int width) {
    RgbRows<3>(rows, width);
}

void RgbRows32C(const SRowPlanes& rows, int width) {
    RgbRows<4>(rows, width);
}

void YuvRowsC(const SRowPlanes& rows, int width) {
    for (int x = 0; x < width; ++x) {
        const int u = rows.in[2][x / 2], v = rows.in[3][x / 2];
        StorePixel(rows.out[0] + 4 * x, YuvPixel(rows.in[0][x], u, v));
        StorePixel(rows.out[1] + 4 * x, YuvPixel(rows.in[1][x], u, v));
    }
}

void StretchColumnsC(const SRowPlanes& rows, int width) {
    const uint8_t* src = rows.in[0];
    const auto* columns = reinterpret_cast<const int32_t*>(rows.in[1]);
    auto* out = reinterpret_cast<uint16_t*>(rows.out[0]);
    for (int i = 0; i < width; ++i) {
        const uint8_t* p = src + 4 * long(columns[i]);
        const uint8_t* w = rows.in[2] + 8 * i;
        for (int c = 0; c < 4; ++c)
            out[4 * i + c] = uint16_t(p[c] * w[2 * c] + p[c + 4] * w[2 * c + 1]);
    }
}

void StretchRowsC(const SRowPlanes& rows, int width) {
    const auto* a = reinterpret_cast<const uint16_t*>(rows.in[0]);
    const auto* b = reinterpret_cast<const uint16_t*>(rows.in[1]);
    const int fy = rows.param;
    for (int i = 0; i < 4 * width; ++i)
        rows.out[0][i] = uint8_t((a[i] * (16 - fy) + b[i] * fy) >> 8);
}

}  // namespace colour_rows
