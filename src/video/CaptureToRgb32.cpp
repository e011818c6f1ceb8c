#include "video/CaptureToRgb32.h"

#include <cstring>

#include "video/ColourConversion.h"

namespace {

constexpr int kMaxSide = 4096;

}  // namespace

long CaptureToRgb32(const CDataBuffer& frame, const CImageFormat& format, CDataBuffer& rgb,
                    CImageFormat& rgbFormat) {
    if (format.IsI420())
        return I420ToRgb32(frame, format, rgb, rgbFormat);
    const SBitmapInfoHeader& h = format.m_Header.header;
    if (h.biCompression != 0 || (h.biBitCount != 24 && h.biBitCount != 32))
        return -1;
    const long width = h.biWidth;
    const bool topDown = h.biHeight < 0;
    const long height = topDown ? -long(h.biHeight) : long(h.biHeight);
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || frame.Data() == nullptr)
        return -1;
    const long pixelBytes = h.biBitCount / 8;
    const long tight = width * pixelBytes;
    const long padded = (tight + 3) & ~3L;
    long stride;
    if (frame.Size() >= padded * height)
        stride = padded;
    else if (frame.Size() >= tight * height)
        stride = tight;
    else
        return -1;

    const long size = width * height * 4;
    rgb.Resize(size);
    if (rgb.Size() != size)
        return -1;
    rgbFormat.CopyFrom(format);
    rgbFormat.m_Header.header.biHeight = static_cast<int32_t>(height);
    rgbFormat.SetUncompressed(32);

    for (long y = 0; y < height; ++y) {
        // Output rows are bottom-up; a top-down frame's first row is the picture's top.
        const uint8_t* src = frame.Data() + (topDown ? height - 1 - y : y) * stride;
        uint8_t* dst = rgb.Data() + y * width * 4;
        if (pixelBytes == 4) {
            std::memcpy(dst, src, size_t(width) * 4);
            continue;
        }
        for (long x = 0; x < width; ++x, src += 3, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0;
        }
    }
    return size;
}
