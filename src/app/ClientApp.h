// CClientApp: the application object. Run() is the whole life of the program: the single-instance
// test, normal or dynamic set-up, the platform check, the main window's modal loop and the teardown.
// What needs a screen goes through IClientAppUi, which the desktop client implements with its windows
// and tests implement with scripted answers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ContactList.h"
#include "app/StartupText.h"
#include "platform/InstanceLock.h"
#include "platform/StringTable.h"
#include "settings/Accounts.h"
#include "settings/CpuInfo.h"
#include "settings/Settings.h"
#include "settings/SystemInfo.h"

class CClientApp;

class IClientAppUi {
public:
    virtual ~IClientAppUi() = default;
    // Colours of every dialog, as 0xRRGGBB.
    virtual void SetDialogColors(uint32_t background, uint32_t text) = 0;
    // A plain message box with OK (used before the program's own notices can be trusted).
    virtual void ShowMessageBox(UINT id) = 0;
    // CNoticeDialog with the text of `id`; true for OK.
    virtual bool ShowNotice(UINT id, bool okOnly) = 0;
    // CFirstRunDialog; on OK (only with all three fields filled) true and the fields' texts.
    virtual bool RunFirstRunDialog(std::string& ntv, std::string& password, std::string& server) = 0;
    // CProxyDialog filled from `proxy`; on OK true and what the user left in it.
    virtual bool RunProxyDialog(SProxyData& proxy) = 0;
    // Constructs CMainDialog and runs it modally; returns when the program is to end.
    virtual int RunMainWindow(CClientApp& app) = 0;
};

struct SStartOptions {
    std::vector<std::string> m_args;  // the command line; the first is the program path as started
    std::function<const char*(const char*)> m_getenv;  // null: the process environment
    SSystemProbe m_probe;
    bool m_bInstallUrlHandler = true;  // normal mode installs the handler of "velaphon:" links
};

class CClientApp {
public:
    static constexpr const char* kGuestNtv = "888888888888888";
    static constexpr uint32_t kDialogBackground = 0xEDEDED;  // RGB(237,237,237)
    static constexpr uint32_t kDialogText = 0x000000;

    // Exit codes of Run().
    enum { EXIT_OK = 0, EXIT_REFUSED = 1 };

    CClientApp() = default;
    CClientApp(const CClientApp&) = delete;
    CClientApp& operator=(const CClientApp&) = delete;

    int Run(const SStartOptions& options, IClientAppUi& ui);

    CSettings& Settings() { return m_Settings; }
    CAccountList& Accounts() { return m_Accounts; }
    CContactList& Contacts() { return m_Contacts; }
    bool IsAnotherInstance() const { return m_bAnotherInstance; }
    bool IsDynamic() const { return m_bDynamic; }
    const std::string& TargetNtv() const { return m_strTargetNtv; }
    const CSystemInfo* SystemInfo() const { return m_pSystemInfo.get(); }
    uint32_t DialogBackground() const { return m_crDialogBackground; }
    const std::string& ProgramPath() const { return m_strProgramPath; }

    // For programs and tests that run a session without Run(): the launch mode Run() would find.
    void SetLaunchState(bool anotherInstance, bool dynamic, const std::string& targetNtv) {
        m_bAnotherInstance = anotherInstance;
        m_bDynamic = dynamic;
        m_strTargetNtv = targetNtv;
    }

    // Filled from the server's user information by the session controller.
    std::string m_strDirectoryUrl;
    std::string m_strHelpUrl;
    std::string m_strDisplayName;

private:
    bool SetUpNormalMode(const SStartOptions& options, IClientAppUi& ui);
    bool SetUpDynamicMode(const SStartOptions& options, IClientAppUi& ui);

    CSettings m_Settings;
    CAccountList m_Accounts;
    CContactList m_Contacts;
    bool m_bAnotherInstance = false;
    bool m_bDynamic = false;
    std::string m_strTargetNtv;
    std::string m_strProgramPath;
    std::unique_ptr<CSystemInfo> m_pSystemInfo;
    std::unique_ptr<CCpuInfo> m_pCpuInfo;
    uint32_t m_crDialogBackground = 0;
    CInstanceLock m_InstanceLock;  // held until the object goes, which is the end of the process
};
