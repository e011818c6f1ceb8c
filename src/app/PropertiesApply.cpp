#include "app/PropertiesApply.h"

#include <string>
#include <tuple>

#include "app/ClientApp.h"
#include "settings/Settings.h"

namespace {

auto ProxyOf(const CSettings& s) {
    return std::make_tuple(s.GetProxy(), s.GetProxyHost(), s.GetProxyPort(), s.GetProxyLogin(),
                           s.GetProxyPassword(), s.GetProxyDomain());
}

}  // namespace

SPropertiesValues PropertiesValuesOf(const CSettings& s, const CAccountList& accounts) {
    SPropertiesValues v;
    v.m_strVideoIn = s.GetVideoIn();
    v.m_nFrameRate = s.GetFrameRate();
    v.m_strAudioIn = s.GetAudioIn();
    v.m_strAudioOut = s.GetAudioOut();
    v.m_nSilence = s.GetSilence();
    v.m_nAudioInVolume = s.GetAudioInVolume();
    v.m_nAudioOutVolume = s.GetAudioOutVolume();
    v.m_bAlwaysOnTop = s.GetAlwaysOnTop();
    v.m_bStartOnInit = s.GetStartOnInit();
    v.m_bStartMinimized = s.GetStartMinimized();
    v.m_bMinimizeOnClose = s.GetMinimizeOnClose();
    v.m_nCornerPosition = s.GetCornerPosition();
    v.m_bProxy = s.GetProxy();
    v.m_strProxyHost = s.GetProxyHost();
    v.m_nProxyPort = s.GetProxyPort();
    v.m_strProxyLogin = s.GetProxyLogin();
    v.m_strProxyPassword = s.GetProxyPassword();
    v.m_strProxyDomain = s.GetProxyDomain();
    v.m_Accounts = accounts;
    return v;
}

int ParseProxyPort(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty())
        return 0;
    if (text.size() > 5)
        return -1;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535 ? port : -1;
}

bool ProxyPortAcceptable(bool proxy, int port) {
    return (port >= 1 && port <= 65535) || (!proxy && port == 0);
}

SApplyReport ApplyProperties(CClientApp& app, const SPropertiesValues& v, IPropertiesHost& host) {
    SApplyReport report;
    if (app.IsDynamic()) {
        host.ShowNotice(IDS_NTV_INVALID);
        report.m_result = EApplyResult::Dynamic;
        return report;
    }
    // Refused before anything changes: a half-applied sheet would be worse than none.
    if (!ProxyPortAcceptable(v.m_bProxy, v.m_nProxyPort)) {
        host.ShowNotice(IDS_PROP_BAD_PROXY_PORT);
        report.m_result = EApplyResult::BadProxyPort;
        return report;
    }
    CSettings& s = app.Settings();
    const auto proxyBefore = ProxyOf(s);

    s.SetVideoIn(v.m_strVideoIn);
    s.SetFrameRate(v.m_nFrameRate);

    s.SetAudioIn(v.m_strAudioIn);
    s.SetAudioOut(v.m_strAudioOut);
    s.SetSilence(v.m_nSilence);
    s.SetAudioInVolume(v.m_nAudioInVolume);
    s.SetAudioOutVolume(v.m_nAudioOutVolume);

    // Re-stacking the window hides and shows it; only a change is worth that.
    if (v.m_bAlwaysOnTop != s.GetAlwaysOnTop())
        s.SetAlwaysOnTop(v.m_bAlwaysOnTop);
    s.SetStartOnInit(v.m_bStartOnInit, app.ProgramPath());
    s.SetStartMinimized(v.m_bStartMinimized);
    s.SetMinimizeOnClose(v.m_bMinimizeOnClose);
    s.SetCornerPosition(v.m_nCornerPosition >= 0 && v.m_nCornerPosition <= 3 ? v.m_nCornerPosition : -1);

    s.SetUseProxy(v.m_bProxy);
    s.SetProxy(v.m_strProxyHost, v.m_nProxyPort, v.m_strProxyLogin, v.m_strProxyPassword, v.m_strProxyDomain);
    report.m_bProxyChanged = ProxyOf(s) != proxyBefore;

    host.PlaceByCorner();
    bool saved = s.Save();
    report.m_bAccountsChanged = app.Accounts() != v.m_Accounts;
    app.Accounts() = v.m_Accounts;
    saved = SaveAccounts(app.Accounts(), s) && saved;

    if (host.SessionState() != 'C') {
        host.Connect();
        report.m_bConnected = true;
    } else if (report.m_bAccountsChanged || report.m_bProxyChanged) {
        // A call may be in progress: the running connection stays, the new data serve the next one.
        host.ShowNotice(IDS_SETTINGS_NEXT_START);
    }
    if (!saved) {
        host.ShowNotice(IDS_PROP_SAVE_FAILED);
        report.m_result = EApplyResult::SaveFailed;
    }
    return report;
}

std::string DottedVersion(std::string_view version) {
    if (version.size() < 7)
        return std::string(version);
    return std::string(version.substr(0, 2)) + "." + std::string(version.substr(2, 2)) + "." +
           std::string(version.substr(4, 3));
}
