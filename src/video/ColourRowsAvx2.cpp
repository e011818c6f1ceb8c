// AVX2 row kernels, compiled for AVX2 and called only after the run-time check of VideoCpu.h. Each gives
// the bytes of its plain version in ColourRowsC.cpp; blocks of 16 pixels. Nothing here may be shared
// with code built without AVX2 (no inline functions of other headers), so everything stays local.
#include "video/ColourRows.h"

#if defined(VP_VIDEO_X86) && defined(__AVX2__)
#include <immintrin.h>

namespace {

inline __m256i Load(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

inline __m256i Load2(const void* low, const void* high) {
    return _mm256_loadu2_m128i(static_cast<const __m128i*>(high), static_cast<const __m128i*>(low));
}

struct SYcc {
    __m256i y, cb, cr;
};

// As Ycc4 of the SSE2 kernels, for eight pixels: blue, green, red in the low three bytes of each lane
// and the fourth byte 0.
inline SYcc Ycc8(__m256i pixels) {
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    const __m256i b = _mm256_and_si256(pixels, byteMask);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(pixels, 8), byteMask);
    const __m256i r = _mm256_srli_epi32(pixels, 16);
    const __m256 fb = _mm256_cvtepi32_ps(b), fg = _mm256_cvtepi32_ps(g), fr = _mm256_cvtepi32_ps(r);
    const __m256 bHalf = _mm256_cvtepi32_ps(_mm256_srli_epi32(b, 1));
    const __m256 rHalf = _mm256_cvtepi32_ps(_mm256_srli_epi32(pixels, 17));
    const __m256 c128 = _mm256_set1_ps(128.0f);
    __m256 y =
        _mm256_add_ps(_mm256_mul_ps(fr, _mm256_set1_ps(0.299f)), _mm256_mul_ps(fg, _mm256_set1_ps(0.587f)));
    y = _mm256_add_ps(y, _mm256_mul_ps(fb, _mm256_set1_ps(0.114f)));
    __m256 cb =
        _mm256_add_ps(_mm256_mul_ps(fr, _mm256_set1_ps(0.1684f)), _mm256_mul_ps(fg, _mm256_set1_ps(0.3316f)));
    cb = _mm256_add_ps(_mm256_sub_ps(bHalf, cb), c128);
    __m256 cr = _mm256_sub_ps(rHalf, _mm256_mul_ps(fg, _mm256_set1_ps(0.4187f)));
    cr = _mm256_add_ps(_mm256_sub_ps(cr, _mm256_mul_ps(fb, _mm256_set1_ps(0.0813f))), c128);
    return {_mm256_cvtps_epi32(y), _mm256_cvtps_epi32(cb), _mm256_cvtps_epi32(cr)};
}

// Pixels 0-3 and 8-11 of a block go in `first`, 4-7 and 12-15 in `second`, so that packing the two
// leaves every row in order.
template <int Step>
void RgbRow(const SRowPlanes& rows, int width) {
    // For 3-byte pixels: each lane takes four pixels from 16 loaded bytes, starting at byte 0 or byte 4,
    // and clears the fourth byte.
    const __m256i spread0 =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    const __m256i spread4 =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1));
    const __m256i fourthByte = _mm256_set1_epi32(0xFFFFFF);
    const uint8_t* p = rows.in[0];
    for (int i = 0; i < width; i += 16, p += 16 * Step) {
        __m256i first, second;
        if constexpr (Step == 4) {
            const __m256i x0 = Load(p), x1 = Load(p + 32);
            first = _mm256_and_si256(_mm256_permute2x128_si256(x0, x1, 0x20), fourthByte);
            second = _mm256_and_si256(_mm256_permute2x128_si256(x0, x1, 0x31), fourthByte);
        } else {
            // Bytes 0-15 and 24-39, then 8-23 and 32-47: exactly the 48 bytes of the block.
            first = _mm256_shuffle_epi8(Load2(p, p + 24), spread0);
            second = _mm256_shuffle_epi8(Load2(p + 8, p + 32), spread4);
        }
        const SYcc a = Ycc8(first), b = Ycc8(second);
        const __m256i yCb = _mm256_permute4x64_epi64(
            _mm256_packus_epi16(_mm256_packs_epi32(a.y, b.y), _mm256_packs_epi32(a.cb, b.cb)), 0xD8);
        const __m256i cr16 = _mm256_packs_epi32(a.cr, b.cr);
        const __m256i cr = _mm256_permute4x64_epi64(_mm256_packus_epi16(cr16, cr16), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out[0] + i), _mm256_castsi256_si128(yCb));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out[1] + i), _mm256_extracti128_si256(yCb, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out[2] + i), _mm256_castsi256_si128(cr));
    }
}

inline __m256i Quarter(const uint8_t* a, const uint8_t* b) {
    const __m256i ones = _mm256_set1_epi8(1);
    const __m256i sum =
        _mm256_add_epi16(_mm256_maddubs_epi16(Load(a), ones), _mm256_maddubs_epi16(Load(b), ones));
    return _mm256_srli_epi16(sum, 2);
}

// (x * k + 2^14) >> 15 per signed 16-bit lane.
inline __m256i MulHrs(__m256i x, short k) {
    return _mm256_mulhrs_epi16(x, _mm256_set1_epi16(k));
}

}  // namespace

namespace colour_rows {

void RgbRow24Avx2(const SRowPlanes& rows, int width) {
    RgbRow<3>(rows, width);
}

void RgbRow32Avx2(const SRowPlanes& rows, int width) {
    RgbRow<4>(rows, width);
}

void ChromaRowAvx2(const SRowPlanes& rows, int width) {
    for (int c = 0; c < width; c += 16) {
        const __m256i cb = Quarter(rows.in[0] + 2 * c, rows.in[1] + 2 * c);
        const __m256i cr = Quarter(rows.in[2] + 2 * c, rows.in[3] + 2 * c);
        const __m256i both = _mm256_permute4x64_epi64(_mm256_packus_epi16(cb, cr), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out[0] + c), _mm256_castsi256_si128(both));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out[1] + c), _mm256_extracti128_si256(both, 1));
    }
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
