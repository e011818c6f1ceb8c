// Cameras through V4L2: every video node that captures pictures is a driver, named by its card name and
// indexed in the order of the node numbers (video0, video1, ... video10).
#pragma once

#include <memory>

#include "video/CaptureBackend.h"
#include "video/V4l2Device.h"

// The system's cameras under /dev.
std::shared_ptr<ICaptureBackend> MakeV4l2CaptureBackend();
// The cameras of another folder of nodes (scripted ones in tests).
std::shared_ptr<ICaptureBackend> MakeV4l2CaptureBackend(std::shared_ptr<IV4l2DeviceFolder> folder);
