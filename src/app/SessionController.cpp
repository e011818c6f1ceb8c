#include "app/SessionController.h"

#include <algorithm>

#include "app/ClientApp.h"
#include "net/Protocol.h"
#include "platform/ByteBuffer.h"
#include "platform/StringTable.h"
#include "platform/Trace.h"

CSessionController::CSessionController(CClientApp& app, ISessionWindow& window)
    : m_app(app), m_window(window) {}

CSessionController::~CSessionController() {
    for (uintptr_t id : {kTimerPoll, kTimerFirstCall, kTimerCallTimeout, kTimerRetry})
        KillTimer(GetSafeHwnd(), id);
    m_Connector.Stop();
    m_Service.Stop();
    m_Service.RemoveChannel(&m_Control);
}

char CSessionController::State() const {
    return m_app.Settings().GetStatus();
}

void CSessionController::Start() {
    Connect();
    if (m_app.IsDynamic())
        SetTimer(GetSafeHwnd(), kTimerFirstCall, kFirstCallMs);
}

void CSessionController::Connect() {
    KillTimer(GetSafeHwnd(), kTimerPoll);
    KillTimer(GetSafeHwnd(), kTimerRetry);
    ++m_nAttempts;

    m_Connector.Stop();
    CloseConnection();
    m_Control.Reset();

    const CSettings& s = m_app.Settings();
    if (s.GetHost().empty() || s.GetNtv().empty() || s.GetPassword().empty())
        return;  // stays disconnected until the settings change
    // The stored proxy is what the tunnel uses; without the flag the connection is direct.
    if (s.GetProxy() && !s.GetProxyHost().empty())
        m_Connector.SetProxy(s.GetProxyHost(), s.GetProxyPort(), s.GetProxyLogin(), s.GetProxyPassword());
    else
        m_Connector.ClearProxy();
    m_window.OnConnecting(m_nAttempts);
    if (!m_Connector.Connect(GetSafeHwnd(), s.GetHost(), s.GetPort()))
        ScheduleRetry();
}

void CSessionController::CloseConnection() {
    m_Service.Stop();
    if (m_bConnectionOpen) {
        m_bConnectionOpen = false;
        if (m_pCallHooks != nullptr)
            m_pCallHooks->OnConnectionLost();
    }
}

UINT CSessionController::NextRetryMs() const {
    return m_nRetryMs == 0 ? kFirstRetryMs : std::min<UINT>(m_nRetryMs * 2, kMaxRetryMs);
}

void CSessionController::ScheduleRetry() {
    m_nRetryMs = NextRetryMs();
    SetTimer(GetSafeHwnd(), kTimerRetry, m_nRetryMs);
}

void CSessionController::SetAway(bool away) {
    m_bAway = away;
    if (IsConnected())
        m_Control.SendStatus(away ? 'A' : 'C');
}

void CSessionController::PollContacts() {
    for (const SContactRecord& c : m_app.Contacts())
        m_Control.SendContactStatus(c.m_strNtv);
}

CSessionController::EAddContact CSessionController::AddContact(const std::string& ntv,
                                                               const std::string& nickname) {
    if (ntv.empty())
        return EAddContact::EmptyNtv;
    if (!m_app.Contacts().Add(ntv, nickname)) {
        m_window.ShowNotice(IDS_NTV_IN_CONTACTS, FormatString(IDS_NTV_IN_CONTACTS, {ntv}), true);
        return EAddContact::AlreadyListed;
    }
    m_Control.SendContactAdd(ntv, nickname);
    m_window.OnContactAdded(*m_app.Contacts().Find(ntv));
    return EAddContact::Added;
}

bool CSessionController::RemoveContact(const std::string& ntv) {
    if (!m_app.Contacts().Remove(ntv))
        return false;
    m_Control.SendContactRemove(ntv);
    m_window.OnContactRemoved(ntv);
    return true;
}

bool CSessionController::RenameContact(const std::string& ntv, const std::string& nickname) {
    if (!m_app.Contacts().SetNickname(ntv, nickname))
        return false;
    // The server has no edit of its own.
    m_Control.SendContactRemove(ntv);
    m_Control.SendContactAdd(ntv, nickname);
    return true;
}

void CSessionController::StopContactPoll() {
    KillTimer(GetSafeHwnd(), kTimerPoll);
}

void CSessionController::RestartContactPoll() {
    PollContacts();
    SetTimer(GetSafeHwnd(), kTimerPoll, kPollMs);
}

void CSessionController::StartCallTimeout() {
    SetTimer(GetSafeHwnd(), kTimerCallTimeout, kCallTimeoutMs);
}

void CSessionController::StopCallTimeout() {
    KillTimer(GetSafeHwnd(), kTimerCallTimeout);
}

// ---- messages --------------------------------------------------------------------------------------

