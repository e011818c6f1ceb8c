#include "video/V4l2Capture.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstring>

#include "video/V4l2CameraDriver.h"

namespace {

// The number of a node named "video<digits>"; -1 for any other name.
long NodeNumber(const std::string& entry) {
    constexpr size_t prefix = 5;
    if (entry.size() <= prefix || entry.size() > prefix + 6 || entry.compare(0, prefix, "video") != 0)
        return -1;
    long n = 0;
    for (size_t i = prefix; i < entry.size(); ++i) {
        if (entry[i] < '0' || entry[i] > '9')
            return -1;
        n = n * 10 + (entry[i] - '0');
    }
    return n;
}

struct SCamera {
    std::string entry;
    std::string name;
};

// Listed afresh each time, so a camera plugged in or out since is seen.
std::vector<SCamera> ListCameras(IV4l2DeviceFolder& folder) {
    std::vector<std::pair<long, std::string>> nodes;
    for (auto& entry : folder.Entries()) {
        const long n = NodeNumber(entry);
        if (n >= 0)
            nodes.emplace_back(n, std::move(entry));
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<SCamera> cameras;
    for (const auto& node : nodes) {
        const auto device = folder.Open(node.second);
        v4l2_capability cap{};
        if (!device || device->Ioctl(VIDIOC_QUERYCAP, &cap) != 0)
            continue;
        // A camera's metadata node shares the device's capabilities; its own are in device_caps.
        const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING))
            continue;
        const auto* card = reinterpret_cast<const char*>(cap.card);
        std::string name(card, strnlen(card, sizeof cap.card));
        cameras.push_back({node.second, name.empty() ? node.second : std::move(name)});
    }
    return cameras;
}

class CV4l2Backend : public ICaptureBackend {
public:
    explicit CV4l2Backend(std::shared_ptr<IV4l2DeviceFolder> folder) : m_folder(std::move(folder)) {}

    std::vector<std::string> DriverNames() override {
        std::vector<std::string> names;
        for (auto& camera : ListCameras(*m_folder))
            names.push_back(std::move(camera.name));
        return names;
    }

    std::unique_ptr<ICaptureDriver> Connect(int index) override {
        const auto cameras = ListCameras(*m_folder);
        if (index < 0 || size_t(index) >= cameras.size())
            return nullptr;
        return CV4l2CameraDriver::Open(m_folder->Open(cameras[size_t(index)].entry));
    }

private:
    std::shared_ptr<IV4l2DeviceFolder> m_folder;
};

}  // namespace

std::shared_ptr<ICaptureBackend> MakeV4l2CaptureBackend() {
    return MakeV4l2CaptureBackend(MakeV4l2SystemFolder());
}

std::shared_ptr<ICaptureBackend> MakeV4l2CaptureBackend(std::shared_ptr<IV4l2DeviceFolder> folder) {
    return std::make_shared<CV4l2Backend>(std::move(folder));
}
