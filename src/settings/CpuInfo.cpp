#include "settings/CpuInfo.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#define VP_HAVE_CPUID 1
#else
#define VP_HAVE_CPUID 0
#endif

namespace {

struct SVendor {
    const char* text;
    int code;
};

const SVendor kVendors[] = {
    {"GenuineIntel", CPU_VENDOR_INTEL},     {"UMC UMC UMC ", CPU_VENDOR_UMC},
    {"AuthenticAMD", CPU_VENDOR_AMD},       {"AMD ISBETTER", CPU_VENDOR_AMD},
    {"CyrixInstead", CPU_VENDOR_CYRIX},     {"NexGenDriven", CPU_VENDOR_NEXGEN},
    {"CentaurHauls", CPU_VENDOR_CENTAUR},   {"RiseRiseRise", CPU_VENDOR_RISE},
    {"GenuineTMx86", CPU_VENDOR_TRANSMETA}, {"TransmetaCPU", CPU_VENDOR_TRANSMETA},
    {"Geode By NSC", CPU_VENDOR_NSC},
};

const char* Amd(const SCpuModel& c) {
    switch (c.m_nFamily) {
        case 4:
            switch (c.m_nModel) {
                case 3:
                    return "80486DX2";
                case 7:
                    return "80486DX2 WriteBack";
                case 8:
                    return "80486DX4";
                case 9:
                    return "80486DX4 WriteBack";
                case 14:
                    return "5x86";
                case 15:
                    return "5x86WB";
                default:
                    return "Unknown 80486 family";
            }
        case 5:
            switch (c.m_nModel) {
                case 0:
                    return "SSA5 (PR75, PR90, PR100)";
                case 1:
                    return "5k86 (PR120, PR133)";
                case 2:
                    return "5k86 (PR166)";
                case 3:
                    return "5k86 (PR200)";
                case 6:
                    return "K6 (0.30 µm)";
                case 7:
                    return "K6 (0.25 µm)";
                case 8:
                    return "K6-2";
                case 9:
                    return "K6-III";
                case 13:
                    return "K6-2+ or K6-III+ (0.18 µm)";
                default:
                    return "Unknown 80586 family";
            }
        case 6:
            switch (c.m_nModel) {
                case 1:
                    return "Athlon™ (0.25 µm)";
                case 2:
                    return "Athlon™ (0.18 µm)";
                case 3:
                    return "Duron™ (SF core)";
                case 4:
                    return "Athlon™ (Thunderbird core)";
                case 6:
                    return "Athlon™ (Palomino core)";
                case 7:
                    return "Duron™ (Morgan core)";
                case 8:
                    return c.m_bMultiProcessor ? "Athlon™ MP (Thoroughbred core)"
                                               : "Athlon™ XP (Thoroughbred core)";
                default:
                    return "Unknown K7 family";
            }
        default:
            return "Unknown AMD family";
    }
}

const char* Intel(const SCpuModel& c) {
    switch (c.m_nFamily) {
        case 3:
            return "Newer i80386 family";
        case 4:
            switch (c.m_nModel) {
                case 0:
                    return "i80486DX-25/33";
                case 1:
                    return "i80486DX-50";
                case 2:
                    return "i80486SX";
                case 3:
                    return "i80486DX2";
                case 4:
                    return "i80486SL";
                case 5:
                    return "i80486SX2";
                case 7:
                    return "i80486DX2 WriteBack";
                case 8:
                    return "i80486DX4";
                case 9:
                    return "i80486DX4 WriteBack";
                default:
                    return "Unknown 80486 family";
            }
        case 5:
            switch (c.m_nModel) {
                case 0:
                    return "P5 A-Step";
                case 1:
                    return "P5";
                case 2:
                case 7:
                    return "P54C";
                case 3:
                    return "P24T OverDrive";
                case 4:
                    return "P55C";
                case 8:
                    return "P55C (0.25µm)";
                default:
                    return "Unknown Pentium® family";
            }
        case 6:
            switch (c.m_nModel) {
                case 0:
                    return "P6 A-Step";
                case 1:
                    return "P6";
                case 3:
                    return "Pentium® II (0.28 µm)";
                case 5:
                    return "Pentium® II (0.25 µm)";
                case 6:
                    return "Pentium® II With On-Die L2 Cache";
                case 7:
                    return "Pentium® III (0.25 µm)";
                case 8:
                    return "Pentium® III (0.18 µm) With 256 KB On-Die L2 Cache ";
                case 10:
                    return "Pentium® III (0.18 µm) With 1 Or 2 MB On-Die L2 Cache ";
                case 11:
                    return "Pentium® III (0.13 µm) With 256 Or 512 KB On-Die L2 Cache ";
                default:
                    return "Unknown P6 family";
            }
        case 7:
            return "Intel Merced (IA-64)";
        case 15:
            if (c.m_nExtFamily == 1)
                return "Intel McKinley (IA-64)";
            if (c.m_nExtFamily != 0)
                return "Unknown Pentium 4 family";
            switch (c.m_nModel) {
                case 0:
                case 1:
                    return "Pentium® IV (0.18 µm)";
                case 2:
                    return "Pentium® IV (0.13 µm)";
                default:
                    return "Unknown Pentium 4 family";
            }
        default:
            return "Unknown Intel family";
    }
}

const char* Cyrix(const SCpuModel& c) {
    switch (c.m_nFamily) {
        case 4:
            switch (c.m_nModel) {
                case 0:
                    return "Cx486SLC \\ DLC \\ Cx486S A-Step";
                case 4:
                    return "MediaGX GX, GXm";
                case 9:
                    return "5x86";
                default:
                    return "Unknown Cx5x86 family";
            }
        case 5:
            switch (c.m_nModel) {
                case 2:
                    return "Cx6x86";
                case 4:
                    return "MediaGX GXm";
                default:
                    return "Unknown Cx6x86 family";
            }
        case 6:
            switch (c.m_nModel) {
                case 0:
                    return "6x86MX";
                case 5:
                    return "Cyrix M2 Core";
                case 6:
                    return "WinChip C5A Core";
                case 7:
                    return "WinChip C5B\\C5C Core";
                case 8:
                    return "WinChip C5C-T Core";
                default:
                    return "Unknown 6x86MX\\Cyrix III family";
            }
        default:
            return "Unknown Cyrix family";
    }
}

const char* Centaur(const SCpuModel& c) {
    if (c.m_nFamily == 5) {
        switch (c.m_nModel) {
            case 4:
                return "C6";
            case 8:
                return "C2";
            case 9:
                return "C3";
            default:
                break;
        }
    }
    if (c.m_nFamily == 6 && c.m_nModel == 6)
        return "VIA Cyrix III - Samuel";
    return "Unknown IDT\\Centaur family";
}

}  // namespace

