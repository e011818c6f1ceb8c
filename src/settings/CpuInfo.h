// CCpuInfo: the processor as CPUID tells it (vendor, family, model, features, brand text), its clock
// measured against the time-stamp counter, and the model-name tree for processors without a brand text.
#pragma once

#include <cstdint>
#include <string>

enum ECpuVendor : int {
    CPU_VENDOR_AMD = 0,
    CPU_VENDOR_INTEL = 1,
    CPU_VENDOR_NSC = 2,
    CPU_VENDOR_UMC = 3,
    CPU_VENDOR_CYRIX = 4,
    CPU_VENDOR_NEXGEN = 5,
    CPU_VENDOR_CENTAUR = 6,
    CPU_VENDOR_RISE = 7,
    CPU_VENDOR_TRANSMETA = 8,
    CPU_VENDOR_UNKNOWN = 9,
};

// The vendor code and maker's name of a 12-character CPUID vendor text.
int CpuVendorCode(const std::string& vendorText);
const char* CpuVendorName(int vendorCode);

struct SCpuModel {
    int m_nVendor = CPU_VENDOR_UNKNOWN;
    int m_nFamily = 0;
    int m_nModel = 0;  // with the extended model folded in for families 6 and 15
    int m_nStepping = 0;
    int m_nExtFamily = 0;
    bool m_bMultiProcessor = false;  // AMD: the extended "MP capable" flag
};

// The name the tree gives a processor that has no brand text; every vendor and family falls back to a
// name beginning with "Unknown".
const char* CpuModelName(const SCpuModel& cpu);

class CCpuInfo {
public:
    // Identifies the processor; the clock is measured on the first call to MHz().
    CCpuInfo();

    int GetVendor() const { return m_nVendor; }
    const char* GetVendorName() const { return CpuVendorName(m_nVendor); }
    const std::string& GetModelName() const { return m_strModelName; }
    const std::string& GetSerial() const { return m_strSerial; }
    // Clock in MHz; -1 without a time-stamp counter. Measuring busy-waits 50 ms once per process.
    int MHz() const;

    bool HasCpuid() const { return m_bCpuid; }
    bool m_bFpu = false, m_bTsc = false, m_bApic = false, m_bMtrr = false, m_bCmov = false, m_bSerial = false,
         m_bAcpi = false, m_bMmx = false, m_bSse = false, m_bSse2 = false, m_bThermal = false,
         m_bIa64 = false;
    int m_nLogicalCount = 1;
    int m_nApicId = 0;
    SCpuModel m_Model;

private:
    bool m_bCpuid = false;
    int m_nVendor = CPU_VENDOR_UNKNOWN;
    std::string m_strModelName;
    std::string m_strSerial;
};

// (first - second) cycles over a 50 ms wait: the clock in MHz.
int CpuMHzFromCycles(uint64_t busyCycles, uint64_t overheadCycles);
