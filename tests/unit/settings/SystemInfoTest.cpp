// Operating-system identification, the platform rule, and the machine description.
#include <gtest/gtest.h>

#include <set>

#include "settings/CpuInfo.h"
#include "settings/OsVersion.h"
#include "settings/SystemInfo.h"

namespace {

SVersionRecord Windows(DWORD platform, DWORD major, DWORD minor, DWORD build, const std::string& csd) {
    SVersionRecord r;
    r.m_bValid = true;
    r.m_nPlatformId = platform;
    r.m_nMajor = major;
    r.m_nMinor = minor;
    r.m_nBuild = build;
    r.m_strCsd = csd;
    return r;
}

SVersionRecord Linux(const std::string& release,
                     const std::string& system = "Debian GNU/Linux 12 (bookworm)") {
    SVersionRecord r;
    r.m_nPlatformId = VER_PLATFORM_LINUX;
    r.m_strCsd = release;
    r.m_strSystem = system;
    r.m_bValid = ParseKernelRelease(release, r.m_nMajor, r.m_nMinor, r.m_nBuild);
    return r;
}

struct SOsCase {
    SVersionRecord record;
    std::string description;
    int kind;
    bool supported;
};

TEST(OsVersion, DescriptionsKindsAndTheStartUpRule) {
    const SOsCase cases[] = {
        {Windows(VER_PLATFORM_WIN32_NT, 5, 1, 0x0A280A28, "Service Pack 2"),
         "Microsoft Windows XP Service Pack 2 (Build 2600)", OS_KIND_WINXP, true},
        {Windows(VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"),
         "Microsoft Windows 2000 Service Pack 4 (Build 2195)", OS_KIND_WIN2000, true},
        {Windows(VER_PLATFORM_WIN32_NT, 5, 2, 3790, "Service Pack 1"), "Service Pack 1 (Build 3790)", 0,
         true},
        {Windows(VER_PLATFORM_WIN32_NT, 6, 1, 7601, ""), " (Build 7601)", 0, true},
        {Windows(VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6"),
         "Microsoft Windows NT version 4.0 Service Pack 6 (Build 1381)", OS_KIND_NT4, false},
        {Windows(VER_PLATFORM_WIN32_NT, 3, 51, 1057, ""), "Microsoft Windows NT version 3.51  (Build 1057)",
         OS_KIND_NT351, false},
        {Windows(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950, " C"), "Microsoft Windows 95 OSR2 ", OS_KIND_WIN95,
         false},
        {Windows(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950, " B"), "Microsoft Windows 95 B ", OS_KIND_WIN95,
         false},
        {Windows(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, " A"), "Microsoft Windows 98 SE ", OS_KIND_WIN98,
         false},
        {Windows(VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000, ""), "Microsoft Windows Me ", OS_KIND_WINME, false},
        {Windows(VER_PLATFORM_WIN32s, 3, 1, 0, ""), "Microsoft Win32s ", OS_KIND_WIN32S, false},
        {SVersionRecord{}, "", 0, false},
        {Linux("6.1.0-18-amd64"), "Debian GNU/Linux 12 (bookworm) (Linux 6.1.0-18-amd64)", 0, true},
        {Linux("3.2.0"), "Debian GNU/Linux 12 (bookworm) (Linux 3.2.0)", 0, true},
        {Linux("3.1.10"), "Debian GNU/Linux 12 (bookworm) (Linux 3.1.10)", 0, false},
        {Linux("2.6.32-754.el6.x86_64", "CentOS 6"), "CentOS 6 (Linux 2.6.32-754.el6.x86_64)", 0, false},
        {Linux("unknown"), "", 0, false},
    };
    for (const auto& c : cases) {
        std::string description;
        int kind = -5;
        DescribeOs(c.record, description, kind);
        EXPECT_EQ(c.description, description);
        EXPECT_EQ(c.kind, kind) << c.description;
        EXPECT_EQ(c.supported, IsSupportedOs(c.record, kind)) << c.description;
    }
}

TEST(OsVersion, KernelReleasesAndOsReleaseFiles) {
    DWORD a = 0, b = 0, c = 0;
    EXPECT_TRUE(ParseKernelRelease("6.1.0-18-amd64", a, b, c));
    EXPECT_EQ(6u, a);
    EXPECT_EQ(1u, b);
    EXPECT_EQ(0u, c);
    EXPECT_TRUE(ParseKernelRelease("5", a, b, c));
    EXPECT_EQ(5u, a);
    EXPECT_EQ(0u, b);
    EXPECT_FALSE(ParseKernelRelease("", a, b, c));
    EXPECT_FALSE(ParseKernelRelease("v6.1", a, b, c));
    EXPECT_TRUE(ParseKernelRelease("99999999999999.1", a, b, c));  // huge numbers saturate, no overflow

    EXPECT_EQ("Debian GNU/Linux 12 (bookworm)",
              OsReleaseName("NAME=\"Debian GNU/Linux\"\nVERSION=\"12 (bookworm)\"\n"
                            "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n"));
    EXPECT_EQ("Arch Linux", OsReleaseName("NAME='Arch Linux'\n"));
    EXPECT_EQ("Foo 1.0", OsReleaseName("NAME=Foo\nVERSION=1.0\n"));
    EXPECT_EQ("say \"hi\"", OsReleaseName("PRETTY_NAME=\"say \\\"hi\\\"\"\n"));
    EXPECT_EQ("", OsReleaseName("garbage\n=\n"));
}

TEST(OsVersion, ThisMachineIsDescribedAndSupported) {
    SVersionRecord r = ReadVersionRecord("PRETTY_NAME=\"Test OS\"\n");
    ASSERT_TRUE(r.m_bValid);
    EXPECT_EQ("Test OS", r.m_strSystem);
    CSystemInfo info;
    EXPECT_TRUE(info.IsSupportedPlatform()) << info.GetOs();
    EXPECT_NE(std::string::npos, info.GetOs().find("(Linux "));
}

TEST(SystemInfo, MemoryIsScaledToAtMostAThousandUnits) {
    int unit = -1;
    EXPECT_EQ(2u, ScaleMemory(2147483648ull, unit));
    EXPECT_EQ(3, unit);
    EXPECT_EQ(1000u, ScaleMemory(1000, unit));
    EXPECT_EQ(0, unit);
    EXPECT_EQ(0u, ScaleMemory(1001, unit));  // 1001 >> 10
    EXPECT_EQ(1, unit);

    SSystemProbe probe;
    probe.memory = [](SMemoryStatus& m) {
        m = {2147483648ull, 1048576ull * 512, 4294967296ull, 3000};
        return true;
    };
    CSystemInfo info(probe);
    EXPECT_EQ(2u, info.GetTotalPhys());
    EXPECT_EQ(3, info.GetTotalPhysUnit());
    EXPECT_EQ(512u, info.GetAvailPhys());
    EXPECT_EQ(4u, info.GetTotalVirtual());
    EXPECT_EQ(3, info.GetTotalVirtualUnit());
    EXPECT_EQ(2u, info.GetAvailVirtual());
}

TEST(SystemInfo, HostNameAndAddressComeFromTheFirstAddressOrAreUnknown) {
    SSystemProbe two;
    two.hostName = [] { return std::string("box"); };
    two.resolve = [](const std::string&) { return std::vector<std::string>{"192.0.2.7", "198.51.100.1"}; };
    CSystemInfo a(two);
    EXPECT_EQ("box", a.GetHostName());
    EXPECT_EQ("192.0.2.7", a.GetLocalAddress());

    SSystemProbe none = two;
    none.resolve = [](const std::string&) { return std::vector<std::string>{}; };
    CSystemInfo b(none);
    EXPECT_EQ("Unknown", b.GetHostName());
    EXPECT_EQ("Unknown", b.GetLocalAddress());

    SSystemProbe nameless;
    nameless.hostName = [] { return std::string(); };
    CSystemInfo c(nameless);
    EXPECT_EQ("Unknown", c.GetHostName());
}

TEST(SystemInfo, ScreenAndDevicesFromTheProbe) {
    SSystemProbe p;
    p.screen = [](int& w, int& h, int& bits) { w = 1920, h = 1080, bits = 24; };
    p.waveDevices = [](int& in, int& out) { in = 1, out = 2; };
    p.firstCaptureDriver = [] { return std::string("Test camera"); };
    CSystemInfo info(p);
    EXPECT_EQ(1920, info.GetScreenWidth());
    EXPECT_EQ(1080, info.GetScreenHeight());
    EXPECT_EQ(24, info.GetScreenBits());
    EXPECT_EQ(1, info.GetWaveInDevices());
    EXPECT_EQ(2, info.GetWaveOutDevices());
    EXPECT_TRUE(info.HasCaptureDriver());
    EXPECT_EQ("2:2", info.GetWinsockVersion());

    p.firstCaptureDriver = [] { return std::string(); };
    EXPECT_FALSE(CSystemInfo(p).HasCaptureDriver());
}

TEST(CpuInfo, VendorTable) {
    EXPECT_EQ(CPU_VENDOR_INTEL, CpuVendorCode("GenuineIntel"));
    EXPECT_EQ(CPU_VENDOR_UMC, CpuVendorCode("UMC UMC UMC "));
    EXPECT_EQ(CPU_VENDOR_UNKNOWN, CpuVendorCode("UMC UMC UMC"));  // the trailing blank matters
    EXPECT_EQ(CPU_VENDOR_AMD, CpuVendorCode("AMD ISBETTER"));
    EXPECT_EQ(CPU_VENDOR_TRANSMETA, CpuVendorCode("TransmetaCPU"));
    EXPECT_EQ(CPU_VENDOR_NSC, CpuVendorCode("Geode By NSC"));
    EXPECT_STREQ("IDT\\Centaur, Via Inc.", CpuVendorName(CpuVendorCode("CentaurHauls")));
    EXPECT_STREQ("Unknown Manufacturer", CpuVendorName(CpuVendorCode("HygonGenuine")));
}

TEST(CpuInfo, ModelNameTree) {
    auto name = [](int vendor, int family, int model, int extFamily = 0, bool mp = false) {
        SCpuModel c;
        c.m_nVendor = vendor;
        c.m_nFamily = family;
        c.m_nModel = model;
        c.m_nExtFamily = extFamily;
        c.m_bMultiProcessor = mp;
        return std::string(CpuModelName(c));
    };
    const char* amd4[] = {"80486DX2", "80486DX2 WriteBack", "80486DX4", "80486DX4 WriteBack", "5x86",
                          "5x86WB"};
    int amd4Models[] = {3, 7, 8, 9, 14, 15};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(amd4[i], name(CPU_VENDOR_AMD, 4, amd4Models[i]));
    EXPECT_EQ("SSA5 (PR75, PR90, PR100)", name(CPU_VENDOR_AMD, 5, 0));
    EXPECT_EQ("5k86 (PR200)", name(CPU_VENDOR_AMD, 5, 3));
    EXPECT_EQ("K6-2", name(CPU_VENDOR_AMD, 5, 8));
    EXPECT_EQ("K6-III", name(CPU_VENDOR_AMD, 5, 9));
    EXPECT_EQ("Athlon™ (0.25 µm)", name(CPU_VENDOR_AMD, 6, 1));
    EXPECT_EQ("Duron™ (Morgan core)", name(CPU_VENDOR_AMD, 6, 7));
    EXPECT_EQ("Athlon™ XP (Thoroughbred core)", name(CPU_VENDOR_AMD, 6, 8));
    EXPECT_EQ("Athlon™ MP (Thoroughbred core)", name(CPU_VENDOR_AMD, 6, 8, 0, true));
    EXPECT_EQ("Unknown K7 family", name(CPU_VENDOR_AMD, 6, 5));
    EXPECT_EQ("Unknown AMD family", name(CPU_VENDOR_AMD, 15, 0));
    EXPECT_EQ("Pentium® IV (0.13 µm)", name(CPU_VENDOR_INTEL, 15, 2));
    EXPECT_EQ("Intel McKinley (IA-64)", name(CPU_VENDOR_INTEL, 15, 0, 1));
    EXPECT_EQ("Unknown P6 family", name(CPU_VENDOR_INTEL, 6, 0x9e));
    EXPECT_EQ("Unknown family", name(CPU_VENDOR_NSC, 5, 4));
    EXPECT_EQ("Unknown family", name(CPU_VENDOR_UNKNOWN, 6, 1));

    // Every branch of the tree gives one of the 90 names, and every name is reachable.
    const std::set<std::string> names = {"Unknown family",
                                         "Cx486SLC \\ DLC \\ Cx486S A-Step",
                                         "Nx586 or Nx586FPU",
                                         "Unknown NexGen family",
                                         "MediaGX GX, GXm",
                                         "Unknown Cx5x86 family",
                                         "Cx6x86",
                                         "MediaGX GXm",
                                         "Unknown Cx6x86 family",
                                         "6x86MX",
                                         "Cyrix M2 Core",
                                         "WinChip C5A Core",
                                         "WinChip C5B\\C5C Core",
                                         "WinChip C5C-T Core",
                                         "Unknown 6x86MX\\Cyrix III family",
                                         "Unknown Cyrix family",
                                         "C6",
                                         "C2",
                                         "C3",
                                         "VIA Cyrix III - Samuel",
                                         "Unknown IDT\\Centaur family",
                                         "U5D",
                                         "U5S",
                                         "Unknown UMC family",
                                         "mP6 (0.25 µm)",
                                         "mP6 (0.18 µm)",
                                         "Unknown Rise family",
                                         "Crusoe TM3x00 and TM5x00",
                                         "Unknown Crusoe family",
                                         "Unknown Transmeta family",
                                         "80486DX2",
                                         "80486DX2 WriteBack",
                                         "80486DX4",
                                         "80486DX4 WriteBack",
                                         "5x86",
                                         "5x86WB",
                                         "K6 (0.25 µm)",
                                         "K6-2",
                                         "K6-III",
                                         "K6-2+ or K6-III+ (0.18 µm)",
                                         "Unknown 80586 family",
                                         "K6 (0.30 µm)",
                                         "SSA5 (PR75, PR90, PR100)",
                                         "5k86 (PR120, PR133)",
                                         "5k86 (PR166)",
                                         "5k86 (PR200)",
                                         "Athlon™ (0.25 µm)",
                                         "Athlon™ (0.18 µm)",
                                         "Duron™ (SF core)",
                                         "Athlon™ (Thunderbird core)",
                                         "Athlon™ (Palomino core)",
                                         "Duron™ (Morgan core)",
                                         "Athlon™ XP (Thoroughbred core)",
                                         "Athlon™ MP (Thoroughbred core)",
                                         "Unknown K7 family",
                                         "Unknown AMD family",
                                         "Newer i80386 family",
                                         "Unknown 80486 family",
                                         "i80486DX4 WriteBack",
                                         "i80486DX4",
                                         "i80486DX2 WriteBack",
                                         "i80486SX2",
                                         "i80486SL",
                                         "i80486DX2",
                                         "i80486SX",
                                         "i80486DX-50",
                                         "i80486DX-25/33",
                                         "P5 A-Step",
                                         "P5",
                                         "P54C",
                                         "P24T OverDrive",
                                         "P55C",
                                         "P55C (0.25µm)",
                                         "Unknown Pentium® family",
                                         "Pentium® III (0.25 µm)",
                                         "Pentium® III (0.18 µm) With 256 KB On-Die L2 Cache ",
                                         "Pentium® III (0.18 µm) With 1 Or 2 MB On-Die L2 Cache ",
                                         "Pentium® III (0.13 µm) With 256 Or 512 KB On-Die L2 Cache ",
                                         "Unknown P6 family",
                                         "Pentium® II With On-Die L2 Cache",
                                         "P6 A-Step",
                                         "P6",
                                         "Pentium® II (0.28 µm)",
                                         "Pentium® II (0.25 µm)",
                                         "Intel Merced (IA-64)",
                                         "Pentium® IV (0.18 µm)",
                                         "Pentium® IV (0.13 µm)",
                                         "Unknown Pentium 4 family",
                                         "Intel McKinley (IA-64)",
                                         "Unknown Intel family"};
    ASSERT_EQ(90u, names.size());
    std::set<std::string> reached;
    for (int vendor = 0; vendor <= 9; ++vendor)
        for (int family = 0; family < 16; ++family)
            for (int model = 0; model < 16; ++model)
                for (int ext = 0; ext < 3; ++ext)
                    for (bool mp : {false, true}) {
                        std::string n = name(vendor, family, model, ext, mp);
                        EXPECT_TRUE(names.count(n)) << n;
                        reached.insert(n);
                    }
    EXPECT_EQ(names, reached);
}

TEST(CpuInfo, ThisProcessorAndItsClock) {
    EXPECT_EQ(-1, CpuMHzFromCycles(10, 20));
    EXPECT_EQ(2000, CpuMHzFromCycles(100000000 + 5000, 5000));
    CCpuInfo cpu;
#if defined(__x86_64__) || defined(__i386__)
    ASSERT_TRUE(cpu.HasCpuid());
    EXPECT_NE(CPU_VENDOR_UNKNOWN, cpu.GetVendor());
    EXPECT_FALSE(cpu.GetModelName().empty());
    if (cpu.m_bTsc) {
        int mhz = cpu.MHz();
        EXPECT_GT(mhz, 100);
        EXPECT_LT(mhz, 20000);
        EXPECT_EQ(mhz, cpu.MHz());  // measured once
    }
#endif
    CSystemInfo info;
    EXPECT_EQ(cpu.GetModelName(), info.GetCpuName());
    EXPECT_EQ(cpu.GetVendorName(), info.GetCpuVendor());
}

}  // namespace
