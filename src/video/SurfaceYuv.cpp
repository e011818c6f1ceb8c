#include "video/ColourRows.h"
#include "video/I420Layout.h"
#include "video/Surface.h"

bool CSurface::YuvToRgb(int dx, int dy, const CSurface& src, int sx, int sy, int w, int h) {
    if (m_nBitsPerPixel != 32 || !ClipBlit(*this, dx, dy, src, sx, sy, w, h))
        return false;
    // Chroma pairs start at even source columns and rows; whole blocks of 8 x 2 pixels.
    if (sx & 1)
        ++sx, --w;
    if (sy & 1)
        ++sy, --h;
    w &= ~7;
    h &= ~1;
    if (w < 1 || h < 1)
        return false;
    const SConstI420Layout planes(src.m_pBits, src.m_nWidth, src.m_nHeight);
    const RowKernel kernel = SelectYuvRows();
    for (int r = 0; r < h; r += 2) {
        const long y = sy + r;
        SRowPlanes rows;
        rows.in[0] = planes.y + y * src.m_nWidth + sx;
        rows.in[1] = rows.in[0] + src.m_nWidth;
        rows.in[2] = planes.u + y / 2 * planes.chromaWidth + sx / 2;
        rows.in[3] = planes.v + y / 2 * planes.chromaWidth + sx / 2;
        // This surface is bottom-up: picture row dy + r is memory row height - 1 - (dy + r).
        rows.out[0] = m_pBits + (m_nHeight - 1 - (dy + r)) * m_nStride + 4L * dx;
        rows.out[1] = rows.out[0] - m_nStride;
        kernel(rows, w);
    }
    return true;
}
