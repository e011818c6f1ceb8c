#include "settings/OsVersion.h"

#include <sys/utsname.h>

#include <fstream>
#include <sstream>

namespace {

// One value of an os-release line: unquoted, or in single or double quotes with backslash escapes.
std::string Unquote(std::string_view v) {
    if (v.empty() || (v.front() != '"' && v.front() != '\''))
        return std::string(v);
    char quote = v.front();
    std::string out;
    for (size_t i = 1; i < v.size(); ++i) {
        char c = v[i];
        if (c == quote)
            break;
        if (c == '\\' && quote == '"' && i + 1 < v.size())
            c = v[++i];
        out += c;
    }
    return out;
}

DWORD ReadNumber(std::string_view& s, bool& ok) {
    ok = !s.empty() && s.front() >= '0' && s.front() <= '9';
    DWORD v = 0;
    while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
        if (v < 100000000)
            v = v * 10 + static_cast<DWORD>(s.front() - '0');
        s.remove_prefix(1);
    }
    return v;
}

}  // namespace

std::string OsReleaseName(std::string_view text) {
    std::string pretty, name, version;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, eq);
        std::string value = Unquote(line.substr(eq + 1));
        for (char& c : value)
            if (static_cast<unsigned char>(c) < 0x20)
                c = ' ';
        if (key == "PRETTY_NAME")
            pretty = value;
        if (key == "NAME")
            name = value;
        if (key == "VERSION")
            version = value;
    }
    if (!pretty.empty())
        return pretty;
    if (!name.empty() && !version.empty())
        return name + " " + version;
    return name;
}

bool ParseKernelRelease(std::string_view release, DWORD& major, DWORD& minor, DWORD& patch) {
    bool ok = false;
    major = ReadNumber(release, ok);
    if (!ok)
        return false;
    minor = patch = 0;
    bool more = false;
    if (!release.empty() && release.front() == '.') {
        release.remove_prefix(1);
        minor = ReadNumber(release, more);
        if (more && !release.empty() && release.front() == '.') {
            release.remove_prefix(1);
            patch = ReadNumber(release, more);
        }
    }
    return true;
}

SVersionRecord ReadVersionRecord(const std::string& osRelease) {
    SVersionRecord r;
    struct utsname u {};
    if (uname(&u) != 0)
        return r;
    r.m_nPlatformId = VER_PLATFORM_LINUX;
    r.m_strCsd = u.release;
    if (!ParseKernelRelease(r.m_strCsd, r.m_nMajor, r.m_nMinor, r.m_nBuild))
        return r;
    r.m_bValid = true;
    std::string text = osRelease;
    if (text.empty()) {
        for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
            std::ifstream in(path);
            if (!in)
                continue;
            std::ostringstream s;
            s << in.rdbuf();
            text = s.str().substr(0, 64 * 1024);
            break;
        }
    }
    r.m_strSystem = OsReleaseName(text);
    if (r.m_strSystem.empty())
        r.m_strSystem = u.sysname;
    return r;
}

void DescribeOs(const SVersionRecord& r, std::string& description, int& kind) {
    description.clear();
    kind = OS_KIND_WIN95;
    if (!r.m_bValid)
        return;
    const std::string build = std::to_string(r.m_nBuild & 0xffff);
    switch (r.m_nPlatformId) {
        case VER_PLATFORM_WIN32s:
            description = "Microsoft Win32s ";
            kind = OS_KIND_WIN32S;
            return;
        case VER_PLATFORM_WIN32_WINDOWS: {
            if (r.m_nMajor != 4)
                return;
            char second = r.m_strCsd.size() > 1 ? r.m_strCsd[1] : '\0';
            if (r.m_nMinor == 0) {
                description = "Microsoft Windows 95 ";
                if (second == 'C')
                    description += "OSR2 ";
                else if (second != '\0')
                    description += std::string(1, second) + " ";
                kind = OS_KIND_WIN95;
            } else if (r.m_nMinor == 10) {
                description = "Microsoft Windows 98 ";
                if (second == 'A')
                    description += "SE ";
                kind = OS_KIND_WIN98;
            } else if (r.m_nMinor == 90) {
                description = "Microsoft Windows Me ";
                kind = OS_KIND_WINME;
            }
            return;
        }
        case VER_PLATFORM_WIN32_NT:
            if (r.m_nMajor <= 4) {
                description = "Microsoft Windows NT version " + std::to_string(r.m_nMajor) + "." +
                              std::to_string(r.m_nMinor) + " " + r.m_strCsd + " (Build " + build + ")";
                if (r.m_nMajor == 4)
                    kind = OS_KIND_NT4;
                if (r.m_nMajor == 3 && r.m_nMinor == 51)
                    kind = OS_KIND_NT351;
                return;
            }
            if (r.m_nMajor == 5 && r.m_nMinor == 0) {
                description = "Microsoft Windows 2000 ";
                kind = OS_KIND_WIN2000;
            } else if (r.m_nMajor == 5 && r.m_nMinor == 1) {
                description = "Microsoft Windows XP ";
                kind = OS_KIND_WINXP;
            }
            description += r.m_strCsd + " (Build " + build + ")";
            return;
        case VER_PLATFORM_LINUX:
            description = r.m_strSystem + " (Linux " + r.m_strCsd + ")";
            return;
        default:
            return;
    }
}

bool IsSupportedOs(const SVersionRecord& r, int kind) {
    if (kind == OS_KIND_WIN2000 || kind == OS_KIND_WINXP)
        return true;
    if (!r.m_bValid)
        return false;
    if (r.m_nPlatformId == VER_PLATFORM_WIN32_NT)
        return r.m_nMajor >= 5;
    if (r.m_nPlatformId == VER_PLATFORM_LINUX)
        return r.m_nMajor > kMinLinuxMajor || (r.m_nMajor == kMinLinuxMajor && r.m_nMinor >= kMinLinuxMinor);
    return false;
}
