// SSE2 row kernels: the baseline of every x86-64 processor. Each gives the bytes of its plain version in
// ColourRowsC.cpp; blocks of 8 pixels.
#include "video/ColourRows.h"

#ifdef VP_VIDEO_X86
#include <emmintrin.h>

namespace {

// (x * k + 2^14) >> 15 per signed 16-bit lane, from the low and high halves of the products.
[[gnu::always_inline]] inline __m128i MulHrs(__m128i x, __m128i k) {
    const __m128i lo = _mm_mullo_epi16(x, k), hi = _mm_mulhi_epi16(x, k);
    const __m128i carry = _mm_srli_epi16(_mm_add_epi16(_mm_srli_epi16(lo, 14), _mm_set1_epi16(1)), 1);
    return _mm_add_epi16(_mm_slli_epi16(hi, 1), carry);
}

struct SYcc {
    __m128i y, cb, cr;
};

// Y, Cb, Cr of four pixels whose blue, green and red are the low three bytes of each 32-bit lane. The
// products equal the table entries (one single-precision multiply each), the sums run in the reference's
// order, and the conversion rounds halves to even. Rounding before clamping gives the same integers, and
// the packs that follow do the clamping.
[[gnu::always_inline]] inline SYcc Ycc4(__m128i pixels) {
    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128i b = _mm_and_si128(pixels, byteMask);
    const __m128i g = _mm_and_si128(_mm_srli_epi32(pixels, 8), byteMask);
    const __m128i r = _mm_and_si128(_mm_srli_epi32(pixels, 16), byteMask);
    const __m128 fb = _mm_cvtepi32_ps(b), fg = _mm_cvtepi32_ps(g), fr = _mm_cvtepi32_ps(r);
    const __m128 bHalf = _mm_cvtepi32_ps(_mm_srli_epi32(b, 1)), rHalf = _mm_cvtepi32_ps(_mm_srli_epi32(r, 1));
    const __m128 c128 = _mm_set1_ps(128.0f);
    __m128 y = _mm_add_ps(_mm_mul_ps(fr, _mm_set1_ps(0.299f)), _mm_mul_ps(fg, _mm_set1_ps(0.587f)));
    y = _mm_add_ps(y, _mm_mul_ps(fb, _mm_set1_ps(0.114f)));
    __m128 cb = _mm_add_ps(_mm_mul_ps(fr, _mm_set1_ps(0.1684f)), _mm_mul_ps(fg, _mm_set1_ps(0.3316f)));
    cb = _mm_add_ps(_mm_sub_ps(bHalf, cb), c128);
    __m128 cr = _mm_sub_ps(rHalf, _mm_mul_ps(fg, _mm_set1_ps(0.4187f)));
    cr = _mm_add_ps(_mm_sub_ps(cr, _mm_mul_ps(fb, _mm_set1_ps(0.0813f))), c128);
    return {_mm_cvtps_epi32(y), _mm_cvtps_epi32(cb), _mm_cvtps_epi32(cr)};
}

// Four 3-byte pixels from the first 12 bytes of v, one per 32-bit lane (the fourth byte is left over).
[[gnu::always_inline]] inline __m128i Spread24(__m128i v) {
    const __m128i p01 = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
    const __m128i p23 = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
    return _mm_unpacklo_epi64(p01, p23);
}

// Y, Cb and Cr of 8 pixels as 16-bit lanes.
template <int Step>
[[gnu::always_inline]] inline SYcc Ycc8(const uint8_t* p) {
    __m128i first, second;
    if constexpr (Step == 4) {
        first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    } else {
        // Bytes 0...15 and 8...23: exactly the 24 bytes of the block.
        first = Spread24(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        second = Spread24(_mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 4));
    }
    const SYcc a = Ycc4(first), b = Ycc4(second);
    return {_mm_packs_epi32(a.y, b.y), _mm_packs_epi32(a.cb, b.cb), _mm_packs_epi32(a.cr, b.cr)};
}

// The sums of the 2 x 2 blocks of two rows of 8 values, >> 2, in the four 32-bit lanes.
[[gnu::always_inline]] inline __m128i Quarter(__m128i upper, __m128i lower) {
    return _mm_srli_epi32(_mm_madd_epi16(_mm_add_epi16(upper, lower), _mm_set1_epi16(1)), 2);
}

template <int Step>
void RgbRows(const SRowPlanes& rows, int width) {
    for (int i = 0; i < width; i += 8) {
        const SYcc a = Ycc8<Step>(rows.in[0] + i * Step), b = Ycc8<Step>(rows.in[1] + i * Step);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.out[0] + i), _mm_packus_epi16(a.y, a.y));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.out[1] + i), _mm_packus_epi16(b.y, b.y));
        // U in bytes 0-3, V in bytes 4-7.
        const __m128i uv16 = _mm_packs_epi32(Quarter(a.cb, b.cb), Quarter(a.cr, b.cr));
        const __m128i uv = _mm_packus_epi16(uv16, uv16);
        const int32_t u = _mm_cvtsi128_si32(uv), v = _mm_cvtsi128_si32(_mm_srli_si128(uv, 4));
        __builtin_memcpy(rows.out[2] + i / 2, &u, 4);
        __builtin_memcpy(rows.out[3] + i / 2, &v, 4);
    }
}