LRESULT CSessionController::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SOCKET_CONNECT)
        OnSocketConnect(static_cast<int>(static_cast<intptr_t>(wParam)), lParam);
    else if (message == WM_TRANSPORT_RECV)
        OnTransportRecv(wParam);
    else if (message == WM_TRANSPORT_ERROR)
        OnTransportError();
    else if (message == WM_TIMER)
        OnTimer(wParam);
    return 0;
}

void CSessionController::OnSocketConnect(int code, LPARAM lParam) {
    if (code == SOCKET_CONNECT_FAILED) {
        // Retried after a pause, from a timer: the connect thread, waiting for this handler, ends by
        // itself meanwhile instead of being broken inside its report.
        ScheduleRetry();
        return;
    }
    if (code != SOCKET_CONNECT_CONNECTED)
        return;
    auto* socket = reinterpret_cast<CSocketTCP*>(lParam);
    if (socket == nullptr) {
        ScheduleRetry();
        return;
    }
    const CSettings& s = m_app.Settings();
    m_Service.AddChannel(&m_Control);
    m_Service.SetUserNtv(s.GetNtv());
    if (!m_Service.Open(GetSafeHwnd(), *socket)) {
        Trace("%s:%d | no se pudo abrir el transporte\n", "SessionController", __LINE__);
        ScheduleRetry();
        return;
    }
    m_bConnectionOpen = true;
    m_Control.SendLogin(s.GetNtv(), s.GetPassword(), s.GetLocalAddress(), kClientVersion, 0);
}

void CSessionController::OnTransportRecv(WPARAM channel) {
    if (channel == kChannelControl)
        DispatchControl();
    else if (channel < 256 && m_pCallHooks != nullptr)
        m_pCallHooks->OnChannelReceived(static_cast<uint8_t>(channel));
}

void CSessionController::OnTransportError() {
    const bool wasLoggedIn = IsConnected();
    CloseConnection();
    if (!wasLoggedIn) {
        // A connection that never got as far as a login counts as a failed attempt.
        ScheduleRetry();
        return;
    }
    EnterDisconnected();
    m_window.PlaySound(IDR_WAVE_DISCONNECTED);
    Connect();
}

void CSessionController::OnTimer(uintptr_t id) {
    if (id == kTimerRetry) {
        KillTimer(GetSafeHwnd(), kTimerRetry);
        Connect();
        return;
    }
    if (m_bFirstTimer) {
        m_bFirstTimer = false;
        // A guest calls once logged in: on a slow or proxied link the login may not have finished yet,
        // and a call placed before it would only end in "No response".
        if (m_app.IsDynamic()) {
            if (State() == 'C')
                PlaceDynamicCall();
            else
                m_bCallOnLogin = true;
        }
    }
    switch (id) {
        case kTimerPoll:
            KillTimer(GetSafeHwnd(), kTimerPoll);
            PollContacts();
            SetTimer(GetSafeHwnd(), kTimerPoll, kPollMs);
            break;
        case kTimerFirstCall:
            KillTimer(GetSafeHwnd(), kTimerFirstCall);
            break;
        case kTimerCallTimeout:
            if (m_pCallHooks != nullptr)
                m_pCallHooks->OnCallTimeout();
            else
                StopCallTimeout();
            break;
        default:
            break;
    }
}

void CSessionController::DispatchControl() {
    const int queued = m_Control.ReceivedCount();
    CByteBuffer record;  // a nested dispatch has its own
    for (int i = 0; i < queued; ++i) {
        uint32_t tag = 0;
        if (!m_Control.PopReceived(tag, record))
            break;
        if (record.Size() != 0)
            Dispatch(record.Data(), record.Size());
    }
}

void CSessionController::Dispatch(const uint8_t* data, size_t size) {
    switch (data[0]) {
        case MSG_LOGIN_OK:
            if (State() == 'D') {
                EnterConnected();
                PollContacts();
                SetTimer(GetSafeHwnd(), kTimerPoll, kPollMs);
            }
            break;
        case MSG_LOGIN_ERROR:
            OnLoginError(data, size);
            break;
        case MSG_NEW_VERSION:
            OnNewVersion();
            break;
        case MSG_PING:
            m_Control.SendPing();
            break;
        case MSG_USER_INFO:
            OnUserInfo(data, size);
            break;
        case MSG_CALL_ID:
        case MSG_CALL_ACCEPTED:
        case MSG_CALL_ABORT:
        case MSG_HANGUP:
        case MSG_CALL_SETUP:
        case MSG_CALL_REFUSED:
        case MSG_CALL_CONNECTED:
            if (m_pCallHooks != nullptr)
                m_pCallHooks->OnCallRecord(data, size);
            break;
        case MSG_CONTACT_STATUS:
            OnContactStatus(data, size);
            break;
        case MSG_CONTACTS:
            OnContactEntry(data, size);
            break;
        case MSG_VIDEO_FORMAT:
        case MSG_VIDEO_STOP:
        case MSG_VIDEO_KEYFRAME:
            if (m_pCallHooks != nullptr)
                m_pCallHooks->OnVideoRecord(data, size);
            break;
        default:
            break;
    }
}

