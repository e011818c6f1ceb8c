#include "video/V4l2Capture.h"

namespace {

// Placeholder until the V4L2 cameras are listed: no driver.
class CNoCameras : public ICaptureBackend {
public:
    std::vector<std::string> DriverNames() override { return {}; }
    std::unique_ptr<ICaptureDriver> Connect(int) override { return nullptr; }
};

}  // namespace

std::shared_ptr<ICaptureBackend> MakeV4l2CaptureBackend() {
    return std::make_shared<CNoCameras>();
}
