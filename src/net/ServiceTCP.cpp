#include "net/ServiceTCP.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "net/SocketError.h"

namespace {
// Bound of an idle wait of either thread; a stop or new work ends it at once.
constexpr int kIdleWaitMs = 50;
}  // namespace

CServiceTCP::CServiceTCP() = default;

CServiceTCP::~CServiceTCP() {
    Stop();
    CLockGuard guard(m_ChannelLock);
    for (uint8_t id : m_ChannelIds) {
        if (m_Channels[id] != nullptr)
            m_Channels[id]->SetService(nullptr, nullptr);
        m_Channels[id] = nullptr;
    }
    m_ChannelIds.clear();
}

void CServiceTCP::AddChannel(CChannel* channel) {
    if (channel == nullptr)
        return;
    {
        CLockGuard guard(m_ChannelLock);
        const uint8_t id = channel->GetId();
        if (m_Channels[id] != nullptr)
            return;
        m_Channels[id] = channel;
        m_ChannelIds.push_back(id);
        channel->SetService(this, &m_SendWake);
    }
    // Messages queued before the registration go out now.
    m_SendWake.Set();
}

void CServiceTCP::RemoveChannel(CChannel* channel) {
    if (channel == nullptr)
        return;
    CLockGuard guard(m_ChannelLock);
    const uint8_t id = channel->GetId();
    if (m_Channels[id] != channel)
        return;
    m_Channels[id] = nullptr;
    m_ChannelIds.erase(std::remove(m_ChannelIds.begin(), m_ChannelIds.end(), id), m_ChannelIds.end());
    channel->SetService(nullptr, nullptr);
}

std::vector<uint8_t> CServiceTCP::GetChannelIds() const {
    CLockGuard guard(m_ChannelLock);
    return m_ChannelIds;
}

void CServiceTCP::SetUserNtv(std::string_view ntv) {
    CLockGuard guard(m_NtvLock);
    m_strUserNtv.assign(ntv);
}

bool CServiceTCP::Open(HWND window, CSocketTCP& socket) {
    if (m_RecvThread.HasThread() || m_SendThread.HasThread() || m_Socket.IsValid())
        Stop();
    m_hWndNotify = window;
    if (!m_Socket.Attach(socket))
        return false;
    m_bFailed = false;
    m_bStopping = false;
    m_nLastError = 0;
    if (!m_RecvThread.Start(0) || !m_SendThread.Start(0)) {
        Stop();
        return false;
    }
    return true;
}

bool CServiceTCP::Stop() {
    m_bStopping = true;
    // Wake a receive thread blocked on the socket; writing stays possible for the last flush.
    m_Socket.Shutdown(SHUT_RD);
    m_RecvThread.Stop();
    m_SendWake.Set();
    m_SendThread.Stop();
    m_Socket.Close();
    m_bStopping = false;
    return true;
}

bool CServiceTCP::IsOpen() const {
    // HasThread, not IsRunning: a thread just started may not have been scheduled yet.
    return m_Socket.IsValid() && !m_bFailed && m_RecvThread.HasThread() && m_SendThread.HasThread();
}

// ---- receive side ----------------------------------------------------------------------------------

void CServiceTCP::CRecvThread::Run() {
    while (!IsStopRequested() && !m_owner.m_bFailed) {
        Service();
        if (IsStopRequested() || m_owner.m_bFailed)
            break;
        WaitForWork();
    }
}

void CServiceTCP::CRecvThread::WaitForWork() {
    m_owner.m_Socket.WaitReadable(kIdleWaitMs);
}

void CServiceTCP::ServiceRecv() {
    if (!m_Socket.WaitReadable(0))
        return;
    SFrameHeader header;
    const EFrameRead read =
        ReadFrame([this](void* p, int n) { return m_Socket.ReceiveAll(p, n); }, header, m_RecvPayload);
    if (read != EFrameRead::Ok) {
        OnFailure(m_RecvThread, read == EFrameRead::TooLong ? WSAEMSGSIZE : GetLastSocketError());
        return;
    }
    const uint8_t id = header.channel;
    for (;;) {
        bool notify = false;
        {
            CLockGuard guard(m_ChannelLock);
            CChannel* channel = m_Channels[id];
            if (channel == nullptr)
                return;  // not registered (or removed meanwhile): dropped
            notify = channel->GetNotify();
            if (channel->PushReceived(header.tag, m_RecvPayload.Data(), m_RecvPayload.Size())) {
                if (notify)
                    PostMessage(m_hWndNotify, WM_TRANSPORT_RECV, id, static_cast<LPARAM>(header.tag));
                return;
            }
        }
        // The ring is full: this thread (and every channel) waits until the window drains it, and
        // reminds the window every millisecond.
        if (notify)
            PostMessage(m_hWndNotify, WM_TRANSPORT_RECV, id, static_cast<LPARAM>(header.tag));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (m_RecvThread.IsStopRequested() || m_bFailed)
            return;
    }
}

// ---- send side -------------------------------------------------------------------------------------

void CServiceTCP::CSendThread::Run() {
    while (!IsStopRequested() && !m_owner.m_bFailed) {
        Service();
        if (IsStopRequested() || m_owner.m_bFailed)
            break;
        WaitForWork();
    }
    // Stopped on a live connection: what was queued before the stop still goes out.
    if (!m_owner.m_bFailed)
        Service();
}

void CServiceTCP::CSendThread::WaitForWork() {
    m_owner.m_SendWake.Wait(kIdleWaitMs);
}

void CServiceTCP::ServiceSend() {
    const std::vector<uint8_t> ids = GetChannelIds();
    for (uint8_t id : ids) {
        // Only the messages queued when this channel's turn began; later ones wait for the next step.
        int pending = -1;
        for (;;) {
            uint32_t tag = 0;
            {
                CLockGuard guard(m_ChannelLock);
                CChannel* channel = m_Channels[id];
                if (channel == nullptr)
                    break;
                if (pending < 0)
                    pending = channel->SendCount();
                if (pending == 0 || !channel->PopSend(tag, m_SendPayload))
                    break;
                --pending;
            }
            if (!SendFrame(id, tag, m_SendPayload)) {
                OnFailure(m_SendThread, GetLastSocketError());
                return;
            }
        }
    }
}

bool CServiceTCP::SendFrame(uint8_t channel, uint32_t tag, const CByteBuffer& data) {
    CByteBuffer& frame = m_Socket.FrameBuffer();
    {
        CLockGuard guard(m_NtvLock);
        BuildFrame(frame, channel, tag, data.Data(), static_cast<uint32_t>(data.Size()), m_strUserNtv, false);
    }
    const int n = static_cast<int>(frame.Size());
    return m_Socket.SendAll(frame.Data(), n) == n;
}

// ---- failures --------------------------------------------------------------------------------------

void CServiceTCP::OnFailure(CThread& caller, int error) {
    if (m_bStopping) {
        // Stop shut the socket to wake this thread: nothing to report.
        caller.Stop();
        return;
    }
    if (error == 0)
        error = WSAECONNABORTED;  // a failure always ends the connection
    if (m_bFailed.exchange(true))
        return;
    m_nLastError = error;
    // Wake the other thread wherever it waits; the socket is closed by Stop on the owner's thread, so
    // no thread ever uses a handle number that was closed under it.
    m_Socket.Shutdown(SHUT_RDWR);
    m_SendWake.Set();
    PostMessage(m_hWndNotify, WM_TRANSPORT_ERROR, 0, WSAECONNRESET);
}