int CpuVendorCode(const std::string& vendorText) {
    for (const auto& v : kVendors)
        if (vendorText == v.text)
            return v.code;
    return CPU_VENDOR_UNKNOWN;
}

const char* CpuVendorName(int code) {
    switch (code) {
        case CPU_VENDOR_AMD:
            return "Advanced Micro Devices";
        case CPU_VENDOR_INTEL:
            return "Intel Corporation";
        case CPU_VENDOR_NSC:
            return "National Semiconductor";
        case CPU_VENDOR_UMC:
            return "United Microelectronics Corp.";
        case CPU_VENDOR_CYRIX:
            return "Cyrix Corp., VIA Inc.";
        case CPU_VENDOR_NEXGEN:
            return "NexGen Inc., Advanced Micro Devices";
        case CPU_VENDOR_CENTAUR:
            return "IDT\\Centaur, Via Inc.";
        case CPU_VENDOR_RISE:
            return "Rise";
        case CPU_VENDOR_TRANSMETA:
            return "Transmeta";
        default:
            return "Unknown Manufacturer";
    }
}

const char* CpuModelName(const SCpuModel& c) {
    switch (c.m_nVendor) {
        case CPU_VENDOR_AMD:
            return Amd(c);
        case CPU_VENDOR_INTEL:
            return Intel(c);
        case CPU_VENDOR_CYRIX:
            return Cyrix(c);
        case CPU_VENDOR_NEXGEN:
            return c.m_nFamily == 5 && c.m_nModel == 0 ? "Nx586 or Nx586FPU" : "Unknown NexGen family";
        case CPU_VENDOR_CENTAUR:
            return Centaur(c);
        case CPU_VENDOR_UMC:
            if (c.m_nFamily == 4 && c.m_nModel == 1)
                return "U5D";
            if (c.m_nFamily == 4 && c.m_nModel == 2)
                return "U5S";
            return "Unknown UMC family";
        case CPU_VENDOR_RISE:
            if (c.m_nFamily == 5 && c.m_nModel == 0)
                return "mP6 (0.25 µm)";
            if (c.m_nFamily == 5 && c.m_nModel == 2)
                return "mP6 (0.18 µm)";
            return "Unknown Rise family";
        case CPU_VENDOR_TRANSMETA:
            if (c.m_nFamily == 5)
                return c.m_nModel == 4 ? "Crusoe TM3x00 and TM5x00" : "Unknown Crusoe family";
            return "Unknown Transmeta family";
        default:
            return "Unknown family";
    }
}

