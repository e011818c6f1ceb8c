// Conversions between the camera's pictures, the codec's I420 pictures and the 32-bit pictures windows
// draw, and the small colour-space codes of picture formats.
#pragma once

#include <cstdint>

#include "video/ImageFormat.h"

enum : int {
    kColourSpaceUnknown = 0,
    kColourSpaceRgb24 = 17,  // blue, green, red
    kColourSpaceRgb32 = 18,  // blue, green, red, unused
    kColourSpaceUyvy = 32,
    kColourSpaceYuy2 = 33,
    kColourSpaceYvyu = 34,
    kColourSpaceYv12 = 64,
    kColourSpaceI420 = 65,
};

int ColourSpaceOf(const CImageFormat& format);

// Results of RgbToI420.
enum : int { kRgbToI420Done = 0, kRgbToI420Rejected = 1, kRgbToI420NoMemory = 2 };

// A bottom-up RGB picture (kColourSpaceRgb24 or kColourSpaceRgb32) into an upright I420 picture. Rows
// follow each other without padding, so `rgb` is read for exactly width x height x 3 (or 4) bytes;
// `i420Out` receives width x height x 3 / 2 bytes. Rejected: another colour code, a side that is not
// 1...4096, or a side with bit 1 set (2 or 3 left over on division by 4). Not for concurrent calls on one
// output.
int RgbToI420(const uint8_t* rgb, uint8_t* i420Out, int colourSpace, int width, int height);

// An I420 (or IYUV) picture into a bottom-up 32-bit one. `rgbFormat` becomes `i420Format` uncompressed at
// 32 bits and `rgb` its size. Returns that size in bytes, or -1 for another format, a side that is not
// 1...4096, a buffer smaller than the picture, or a picture too small to convert (under 8 x 2). Columns
// and rows that the conversion leaves out (beyond the last multiple of 8 and of 2) are black.
long I420ToRgb32(const CDataBuffer& i420, const CImageFormat& i420Format, CDataBuffer& rgb,
                 CImageFormat& rgbFormat);
