// What a web page or the environment hands start-up: the launch argument and the proxy value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/StartupText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string ntv, host;
    if (ParseLaunchArgument(text, ntv, host)) {
        if (ntv.empty() || ntv.size() > 15 || host.empty())
            __builtin_trap();
        for (char c : ntv + host)
            if (c <= ' ' || c > '~')
                __builtin_trap();
    }
    SProxyData proxy;
    if (ParseProxyValue(text, proxy)) {
        if (proxy.m_strHost.empty() || proxy.m_nPort < 0 || proxy.m_nPort > 65535)
            __builtin_trap();
    }
    IsDynamicModePath(text);
    return 0;
}
