// CSettings and the accounts list against a real hive file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/DesktopEntry.h"
#include "platform/Registry.h"
#include "settings/Accounts.h"
#include "settings/RegistryKey.h"
#include "settings/Settings.h"
#include "support/TempEnvironment.h"

namespace {

namespace fs = std::filesystem;

void Seed(const CTempEnvironment& env, const std::string& text) {
    fs::create_directories(env.ConfigDir());
    std::ofstream(env.HivePath()) << text;
}

TEST(Settings, WithoutAKeyTheMemoryDefaultsStay) {
    CTempEnvironment env;
    CSettings s;
    s.Load();
    EXPECT_FALSE(s.Loaded());
    EXPECT_EQ(443, s.GetPort());
    EXPECT_EQ(10, s.GetFrameRate());
    EXPECT_EQ(50, s.GetAudioInVolume());
    EXPECT_EQ(50, s.GetAudioOutVolume());
    EXPECT_EQ(2000, s.GetSilence());
    EXPECT_FALSE(s.GetAlwaysOnTop());
    EXPECT_EQ(-1, s.GetCornerPosition());
    EXPECT_EQ(0, s.GetProxyPort());
    EXPECT_EQ("127.0.0.1", s.GetLocalAddress());
    EXPECT_EQ('D', s.GetStatus());
}

TEST(Settings, AnEmptyKeyGivesTheTableDefaults) {
    CTempEnvironment env;
    Seed(env, "[Software\\Velaphon\\Settings]\n");
    CSettings s;
    s.Load();
    EXPECT_TRUE(s.Loaded());
    EXPECT_TRUE(s.GetAlwaysOnTop());
    EXPECT_EQ(-1, s.GetCornerPosition());
    EXPECT_EQ(50, s.GetSilence());
    EXPECT_EQ(443, s.GetPort());
    EXPECT_EQ(10, s.GetFrameRate());
    EXPECT_FALSE(s.GetMinimizeOnClose());
}

TEST(Settings, FlagsAreSetOnlyByOneAndNumbersReadFromAnyType) {
    CTempEnvironment env;
    Seed(env,
         "[Software\\Velaphon\\Settings]\n"
         "\"AllwaysOnTop\"=binary:02,00,00,00\n"  // 2 is not "set"
         "\"MinimizeOnClose\"=binary:01,00,00,00\n"
         "\"StartMinimized\"=dword:1\n"       // a dword written by another tool
         "\"Proxy\"=binary:01,00,00,00,ff\n"  // longer than 4 bytes: the first 4 count
         "\"Frame rate\"=dword:25\n"
         "\"CornerPosition\"=binary:ff,ff,ff,ff\n"
         "\"Silence volume\"=binary:10\n"  // too short to be a number: default
         "\"Port\"=text:\"8080\"\n");      // a text's bytes, not its meaning
    CSettings s;
    s.Load();
    EXPECT_FALSE(s.GetAlwaysOnTop());
    EXPECT_TRUE(s.GetMinimizeOnClose());
    EXPECT_TRUE(s.GetStartMinimized());
    EXPECT_TRUE(s.GetProxy());
    EXPECT_EQ(25, s.GetFrameRate());
    EXPECT_EQ(-1, s.GetCornerPosition());
    EXPECT_EQ(50, s.GetSilence());
    EXPECT_EQ(0x30383038, s.GetPort());
}

TEST(Settings, SaveWritesEveryValueInOrderAndLoadReadsItBack) {
    CTempEnvironment env;
    CSettings s;
    s.SetUser("5550001", "pw");
    s.SetServer("vp.example.org", 443);
    s.SetUseProxy(true);
    s.SetProxy("proxy.lan", 3128, "joe", "secret", "CORP");
    s.SetProxyNtlm(true);
    s.SetAudioIn("mic");
    s.SetAudioOut("speaker");
    s.SetAudioInVolume(70);
    s.SetAudioOutVolume(30);
    s.SetSilence(1234);
    s.SetAlwaysOnTop(true);
    s.SetStartMinimized(true);
    s.SetMinimizeOnClose(true);
    s.SetCornerPosition(3);
    s.SetVideoIn("cam");
    s.SetFrameRate(15);
    ASSERT_TRUE(s.Save());

    CSettings b;
    b.Load();
    EXPECT_EQ("5550001", b.GetNtv());
    EXPECT_EQ("pw", b.GetPassword());
    EXPECT_EQ("vp.example.org", b.GetHost());
    EXPECT_TRUE(b.GetProxy());
    // The proxy host survives: its port has a value of its own.
    EXPECT_EQ("proxy.lan", b.GetProxyHost());
    EXPECT_EQ(3128, b.GetProxyPort());
    EXPECT_EQ("joe", b.GetProxyLogin());
    EXPECT_EQ("secret", b.GetProxyPassword());
    EXPECT_TRUE(b.GetProxyNtlm());
    EXPECT_EQ("CORP", b.GetProxyDomain());
    EXPECT_EQ("mic", b.GetAudioIn());
    EXPECT_EQ("speaker", b.GetAudioOut());
    EXPECT_EQ(70, b.GetAudioInVolume());
    EXPECT_EQ(30, b.GetAudioOutVolume());
    EXPECT_EQ(1234, b.GetSilence());
    EXPECT_TRUE(b.GetAlwaysOnTop());
    EXPECT_FALSE(b.GetStartOnInit());
    EXPECT_TRUE(b.GetStartMinimized());
    EXPECT_TRUE(b.GetMinimizeOnClose());
    EXPECT_EQ(3, b.GetCornerPosition());
    EXPECT_EQ("cam", b.GetVideoIn());
    EXPECT_EQ(15, b.GetFrameRate());

    CRegistryKey key;
    ASSERT_TRUE(key.SetKey(CSettings::kKey, false));
    EXPECT_EQ(23, key.ValueCount());
    EXPECT_EQ(REG_BINARY, key.ValueType("Frame rate"));
    const char* order[] = {"UserNtv",
                           "UserPassword",
                           "Host",
                           "Port",
                           "Proxy",
                           "ServerProxy",
                           "ServerProxyPort",
                           "ServerProxyLogin",
                           "ServerProxyPassword",
                           "ServerProxyNtml",
                           "ServerProxyDomain",
                           "DeviceAudioInput",
                           "DeviceAudioOutput",
                           "DeviceAudioInput volume",
                           "DeviceAudioOutput volume",
                           "Silence volume",
                           "AllwaysOnTop",
                           "StartOnInit",
                           "StartMinimized",
                           "MinimizeOnClose",
                           "CornerPosition",
                           "DeviceVideoInput",
                           "Frame rate"};
    std::ifstream in(env.HivePath());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 0;
    for (const char* name : order) {
        size_t found = text.find("\"" + std::string(name) + "\"=", at);
        ASSERT_NE(std::string::npos, found) << name;
        at = found;
    }
}

TEST(Settings, AStoreWhoseProxyPortOverwroteTheHostStillGivesThePort) {
    CTempEnvironment env;
    Seed(env, "[Software\\Velaphon\\Settings]\n\"ServerProxy\"=binary:40,1f,00,00\n");
    CSettings s;
    s.Load();
    EXPECT_EQ("", s.GetProxyHost());
    EXPECT_EQ(8000, s.GetProxyPort());
}

TEST(Settings, TooLongTextsAreNotStoredButTheRestIs) {
    CTempEnvironment env;
    CSettings s;
    s.SetUser("5550001", std::string(300, 'p'));
    EXPECT_FALSE(s.Save());
    CSettings b;
    b.Load();
    EXPECT_EQ("5550001", b.GetNtv());
    EXPECT_EQ("", b.GetPassword());
}

TEST(Settings, AlwaysOnTopTellsTheWindowAtOnce) {
    CSettings s;
    std::vector<bool> told;
    s.SetTopmostHook([&](bool on) { told.push_back(on); });
    s.SetAlwaysOnTop(true);
    s.SetAlwaysOnTop(false);
    EXPECT_EQ((std::vector<bool>{true, false}), told);
}

TEST(Settings, StartAtLogOnWritesAndRemovesTheAutostartEntry) {
    CTempEnvironment env;
    CSettings s;
    const std::string program = env.Root() + "/my apps/velaphon \"2\"";
    s.SetStartOnInit(true, program);
    EXPECT_TRUE(s.GetStartOnInit());
    ASSERT_TRUE(CAutostartEntry::Exists());
    EXPECT_EQ(env.Root() + "/config/autostart/velaphon.desktop", CAutostartEntry::Path());
    EXPECT_EQ(program, CAutostartEntry::Program());

    s.SetStartOnInit(false);
    EXPECT_FALSE(CAutostartEntry::Exists());

    // An entry another version wrote goes as well.
    std::ofstream(CAutostartEntry::Path()) << "[Desktop Entry]\nExec=/opt/old/velaphon\n";
    s.SetStartOnInit(false);
    EXPECT_FALSE(CAutostartEntry::Exists());
    s.SetStartOnInit(false);  // nothing there: still fine
    EXPECT_FALSE(CAutostartEntry::Exists());
}

TEST(Accounts, NineValuesHoldTwoAccountsAndInvalidOnesAreSkipped) {
    CTempEnvironment env;
    Seed(
        env,
        "[Software\\Velaphon\\Settings\\Accounts]\n"
        "\"Ntv0\"=text:\"100\"\n\"Pass0\"=text:\"a\"\n\"Srv0\"=text:\"s0\"\n\"Default0\"=binary:00,00,00,00\n"
        "\"Ntv1\"=text:\"101\"\n\"Pass1\"=text:\"b\"\n\"Srv1\"=text:\"s1\"\n\"Default1\"=binary:01,00,00,00\n"
        "\"Ntv2\"=text:\"102\"\n");
    CAccountList list = LoadAccounts();
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ((Account{"100", "a", "s0", 0}), list[0]);
    EXPECT_EQ((Account{"101", "b", "s1", 1}), list[1]);

    Seed(env,
         "[Software\\Velaphon\\Settings\\Accounts]\n"
         "\"Ntv0\"=text:\"100\"\n\"Pass0\"=text:\"\"\n\"Srv0\"=text:\"s0\"\n\"Default0\"=binary:01,00,00,00\n"
         "\"Ntv1\"=text:\"101\"\n\"Pass1\"=text:\"b\"\n\"Srv1\"=text:\"s1\"\n\"Default1\"=binary:00,00,00,"
         "00\n");
    list = LoadAccounts();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ("101", list[0].m_strNtv);
}

TEST(Accounts, SavingReplacesTheListAndMakesTheDefaultTheCurrentAccount) {
    CTempEnvironment env;
    EXPECT_TRUE(LoadAccounts().empty());  // no key at all
    CSettings settings;
    CAccountList three = {{"100", "a", "s0", 0}, {"101", "b", "s1", 0}, {"102", "c", "s2", 0}};
    ASSERT_TRUE(SaveAccounts(three, settings));
    EXPECT_EQ(three, LoadAccounts());
    EXPECT_EQ("", settings.GetNtv());  // no default: the settings stay as they were

    CAccountList one = {{"200", "z", "srv.example", 1}};
    settings.SetServer("old", 8000);
    ASSERT_TRUE(SaveAccounts(one, settings));
    EXPECT_EQ(one, LoadAccounts());
    CRegistryKey key;
    ASSERT_TRUE(key.SetKey(kAccountsKey, false));
    EXPECT_EQ(4, key.ValueCount());  // the three old accounts' values are gone
    EXPECT_EQ("200", settings.GetNtv());
    EXPECT_EQ("z", settings.GetPassword());
    EXPECT_EQ("srv.example", settings.GetHost());
    EXPECT_EQ(443, settings.GetPort());
    CSettings stored;
    stored.Load();
    EXPECT_EQ("200", stored.GetNtv());
    EXPECT_EQ("srv.example", stored.GetHost());
}

}  // namespace