// The four 16-bit sums (blue, green, red, 0) of one destination pixel from the two source pixels at
// `p`, weighted by `w` (8 bytes).
[[gnu::always_inline]] inline __m128i ColumnSums(const uint8_t* p, const uint8_t* w) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i pair = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i channels = _mm_unpacklo_epi8(_mm_unpacklo_epi8(pair, _mm_srli_si128(pair, 4)), zero);
    const __m128i weights = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w)), zero);
    return _mm_madd_epi16(channels, weights);
}

}  // namespace

namespace colour_rows {

void RgbRows24Sse2(const SRowPlanes& rows, int width) {
    RgbRows<3>(rows, width);
}

void RgbRows32Sse2(const SRowPlanes& rows, int width) {
    RgbRows<4>(rows, width);
}

void YuvRowsSse2(const SRowPlanes& rows, int width) {
    const __m128i zero = _mm_setzero_si128();
    for (int x = 0; x < width; x += 8) {
        int32_t u4, v4;
        __builtin_memcpy(&u4, rows.in[2] + x / 2, 4);
        __builtin_memcpy(&v4, rows.in[3] + x / 2, 4);
        const __m128i u = _mm_cvtsi32_si128(u4), v = _mm_cvtsi32_si128(v4);
        // Each chroma sample serves two neighbouring pixels.
        const __m128i du =
            _mm_sub_epi16(_mm_unpacklo_epi8(_mm_unpacklo_epi8(u, u), zero), _mm_set1_epi16(128));
        const __m128i dv =
            _mm_sub_epi16(_mm_unpacklo_epi8(_mm_unpacklo_epi8(v, v), zero), _mm_set1_epi16(128));
        const __m128i blue = _mm_add_epi16(_mm_add_epi16(du, du), MulHrs(du, _mm_set1_epi16(588)));
        const __m128i red = _mm_add_epi16(dv, MulHrs(dv, _mm_set1_epi16(19528)));
        const __m128i green =
            _mm_add_epi16(MulHrs(du, _mm_set1_epi16(12811)), MulHrs(dv, _mm_set1_epi16(26627)));
        for (int k = 0; k < 2; ++k) {
            const __m128i y = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows.in[k] + x));
            const __m128i dy = _mm_sub_epi16(_mm_unpacklo_epi8(y, zero), _mm_set1_epi16(16));
            const __m128i ty = _mm_add_epi16(dy, MulHrs(dy, _mm_set1_epi16(5374)));
            const __m128i br = _mm_packus_epi16(_mm_add_epi16(ty, blue), _mm_add_epi16(ty, red));
            const __m128i g0 = _mm_packus_epi16(_mm_sub_epi16(ty, green), zero);
            const __m128i bg = _mm_unpacklo_epi8(br, g0), r0 = _mm_unpackhi_epi8(br, g0);
            auto* out = reinterpret_cast<__m128i*>(rows.out[k] + 4 * x);
            _mm_storeu_si128(out, _mm_unpacklo_epi16(bg, r0));
            _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(bg, r0));
        }
    }
}

void StretchColumnsSse2(const SRowPlanes& rows, int width) {
    const auto* columns = reinterpret_cast<const int32_t*>(rows.in[1]);
    for (int i = 0; i < width; i += 2) {
        const __m128i a = ColumnSums(rows.in[0] + 4 * long(columns[i]), rows.in[2] + 8 * i);
        const __m128i b = ColumnSums(rows.in[0] + 4 * long(columns[i + 1]), rows.in[2] + 8 * i + 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out[0] + 8 * i), _mm_packs_epi32(a, b));
    }
}

void StretchRowsSse2(const SRowPlanes& rows, int width) {
    const __m128i wa = _mm_set1_epi16(int16_t(16 - rows.param)), wb = _mm_set1_epi16(int16_t(rows.param));
    const auto* a = reinterpret_cast<const __m128i*>(rows.in[0]);
    const auto* b = reinterpret_cast<const __m128i*>(rows.in[1]);
    auto* out = reinterpret_cast<__m128i*>(rows.out[0]);
    // Sums stay within 16 unsigned bits: 4080 x 16 at most.
    const auto blend = [&](int k) {
        const __m128i s = _mm_add_epi16(_mm_mullo_epi16(_mm_loadu_si128(a + k), wa),
                                        _mm_mullo_epi16(_mm_loadu_si128(b + k), wb));
        return _mm_srli_epi16(s, 8);
    };
    for (int i = 0; i < width; i += 4)
        _mm_storeu_si128(out + i / 4, _mm_packus_epi16(blend(i / 2), blend(i / 2 + 1)));
}

}  // namespace colour_rows

#endif
