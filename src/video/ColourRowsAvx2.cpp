// AVX2 row kernels, compiled for AVX2 and called only after the run-time check of VideoCpu.h. Each
// gives the bytes of its plain version in ColourRowsC.cpp; blocks of 16 pixels. Nothing here may be shared
// with code built without AVX2 (no inline functions of other headers), so everything stays local.
#include "video/ColourRows.h"

#if defined(VP_VIDEO_X86) && defined(__AVX2__)
#include <immintrin.h>

namespace {

[[gnu::always_inline]] inline __m256i Load(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

[[gnu::always_inline]] inline __m256i Load2(const void* low, const void* high) {
    return _mm256_loadu2_m128i(static_cast<const __m128i*>(high), static_cast<const __m128i*>(low));
}

struct SYcc {
    __m256i y, cb, cr;
};

// Y, Cb, Cr of eight pixels, given as blue, green and red bytes zero-extended to 32-bit lanes. The sums
// run in the reference's order and the conversion rounds halves to even. No clamping is needed: Y lies in
// 0...255.0001 and Cb, Cr in 0.4999...255, so the rounded values already lie in 0...255.
[[gnu::always_inline]] inline SYcc Ycc8(__m256i b, __m256i g, __m256i r) {
    const __m256 fb = _mm256_cvtepi32_ps(b), fg = _mm256_cvtepi32_ps(g), fr = _mm256_cvtepi32_ps(r);
    // One single-precision multiply each: exactly the table entries.
    const auto product = [](__m256 x, float c) { return _mm256_mul_ps(x, _mm256_set1_ps(c)); };
    const __m256 bHalf = _mm256_cvtepi32_ps(_mm256_srli_epi32(b, 1));
    const __m256 rHalf = _mm256_cvtepi32_ps(_mm256_srli_epi32(r, 1));
    const __m256 c128 = _mm256_set1_ps(128.0f);
    const __m256 y =
        _mm256_add_ps(_mm256_add_ps(product(fr, 0.299f), product(fg, 0.587f)), product(fb, 0.114f));
    const __m256 cb =
        _mm256_add_ps(_mm256_sub_ps(bHalf, _mm256_add_ps(product(fr, 0.1684f), product(fg, 0.3316f))), c128);
    const __m256 cr =
        _mm256_add_ps(_mm256_sub_ps(_mm256_sub_ps(rHalf, product(fg, 0.4187f)), product(fb, 0.0813f)), c128);
    return {_mm256_cvtps_epi32(y), _mm256_cvtps_epi32(cb), _mm256_cvtps_epi32(cr)};
}

// Y, Cb, Cr of 16 pixels as 16-bit lanes in order. Pixels 0-3 and 8-11 go through one Ycc8, 4-7 and
// 12-15 through the other, so that packing the two leaves them in order.
template <int Step>
[[gnu::always_inline]] inline SYcc Ycc16(const uint8_t* p) {
    __m256i b[2], g[2], r[2];
    if constexpr (Step == 4) {
        const __m256i x0 = Load(p), x1 = Load(p + 32);
        const __m256i byteMask = _mm256_set1_epi32(0xFF);
        for (int k = 0; k < 2; ++k) {
            const __m256i x =
                k ? _mm256_permute2x128_si256(x0, x1, 0x31) : _mm256_permute2x128_si256(x0, x1, 0x20);
            b[k] = _mm256_and_si256(x, byteMask);
            g[k] = _mm256_and_si256(_mm256_srli_epi32(x, 8), byteMask);
            r[k] = _mm256_and_si256(_mm256_srli_epi32(x, 16), byteMask);
        }
    } else {
        // Bytes 0-15 and 24-39 hold pixels 0-3 and 8-11 from their first byte; bytes 8-23 and 32-47 hold
        // 4-7 and 12-15 from their fifth: exactly the 48 bytes of the block are read.
        const __m256i x[2] = {Load2(p, p + 24), Load2(p + 8, p + 32)};
        for (int k = 0; k < 2; ++k) {
            const auto pick = [k](int c) {
                const char o = char(4 * k + c);
                return _mm256_broadcastsi128_si256(_mm_setr_epi8(o, -1, -1, -1, char(o + 3), -1, -1, -1,
                                                                 char(o + 6), -1, -1, -1, char(o + 9), -1, -1,
                                                                 -1));
            };
            b[k] = _mm256_shuffle_epi8(x[k], pick(0));
            g[k] = _mm256_shuffle_epi8(x[k], pick(1));
            r[k] = _mm256_shuffle_epi8(x[k], pick(2));
        }
    }
    const SYcc a = Ycc8(b[0], g[0], r[0]), c = Ycc8(b[1], g[1], r[1]);
    return {_mm256_packs_epi32(a.y, c.y), _mm256_packs_epi32(a.cb, c.cb), _mm256_packs_epi32(a.cr, c.cr)};
}

// The sums of the 2 x 2 blocks of two rows of 16 values, >> 2: results 0-3 and 4-7 in the two halves.
[[gnu::always_inline]] inline __m256i Quarter(__m256i upper, __m256i lower) {
    return _mm256_srli_epi32(_mm256_madd_epi16(_mm256_add_epi16(upper, lower), _mm256_set1_epi16(1)), 2);
}

template <int Step>
void RgbRows(const SRowPlanes& rows, int width) {
    for (int i = 0; i < width; i += 16) {
        const SYcc a = Ycc16<Step>(rows.in[0] + i * Step), b = Ycc16<Step>(rows.in[1] + i * Step);
        const __m256i y = _mm256_permute4x64_epi64(_mm256_packus_epi16(a.y, b.y), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out[0] + i), _mm256_castsi256_si128(y));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out[1] + i), _mm256_extracti128_si256(y, 1));
        // Per half: U 0-3 (4-7) and V 0-3 (4-7) become 32-bit groups 0 and 1 (4 and 5) of the packed bytes.
        const __m256i uv16 = _mm256_packs_epi32(Quarter(a.cb, b.cb), Quarter(a.cr, b.cr));
        const __m128i uv = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
            _mm256_packus_epi16(uv16, uv16), _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.out[2] + i / 2), uv);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.out[3] + i / 2), _mm_srli_si128(uv, 8));
    }
}

