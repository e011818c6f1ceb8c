#include "video/V4l2FrameLayout.h"

#include <cstring>

namespace {

// `width` x `height` samples of `bytes` each, from rows of 2*width samples.
void HalvePlane(const uint8_t* source, size_t sourceStride, int width, int height, int bytes, uint8_t* out,
                size_t outStride, bool flip) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* a = source + sourceStride * size_t(2 * y);
        const uint8_t* b = a + sourceStride;
        uint8_t* o = out + outStride * size_t(flip ? height - 1 - y : y);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < bytes; ++c) {
                const size_t i = size_t(2 * x) * bytes + c, j = i + bytes;
                *o++ = static_cast<uint8_t>((a[i] + a[j] + b[i] + b[j] + 2) >> 2);
            }
    }
}

}  // namespace

size_t BottomUpRowBytes(int width) {
    return (size_t(width) * 3 + 3) & ~size_t(3);
}

void CopyBgrBottomUp(const uint8_t* top, int width, int height, uint8_t* out) {
    const size_t row = size_t(width) * 3, stride = BottomUpRowBytes(width);
    for (int y = 0; y < height; ++y) {
        uint8_t* o = out + stride * size_t(height - 1 - y);
        std::memcpy(o, top + row * size_t(y), row);
        std::memset(o + row, 0, stride - row);
    }
}

void HalveBgrBottomUp(const uint8_t* top, int width, int height, uint8_t* out) {
    const size_t row = size_t(width) * 3, stride = BottomUpRowBytes(width);
    HalvePlane(top, 2 * row, width, height, 3, out, stride, true);
    for (int y = 0; y < height; ++y)
        std::memset(out + stride * size_t(y) + row, 0, stride - row);
}

void HalveI420(const uint8_t* source, int width, int height, uint8_t* out) {
    const size_t luma = size_t(width) * height;
    HalvePlane(source, 2 * size_t(width), width, height, 1, out, width, false);
    const uint8_t* chroma = source + 4 * luma;
    uint8_t* outChroma = out + luma;
    for (int plane = 0; plane < 2; ++plane)
        HalvePlane(chroma + plane * luma, width, width / 2, height / 2, 1, outChroma + plane * (luma / 4),
                   width / 2, false);
}
