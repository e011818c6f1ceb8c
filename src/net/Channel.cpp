#include "net/Channel.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "net/Frame.h"
#include "net/ServiceTCP.h"
#include "net/WakeEvent.h"

void CChannel::SRing::Reset() {
    free.clear();
    used.clear();
    for (int i = 0; i < kSlots; ++i)
        free.push_back(i);
}

bool CChannel::SRing::Push(uint32_t tag, const void* data, size_t length) {
    if (free.size() == 0)
        return false;
    const int i = free.front();
    free.pop_front();
    SSlot& slot = m_Slots[i];
    slot.tag = tag;
    slot.data.SetSize(0);
    slot.data.Append(data, length);
    used.push_back(i);
    return true;
}

bool CChannel::SRing::Pop(uint32_t& tag, CByteBuffer& buffer) {
    if (used.size() == 0)
        return false;
    const int i = used.front();
    used.pop_front();
    const SSlot& slot = m_Slots[i];
    tag = slot.tag;
    buffer.SetSize(slot.data.Size());
    if (slot.data.Size() > 0)
        std::memcpy(buffer.Data(), slot.data.Data(), slot.data.Size());
    free.push_back(i);
    return true;
}

CChannel::CChannel(uint8_t id, bool notify) : m_nId(id), m_bNotify(notify) {
    Reset();
}

void CChannel::Reset() {
    CLockGuard guard(m_Lock);
    m_Recv.Reset();
    m_Send.Reset();
    m_Backlog.clear();
    m_nBacklogBytes = 0;
}

namespace {

thread_local bool t_bNoWaitThread = false;
std::atomic<uint64_t> g_nWaitsOnNoWaitThreads{0};

void CountWait() {
    if (t_bNoWaitThread)
        ++g_nWaitsOnNoWaitThreads;
}

}  // namespace

void CChannel::MarkNoWaitThread() {
    t_bNoWaitThread = true;
}

uint64_t CChannel::WaitsOnNoWaitThreads() {
    return g_nWaitsOnNoWaitThreads.load();
}

void CChannel::RefillFromBacklog() {
    while (!m_Backlog.empty() && m_Send.free.size() > 0) {
        SQueued& q = m_Backlog.front();
        m_Send.Push(q.tag, q.data.data(), q.data.size());
        m_nBacklogBytes -= q.data.size();
        m_Backlog.pop_front();
    }
}

bool CChannel::PushSendQueued(uint32_t tag, const void* data, size_t length) {
    if (length > kMaxFramePayload)
        return false;
    CServiceTCP* failed = nullptr;
    {
        CLockGuard guard(m_Lock);
        if (m_Backlog.empty() && m_Send.Push(tag, data, length)) {
            if (m_pSendWake != nullptr)
                m_pSendWake->Set();
            return true;
        }
        if (m_nBacklogBytes + length > kBacklogLimit) {
            failed = m_pService;
        } else {
            const auto* p = static_cast<const uint8_t*>(data);
            m_Backlog.push_back(SQueued{tag, std::vector<uint8_t>(p, p + length)});
            m_nBacklogBytes += length;
            return true;
        }
    }
    // The peer has read nothing for so long that the connection is no use: it ends, and the session
    // reconnects as after any other failure.
    if (failed != nullptr)
        failed->FailOverflow(m_nId);
    return false;
}

size_t CChannel::BacklogBytes() const {
    CLockGuard guard(m_Lock);
    return m_nBacklogBytes;
}

bool CChannel::PushReceived(uint32_t tag, const void* data, size_t length) {
    CLockGuard guard(m_Lock);
    if (!m_Recv.Push(tag, data, length))
        return false;
    ++m_nReceived;
    return true;
}

bool CChannel::PopReceived(uint32_t& tag, CByteBuffer& buffer) {
    CLockGuard guard(m_Lock);
    if (!m_Recv.Pop(tag, buffer))
        return false;
    if (m_pRecvWake != nullptr)
        m_pRecvWake->Set();
    return true;
}

bool CChannel::PushSend(uint32_t tag, const void* data, size_t length) {
    // The peer takes a longer frame for a corrupt stream and drops the connection.
    if (length > kMaxFramePayload)
        return false;
    CLockGuard guard(m_Lock);
    if (!m_Send.Push(tag, data, length))
        return false;
    if (m_pSendWake != nullptr)
        m_pSendWake->Set();
    return true;
}

bool CChannel::PopSend(uint32_t& tag, CByteBuffer& buffer) {
    {
        CLockGuard guard(m_Lock);
        if (!m_Send.Pop(tag, buffer))
            return false;
        ++m_nSent;
        RefillFromBacklog();
    }
    {
        std::lock_guard<std::mutex> lock(m_WaitMutex);
        ++m_nSendPops;
    }
    m_SlotFreed.notify_all();
    return true;
}

void CChannel::WaitSendSlot(int timeoutMs) {
    CountWait();
    std::unique_lock<std::mutex> lock(m_WaitMutex);
    const uint64_t pops = m_nSendPops;
    if (FreeSendSlots() > 0)
        return;
    m_SlotFreed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_nSendPops != pops; });
}

bool CChannel::PushSendWait(uint32_t tag, const void* data, size_t length, int timeoutMs) {
    if (length > kMaxFramePayload)
        return false;  // no wait makes room for it
    CountWait();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!PushSend(tag, data, length)) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return false;
        WaitSendSlot(1);
    }
    return true;
}

int CChannel::ReceivedCount() const {
    CLockGuard guard(m_Lock);
    return static_cast<int>(m_Recv.used.size());
}

int CChannel::SendCount() const {
    CLockGuard guard(m_Lock);
    return static_cast<int>(m_Send.used.size());
}

uint64_t CChannel::MessagesSent() const {
    CLockGuard guard(m_Lock);
    return m_nSent;
}

uint64_t CChannel::MessagesReceived() const {
    CLockGuard guard(m_Lock);
    return m_nReceived;
}

int CChannel::FreeReceiveSlots() const {
    CLockGuard guard(m_Lock);
    return static_cast<int>(m_Recv.free.size());
}

int CChannel::FreeSendSlots() const {
    CLockGuard guard(m_Lock);
    return static_cast<int>(m_Send.free.size());
}

CChannel::~CChannel() {
    if (m_pService != nullptr)
        m_pService->RemoveChannel(this);
}

void CChannel::SetService(CServiceTCP* service, CWakeEvent* sendWake, CWakeEvent* recvWake) {
    CLockGuard guard(m_Lock);
    m_pService = service;
    m_pSendWake = sendWake;
    m_pRecvWake = recvWake;
}