// (x * k + 2^14) >> 15 per signed 16-bit lane.
[[gnu::always_inline]] inline __m256i MulHrs(__m256i x, short k) {
    return _mm256_mulhrs_epi16(x, _mm256_set1_epi16(k));
}

}  // namespace

namespace colour_rows {

void RgbRows24Avx2(const SRowPlanes& rows, int width) {
    RgbRows<3>(rows, width);
}

void RgbRows32Avx2(const SRowPlanes& rows, int width) {
    RgbRows<4>(rows, width);
}

// The rounded terms of the tables as multiplies: round(c x d) = m x d + ((d x k + 2^14) >> 15) holds for
// every d the tables take with these k (found by trying each, checked by the tests against the tables).
void YuvRowsAvx2(const SRowPlanes& rows, int width) {
    const __m256i zero = _mm256_setzero_si256();
    for (int x = 0; x < width; x += 16) {
        const __m128i u = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows.in[2] + x / 2));
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows.in[3] + x / 2));
        // Each chroma sample serves two neighbouring pixels.
        const __m256i c128 = _mm256_set1_epi16(128);
        const __m256i du = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u, u)), c128);
        const __m256i dv = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v, v)), c128);
        const __m256i blue = _mm256_add_epi16(_mm256_add_epi16(du, du), MulHrs(du, 588));
        const __m256i red = _mm256_add_epi16(dv, MulHrs(dv, 19528));
        const __m256i green = _mm256_add_epi16(MulHrs(du, 12811), MulHrs(dv, 26627));
        for (int k = 0; k < 2; ++k) {
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.in[k] + x));
            const __m256i dy = _mm256_sub_epi16(_mm256_cvtepu8_epi16(y), _mm256_set1_epi16(16));
            const __m256i ty = _mm256_add_epi16(dy, MulHrs(dy, 5374));
            const __m256i br = _mm256_packus_epi16(_mm256_add_epi16(ty, blue), _mm256_add_epi16(ty, red));
            const __m256i g0 = _mm256_packus_epi16(_mm256_sub_epi16(ty, green), zero);
            const __m256i bg = _mm256_unpacklo_epi8(br, g0), r0 = _mm256_unpackhi_epi8(br, g0);
            const __m256i lo = _mm256_unpacklo_epi16(bg, r0), hi = _mm256_unpackhi_epi16(bg, r0);
            auto* out = reinterpret_cast<__m256i*>(rows.out[k] + 4 * x);
            _mm256_storeu_si256(out, _mm256_permute2x128_si256(lo, hi, 0x20));
            _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
        }
    }
}

void StretchColumnsAvx2(const SRowPlanes& rows, int width) {
    const auto* columns = reinterpret_cast<const int32_t*>(rows.in[1]);
    const uint8_t* src = rows.in[0];
    // Each 8-byte pair of pixels becomes blue, blue, green, green, red, red, fourth, fourth.
    const __m256i interleave =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15));
    const auto pair = [src](int32_t column) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 4 * long(column)));
    };
    for (int i = 0; i < width; i += 4) {
        const __m128i low = _mm_unpacklo_epi64(pair(columns[i]), pair(columns[i + 1]));
        const __m128i high = _mm_unpacklo_epi64(pair(columns[i + 2]), pair(columns[i + 3]));
        const __m256i pixels = _mm256_shuffle_epi8(_mm256_set_m128i(high, low), interleave);
        const __m256i sums = _mm256_maddubs_epi16(pixels, Load(rows.in[2] + 8 * i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows.out[0] + 8 * i), sums);
    }
}

void StretchRowsAvx2(const SRowPlanes& rows, int width) {
    const __m256i wa = _mm256_set1_epi16(short(16 - rows.param)), wb = _mm256_set1_epi16(short(rows.param));
    const uint8_t* a = rows.in[0];
    const uint8_t* b = rows.in[1];
    // Sums stay within 16 unsigned bits: 4080 x 16 at most.
    const auto blend = [&](long offset) {
        const __m256i s = _mm256_add_epi16(_mm256_mullo_epi16(Load(a + offset), wa),
                                           _mm256_mullo_epi16(Load(b + offset), wb));
        return _mm256_srli_epi16(s, 8);
    };
    for (int i = 0; i < width; i += 8) {
        const __m256i packed = _mm256_packus_epi16(blend(8L * i), blend(8L * i + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows.out[0] + 4 * i),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
}

}  // namespace colour_rows

#endif
