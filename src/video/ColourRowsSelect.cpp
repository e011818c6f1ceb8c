// Picks each row kernel by the processor's features, wrapped so that it takes any width.
#include <cstring>

#include "video/ColourRows.h"
#include "video/VideoCpu.h"

namespace {

// Bytes each row of a kernel holds per `per` pixels; 0 for a row the kernel does not use or does not
// walk along (the stretch's source row, reached through column numbers).
struct SRowShape {
    int per;
    int in[4];
    int out[4];
};

constexpr SRowShape kRgb24Shape{2, {6, 6, 0, 0}, {2, 2, 1, 1}};
constexpr SRowShape kRgb32Shape{2, {8, 8, 0, 0}, {2, 2, 1, 1}};
constexpr SRowShape kYuvShape{2, {2, 2, 1, 1}, {8, 8, 0, 0}};
constexpr SRowShape kStretchColumnsShape{1, {0, 4, 8, 0}, {8, 0, 0, 0}};
constexpr SRowShape kStretchRowsShape{1, {8, 8, 0, 0}, {4, 0, 0, 0}};

// Runs `Kernel` on the whole blocks of a row, then on one block made of a zero-padded copy of the rest,
// and copies back what belongs to the row.
template <RowKernel Kernel, int Block, const SRowShape& Shape>
void AnyWidth(const SRowPlanes& rows, int width) {
    const int whole = width - width % Block;
    if (whole > 0)
        Kernel(rows, whole);
    const int rest = width - whole;
    if (rest == 0)
        return;
    constexpr int kBytes = 8 * Block;  // the most any row holds for one block
    alignas(32) uint8_t in[4][kBytes];
    alignas(32) uint8_t out[4][kBytes];
    const auto offset = [&](int bytes) { return long(whole) * bytes / Shape.per; };
    const auto size = [&](int bytes) { return size_t(rest * bytes / Shape.per); };
    SRowPlanes tail = rows;
    for (int k = 0; k < 4; ++k) {
        if (Shape.in[k] == 0)
            continue;
        std::memset(in[k], 0, kBytes);
        std::memcpy(in[k], rows.in[k] + offset(Shape.in[k]), size(Shape.in[k]));
        tail.in[k] = in[k];
    }
    for (int k = 0; k < 4; ++k)
        if (Shape.out[k] != 0)
            tail.out[k] = out[k];
    Kernel(tail, Block);
    for (int k = 0; k < 4; ++k)
        if (Shape.out[k] != 0)
            std::memcpy(rows.out[k] + offset(Shape.out[k]), out[k], size(Shape.out[k]));
}

template <RowKernel Plain, RowKernel Sse2, RowKernel Avx2, const SRowShape& Shape>
RowKernel Select() {
#ifdef VP_VIDEO_X86
    const unsigned features = VideoCpuFeatures();
    if (features & kVideoCpuAvx2)
        return AnyWidth<Avx2, colour_rows::kAvx2Block, Shape>;
    if (features & kVideoCpuSse2)
        return AnyWidth<Sse2, colour_rows::kSse2Block, Shape>;
#endif
    return Plain;
}

}  // namespace

#ifdef VP_VIDEO_X86
#define VP_KERNELS(name) colour_rows::name##C, colour_rows::name##Sse2, colour_rows::name##Avx2
#else
#define VP_KERNELS(name) colour_rows::name##C, colour_rows::name##C, colour_rows::name##C
#endif

RowKernel SelectRgbRows(int bytesPerPixel) {
    return bytesPerPixel == 3 ? Select<VP_KERNELS(RgbRows24), kRgb24Shape>()
                              : Select<VP_KERNELS(RgbRows32), kRgb32Shape>();
}

RowKernel SelectYuvRows() {
    return Select<VP_KERNELS(YuvRows), kYuvShape>();
}

RowKernel SelectStretchColumns() {
    return Select<VP_KERNELS(StretchColumns), kStretchColumnsShape>();
}

RowKernel SelectStretchRows() {
    return Select<VP_KERNELS(StretchRows), kStretchRowsShape>();
}
