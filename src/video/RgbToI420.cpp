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
    // Where the chroma of a last, unpaired row goes (an odd height has no chroma row for it). Kept
    // between calls.
    thread_local CRowScratch spare;
    uint8_t* unused = spare.Get(2 * size_t(width));
    if (!unused)
        return kRgbToI420NoMemory;

    const int step = colourSpace == kColourSpaceRgb24 ? 3 : 4;
    const RowKernel kernel = SelectRgbRows(step);
    const SI420Layout out(i420Out, width, height);
    const long rowBytes = long(width) * step;
    // Bottom-up in, upright out: output row r comes from memory row height - 1 - r.
    for (int r = 0; r < height; r += 2) {
        SRowPlanes rows;
        rows.in[0] = rgb + (height - 1 - r) * rowBytes;
        rows.out[0] = out.y + long(r) * width;
        if (r + 1 < height) {
            rows.in[1] = rows.in[0] - rowBytes;
            rows.out[1] = rows.out[0] + width;
            rows.out[2] = out.u + long(r / 2) * out.chromaWidth;
            rows.out[3] = out.v + long(r / 2) * out.chromaWidth;
        } else {
            rows.in[1] = rows.in[0];
            rows.out[1] = unused;
            rows.out[2] = rows.out[3] = unused + width;
        }
        kernel(rows, width);
    }
    return kRgbToI420Done;
}
