// Applying the properties sheet's values: the order, what reaches the hive, the accounts and proxy
// compared with what was stored, and what is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/ClientApp.h"
#include "app/PropertiesApply.h"
#include "support/TempEnvironment.h"

namespace {

// Records what applying asks of the window, in order; at the placing it also notes what the hive held.
class CHost : public IPropertiesHost {
public:
    explicit CHost(CClientApp& app) : m_app(app) {}
    void ShowNotice(UINT id) override { m_calls.push_back("notice " + std::to_string(id)); }
    void PlaceByCorner() override {
        m_calls.push_back("place");
        m_nCornerAtPlace = m_app.Settings().GetCornerPosition();
        CSettings stored;
        stored.Load();
        m_nStoredCornerAtPlace = stored.GetCornerPosition();
    }
    char SessionState() const override { return m_state; }
    void Connect() override { m_calls.push_back("connect"); }

    CClientApp& m_app;
    char m_state = 'D';
    std::vector<std::string> m_calls;
    int m_nCornerAtPlace = -2, m_nStoredCornerAtPlace = -2;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class PropertiesApply : public ::testing::Test {
protected:
    void SetUp() override {
        CSettings& s = m_app.Settings();
        s.SetUser("1001", "pw-1001");
        s.SetServer("vp.example.org", 443);
        s.SetAudioIn("USB headset");
        s.SetVideoIn("Camera 1");
        s.SetCornerPosition(1);
        m_app.Accounts() = {{"1001", "pw-1001", "vp.example.org", 1},
                            {"1002", "pw-1002", "vp.example.org", 0}};
        ASSERT_TRUE(s.Save());
        ASSERT_TRUE(SaveAccounts(m_app.Accounts(), s));
        m_strHive = ReadFile(m_temp.HivePath());
    }
    SPropertiesValues Current() { return PropertiesValuesOf(m_app.Settings(), m_app.Accounts()); }

    CTempEnvironment m_temp;
    CClientApp m_app;
    std::string m_strHive;
};

}  // namespace

TEST_F(PropertiesApply, UnchangedValuesStoreTheSameHiveAndReconnectOnlyWhenDown) {
    CHost host(m_app);
    int topmostCalls = 0;
    m_app.Settings().SetTopmostHook([&](bool) { ++topmostCalls; });
    SApplyReport r = ApplyProperties(m_app, Current(), host);
    EXPECT_EQ(EApplyResult::Applied, r.m_result);
    EXPECT_FALSE(r.m_bAccountsChanged);
    EXPECT_FALSE(r.m_bProxyChanged);
    // Every value went round unchanged, the stored device names included.
    EXPECT_EQ(m_strHive, ReadFile(m_temp.HivePath()));
    EXPECT_EQ((std::vector<std::string>{"place", "connect"}), host.m_calls);
    EXPECT_EQ(0, topmostCalls);  // an unchanged window is not re-stacked

    // Logged in and nothing changed: no notice, no new connection.
    host.m_calls.clear();
    host.m_state = 'C';
    ApplyProperties(m_app, Current(), host);
    EXPECT_EQ((std::vector<std::string>{"place"}), host.m_calls);
}

TEST_F(PropertiesApply, SettingsArePlacedBeforeTheSaveAndAccountsComparedAfterIt) {
    CHost host(m_app);
    host.m_state = 'C';
    bool topmost = false;
    m_app.Settings().SetTopmostHook([&](bool on) { topmost = on; });
    SPropertiesValues v = Current();
    v.m_strVideoIn = "Camera 2";
    v.m_nFrameRate = 5;
    v.m_nSilence = 1234;
    v.m_bAlwaysOnTop = true;
    v.m_nCornerPosition = 3;
    v.m_Accounts[1].m_strPassword = "changed";
    SApplyReport r = ApplyProperties(m_app, v, host);
    EXPECT_EQ(EApplyResult::Applied, r.m_result);
    // The window went to the new corner before the hive held it.
    EXPECT_EQ(3, host.m_nCornerAtPlace);
    EXPECT_EQ(1, host.m_nStoredCornerAtPlace);
    EXPECT_TRUE(topmost);
    // Logged in with changed accounts: notice 123, and the connection stays.
    EXPECT_TRUE(r.m_bAccountsChanged);
    EXPECT_EQ((std::vector<std::string>{"place", "notice 123"}), host.m_calls);

    CSettings stored;
    stored.Load();
    EXPECT_EQ("Camera 2", stored.GetVideoIn());
    EXPECT_EQ(5, stored.GetFrameRate());
    EXPECT_EQ(1234, stored.GetSilence());
    EXPECT_EQ(3, stored.GetCornerPosition());
    EXPECT_EQ("USB headset", stored.GetAudioIn());
    EXPECT_EQ(v.m_Accounts, LoadAccounts());

    // Each compared field of an account counts, the default flag included.
    for (int field = 0; field < 4; ++field) {
        SPropertiesValues w = Current();
        Account& a = w.m_Accounts[0];
        (field == 0 ? a.m_strNtv : field == 1 ? a.m_strPassword : a.m_strServer) += "x";
        if (field == 3) {
            a.m_strNtv = m_app.Accounts()[0].m_strNtv;
            a.m_nDefault = 0;
        }
        EXPECT_TRUE(ApplyProperties(m_app, w, host).m_bAccountsChanged) << field;
    }
    SPropertiesValues fewer = Current();
    fewer.m_Accounts.pop_back();
    EXPECT_TRUE(ApplyProperties(m_app, fewer, host).m_bAccountsChanged);
}

TEST_F(PropertiesApply, TheProxyIsAppliedAndItsChangeIsToldOrConnected) {
    CHost host(m_app);
    SPropertiesValues v = Current();
    v.m_bProxy = true;
    v.m_strProxyHost = "proxy.example.org";
    v.m_nProxyPort = 3128;
    v.m_strProxyLogin = "ana";
    v.m_strProxyPassword = "secret";
    v.m_strProxyDomain = "OFFICE";
    host.m_state = 'C';
    SApplyReport r = ApplyProperties(m_app, v, host);
    EXPECT_TRUE(r.m_bProxyChanged);
    EXPECT_FALSE(r.m_bAccountsChanged);
    EXPECT_EQ((std::vector<std::string>{"place", "notice 123"}), host.m_calls);
    CSettings stored;
    stored.Load();
    EXPECT_TRUE(stored.GetProxy());
    EXPECT_EQ("proxy.example.org", stored.GetProxyHost());
    EXPECT_EQ(3128, stored.GetProxyPort());
    EXPECT_EQ("ana", stored.GetProxyLogin());
    EXPECT_EQ("secret", stored.GetProxyPassword());
    EXPECT_EQ("OFFICE", stored.GetProxyDomain());

    // Switching it off while down connects at once, without a notice.
    host.m_calls.clear();
    host.m_state = 'D';
    v.m_bProxy = false;
    EXPECT_TRUE(ApplyProperties(m_app, v, host).m_bProxyChanged);
    EXPECT_EQ((std::vector<std::string>{"place", "connect"}), host.m_calls);
}

TEST_F(PropertiesApply, DynamicModeAndABadProxyPortApplyNothing) {
    struct SCase {
        bool dynamic, proxy;
        int port;
        UINT notice;
    };
    for (const SCase& c :
         {SCase{true, false, 0, IDS_NTV_INVALID}, SCase{false, true, 0, IDS_PROP_BAD_PROXY_PORT},
          SCase{false, true, -1, IDS_PROP_BAD_PROXY_PORT},
          SCase{false, false, -1, IDS_PROP_BAD_PROXY_PORT}}) {
        CClientApp app;
        app.SetLaunchState(false, c.dynamic, "");
        app.Settings().Load();
        app.Accounts() = LoadAccounts();
        CHost host(app);
        SPropertiesValues v = PropertiesValuesOf(app.Settings(), app.Accounts());
        v.m_nCornerPosition = 0;
        v.m_bProxy = c.proxy;
        v.m_nProxyPort = c.port;
        v.m_Accounts.clear();
        SApplyReport r = ApplyProperties(app, v, host);
        EXPECT_EQ(c.dynamic ? EApplyResult::Dynamic : EApplyResult::BadProxyPort, r.m_result);
        EXPECT_EQ((std::vector<std::string>{"notice " + std::to_string(c.notice)}), host.m_calls);
        EXPECT_EQ(1, app.Settings().GetCornerPosition());
        EXPECT_EQ(2u, app.Accounts().size());
        EXPECT_EQ(m_strHive, ReadFile(m_temp.HivePath()));
    }
}

TEST_F(PropertiesApply, AHiveThatCannotBeWrittenIsTold) {
    // The settings folder's parent is a file: nothing can be made below it.
    const std::string blocker = m_temp.Root() + "/blocker";
    std::ofstream(blocker) << "x";
    m_temp.Set("VELAPHON_CONFIG_DIR", blocker + "/velaphon");
    CHost host(m_app);
    SPropertiesValues v = Current();
    v.m_bStartMinimized = true;
    SApplyReport r = ApplyProperties(m_app, v, host);
    EXPECT_EQ(EApplyResult::SaveFailed, r.m_result);
    EXPECT_EQ("notice " + std::to_string(IDS_PROP_SAVE_FAILED), host.m_calls.back());
}

TEST(ProxyPort, TheFieldIsAPortOneToMaxOrEmpty) {
    EXPECT_EQ(8080, ParseProxyPort("8080"));
    EXPECT_EQ(3128, ParseProxyPort(" 3128 "));
    EXPECT_EQ(1, ParseProxyPort("1"));
    EXPECT_EQ(65535, ParseProxyPort("65535"));
    EXPECT_EQ(0, ParseProxyPort(""));
    EXPECT_EQ(0, ParseProxyPort("  "));
    for (const char* bad : {"0", "65536", "99999", "123456", "-1", "+80", "80a", "abc", "8 0", "0x50"})
        EXPECT_EQ(-1, ParseProxyPort(bad)) << bad;
    EXPECT_TRUE(ProxyPortAcceptable(true, 8080));
    EXPECT_TRUE(ProxyPortAcceptable(false, 0));
    EXPECT_FALSE(ProxyPortAcceptable(true, 0));
    EXPECT_FALSE(ProxyPortAcceptable(false, -1));
    EXPECT_EQ("02.00.003", DottedVersion("0200003"));
}
