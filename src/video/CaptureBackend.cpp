#include "video/CaptureBackend.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "video/TestPatternCamera.h"
#include "video/V4l2Capture.h"

namespace {

std::mutex g_backendsLock;
bool g_bBackendsChosen = false;
std::vector<std::shared_ptr<ICaptureBackend>> g_backends;

bool VirtualCameraWanted() {
    const char* v = std::getenv("VELAPHON_VIRTUAL_CAMERA");
    return v && std::strcmp(v, "1") == 0;
}

// Callers hold the lock.
void ChooseDefaultsOnce() {
    if (g_bBackendsChosen)
        return;
    g_bBackendsChosen = true;
    g_backends.push_back(MakeV4l2CaptureBackend());
    if (VirtualCameraWanted())
        g_backends.push_back(std::make_shared<CTestPatternBackend>());
}

}  // namespace

void SetCaptureBackends(std::vector<std::shared_ptr<ICaptureBackend>> backends) {
    std::lock_guard<std::mutex> guard(g_backendsLock);
    g_bBackendsChosen = true;
    g_backends = std::move(backends);
}

std::vector<std::shared_ptr<ICaptureBackend>> GetCaptureBackends() {
    std::lock_guard<std::mutex> guard(g_backendsLock);
    ChooseDefaultsOnce();
    return g_backends;
}

void AddCaptureBackend(std::shared_ptr<ICaptureBackend> backend) {
    std::lock_guard<std::mutex> guard(g_backendsLock);
    ChooseDefaultsOnce();
    g_backends.push_back(std::move(backend));
}

std::vector<std::string> CaptureDriverDescriptions() {
    std::vector<std::string> all;
    for (const auto& backend : GetCaptureBackends()) {
        if (!backend)
            continue;
        for (auto& name : backend->DriverNames())
            all.push_back(std::move(name));
    }
    return all;
}

std::unique_ptr<ICaptureDriver> ConnectCaptureDriver(int index) {
    if (index < 0)
        return nullptr;
    for (const auto& backend : GetCaptureBackends()) {
        if (!backend)
            continue;
        const int count = static_cast<int>(backend->DriverNames().size());
        if (index < count)
            return backend->Connect(index);
        index -= count;
    }
    return nullptr;
}
