#include "settings/Settings.h"

#include "platform/DesktopEntry.h"
#include "platform/Registry.h"
#include "platform/UserFolders.h"
#include "settings/RegistryKey.h"

CSettings::CSettings() {
    SetMemoryDefaults();
}

void CSettings::SetMemoryDefaults() {
    m_strNtv.clear();
    m_strPassword.clear();
    m_strHost.clear();
    m_nPort = kServerPort;
    m_bProxy = false;
    m_strProxyHost.clear();
    m_nProxyPort = 0;
    m_strProxyLogin.clear();
    m_strProxyPassword.clear();
    m_bProxyNtlm = false;
    m_strProxyDomain.clear();
    m_strAudioIn.clear();
    m_strAudioOut.clear();
    m_nAudioInVolume = 50;
    m_nAudioOutVolume = 50;
    m_nSilence = 2000;
    m_bAlwaysOnTop = false;
    m_bStartOnInit = false;
    m_bStartMinimized = false;
    m_bMinimizeOnClose = false;
    m_nCornerPosition = -1;
    m_strVideoIn.clear();
    m_nFrameRate = 10;
}

void CSettings::Load() {
    SetMemoryDefaults();
    m_bLoaded = false;
    CRegistryKey key;
    if (!key.SetKey(kKey, false))
        return;
    m_bLoaded = true;
    auto flag = [&](const char* name, int def) { return key.ReadNumber(name, def) == 1; };
    m_strNtv = key.ReadString("UserNtv", "");
    m_strPassword = key.ReadString("UserPassword", "");
    m_strHost = key.ReadString("Host", "");
    m_nPort = key.ReadNumber("Port", kServerPort);
    m_bProxy = flag("Proxy", 0);
    m_strProxyHost = key.ReadString("ServerProxy", "");
    // Older stores kept the port in "ServerProxy" itself (as a number, having lost the host).
    DWORD oldType = key.ValueType("ServerProxy");
    int oldPort = (oldType == REG_SZ || oldType == REG_EXPAND_SZ) ? 0 : key.ReadNumber("ServerProxy", 0);
    m_nProxyPort = key.ReadNumber(kProxyPortValue, oldPort);
    m_strProxyLogin = key.ReadString("ServerProxyLogin", "");
    m_strProxyPassword = key.ReadString("ServerProxyPassword", "");
    m_bProxyNtlm = flag("ServerProxyNtml", 0);
    m_strProxyDomain = key.ReadString("ServerProxyDomain", "");
    m_strAudioIn = key.ReadString("DeviceAudioInput", "");
    m_strAudioOut = key.ReadString("DeviceAudioOutput", "");
    m_nAudioInVolume = key.ReadNumber("DeviceAudioInput volume", 50);
    m_nAudioOutVolume = key.ReadNumber("DeviceAudioOutput volume", 50);
    m_nSilence = key.ReadNumber("Silence volume", 50);
    m_bAlwaysOnTop = flag("AllwaysOnTop", 1);
    m_bStartOnInit = flag("StartOnInit", 0);
    m_bStartMinimized = flag("StartMinimized", 0);
    m_bMinimizeOnClose = flag("MinimizeOnClose", 0);
    m_nCornerPosition = key.ReadNumber("CornerPosition", -1);
    m_strVideoIn = key.ReadString("DeviceVideoInput", "");
    m_nFrameRate = key.ReadNumber("Frame rate", 10);
}

bool CSettings::Save() {
    // One locked rewrite of the hive for all values: a save is never seen half done.
    CRegistryBatch batch;
    CRegistryKey key;
    if (!key.SetKey(kKey, true))
        return false;
    bool ok = true;
    auto text = [&](const char* name, const std::string& v) { ok = key.WriteString(name, v) && ok; };
    auto number = [&](const char* name, int v) { ok = key.WriteNumber(name, v) && ok; };
    text("UserNtv", m_strNtv);
    text("UserPassword", m_strPassword);
    text("Host", m_strHost);
    number("Port", m_nPort);
    number("Proxy", m_bProxy ? 1 : 0);
    text("ServerProxy", m_strProxyHost);
    number(kProxyPortValue, m_nProxyPort);
    text("ServerProxyLogin", m_strProxyLogin);
    text("ServerProxyPassword", m_strProxyPassword);
    number("ServerProxyNtml", m_bProxyNtlm ? 1 : 0);
    text("ServerProxyDomain", m_strProxyDomain);
    text("DeviceAudioInput", m_strAudioIn);
    text("DeviceAudioOutput", m_strAudioOut);
    number("DeviceAudioInput volume", m_nAudioInVolume);
    number("DeviceAudioOutput volume", m_nAudioOutVolume);
    number("Silence volume", m_nSilence);
    number("AllwaysOnTop", m_bAlwaysOnTop ? 1 : 0);
    number("StartOnInit", m_bStartOnInit ? 1 : 0);
    number("StartMinimized", m_bStartMinimized ? 1 : 0);
    number("MinimizeOnClose", m_bMinimizeOnClose ? 1 : 0);
    number("CornerPosition", m_nCornerPosition);
    text("DeviceVideoInput", m_strVideoIn);
    number("Frame rate", m_nFrameRate);
    return batch.Commit() && ok;
}

void CSettings::SetUser(const std::string& ntv, const std::string& password) {
    m_strNtv = ntv;
    m_strPassword = password;
}

void CSettings::SetServer(const std::string& host, int port) {
    m_strHost = host;
    m_nPort = port;
}

void CSettings::SetProxy(const std::string& host, int port, const std::string& login,
                         const std::string& password, const std::string& domain) {
    m_strProxyHost = host;
    m_nProxyPort = port;
    m_strProxyLogin = login;
    m_strProxyPassword = password;
    m_strProxyDomain = domain;
}

void CSettings::SetAlwaysOnTop(bool on) {
    m_bAlwaysOnTop = on;
    if (m_topmostHook)
        m_topmostHook(on);
}

void CSettings::SetStartOnInit(bool on, const std::string& programPath) {
    m_bStartOnInit = on;
    if (!on) {
        CAutostartEntry::Remove();
        return;
    }
    std::string path = programPath.empty() ? ProgramFilePath() : programPath;
    if (!path.empty())
        CAutostartEntry::Write(path);
}
