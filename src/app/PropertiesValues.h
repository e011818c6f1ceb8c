// SPropertiesValues: what the properties sheet's pages hold when the user applies them. Each page fills
// its own fields; applying takes them in the sheet's order (video, audio, general, then accounts).
#pragma once

#include <string>

#include "settings/Accounts.h"

struct SPropertiesValues {
    // Video page.
    std::string m_strVideoIn;
    int m_nFrameRate = 15;

    // Audio page.
    std::string m_strAudioIn;
    std::string m_strAudioOut;
    int m_nSilence = 0;
    int m_nAudioInVolume = 0;
    int m_nAudioOutVolume = 0;

    // General page.
    bool m_bAlwaysOnTop = false;
    bool m_bStartOnInit = false;
    bool m_bStartMinimized = false;
    bool m_bMinimizeOnClose = false;
    int m_nCornerPosition = -1;  // 0-3 a corner, -1 free

    // Connection page.
    bool m_bProxy = false;
    std::string m_strProxyHost;
    int m_nProxyPort = 0;
    std::string m_strProxyLogin;
    std::string m_strProxyPassword;
    std::string m_strProxyDomain;
    CAccountList m_Accounts;
};
