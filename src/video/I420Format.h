// The format of an upright I420 picture of a given size: what the encoder takes, the peer is told and the
// decoder gives back, whatever the camera or the peer's header said besides the size.
#pragma once

#include "video/ImageFormat.h"

CImageFormat I420FormatOfSize(int width, int height);
