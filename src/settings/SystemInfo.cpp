#include "settings/SystemInfo.h"

#include <arpa/inet.h>
#include <gnu/libc-version.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "settings/CpuInfo.h"

namespace {

bool MachineMemory(SMemoryStatus& m) {
    struct sysinfo si {};
    if (sysinfo(&si) != 0)
        return false;
    uint64_t unit = si.mem_unit ? si.mem_unit : 1;
    m.totalPhys = si.totalram * unit;
    m.availPhys = si.freeram * unit;
    // The kernel's own estimate of what can be had without swapping is the truer "available".
    std::ifstream in("/proc/meminfo");
    std::string key;
    uint64_t kb = 0;
    std::string rest;
    while (in >> key >> kb) {
        std::getline(in, rest);
        if (key == "MemAvailable:")
            m.availPhys = kb * 1024;
    }
    m.totalVirtual = m.totalPhys + si.totalswap * unit;
    m.availVirtual = m.availPhys + si.freeswap * unit;
    return true;
}

std::string MachineHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::vector<std::string> MachineResolve(const std::string& name) {
    std::vector<std::string> out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0)
        return out;
    for (addrinfo* p = list; p != nullptr; p = p->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        auto* sin = reinterpret_cast<sockaddr_in*>(p->ai_addr);
        if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) != nullptr)
            out.push_back(text);
    }
    freeaddrinfo(list);
    return out;
}

// ALSA lists its PCM devices with their directions in /proc/asound/pcm.
void MachineWaveDevices(int& in, int& out) {
    in = out = 0;
    std::ifstream file("/proc/asound/pcm");
    std::string line;
    while (std::getline(file, line)) {
        if (line.find("capture") != std::string::npos)
            ++in;
        if (line.find("playback") != std::string::npos)
            ++out;
    }
}

std::string MachineFirstCaptureDriver() {
    std::ifstream file("/sys/class/video4linux/video0/name");
    std::string name;
    std::getline(file, name);
    return name;
}

}  // namespace

uint64_t ScaleMemory(uint64_t value, int& unit) {
    unit = 0;
    while (value > 1000) {
        value >>= 10;
        ++unit;
    }
    return value;
}

CSystemInfo::CSystemInfo(SSystemProbe probe) : m_Probe(std::move(probe)) {
    // Processor first in the classic order; its costly parts wait for first use (GatherCpu).
    m_Record = m_Probe.versionRecord ? m_Probe.versionRecord() : ReadVersionRecord();
    DescribeOs(m_Record, m_strOs, m_nOsKind);

    SMemoryStatus mem;
    if (m_Probe.memory ? m_Probe.memory(mem) : MachineMemory(mem)) {
        int unused = 0;
        m_nTotalPhys = ScaleMemory(mem.totalPhys, m_nTotalPhysUnit);
        m_nAvailPhys = ScaleMemory(mem.availPhys, unused);
        m_nTotalVirtual = ScaleMemory(mem.totalVirtual, m_nTotalVirtualUnit);
        m_nAvailVirtual = ScaleMemory(mem.availVirtual, unused);
    }

    if (m_Probe.screen)
        m_Probe.screen(m_nScreenWidth, m_nScreenHeight, m_nScreenBits);

    // The socket interface is part of the C library here and always present.
    m_strWinsockVersion = "2:2";
    m_strWinsockHighVersion = "2:2";
    m_strWinsockDescription = std::string("BSD sockets, GNU C library ") + gnu_get_libc_version();
    m_strWinsockStatus = "Running";

    if (m_Probe.waveDevices)
        m_Probe.waveDevices(m_nWaveInDevices, m_nWaveOutDevices);
    else
        MachineWaveDevices(m_nWaveInDevices, m_nWaveOutDevices);
    m_bCaptureDriver =
        !(m_Probe.firstCaptureDriver ? m_Probe.firstCaptureDriver() : MachineFirstCaptureDriver()).empty();
}

void CSystemInfo::GatherCpu() const {
    std::call_once(m_cpuOnce, [this] {
        CCpuInfo cpu;
        m_nCpuMHz = cpu.MHz();
        m_strCpuName = cpu.GetModelName();
        m_strCpuVendor = cpu.GetVendorName();
    });
}

void CSystemInfo::GatherHost() const {
    std::call_once(m_hostOnce, [this] {
        std::string name = m_Probe.hostName ? m_Probe.hostName() : MachineHostName();
        std::vector<std::string> addresses;
        if (!name.empty())
            addresses = m_Probe.resolve ? m_Probe.resolve(name) : MachineResolve(name);
        if (!addresses.empty() && !addresses.front().empty()) {
            m_strHostName = name;
            m_strLocalAddress = addresses.front();
        } else {
            m_strHostName = m_strLocalAddress = "Unknown";
        }
    });
}

int CSystemInfo::GetCpuMHz() const {
    GatherCpu();
    return m_nCpuMHz;
}

std::string CSystemInfo::GetCpuName() const {
    GatherCpu();
    return m_strCpuName;
}

std::string CSystemInfo::GetCpuVendor() const {
    GatherCpu();
    return m_strCpuVendor;
}

std::string CSystemInfo::GetLocalAddress() const {
    GatherHost();
    return m_strLocalAddress;
}

std::string CSystemInfo::GetHostName() const {
    GatherHost();
    return m_strHostName;
}
