#include "video/Surface.h"

#include <algorithm>
#include <cstring>

#include "net/Protocol.h"

CSurface::CSurface(const uint8_t* bitmapInfo, void* pixels) : m_pBits(static_cast<uint8_t*>(pixels)) {
    SBitmapInfoHeader h;
    std::memcpy(&h, bitmapInfo, sizeof h);
    m_nBitsPerPixel = h.biBitCount;
    m_nWidth = h.biWidth;
    m_nHeight = h.biHeight;
    if (m_nBitsPerPixel <= 8)
        m_pPalette = bitmapInfo + h.biSize;
    SetLayout(StrideFor4ByteRows(m_nWidth, m_nBitsPerPixel));
}

CSurface::CSurface(void* pixels, int width, int height, int bitsPerPixel)
    : m_pBits(static_cast<uint8_t*>(pixels)),
      m_nBitsPerPixel(bitsPerPixel),
      m_nWidth(width),
      m_nHeight(height) {
    SetLayout(StrideFor8ByteRows(width, bitsPerPixel));
}

long CSurface::StrideFor4ByteRows(int width, int bitsPerPixel) {
    return (long(width) * bitsPerPixel + 31) / 32 * 4;
}

long CSurface::StrideFor8ByteRows(int width, int bitsPerPixel) {
    return (long(width) * bitsPerPixel + 63) / 64 * 8;
}

void CSurface::SetLayout(long stride) {
    m_nStride = stride;
    m_nPadding = stride - (long(m_nWidth) * m_nBitsPerPixel + 7) / 8;
    m_nSize = stride * m_nHeight;
}

bool ClipBlit(const CSurface& dst, int& dx, int& dy, const CSurface& src, int& sx, int& sy, int& w, int& h) {
    // In 64 bits, so that no origin or size a caller passes can overflow on the way.
    long x[2] = {sx, dx}, y[2] = {sy, dy};
    long width = w == -1 ? src.m_nWidth : w, height = h == -1 ? src.m_nHeight : h;
    // A negative origin on either side cuts the same number of pixels from both, so that every source
    // pixel still lands where it would have without the cut.
    for (int i = 0; i < 2; ++i) {
        if (x[i] < 0) {
            width += x[i];
            x[1 - i] -= x[i];
            x[i] = 0;
        }
        if (y[i] < 0) {
            height += y[i];
            y[1 - i] -= y[i];
            y[i] = 0;
        }
    }
    width = std::min({width, src.m_nWidth - x[0], dst.m_nWidth - x[1]});
    height = std::min({height, src.m_nHeight - y[0], dst.m_nHeight - y[1]});
    if (width < 1 || height < 1)
        return false;
    sx = int(x[0]), dx = int(x[1]), sy = int(y[0]), dy = int(y[1]);
    w = int(width), h = int(height);
    return true;
}
