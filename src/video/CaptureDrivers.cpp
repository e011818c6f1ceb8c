#include "video/CaptureDrivers.h"

#include <mutex>

#include "video/CaptureBackend.h"

namespace {

constexpr int kMaxDrivers = 255;
std::mutex g_listLock;
CDriverList g_Drivers;

}  // namespace

CDriverList EnumerateDrivers() {
    const std::vector<std::string> names = CaptureDriverDescriptions();
    std::lock_guard<std::mutex> guard(g_listLock);
    g_Drivers.clear();
    for (int index = 0; index < kMaxDrivers && index < static_cast<int>(names.size()); ++index) {
        if (!names[index].empty())
            g_Drivers.emplace(names[index], index);  // keeps the first index of a name
    }
    return g_Drivers;
}

int FindDriver(const std::string& name) {
    const CDriverList list = EnumerateDrivers();
    const auto it = list.find(name);
    return it == list.end() ? -1 : it->second;
}
