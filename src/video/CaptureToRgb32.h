// A captured frame as the 32-bit bottom-up picture the views draw. Views read four bytes a pixel, so a
// 24-bit camera's frame must be widened before it reaches one.
#pragma once

#include "video/ImageFormat.h"

// I420/IYUV through I420ToRgb32; uncompressed 24-bit RGB widened and 32-bit RGB copied, either bottom-up
// (positive height) or top-down, with rows padded to 4 bytes or not, whichever the frame's length allows.
// `rgbFormat` becomes the frame's size uncompressed at 32 bits, bottom-up. Returns the picture's size in
// bytes, or -1 for another format, a side outside 1...4096, or a frame shorter than its format.
long CaptureToRgb32(const CDataBuffer& frame, const CImageFormat& format, CDataBuffer& rgb,
                    CImageFormat& rgbFormat);