int CpuMHzFromCycles(uint64_t busyCycles, uint64_t overheadCycles) {
    if (busyCycles <= overheadCycles)
        return -1;
    return static_cast<int>((busyCycles - overheadCycles) / 50 / 1000);
}

CCpuInfo::CCpuInfo() {
#if VP_HAVE_CPUID
    unsigned a = 0, b = 0, c = 0, d = 0;
    unsigned maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf == 0)
        return;
    m_bCpuid = true;
    __cpuid(0, a, b, c, d);
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    m_nVendor = CpuVendorCode(vendor);
    m_Model.m_nVendor = m_nVendor;
    if (maxLeaf >= 1) {
        __cpuid(1, a, b, c, d);
        m_Model.m_nStepping = static_cast<int>(a & 0xf);
        m_Model.m_nModel = static_cast<int>((a >> 4) & 0xf);
        m_Model.m_nFamily = static_cast<int>((a >> 8) & 0xf);
        m_Model.m_nExtFamily = static_cast<int>((a >> 20) & 0xff);
        if (m_Model.m_nFamily == 6 || m_Model.m_nFamily == 15)
            m_Model.m_nModel |= static_cast<int>(((a >> 16) & 0xf) << 4);
        auto bit = [d](int n) { return ((d >> n) & 1u) != 0; };
        m_bFpu = bit(0);
        m_bTsc = bit(4);
        m_bApic = bit(9);
        m_bMtrr = bit(12);
        m_bCmov = bit(15);
        m_bSerial = bit(18);
        m_bAcpi = bit(22);
        m_bMmx = bit(23);
        m_bSse = bit(25);
        m_bSse2 = bit(26);
        m_bThermal = bit(29);
        m_bIa64 = bit(30);
        if (m_nVendor == CPU_VENDOR_INTEL && bit(28)) {
            m_nLogicalCount = static_cast<int>((b >> 16) & 0xff);
            if (m_bApic)
                m_nApicId = static_cast<int>((b >> 24) & 0xff);
        }
    }
    unsigned maxExt = __get_cpuid_max(0x80000000u, nullptr);
    if (maxExt >= 0x80000001u) {
        __cpuid(0x80000001u, a, b, c, d);
        m_Model.m_bMultiProcessor = ((d >> 19) & 1u) != 0;
    }
    if (maxExt >= 0x80000004u) {
        char brand[49] = {};
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            __cpuid(0x80000002u + leaf, a, b, c, d);
            std::memcpy(brand + leaf * 16, &a, 4);
            std::memcpy(brand + leaf * 16 + 4, &b, 4);
            std::memcpy(brand + leaf * 16 + 8, &c, 4);
            std::memcpy(brand + leaf * 16 + 12, &d, 4);
        }
        std::string text = brand;
        size_t first = text.find_first_not_of(' ');
        m_strModelName = first == std::string::npos ? std::string() : text.substr(first);
    }
    if (m_strModelName.empty())
        m_strModelName = CpuModelName(m_Model);
    if (m_bSerial && maxLeaf >= 3) {
        __cpuid(3, a, b, c, d);
        unsigned regs[3] = {b, c, d};
        char text[40];
        std::snprintf(text, sizeof text, "%.2x%.2x-%.2x%.2x-%.2x%.2x-%.2x%.2x-%.2x%.2x-%.2x%.2x",
                      regs[0] >> 24, (regs[0] >> 16) & 0xff, (regs[0] >> 8) & 0xff, regs[0] & 0xff,
                      regs[1] >> 24, (regs[1] >> 16) & 0xff, (regs[1] >> 8) & 0xff, regs[1] & 0xff,
                      regs[2] >> 24, (regs[2] >> 16) & 0xff, (regs[2] >> 8) & 0xff, regs[2] & 0xff);
        m_strSerial = text;
    }
#endif
}

int CCpuInfo::MHz() const {
#if VP_HAVE_CPUID
    if (!m_bTsc)
        return -1;
    static std::once_flag once;
    static int mhz = -1;
    std::call_once(once, [] {
        using Clock = std::chrono::steady_clock;
        auto start = Clock::now();
        uint64_t c0 = __rdtsc();
        while (Clock::now() - start < std::chrono::milliseconds(50)) {
        }
        uint64_t busy = __rdtsc() - c0;
        // What reading the clock itself costs, taken off the busy count.
        auto t0 = Clock::now();
        uint64_t o0 = __rdtsc();
        while (Clock::now() == t0) {
        }
        uint64_t overhead = __rdtsc() - o0;
        mhz = CpuMHzFromCycles(busy, overhead);
    });
    return mhz;
#else
    return -1;
#endif
}
