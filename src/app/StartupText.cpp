#include "app/StartupText.h"

#include <cstdlib>

#include "platform/Ascii.h"

namespace {

using ascii::HexDigit;
using ascii::ToUpper;

// %XX decoding; false for a broken escape.
bool PercentDecode(std::string_view in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        int hi = HexDigit(in[i + 1]), lo = HexDigit(in[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

}  // namespace

bool IsDynamicModePath(std::string_view programPath) {
    std::string upper;
    upper.reserve(programPath.size());
    for (char c : programPath)
        upper += ToUpper(c);
    return upper.find("VLPDINAMIC") != std::string::npos;
}

bool ParseLaunchArgument(std::string_view argument, std::string& ntv, std::string& host) {
    constexpr std::string_view kScheme = "velaphon:";
    if (!ascii::StartsWithNoCase(argument, kScheme))
        return false;
    std::string_view rest = argument.substr(kScheme.size());
    while (rest.substr(0, 1) == "/")
        rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::string text;
    if (!PercentDecode(rest, text))
        return false;
    size_t at = text.find('@');
    if (at == std::string::npos || text.find('@', at + 1) != std::string::npos)
        return false;
    std::string n = text.substr(0, at);
    std::string h = text.substr(at + 1);
    if (n.empty() || n.size() > 15 || h.empty() || h.size() > 253)
        return false;
    for (char c : n)
        if (c <= ' ' || c > '~' || c == '/' || c == ':')
            return false;
    for (char c : h)
        if (!IsHostChar(c))
            return false;
    ntv = n;
    host = h;
    return true;
}

bool ParseProxyValue(std::string_view value, SProxyData& proxy) {
    proxy = SProxyData{};
    size_t scheme = value.find("://");
    if (scheme != std::string_view::npos)
        value.remove_prefix(scheme + 3);
    size_t slash = value.find('/');
    if (slash != std::string_view::npos)
        value = value.substr(0, slash);
    size_t at = value.rfind('@');
    if (at != std::string_view::npos) {
        std::string_view credentials = value.substr(0, at);
        value.remove_prefix(at + 1);
        size_t colon = credentials.find(':');
        std::string user, password;
        PercentDecode(credentials.substr(0, colon), user);
        if (colon != std::string_view::npos)
            PercentDecode(credentials.substr(colon + 1), password);
        proxy.m_strUser = user;
        proxy.m_strPassword = password;
    }
    std::string_view port;
    if (!value.empty() && value.front() == '[') {
        size_t close = value.find(']');
        if (close == std::string_view::npos)
            return false;
        proxy.m_strHost = std::string(value.substr(1, close - 1));
        std::string_view after = value.substr(close + 1);
        if (!after.empty() && after.front() == ':')
            port = after.substr(1);
    } else {
        size_t colon = value.find(':');
        proxy.m_strHost = std::string(value.substr(0, colon));
        if (colon != std::string_view::npos)
            port = value.substr(colon + 1);
    }
    long n = 0;
    for (char c : port) {
        if (c < '0' || c > '9')
            break;
        n = n * 10 + (c - '0');
        if (n > 65535) {
            n = 0;
            break;
        }
    }
    proxy.m_nPort = static_cast<int>(n);
    for (char c : proxy.m_strHost)
        if (static_cast<unsigned char>(c) <= ' ')
            return false;
    return !proxy.m_strHost.empty();
}

std::string ProxyFromEnvironment(const std::function<const char*(const char*)>& getenv) {
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY"}) {
        const char* v = getenv ? getenv(name) : std::getenv(name);
        if (v != nullptr && *v != '\0')
            return v;
    }
    return {};
}
