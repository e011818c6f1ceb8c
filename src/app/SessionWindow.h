// ISessionWindow: what the session controller asks of the window that presents it. CMainDialog implements
// it with widgets, dialogs and sound; the headless client prints lines; tests record. Every call comes on
// the user-interface thread. The event hooks (On...) have empty defaults: a window takes what it shows.
#pragma once

#include <cstdint>
#include <string>

#include "platform/StringTable.h"

struct SContactRecord;

// Wave resources of the program.
enum : UINT {
    IDR_WAVE_RING = 167,
    IDR_WAVE_DISCONNECTED = 169,
    IDR_WAVE_CONNECTED = 170,
};

struct SSessionUserInfo {
    std::string m_strDirectoryUrl;  // made absolute
    std::string m_strHelpUrl;       // made absolute
    std::string m_strDisplayName;   // as received, may be empty
    std::string m_strLabel;         // the user label: the name, the NTV, or "Direct call" for the guest
    std::string m_strTitleName;     // what follows " : " in the window title: the name or the NTV
};

class ISessionWindow {
public:
    virtual ~ISessionWindow() = default;

    // The connection state changed. 'C': the status box is enabled and shows "Connected" (nothing is
    // sent for that), contacts and keypad are enabled. 'D': the status box is cleared and disabled, the
    // user label cleared, contacts and keypad disabled.
    virtual void OnSessionState(char state) = 0;
    // The server's user information arrived (user label and window title follow it).
    virtual void OnUserInfo(const SSessionUserInfo& info) = 0;
    // A notice (CNoticeDialog) with the message `id` formatted as `text`: modal, so messages keep being
    // dispatched while it is open. True for OK.
    virtual bool ShowNotice(UINT id, const std::string& text, bool okOnly) = 0;
    // Plays a wave resource asynchronously, stopping the one before; silence when there is no device.
    virtual void PlaySound(UINT resource) = 0;
    // The pop-up notifier (500 ms appear, 3000 ms stay, 500 ms hide); the active window stays active.
    virtual void ShowPopup(const std::string& text) = 0;
    // The close action of the main window (hide to the tray with MinimizeOnClose, else ask to exit).
    virtual void CloseWindow() = 0;

    // Events for observers; the contacts window (when open) follows the contact events.
    virtual void OnConnecting(int /*attempt*/) {}
    virtual void OnLoginError(uint8_t /*reason*/) {}
    virtual void OnNewVersion() {}
    virtual void OnContactAdded(const SContactRecord& /*contact*/) {}
    virtual void OnContactRemoved(const std::string& /*ntv*/) {}
    // The contact's letter changed from `before` (0: none yet).
    virtual void OnContactStatus(const SContactRecord& /*contact*/, char /*before*/) {}
};
