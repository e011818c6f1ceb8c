// CSettings: every persisted value of the client, with its default, plus the session state letter.
// Load and Save walk the values in one fixed order under "Software\Velaphon\Settings".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CSettings {
public:
    static constexpr const char* kKey = "Software\\Velaphon\\Settings";
    // The proxy port has a value of its own: under the host's name it would overwrite the host.
    static constexpr const char* kProxyPortValue = "ServerProxyPort";
    static constexpr int kServerPort = 443;

    CSettings();

    // Sets the in-memory defaults, then reads every value when the key exists.
    void Load();
    // Writes every value, making the key when missing. False when the hive could not be written.
    bool Save();
    // True after a Load() that found the key.
    bool Loaded() const { return m_bLoaded; }

    void SetUser(const std::string& ntv, const std::string& password);
    void SetServer(const std::string& host, int port);
    void SetProxy(const std::string& host, int port, const std::string& login, const std::string& password,
                  const std::string& domain);

    // Stores the flag and tells the main window at once (through the hook the window installs).
    void SetAlwaysOnTop(bool on);
    void SetTopmostHook(std::function<void(bool)> hook) { m_topmostHook = std::move(hook); }
    // Stores the flag and at once writes or removes the autostart entry of `programPath` (the running
    // program when empty). Nothing is written when no path is known.
    void SetStartOnInit(bool on, const std::string& programPath = std::string());

    const std::string& GetNtv() const { return m_strNtv; }
    const std::string& GetPassword() const { return m_strPassword; }
    const std::string& GetHost() const { return m_strHost; }
    int GetPort() const { return m_nPort; }
    bool GetProxy() const { return m_bProxy; }
    const std::string& GetProxyHost() const { return m_strProxyHost; }
    int GetProxyPort() const { return m_nProxyPort; }
    const std::string& GetProxyLogin() const { return m_strProxyLogin; }
    const std::string& GetProxyPassword() const { return m_strProxyPassword; }
    bool GetProxyNtlm() const { return m_bProxyNtlm; }
    const std::string& GetProxyDomain() const { return m_strProxyDomain; }
    const std::string& GetAudioIn() const { return m_strAudioIn; }
    const std::string& GetAudioOut() const { return m_strAudioOut; }
    int GetAudioInVolume() const { return m_nAudioInVolume; }
    int GetAudioOutVolume() const { return m_nAudioOutVolume; }
    int GetSilence() const { return m_nSilence; }
    bool GetAlwaysOnTop() const { return m_bAlwaysOnTop; }
    bool GetStartOnInit() const { return m_bStartOnInit; }
    bool GetStartMinimized() const { return m_bStartMinimized; }
    bool GetMinimizeOnClose() const { return m_bMinimizeOnClose; }
    int GetCornerPosition() const { return m_nCornerPosition; }
    const std::string& GetVideoIn() const { return m_strVideoIn; }
    int GetFrameRate() const { return m_nFrameRate; }
    const std::string& GetLocalAddress() const { return m_strLocalAddress; }
    char GetStatus() const { return m_nStatus; }

    void SetPort(int port) { m_nPort = port; }
    void SetUseProxy(bool on) { m_bProxy = on; }
    void SetProxyNtlm(bool on) { m_bProxyNtlm = on; }
    void SetAudioIn(const std::string& name) { m_strAudioIn = name; }
    void SetAudioOut(const std::string& name) { m_strAudioOut = name; }
    void SetAudioInVolume(int v) { m_nAudioInVolume = v; }
    void SetAudioOutVolume(int v) { m_nAudioOutVolume = v; }
    void SetSilence(int v) { m_nSilence = v; }
    void SetStartMinimized(bool on) { m_bStartMinimized = on; }
    void SetMinimizeOnClose(bool on) { m_bMinimizeOnClose = on; }
    void SetCornerPosition(int corner) { m_nCornerPosition = corner; }
    void SetVideoIn(const std::string& name) { m_strVideoIn = name; }
    void SetFrameRate(int rate) { m_nFrameRate = rate; }
    void SetLocalAddress(const std::string& address) { m_strLocalAddress = address; }
    void SetStatus(char status) { m_nStatus = status; }

private:
    void SetMemoryDefaults();

    std::string m_strNtv;
    std::string m_strPassword;
    std::string m_strHost;
    int m_nPort;
    bool m_bProxy;
    std::string m_strProxyHost;
    int m_nProxyPort;
    std::string m_strProxyLogin;
    std::string m_strProxyPassword;
    bool m_bProxyNtlm;
    std::string m_strProxyDomain;
    std::string m_strAudioIn;
    std::string m_strAudioOut;
    int m_nAudioInVolume;
    int m_nAudioOutVolume;
    int m_nSilence;
    bool m_bAlwaysOnTop;
    bool m_bStartOnInit;
    bool m_bStartMinimized;
    bool m_bMinimizeOnClose;
    int m_nCornerPosition;
    std::string m_strVideoIn;
    int m_nFrameRate;

    // Not stored.
    std::string m_strLocalAddress = "127.0.0.1";
    char m_nStatus = 'D';
    bool m_bLoaded = false;
    std::function<void(bool)> m_topmostHook;
};
