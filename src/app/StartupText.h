// The texts start-up reads from outside: the program path (which selects dynamic mode), the argument a
// web page hands a dynamic-mode client, and the proxy of the environment.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// True when the upper-cased path holds "VLPDINAMIC".
bool IsDynamicModePath(std::string_view programPath);

// "velaphon:NTV@HOST" (also "velaphon://NTV@HOST/", percent-encoded, scheme in any case). The NTV has
// 1 to 15 visible characters; the host is a name or dotted address. False for anything else.
bool ParseLaunchArgument(std::string_view argument, std::string& ntv, std::string& host);

struct SProxyData {
    std::string m_strHost;
    int m_nPort = 0;
    std::string m_strUser;
    std::string m_strPassword;
};

// A proxy value "host:port": split at the first ":"; without one the whole text is the host and the
// port 0. The port is the leading decimal digits (0 when none or above 65535). A leading "scheme://",
// credentials before "@" and anything from the first "/" on are taken off first; "[v6]:port" keeps
// its brackets' content as host. False when no host remains.
bool ParseProxyValue(std::string_view value, SProxyData& proxy);

// The proxy of the environment: the first non-empty of https_proxy, HTTPS_PROXY, http_proxy,
// HTTP_PROXY (`getenv` stands in for the environment in tests).
std::string ProxyFromEnvironment(const std::function<const char*(const char*)>& getenv = nullptr);
