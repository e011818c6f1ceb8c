#include "app/ClientApp.h"

#include <signal.h>

#include "platform/DesktopEntry.h"
#include "platform/Trace.h"
#include "platform/UserFolders.h"
#include "settings/RegistryKey.h"

namespace {

// What stands in for starting the socket library: a peer that closes a connection must give the
// sender an error, not end the process with SIGPIPE.
bool InitSockets() {
    return signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

}  // namespace

int CClientApp::Run(const SStartOptions& options, IClientAppUi& ui) {
    ui.SetDialogColors(kDialogBackground, kDialogText);

    m_strProgramPath = options.m_args.empty() ? ProgramFilePath() : options.m_args.front();
    m_bAnotherInstance = m_InstanceLock.Acquire(ProgramBaseName(m_strProgramPath));

    if (!InitSockets()) {
        ui.ShowMessageBox(IDS_SOCKET_INIT_ERROR);
        return EXIT_REFUSED;
    }

    if (IsDynamicModePath(m_strProgramPath)) {
        if (!SetUpDynamicMode(options, ui))
            return EXIT_REFUSED;
    } else if (!SetUpNormalMode(options, ui)) {
        return EXIT_OK;
    }

    m_pSystemInfo = std::make_unique<CSystemInfo>(options.m_probe);
    m_pCpuInfo = std::make_unique<CCpuInfo>();
    if (!m_pSystemInfo->IsSupportedPlatform()) {
        Trace("%s:%d | sistema no soportado: %s\n", "ClientApp", __LINE__, m_pSystemInfo->GetOs().c_str());
        ui.ShowNotice(IDS_OS_TOO_OLD, true);
        m_pCpuInfo.reset();
        m_pSystemInfo.reset();
        return EXIT_REFUSED;
    }

    ui.SetDialogColors(kDialogBackground, kDialogText);
    m_crDialogBackground = kDialogBackground;

    int result = ui.RunMainWindow(*this);

    m_pCpuInfo.reset();
    m_pSystemInfo.reset();
    return result;
}

bool CClientApp::SetUpNormalMode(const SStartOptions& options, IClientAppUi& ui) {
    CRegistryKey key;
    if (!key.SetKey(CSettings::kKey, false)) {
        std::string ntv, password, server;
        if (ui.RunFirstRunDialog(ntv, password, server)) {
            m_Settings.SetUser(ntv, password);
            m_Settings.SetServer(server, CSettings::kServerPort);
            if (!m_Settings.Save())
                Trace("%s:%d | no se pudo guardar la configuración\n", "ClientApp", __LINE__);
        }
    }

    m_Accounts = LoadAccounts();
    m_Settings.Load();
    // The stored port is never used for the connection.
    m_Settings.SetServer(m_Settings.GetHost(), CSettings::kServerPort);

    if (m_Accounts.empty() && !m_Settings.GetNtv().empty()) {
        m_Accounts.push_back(Account{m_Settings.GetNtv(), m_Settings.GetPassword(), m_Settings.GetHost(), 1});
        SaveAccounts(m_Accounts, m_Settings);
    }

    if (options.m_bInstallUrlHandler) {
        // An installed program comes with a handler for every user; one run from a build tree registers
        // itself for this user.
        bool changed = false;
        std::string program = ProgramFilePath();
        if (CUrlSchemeHandler::InstalledWithProgram(program))
            CUrlSchemeHandler::Remove();
        else if (CUrlSchemeHandler::Install(program, &changed) && changed)
            CUrlSchemeHandler::RegisterAsDefault();
    }

    if (m_bAnotherInstance && !ui.ShowNotice(IDS_ALREADY_ACTIVE, false))
        return false;
    return true;
}

bool CClientApp::SetUpDynamicMode(const SStartOptions& options, IClientAppUi& ui) {
    std::string ntv, host;
    bool found = false;
    for (size_t i = 1; i < options.m_args.size() && !found; ++i)
        found = ParseLaunchArgument(options.m_args[i], ntv, host);
    if (!found) {
        ui.ShowNotice(IDS_NTV_INVALID, true);
        return false;
    }

    m_Settings.SetUser(kGuestNtv, kGuestNtv);
    m_Settings.SetServer(host, CSettings::kServerPort);

    SProxyData proxy;
    if (ParseProxyValue(ProxyFromEnvironment(options.m_getenv), proxy)) {
        if (!ui.RunProxyDialog(proxy))
            return false;
        m_Settings.SetProxy(proxy.m_strHost, proxy.m_nPort, proxy.m_strUser, proxy.m_strPassword, "");
        m_Settings.SetUseProxy(!proxy.m_strHost.empty());
    }

    m_strTargetNtv = ntv;
    m_bDynamic = true;
    return true;
}
