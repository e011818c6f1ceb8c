// The row kernels under the colour conversions and the stretch, internal to the video library and its
// tests. Every kernel has a plain version, which is the reference, and SSE2 and AVX2 versions that give
// the same bytes for every input. The public functions only walk rows; the Select functions hand them the
// fastest kernel that the processor and the mask of VideoCpu.h allow, ready for any width (a vector kernel
// gets the remainder of a row through a padded copy, so none reads or writes past a row). A row of a
// kernel holding b bytes per p pixels holds floor(width x b / p) bytes.
#pragma once

#include <array>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define VP_VIDEO_X86 1
#endif

// The rows of one kernel call; which entries a kernel uses is listed with its Select function.
struct SRowPlanes {
    const uint8_t* in[4] = {};
    uint8_t* out[4] = {};
    int param = 0;
};
using RowKernel = void (*)(const SRowPlanes& rows, int width);

// Two rows of RGB pixels to two rows of Y and one of U and V. in[0], in[1]: `width` pixels of
// `bytesPerPixel` (3 or 4) bytes, blue, green, red first, for the upper and the lower output row; out[0],
// out[1]: `width` bytes of Y; out[2], out[3]: width / 2 bytes of U and V. Per pixel, in single precision
// with the products of the coefficient tables and this order of sums:
//   Y = (0.299 R + 0.587 G) + 0.114 B,  Cb = ((B >> 1) - (0.1684 R + 0.3316 G)) + 128,
//   Cr = (((R >> 1) - 0.4187 G) - 0.0813 B) + 128,
// each clamped to 0...255, then rounded to the nearest integer, halves to even. U and V: the sum of the
// Cb (Cr) values of a 2 x 2 block >> 2.
RowKernel SelectRgbRows(int bytesPerPixel);
// The seven tables, index 0...6: the byte value times 0.299, 0.587, 0.114, 0.1684, 0.3316, 0.4187, 0.0813.
const float* RgbCoefficientTable(int index);

// Two I420 rows sharing one chroma row, to 32-bit pixels. in[0], in[1]: `width` (even) Y bytes of the two
// rows; in[2], in[3]: width / 2 bytes of U and V; out[0], out[1]: the 4 x `width` bytes of each row's
// pixels, from the tables below.
RowKernel SelectYuvRows();
// The conversion tables: two 16-bit halves each, 8192 + a rounded term (4096 - a term for the green
// halves). R = clamp(TY.high + TV.high), G = clamp(TY.low + TU.low + TV.low), B = clamp(TY.low + TU.high).
extern const std::array<uint32_t, 256> kYuvTableY, kYuvTableU, kYuvTableV;
// max(0, min(255, sum - 16384)) for every sum the tables can give: 16107 (blue of Y 0, U 0) to 16918
// (blue of Y 255, U 255).
uint8_t YuvClamp(int sum);
constexpr int kYuvClampFirst = 16107, kYuvClampLast = 16918;

// Stretch, across a row: in[0] (not offset with the row) the source row of 32-bit pixels; in[1]: an
// int32 source column per destination pixel; in[2]: 8 weight bytes per destination pixel, (w0, w1) for
// blue, green and red, then (0, 0); out[0]: 4 16-bit sums per destination pixel, p[c] * w0 + p[c + 1] *
// w1 per channel. Every column c + 1 lies in the source row.
RowKernel SelectStretchColumns();
// Stretch, down: in[0], in[1]: two rows of those sums; param: fy (0...16); out[0]: 32-bit pixels,
// (a * (16 - fy) + b * fy) >> 8 per channel.
RowKernel SelectStretchRows();

// The kernels behind the Select functions, for the tests and the Select functions only. A vector kernel
// handles a whole number of its blocks (the *Block constants) per call.
namespace colour_rows {
void RgbRows24C(const SRowPlanes&, int);
void RgbRows32C(const SRowPlanes&, int);
void YuvRowsC(const SRowPlanes&, int);
void StretchColumnsC(const SRowPlanes&, int);
void StretchRowsC(const SRowPlanes&, int);
#ifdef VP_VIDEO_X86
constexpr int kSse2Block = 8, kAvx2Block = 16;
void RgbRows24Sse2(const SRowPlanes&, int);
void RgbRows32Sse2(const SRowPlanes&, int);
void YuvRowsSse2(const SRowPlanes&, int);
void StretchColumnsSse2(const SRowPlanes&, int);
void StretchRowsSse2(const SRowPlanes&, int);
void RgbRows24Avx2(const SRowPlanes&, int);
void RgbRows32Avx2(const SRowPlanes&, int);
void YuvRowsAvx2(const SRowPlanes&, int);
void StretchColumnsAvx2(const SRowPlanes&, int);
void StretchRowsAvx2(const SRowPlanes&, int);
#endif
}  // namespace colour_rows
