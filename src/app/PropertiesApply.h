// Applying the properties sheet: what its pages hold goes into the settings, the accounts list and the
// connection. The sheet starts from the values in force (PropertiesValuesOf), each page overwrites its
// own, and ApplyProperties takes them in the sheet's order: video, audio, general and connection, then
// the window is placed by its corner, the settings are saved, and the accounts are compared and stored.
#pragma once

#include <string_view>

#include "app/PropertiesValues.h"
#include "platform/StringTable.h"

class CClientApp;
class CSettings;

// What applying needs of the window around the sheet.
class IPropertiesHost {
public:
    virtual ~IPropertiesHost() = default;
    // A notice with OK only.
    virtual void ShowNotice(UINT id) = 0;
    // The main window goes to the corner the settings now name.
    virtual void PlaceByCorner() = 0;
    // 'C' logged in, 'D' not.
    virtual char SessionState() const = 0;
    // The connect procedure, with the settings now stored.
    virtual void Connect() = 0;
};

enum class EApplyResult {
    Applied,
    Dynamic,       // a dynamic-mode client changes nothing (message 127)
    BadProxyPort,  // nothing applied: the proxy port is not usable
    SaveFailed,    // applied in memory, but the hive could not be written
};

struct SApplyReport {
    EApplyResult m_result = EApplyResult::Applied;
    bool m_bAccountsChanged = false;
    bool m_bProxyChanged = false;
    bool m_bConnected = false;  // the connect procedure ran
};

// The values in force: what a page that shows nothing of its own hands over.
SPropertiesValues PropertiesValuesOf(const CSettings& settings, const CAccountList& accounts);

// The proxy port field as a number: 0 for an empty field, -1 for anything that is not a port 1-65535.
int ParseProxyPort(std::string_view text);
// An active proxy needs a port 1-65535; an inactive one may also have none (0).
bool ProxyPortAcceptable(bool proxy, int port);

SApplyReport ApplyProperties(CClientApp& app, const SPropertiesValues& values, IPropertiesHost& host);

// "0200003" as the version label writes it: "02.00.003".
std::string DottedVersion(std::string_view version);
