// Operating-system identification: a version record (the kernel and the distribution here; a Windows
// record keeps its classic meaning), its readable description and kind code, and the rule start-up
// applies before it runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using DWORD = uint32_t;

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr DWORD VER_PLATFORM_LINUX = 0x4c;

// Kind codes; any system the table does not name has kind 0.
enum EOsKind : int {
    OS_KIND_WIN95 = 0,
    OS_KIND_WIN98 = 1,
    OS_KIND_WINME = 2,
    OS_KIND_WIN32S = 3,
    OS_KIND_NT351 = 4,
    OS_KIND_NT4 = 5,
    OS_KIND_WIN2000 = 6,
    OS_KIND_WINXP = 7,
};

struct SVersionRecord {
    bool m_bValid = false;
    DWORD m_nPlatformId = 0;
    DWORD m_nMajor = 0;
    DWORD m_nMinor = 0;
    DWORD m_nBuild = 0;       // Linux: the patch level of the kernel
    std::string m_strCsd;     // Windows: the service-pack text; Linux: the kernel release
    std::string m_strSystem;  // Linux: the distribution's name
};

// Oldest kernel the program is built for (the C library of the supported distributions needs it).
constexpr DWORD kMinLinuxMajor = 3;
constexpr DWORD kMinLinuxMinor = 2;

// This machine's record: uname() and os-release (`osRelease` overrides the file, for tests).
SVersionRecord ReadVersionRecord(const std::string& osRelease = std::string());

// Description and kind of a record; an invalid record gives "" and kind 0.
void DescribeOs(const SVersionRecord& record, std::string& description, int& kind);

// Start-up runs on Windows 2000, XP and every later NT-family version, and on Linux from
// kMinLinuxMajor.kMinLinuxMinor on; everything else is refused.
bool IsSupportedOs(const SVersionRecord& record, int kind);

// The distribution's name from the text of an os-release file: PRETTY_NAME, else NAME and VERSION.
std::string OsReleaseName(std::string_view text);
// "6.1.0-18-amd64" -> 6, 1, 0. False when it does not start with a number.
bool ParseKernelRelease(std::string_view release, DWORD& major, DWORD& minor, DWORD& patch);
