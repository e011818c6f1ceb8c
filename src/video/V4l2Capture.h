// Cameras through V4L2 (libv4l2): every /dev/video* node that captures pictures is a driver, named by
// its card name.
#pragma once

#include <memory>

#include "video/CaptureBackend.h"

std::shared_ptr<ICaptureBackend> MakeV4l2CaptureBackend();
