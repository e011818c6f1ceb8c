// Start-up from the first line to the main window, with the windows replaced by scripted answers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/ClientApp.h"
#include "platform/DesktopEntry.h"
#include "platform/InstanceLock.h"
#include "settings/RegistryKey.h"
#include "support/TempEnvironment.h"

namespace {

namespace fs = std::filesystem;

class CScriptedUi : public IClientAppUi {
public:
    void SetDialogColors(uint32_t background, uint32_t text) override {
        m_colors.push_back(background);
        m_nText = text;
    }
    void ShowMessageBox(UINT id) override { m_shown.push_back("box " + std::to_string(id)); }
    bool ShowNotice(UINT id, bool okOnly) override {
        m_shown.push_back("notice " + std::to_string(id) + (okOnly ? " ok" : " ok/cancel"));
        if (m_noticeAnswers.empty())
            return true;
        bool answer = m_noticeAnswers.front();
        m_noticeAnswers.pop_front();
        return answer;
    }
    bool RunFirstRunDialog(std::string& ntv, std::string& password, std::string& server) override {
        m_shown.push_back("first run");
        if (!m_bFirstRunOk)
            return false;
        ntv = m_strNtv, password = m_strPassword, server = m_strServer;
        return true;
    }
    bool RunProxyDialog(SProxyData& proxy) override {
        m_shown.push_back("proxy " + proxy.m_strHost + ":" + std::to_string(proxy.m_nPort));
        if (!m_bProxyOk)
            return false;
        proxy.m_strUser = "joe";
        proxy.m_strPassword = "pw";
        return true;
    }
    int RunMainWindow(CClientApp& app) override {
        m_shown.push_back("main window");
        m_bSystemInfoDuringRun = app.SystemInfo() != nullptr;
        m_nPortDuringRun = app.Settings().GetPort();
        return 0;
    }

    std::vector<std::string> m_shown;
    std::vector<uint32_t> m_colors;
    uint32_t m_nText = 1;
    std::deque<bool> m_noticeAnswers;
    bool m_bFirstRunOk = false;
    std::string m_strNtv = "5550001", m_strPassword = "secret", m_strServer = "vp.example.org";
    bool m_bProxyOk = true;
    bool m_bSystemInfoDuringRun = false;
    int m_nPortDuringRun = 0;
};

class ClientApp : public ::testing::Test {
protected:
    SStartOptions Options(std::vector<std::string> args) {
        SStartOptions o;
        o.m_args = std::move(args);
        o.m_getenv = [this](const char* name) -> const char* {
            auto it = m_env.find(name);
            return it == m_env.end() ? nullptr : it->second.c_str();
        };
        o.m_bInstallUrlHandler = false;
        return o;
    }
    void Seed(const std::string& text) {
        fs::create_directories(m_temp.ConfigDir());
        std::ofstream(m_temp.HivePath()) << text;
    }

