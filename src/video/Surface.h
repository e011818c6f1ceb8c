// CSurface: a view of a picture in memory it does not own (pixels, size, bits per pixel, row stride), with
// the two operations the video path needs: drawing an I420 picture into a 32-bit one and stretching one
// 32-bit picture into another. Rows are taken in memory order; for bottom-up bitmaps that is the bottom
// row first.
#pragma once

#include <cstdint>

class CSurface {
public:
    // From a bitmap-info area (the 40-byte header, then its palette) and the pixels: rows of whole 4-byte
    // words. The palette is kept for 8 bits per pixel and fewer.
    CSurface(const uint8_t* bitmapInfo, void* pixels);
    // From plain memory: rows of whole 8-byte words (for 32 bits, width x 4).
    CSurface(void* pixels, int width, int height, int bitsPerPixel);

    static long StrideFor4ByteRows(int width, int bitsPerPixel);
    static long StrideFor8ByteRows(int width, int bitsPerPixel);

    // Draws the rectangle (sx, sy, w, h) of the I420 picture `src` (planes laid out from its width and
    // height, rows top first) upright into this 32-bit bottom-up surface at (dx, dy): pixel R*65536 +
    // G*256 + B. A width or height of -1 means the whole source. After clipping, an odd source x or y
    // moves to the next even one (the size shrinks by 1), then the width is cut to a multiple of 8 and the
    // height to a multiple of 2. False when nothing remains or this surface is not 32 bits.
    bool YuvToRgb(int dx, int dy, const CSurface& src, int sx, int sy, int w, int h);

    // Stretches the source rectangle (sx, sy, sw, sh) of the 32-bit `src` over (dx, dy, dw, dh) of this
    // 32-bit surface, bilinear with 4-bit weights; edge columns and rows repeat outwards. The fourth byte
    // of every written pixel is 0. False when a surface is not 32 bits, a size is not positive, or
    // nothing of the destination rectangle lies on this surface.
    bool StretchBilinear(double dx, double dy, double dw, double dh, const CSurface& src, double sx,
                         double sy, double sw, double sh);

    uint8_t* m_pBits = nullptr;
    const uint8_t* m_pPalette = nullptr;
    int m_nBitsPerPixel = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
    long m_nStride = 0;
    long m_nPadding = 0;
    long m_nSize = 0;

private:
    void SetLayout(long stride);
};

// Fits a blit of w x h pixels from (sx, sy) of `src` to (dx, dy) of `dst` into both surfaces: -1 for w or
// h means the whole source; a negative origin moves to 0 and takes the other surface's origin and the size
// with it; the size is cut to what both surfaces hold. True when at least one pixel remains.
bool ClipBlit(const CSurface& dst, int& dx, int& dy, const CSurface& src, int& sx, int& sy, int& w, int& h);
