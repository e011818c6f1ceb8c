// CSystemInfo: a description of the machine gathered at start-up. Start-up reads only the operating
// system's kind; the rest is kept for diagnostics. The processor clock and the host's name and address
// are gathered on first use, since measuring and resolving take time nobody waits for at start-up.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "settings/OsVersion.h"

struct SMemoryStatus {
    uint64_t totalPhys = 0, availPhys = 0, totalVirtual = 0, availVirtual = 0;
};

// Where the facts come from; an empty function takes this machine's own source.
struct SSystemProbe {
    std::function<SVersionRecord()> versionRecord;
    std::function<bool(SMemoryStatus&)> memory;
    // The desktop knows the screen; without one all three stay 0.
    std::function<void(int& width, int& height, int& bits)> screen;
    std::function<std::string()> hostName;
    // The IPv4 addresses of a name, in the resolver's order.
    std::function<std::vector<std::string>(const std::string&)> resolve;
    std::function<void(int& waveIn, int& waveOut)> waveDevices;
    std::function<std::string()> firstCaptureDriver;
};

// Shifts `value` right by 10 while it is above 1000; `unit` counts the shifts (0 B, 1 KB, 2 MB, 3 GB).
uint64_t ScaleMemory(uint64_t value, int& unit);

class CSystemInfo {
public:
    explicit CSystemInfo(SSystemProbe probe = {});

    const std::string& GetOs() const { return m_strOs; }
    int GetOsKind() const { return m_nOsKind; }
    const SVersionRecord& GetVersionRecord() const { return m_Record; }
    bool IsSupportedPlatform() const { return IsSupportedOs(m_Record, m_nOsKind); }

    int GetTotalPhysUnit() const { return m_nTotalPhysUnit; }
    int GetTotalVirtualUnit() const { return m_nTotalVirtualUnit; }
    uint64_t GetTotalPhys() const { return m_nTotalPhys; }
    uint64_t GetAvailPhys() const { return m_nAvailPhys; }
    uint64_t GetTotalVirtual() const { return m_nTotalVirtual; }
    uint64_t GetAvailVirtual() const { return m_nAvailVirtual; }
    int GetScreenWidth() const { return m_nScreenWidth; }
    int GetScreenHeight() const { return m_nScreenHeight; }
    int GetScreenBits() const { return m_nScreenBits; }
    int GetCpuMHz() const;
    std::string GetCpuName() const;
    std::string GetCpuVendor() const;
    const std::string& GetWinsockVersion() const { return m_strWinsockVersion; }
    const std::string& GetWinsockHighVersion() const { return m_strWinsockHighVersion; }
    const std::string& GetWinsockDescription() const { return m_strWinsockDescription; }
    const std::string& GetWinsockStatus() const { return m_strWinsockStatus; }
    std::string GetLocalAddress() const;
    std::string GetHostName() const;
    bool HasCaptureDriver() const { return m_bCaptureDriver; }
    int GetWaveInDevices() const { return m_nWaveInDevices; }
    int GetWaveOutDevices() const { return m_nWaveOutDevices; }

private:
    void GatherCpu() const;
    void GatherHost() const;

    SSystemProbe m_Probe;
    SVersionRecord m_Record;
    std::string m_strOs;
    int m_nOsKind = 0;
    int m_nTotalPhysUnit = 0;
    int m_nTotalVirtualUnit = 0;
    uint64_t m_nTotalPhys = 0, m_nAvailPhys = 0, m_nTotalVirtual = 0, m_nAvailVirtual = 0;
    int m_nScreenWidth = 0, m_nScreenHeight = 0, m_nScreenBits = 0;
    std::string m_strWinsockVersion, m_strWinsockHighVersion, m_strWinsockDescription, m_strWinsockStatus;
    bool m_bCaptureDriver = false;
    int m_nWaveInDevices = 0, m_nWaveOutDevices = 0;

    mutable std::once_flag m_cpuOnce, m_hostOnce;
    mutable int m_nCpuMHz = -1;
    mutable std::string m_strCpuName, m_strCpuVendor;
    mutable std::string m_strLocalAddress, m_strHostName;
};