    CTempEnvironment m_temp;
    std::map<std::string, std::string> m_env;  // what the app sees of the environment
    CScriptedUi m_ui;
};

TEST_F(ClientApp, FirstRunCancelledStoresNothingAndStillOpensTheMainWindow) {
    CClientApp app;
    EXPECT_EQ(0, app.Run(Options({"/usr/bin/velaphon"}), m_ui));
    EXPECT_EQ((std::vector<std::string>{"first run", "main window"}), m_ui.m_shown);
    EXPECT_FALSE(fs::exists(m_temp.HivePath()));
    EXPECT_TRUE(app.Accounts().empty());
    EXPECT_EQ("", app.Settings().GetNtv());
    EXPECT_FALSE(app.IsDynamic());
    // Colours set before anything and again before the main window; system information lived for the run.
    EXPECT_EQ((std::vector<uint32_t>{0xEDEDED, 0xEDEDED}), m_ui.m_colors);
    EXPECT_EQ(0u, m_ui.m_nText);
    EXPECT_TRUE(m_ui.m_bSystemInfoDuringRun);
    EXPECT_EQ(nullptr, app.SystemInfo());
}

TEST_F(ClientApp, FirstRunStoresTheUserAndWritesOneDefaultAccount) {
    m_ui.m_bFirstRunOk = true;
    auto app = std::make_unique<CClientApp>();
    EXPECT_EQ(0, app->Run(Options({"/usr/bin/velaphon"}), m_ui));
    EXPECT_EQ((std::vector<std::string>{"first run", "main window"}), m_ui.m_shown);
    CSettings stored;
    stored.Load();
    EXPECT_EQ("5550001", stored.GetNtv());
    EXPECT_EQ("secret", stored.GetPassword());
    EXPECT_EQ("vp.example.org", stored.GetHost());
    EXPECT_EQ(443, stored.GetPort());
    CRegistryKey key;
    ASSERT_TRUE(key.SetKey(kAccountsKey, false));
    EXPECT_EQ(4, key.ValueCount());
    EXPECT_EQ("5550001", key.ReadString("Ntv0", ""));
    EXPECT_EQ("secret", key.ReadString("Pass0", ""));
    EXPECT_EQ("vp.example.org", key.ReadString("Srv0", ""));
    EXPECT_EQ(1, key.ReadNumber("Default0", 0));
    ASSERT_EQ(1u, app->Accounts().size());
    app.reset();  // the first copy ends

    // The next start finds everything and asks nothing.
    CScriptedUi again;
    CClientApp second;
    EXPECT_EQ(0, second.Run(Options({"/usr/bin/velaphon"}), again));
    EXPECT_EQ((std::vector<std::string>{"main window"}), again.m_shown);
    EXPECT_EQ("5550001", second.Settings().GetNtv());
}

TEST_F(ClientApp, AStoredPortOtherThan443IsIgnoredAndStoredAccountsAreKept) {
    Seed(
        "[Software\\Velaphon\\Settings]\n\"UserNtv\"=text:\"300\"\n\"UserPassword\"=text:\"p\"\n"
        "\"Host\"=text:\"h\"\n\"Port\"=binary:90,1f,00,00\n"
        "[Software\\Velaphon\\Settings\\Accounts]\n"
        "\"Ntv0\"=text:\"301\"\n\"Pass0\"=text:\"q\"\n\"Srv0\"=text:\"h2\"\n\"Default0\"=binary:00,00,00,"
        "00\n");
    CClientApp app;
    app.Run(Options({"velaphon"}), m_ui);
    EXPECT_EQ(443, m_ui.m_nPortDuringRun);
    EXPECT_EQ("300", app.Settings().GetNtv());
    ASSERT_EQ(1u, app.Accounts().size());
    EXPECT_EQ("301", app.Accounts()[0].m_strNtv);
    CRegistryKey key;
    ASSERT_TRUE(key.SetKey(CSettings::kKey, false));
    EXPECT_EQ(8080, key.ReadNumber("Port", 0));  // nothing was saved over it
}

TEST_F(ClientApp, ASecondCopyAsksAndCancelEndsBeforeAnyWindow) {
    Seed("[Software\\Velaphon\\Settings]\n\"UserNtv\"=text:\"300\"\n");
    CInstanceLock first;
    ASSERT_FALSE(first.Acquire("velaphon"));

    m_ui.m_noticeAnswers = {false};
    CClientApp cancelled;
    EXPECT_EQ(0, cancelled.Run(Options({"/opt/x/velaphon"}), m_ui));
    EXPECT_EQ((std::vector<std::string>{"notice 131 ok/cancel"}), m_ui.m_shown);
    EXPECT_TRUE(cancelled.IsAnotherInstance());

    CScriptedUi ok;
    CClientApp goesOn;
    EXPECT_EQ(0, goesOn.Run(Options({"/opt/x/velaphon"}), ok));
    EXPECT_EQ((std::vector<std::string>{"notice 131 ok/cancel", "main window"}), ok.m_shown);

    // A copy under another file name has its own lock and does not ask.
    CScriptedUi renamed;
    CClientApp other;
    other.Run(Options({"/opt/x/velaphon-copy.bin"}), renamed);
    EXPECT_FALSE(other.IsAnotherInstance());
    EXPECT_EQ((std::vector<std::string>{"main window"}), renamed.m_shown);
}

TEST_F(ClientApp, DynamicModeUsesTheGuestAccountAndSavesNothing) {
    Seed("[Software\\Velaphon\\Settings]\n\"UserNtv\"=text:\"300\"\n\"AllwaysOnTop\"=binary:01,00,00,00\n");
    CInstanceLock other;
    other.Acquire("velaphon-VlpDinamic");  // a dynamic client does not care about others
    CClientApp app;
    EXPECT_EQ(0, app.Run(Options({"/home/u/velaphon-VlpDinamic", "velaphon:5550009@vp.example.org"}), m_ui));
    EXPECT_EQ((std::vector<std::string>{"main window"}), m_ui.m_shown);
    EXPECT_TRUE(app.IsDynamic());
    EXPECT_EQ("5550009", app.TargetNtv());
    EXPECT_EQ(CClientApp::kGuestNtv, app.Settings().GetNtv());
    EXPECT_EQ(CClientApp::kGuestNtv, app.Settings().GetPassword());
    EXPECT_EQ("vp.example.org", app.Settings().GetHost());
    EXPECT_EQ(443, app.Settings().GetPort());
    EXPECT_FALSE(app.Settings().GetAlwaysOnTop());  // stored settings are not loaded
    EXPECT_TRUE(app.Accounts().empty());
    CSettings stored;
    stored.Load();
    EXPECT_EQ("300", stored.GetNtv());
}

TEST_F(ClientApp, DynamicModeAsksForTheProxyOfTheEnvironment) {
    m_env["https_proxy"] = "http://proxy.lan:8080/";
    CClientApp app;
    app.Run(Options({"/x/VLPDINAMIC", "velaphon:1@h"}), m_ui);
    EXPECT_EQ((std::vector<std::string>{"proxy proxy.lan:8080", "main window"}), m_ui.m_shown);
    EXPECT_TRUE(app.Settings().GetProxy());
    EXPECT_EQ("proxy.lan", app.Settings().GetProxyHost());
    EXPECT_EQ(8080, app.Settings().GetProxyPort());
    EXPECT_EQ("joe", app.Settings().GetProxyLogin());
    EXPECT_EQ("pw", app.Settings().GetProxyPassword());

    CScriptedUi cancel;
    cancel.m_bProxyOk = false;
    CClientApp ended;
    EXPECT_EQ(CClientApp::EXIT_REFUSED, ended.Run(Options({"/x/VLPDINAMIC", "velaphon:1@h"}), cancel));
    EXPECT_EQ((std::vector<std::string>{"proxy proxy.lan:8080"}), cancel.m_shown);

    m_env["https_proxy"] = "";
    m_env["http_proxy"] = "bare-host";
    CScriptedUi bare;
    CClientApp noPort;
    noPort.Run(Options({"/x/VLPDINAMIC", "velaphon:1@h"}), bare);
    EXPECT_EQ("proxy bare-host:0", bare.m_shown.front());

    m_env.clear();
    CScriptedUi none;
    CClientApp direct;
    direct.Run(Options({"/x/VLPDINAMIC", "velaphon:1@h"}), none);
    EXPECT_EQ((std::vector<std::string>{"main window"}), none.m_shown);
    EXPECT_FALSE(direct.Settings().GetProxy());
}

TEST_F(ClientApp, DynamicModeWithoutATargetEnds) {
    CClientApp app;
    EXPECT_EQ(CClientApp::EXIT_REFUSED, app.Run(Options({"/x/vlpdinamic"}), m_ui));
    EXPECT_EQ((std::vector<std::string>{"notice 127 ok"}), m_ui.m_shown);
    CScriptedUi bad;
    CClientApp app2;
    app2.Run(Options({"/x/vlpdinamic", "velaphon:not a number@h"}), bad);
    EXPECT_EQ((std::vector<std::string>{"notice 127 ok"}), bad.m_shown);
}

TEST_F(ClientApp, AnOldSystemIsRefusedWithOkOnly) {
    Seed("[Software\\Velaphon\\Settings]\n\"UserNtv\"=text:\"300\"\n");
    SStartOptions o = Options({"velaphon"});
    o.m_probe.versionRecord = [] {
        SVersionRecord r;
        r.m_bValid = true;
        r.m_nPlatformId = VER_PLATFORM_LINUX;
        r.m_nMajor = 2, r.m_nMinor = 6, r.m_nBuild = 32;
        r.m_strCsd = "2.6.32";
        return r;
    };
    {
        CClientApp app;
        EXPECT_EQ(CClientApp::EXIT_REFUSED, app.Run(o, m_ui));
        EXPECT_EQ((std::vector<std::string>{"notice 149 ok"}), m_ui.m_shown);
        EXPECT_EQ(nullptr, app.SystemInfo());
    }

    o.m_probe.versionRecord = [] {
        SVersionRecord r;
        r.m_bValid = true;
        r.m_nPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        r.m_nMajor = 4, r.m_nMinor = 10;
        return r;
    };
    CScriptedUi win98;
    CClientApp app2;
    EXPECT_EQ(CClientApp::EXIT_REFUSED, app2.Run(o, win98));
    EXPECT_EQ((std::vector<std::string>{"notice 149 ok"}), win98.m_shown);
}

TEST_F(ClientApp, NormalModeInstallsTheLinkHandler) {
    Seed("[Software\\Velaphon\\Settings]\n");
    SStartOptions o = Options({"velaphon"});
    o.m_bInstallUrlHandler = true;
    CClientApp app;
    app.Run(o, m_ui);
    EXPECT_TRUE(fs::exists(CUrlSchemeHandler::DesktopFilePath()));
    EXPECT_TRUE(fs::is_symlink(CUrlSchemeHandler::LauncherPath()));
}

}  // namespace
