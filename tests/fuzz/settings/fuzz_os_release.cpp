// The readers of the system's version files on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/OsVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string name = OsReleaseName(text);
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20)
            __builtin_trap();  // no control characters reach a label
    SVersionRecord r;
    r.m_nPlatformId = VER_PLATFORM_LINUX;
    r.m_strCsd = std::string(text.substr(0, 64));
    r.m_strSystem = name;
    r.m_bValid = ParseKernelRelease(r.m_strCsd, r.m_nMajor, r.m_nMinor, r.m_nBuild);
    std::string description;
    int kind = 0;
    DescribeOs(r, description, kind);
    IsSupportedOs(r, kind);
    return 0;
}
