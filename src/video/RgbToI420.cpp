#include "video/ColourConversion.h"
#include "video/ColourRows.h"
#include "video/I420Layout.h"
#include "video/RowScratch.h"

int RgbToI420(const uint8_t* rgb, uint8_t* i420Out, int colourSpace, int width, int height) {
    if (colourSpace != kColourSpaceRgb24 && colourSpace != kColourSpaceRgb32)
        return kRgbToI420Rejected;
    if (width < 1 || height < 1 || width > kI420MaxSide || height > kI420MaxSide || (width & 2) ||
        (height & 2))
        return kRgbToI420Rejected;
    // Cb and Cr of the two rows that make one chroma row, at full resolution.
    thread_local CRowScratch work;
    uint8_t* cb = work.Get(4 * size_t(width));
    if (!cb)
        return kRgbToI420NoMemory;
    uint8_t* cr = cb + 2 * width;

    const int step = colourSpace == kColourSpaceRgb24 ? 3 : 4;
    const RowKernel row = SelectRgbRow(step), chroma = SelectChromaRow();
    const SI420Layout out(i420Out, width, height);
    const long rowBytes = long(width) * step;
    // Bottom-up in, upright out: output row r comes from memory row height - 1 - r.
    for (int r = 0; r < height; r += 2) {
        const int pair = r + 1 < height ? 2 : 1;
        for (int k = 0; k < pair; ++k) {
            SRowPlanes rows;
            rows.in[0] = rgb + (height - 1 - r - k) * rowBytes;
            rows.out[0] = out.y + long(r + k) * width;
            rows.out[1] = cb + k * width;
            rows.out[2] = cr + k * width;
            row(rows, width);
        }
        if (pair == 2 && out.chromaWidth > 0) {
            SRowPlanes rows;
            rows.in[0] = cb, rows.in[1] = cb + width, rows.in[2] = cr, rows.in[3] = cr + width;
            rows.out[0] = out.u + long(r / 2) * out.chromaWidth;
            rows.out[1] = out.v + long(r / 2) * out.chromaWidth;
            chroma(rows, out.chromaWidth);
        }
    }
    return kRgbToI420Done;
}
