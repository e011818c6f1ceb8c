#include <cstring>

#include "video/ColourConversion.h"
#include "video/I420Layout.h"
#include "video/Surface.h"

long I420ToRgb32(const CDataBuffer& i420, const CImageFormat& i420Format, CDataBuffer& rgb,
                 CImageFormat& rgbFormat) {
    if (!i420Format.IsI420())
        return -1;
    // The format may come from a peer: the picture must be sane and lie wholly in the buffer.
    const int w = i420Format.Width(), h = i420Format.Height();
    if (w < 8 || h < 2 || w > kI420MaxSide || h > kI420MaxSide)
        return -1;
    if (!i420.Data() || i420.Size() < long(w) * h * 3 / 2)
        return -1;
    const long size = long(w) * h * 4;
    rgb.Resize(size);
    if (rgb.Size() != size)
        return -1;
    rgbFormat.CopyFrom(i420Format);
    rgbFormat.SetUncompressed(32);

    // Read only: the surface type has no const view.
    CSurface src(const_cast<uint8_t*>(i420.Data()), w, h, 12);
    // Rows of whole 4-byte words are the format's rows, w x 4 bytes at any width (8-byte rows would not be
    // for an odd width).
    CSurface dst(reinterpret_cast<const uint8_t*>(&rgbFormat.m_Header.header), rgb.Data());
    if (!dst.YuvToRgb(0, 0, src, 0, 0, -1, -1))
        return -1;
    // What the blit leaves out (the columns past the last multiple of 8, the bottom row of an odd height)
    // would otherwise show whatever the buffer held before.
    const int done = w & ~7;
    if (done < w)
        for (int y = 0; y < h; ++y)
            std::memset(rgb.Data() + (long(y) * w + done) * 4, 0, size_t(w - done) * 4);
    if (h & 1)
        std::memset(rgb.Data(), 0, size_t(w) * 4);
    return size;
}
