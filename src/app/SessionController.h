// CSessionController: the session of the main window, with no display of its own. It owns the connector,
// the transport and the control channel; connects and logs in, keeps the connection state in the
// settings ('C' logged in, 'D' not), dispatches every control message by its first byte, polls the
// contacts' presence, and hands what belongs to a call to the call hooks. The desktop's CMainDialog and
// the headless client each own one and present it through ISessionWindow.
//
// It is a message target of the user-interface thread: the connect and transport threads post to it,
// and its timers (0 contact poll, 1 first tick of dynamic mode, 3 call answer timeout) fire on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/ContactList.h"
#include "app/SessionHooks.h"
#include "app/SessionWindow.h"
#include "net/ChannelControl.h"
#include "net/ServiceTCP.h"
#include "net/SocketThreadConnectTCP.h"
#include "platform/Messages.h"

class CClientApp;

class CSessionController : public CMessageTarget {
public:
    static constexpr uintptr_t kTimerPoll = 0;
    static constexpr uintptr_t kTimerFirstCall = 1;
    static constexpr uintptr_t kTimerCallTimeout = 3;
    // Not one of the window's timers: the pause before a failed connection is tried again.
    static constexpr uintptr_t kTimerRetry = 4;
    static constexpr UINT kPollMs = 5000;
    static constexpr UINT kFirstCallMs = 1000;
    static constexpr UINT kCallTimeoutMs = 12000;
    // A failed attempt is retried after a pause that doubles from the first value up to the cap; a
    // login accepted starts the series again.
    static constexpr UINT kFirstRetryMs = 250;
    static constexpr UINT kMaxRetryMs = 2000;

    CSessionController(CClientApp& app, ISessionWindow& window);
    // Ends the connection and the connect thread; timers go with the target.
    ~CSessionController() override;
    CSessionController(const CSessionController&) = delete;
    CSessionController& operator=(const CSessionController&) = delete;

    // The window has opened: the first connect procedure, and in dynamic mode timer 1.
    void Start();
    // The connect procedure: ends the connection and any attempt, then starts an attempt when the server,
    // the NTV and the password are all set. Also what a change of the connection settings calls.
    void Connect();

    // The status box: "Away" (true) or "Connected" (false), sent at once while logged in.
    void SetAway(bool away);
    bool IsAway() const { return m_bAway; }
    char State() const;
    bool IsConnected() const { return State() == 'C'; }

    // A status query per contact, in list order.
    void PollContacts();
    // Contact operations of the contacts window and the directory.
    enum class EAddContact { Added, EmptyNtv, AlreadyListed };
    // Appends the contact with no letter and tells the server; an NTV already listed gets notice 129.
    EAddContact AddContact(const std::string& ntv, const std::string& nickname);
    // Removes the contact and tells the server; false when it was not listed.
    bool RemoveContact(const std::string& ntv);
    // A new nickname: the record keeps its place and letter; the server's entry is removed and added
    // again under the new name. False when the NTV is not listed.
    bool RenameContact(const std::string& ntv, const std::string& nickname);

    // ---- for the call logic (see ISessionCallHooks) ----
    void SetCallHooks(ISessionCallHooks* hooks) { m_pCallHooks = hooks; }
    CChannelControl& Control() { return m_Control; }
    CServiceTCP& Service() { return m_Service; }
    ISessionWindow& Window() { return m_window; }
    CClientApp& App() { return m_app; }
    // Timer 0 stops while a call is in progress; at its end the contacts are polled and it runs again.
    void StopContactPoll();
    void RestartContactPoll();
    // Timer 3, the answer timeout of an outgoing call.
    void StartCallTimeout();
    void StopCallTimeout();
    // The NTV this client calls (empty when not calling), the name of the peer that called it (empty
    // when not called), and whether the accept prompt of an incoming call is open.
    std::string m_strCalledNtv;
    std::string m_strCallerName;
    bool m_bIncomingPrompt = false;

    // ---- state for observers and tests ----
    int ConnectionAttempts() const { return m_nAttempts; }
    size_t AccountIndex() const { return m_nAccountIndex; }
    UINT NextRetryMs() const;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnSocketConnect(int code, LPARAM lParam);
    void OnTransportRecv(WPARAM channel);
    void OnTransportError();
    void OnTimer(uintptr_t id);
    // Takes the control messages queued now, one by one; stops early when a nested loop emptied the ring.
    void DispatchControl();
    void Dispatch(const uint8_t* data, size_t size);
    void OnLoginError(const uint8_t* data, size_t size);
    void OnNewVersion();
    void OnUserInfo(const uint8_t* data, size_t size);
    void OnContactStatus(const uint8_t* data, size_t size);
    void OnContactEntry(const uint8_t* data, size_t size);
    void EnterConnected();
    void PlaceDynamicCall();
    void EnterDisconnected();
    void ScheduleRetry();
    // The transport stops and the call logic hears of it.
    void CloseConnection();

    CClientApp& m_app;
    ISessionWindow& m_window;
    ISessionCallHooks* m_pCallHooks = nullptr;

    CSocketThreadConnectTCP m_Connector;
    CServiceTCP m_Service;
    CChannelControl m_Control;

    size_t m_nAccountIndex = 0;
    int m_nAttempts = 0;
    UINT m_nRetryMs = 0;  // the last pause before a retry; 0 after a success
    bool m_bAway = false;
    bool m_bFirstTimer = true;
    bool m_bCallOnLogin = false;     // dynamic mode: the first tick came before the login ended
    bool m_bConnectionOpen = false;  // the transport runs a connection of ours
};
