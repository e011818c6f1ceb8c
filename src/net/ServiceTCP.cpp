#include "net/ServiceTCP.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "net/SocketError.h"
#include "platform/Trace.h"

namespace {
// Bound of an idle wait of either thread; a stop or new work ends it at once.
constexpr int kIdleWaitMs = 50;
// How long Stop lets the send thread write what was queued before it ends the writing side.
constexpr int kFlushPolls = 80;
// Frames gathered by one send step are written together once they reach this size.
constexpr size_t kCoalesceBytes = 32768;
}  // namespace

CServiceTCP::CServiceTCP() = default;

CServiceTCP::~CServiceTCP() {
    Stop();
    CLockGuard guard(m_ChannelLock);
    for (uint8_t id : m_ChannelIds) {
        if (m_Channels[id] != nullptr)
            m_Channels[id]->SetService(nullptr, nullptr, nullptr);
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
        channel->SetService(this, &m_SendWake, &m_RecvWake);
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
    channel->SetService(nullptr, nullptr, nullptr);
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
    if (!socket.IsValid() || !m_Socket.Attach(socket))
        return false;
    m_bFailed = false;
    m_bStopping = false;
    m_ReadAhead.Clear();
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
    m_RecvWake.Set();
    m_SendWake.Set();
    m_RecvThread.Stop();
    // The send thread writes what was queued; a peer that reads nothing cannot hold it beyond the bound:
    // ending the writing side wakes a blocked send.
    for (int polls = 0; polls < kFlushPolls && m_SendThread.HasThread(); ++polls) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (m_SendThread.HasThread())
        m_Socket.Shutdown(SHUT_WR);
    m_SendThread.Stop();
    m_Socket.Close();
    m_bStopping = false;
    return true;
}

bool CServiceTCP::IsOpen() const {
    // HasThread, not IsRunning: a thread just started may not have been scheduled yet.
    return m_Socket.IsValid() && !m_bFailed && m_RecvThread.HasThread() && m_SendThread.HasThread();
}

bool CServiceTCP::ThreadsShouldEnd(const CThread& thread) const {
    // m_bStopping lets Stop end both threads at once instead of one stop after the other.
    return thread.IsStopRequested() || m_bFailed || m_bStopping;
}

// ---- receive side ----------------------------------------------------------------------------------

void CServiceTCP::CRecvThread::Run() {
    while (!m_owner.ThreadsShouldEnd(*this)) {
        Service();
        if (m_owner.ThreadsShouldEnd(*this))
            break;
        WaitForWork();
    }
}

void CServiceTCP::CRecvThread::WaitForWork() {
    if (!m_owner.m_ReadAhead.HasData())
        m_owner.m_Socket.WaitReadable(kIdleWaitMs);
}

void CServiceTCP::ServiceRecv() {
    if (!m_ReadAhead.HasData() && !m_Socket.WaitReadable(0))
        return;
    SFrameHeader header;
    const EFrameRead read =
        ReadFrame([this](void* p, int n) { return m_ReadAhead.Read(m_Socket, p, n); }, header, m_RecvPayload);
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
        m_RecvWake.Wait(1);
        if (ThreadsShouldEnd(m_RecvThread))
            return;
    }
}

// ---- send side -------------------------------------------------------------------------------------

void CServiceTCP::CSendThread::Run() {
    while (!m_owner.ThreadsShouldEnd(*this)) {
        Service();
        if (m_owner.ThreadsShouldEnd(*this))
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
    std::string sender;
    CByteBuffer& frames = m_Socket.FrameBuffer();
    frames.SetSize(0);
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
                if (pending < 0) {
                    pending = channel->SendCount();
                    // Read after the count: a message queued after SetUserNtv carries the new sender.
                    CLockGuard ntvGuard(m_NtvLock);
                    sender = m_strUserNtv;
                }
                if (pending == 0 || !channel->PopSend(tag, m_SendPayload))
                    break;
                --pending;
            }
            AppendFrame(frames, id, tag, m_SendPayload.Data(), static_cast<uint32_t>(m_SendPayload.Size()),
                        sender, false);
            if (frames.Size() >= kCoalesceBytes && !FlushFrames())
                return;
        }
    }
    FlushFrames();
}

bool CServiceTCP::FlushFrames() {
    CByteBuffer& frames = m_Socket.FrameBuffer();
    const int n = static_cast<int>(frames.Size());
    frames.SetSize(0);
    if (n == 0)
        return true;
    if (m_Socket.SendAll(frames.Data(), n) == n)
        return true;
    OnFailure(m_SendThread, GetLastSocketError());
    return false;
}

// ---- failures --------------------------------------------------------------------------------------

void CServiceTCP::FailOverflow(uint8_t channel) {
    if (m_bStopping || m_bFailed.exchange(true))
        return;
    Trace("%s:%d | canal %u: demasiado por enviar, se cierra la conexión\n", "ServiceTCP", __LINE__,
          static_cast<unsigned>(channel));
    m_nLastError = WSAENOBUFS;
    m_Socket.Shutdown(SHUT_RDWR);
    m_SendWake.Set();
    PostMessage(m_hWndNotify, WM_TRANSPORT_ERROR, 0, WSAENOBUFS);
}

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