void CSessionController::OnLoginError(const uint8_t* data, size_t size) {
    uint8_t reason = 0;
    if (!ParseLoginError(data, size, reason))
        return;
    m_window.OnLoginError(reason);
    if (reason == kLoginErrorCredentials) {
        // The connection has no further use; the client stays disconnected until the settings change.
        CloseConnection();
        m_window.ShowNotice(IDS_INCORRECT_DATA, LoadString(IDS_INCORRECT_DATA), true);
    } else if (reason == kLoginErrorAlreadyConnected) {
        const CAccountList& accounts = m_app.Accounts();
        if (m_app.IsAnotherInstance() && m_nAccountIndex < accounts.size()) {
            const Account& a = accounts[m_nAccountIndex++];
            m_app.Settings().SetUser(a.m_strNtv, a.m_strPassword);
            m_app.Settings().SetServer(a.m_strServer, CSettings::kServerPort);
            Connect();
        } else {
            CloseConnection();
            m_window.ShowNotice(IDS_USER_ALREADY_CONNECTED, LoadString(IDS_USER_ALREADY_CONNECTED), true);
        }
    }
}

void CSessionController::OnNewVersion() {
    m_window.OnNewVersion();
    if (!m_window.ShowNotice(IDS_NEW_VERSION, LoadString(IDS_NEW_VERSION), false))
        m_window.CloseWindow();
}

void CSessionController::OnUserInfo(const uint8_t* data, size_t size) {
    SUserInfo received;
    if (!ParseUserInfo(data, size, received))
        return;
    const CSettings& s = m_app.Settings();
    SSessionUserInfo info;
    info.m_strDirectoryUrl = AbsoluteUserInfoAddress(received.directoryAddress, s.GetHost());
    info.m_strHelpUrl = AbsoluteUserInfoAddress(received.helpAddress, s.GetHost());
    info.m_strDisplayName = received.displayName;
    info.m_strTitleName = received.displayName.empty() ? s.GetNtv() : received.displayName;
    if (!received.displayName.empty())
        info.m_strLabel = received.displayName;
    else if (s.GetNtv() == CClientApp::kGuestNtv)
        info.m_strLabel = LoadString(IDS_DIRECT_CALL);
    else
        info.m_strLabel = s.GetNtv();
    m_app.m_strDirectoryUrl = info.m_strDirectoryUrl;
    m_app.m_strHelpUrl = info.m_strHelpUrl;
    m_app.m_strDisplayName = info.m_strDisplayName;
    m_window.OnUserInfo(info);
}

void CSessionController::OnContactStatus(const uint8_t* data, size_t size) {
    SContactStatus status;
    if (!ParseContactStatus(data, size, status))
        return;
    char before = 0;
    const EStatusChange change = m_app.Contacts().UpdateStatus(status.ntv, status.status, &before);
    if (change == EStatusChange::None)
        return;
    const SContactRecord& contact = *m_app.Contacts().Find(status.ntv);
    m_window.OnContactStatus(contact, before);
    if (change == EStatusChange::BecameReady)
        m_window.ShowPopup(FormatString(IDS_USER_READY, {contact.Shown()}));
    else if (change == EStatusChange::BecameDisconnected)
        m_window.ShowPopup(FormatString(IDS_USER_DISCONNECTED, {contact.Shown()}));
}

void CSessionController::OnContactEntry(const uint8_t* data, size_t size) {
    SContact entry;
    if (!ParseContactRecord(data, size, entry))
        return;
    if (!m_app.Contacts().AddFromServer(entry.ntv, entry.name))
        return;
    m_window.OnContactAdded(*m_app.Contacts().Find(entry.ntv));
    // The list arrives after the login's poll: ask at once rather than leave it "disconnected" until
    // the next one.
    m_Control.SendContactStatus(entry.ntv);
}

// ---- states ----------------------------------------------------------------------------------------

void CSessionController::EnterConnected() {
    m_bAway = false;
    m_nRetryMs = 0;
    m_app.Settings().SetStatus('C');
    m_app.Contacts().Clear();
    m_Control.SendContactsRequest();
    m_window.OnSessionState('C');
    m_window.PlaySound(IDR_WAVE_CONNECTED);
    if (m_bCallOnLogin) {
        m_bCallOnLogin = false;
        PlaceDynamicCall();
    }
}

void CSessionController::PlaceDynamicCall() {
    m_strCalledNtv = m_app.TargetNtv();
    if (m_pCallHooks != nullptr)
        m_pCallHooks->PlaceCall(m_strCalledNtv);
}

void CSessionController::EnterDisconnected() {
    m_app.Settings().SetStatus('D');
    m_window.OnSessionState('D');
    m_window.PlaySound(IDR_WAVE_DISCONNECTED);
}
