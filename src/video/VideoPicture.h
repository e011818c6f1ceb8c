// Where a decoded or captured picture is shown: a view holding one 32-bit bottom-up picture. The desktop's
// views implement it with a widget; the headless client keeps the last picture to save it.
#pragma once

#include "video/ImageFormat.h"

class IVideoPicture {
public:
    virtual ~IVideoPicture() = default;
    // Replaces the picture with `rgb32` (32 bits per pixel, `format`'s width and height, bottom row first)
    // and asks for a repaint. Any thread may call it: the swap happens under the view's own lock and the
    // repaint is only requested, never waited for. A picture smaller than its format says is not shown.
    virtual void SetPicture(const CDataBuffer& rgb32, const CImageFormat& format) = 0;
    // Forgets the picture: the view shows its placeholder.
    virtual void ClearPicture() = 0;
};
