// CChannel: one numbered channel of the connection, with a 32-slot ring per direction. Producers push
// and consumers pop under the channel's lock; a full ring refuses the push (false) and the producer
// retries, so nothing is ever dropped. In each direction every slot is either free or used.
//
// The user-interface thread never waits for the transport: what it sends (control records, chat) goes
// through PushSendQueued, which keeps what the ring cannot take in a backlog behind it, in order, up to
// kBacklogLimit bytes; past that the connection is reported as failed rather than anything being lost.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/ByteBuffer.h"
#include "platform/Deque.h"
#include "platform/Lock.h"

class CWakeEvent;
class CServiceTCP;

class CChannel {
public:
    static constexpr int kSlots = 32;
    // What a channel holds beyond its ring for the user-interface thread before the connection fails.
    static constexpr size_t kBacklogLimit = 8 * 1024 * 1024;

    CChannel(uint8_t id, bool notify = true);
    // A channel still registered with a transport leaves it first.
    virtual ~CChannel();
    CChannel(const CChannel&) = delete;
    CChannel& operator=(const CChannel&) = delete;

    uint8_t GetId() const { return m_nId; }
    bool GetNotify() const { return m_bNotify; }

    // Empties both directions.
    void Reset();

    bool PushReceived(uint32_t tag, const void* data, size_t length);
    bool PopReceived(uint32_t& tag, CByteBuffer& buffer);
    // A payload longer than one frame may carry is refused, by both pushes, at once.
    bool PushSend(uint32_t tag, const void* data, size_t length);
    bool PopSend(uint32_t& tag, CByteBuffer& buffer);
    // PushSend retried while the ring is full, for at most `timeoutMs` (negative: no limit). A freed slot
    // wakes the producer at once; every wait is bounded by a millisecond. False only when the ring stayed
    // full that long.
    bool PushSendWait(uint32_t tag, const void* data, size_t length, int timeoutMs);
    // Waits up to timeoutMs for the consumer to free a send slot; returns early when it does.
    void WaitSendSlot(int timeoutMs);
    // Never waits: into the ring, or behind it in the backlog. False only when the payload is longer
    // than a frame, or the backlog would pass kBacklogLimit: the registered transport then reports the
    // connection as failed.
    bool PushSendQueued(uint32_t tag, const void* data, size_t length);
    size_t BacklogBytes() const;

    // A thread that must never wait for the transport (the user-interface thread) marks itself; any
    // wait it makes anyway in PushSendWait or WaitSendSlot is counted, for tests and diagnostics.
    static void MarkNoWaitThread();
    static uint64_t WaitsOnNoWaitThreads();

    int ReceivedCount() const;
    int SendCount() const;
    // Messages the transport took from the send ring and handed into the receive ring over the
    // channel's life (Reset keeps them): what crossed the wire, for soak and loss reports.
    uint64_t MessagesSent() const;
    uint64_t MessagesReceived() const;
    int FreeReceiveSlots() const;
    int FreeSendSlots() const;

private:
    friend class CServiceTCP;
    // Set by the transport while the channel is registered: its send thread sleeps on sendWake, which a
    // push sets; its receive thread, facing a full ring, sleeps on recvWake, which a pop sets.
    void SetService(CServiceTCP* service, CWakeEvent* sendWake, CWakeEvent* recvWake);

    struct SSlot {
        uint32_t tag = 0;
        CByteBuffer data;
    };
    struct SRing {
        SSlot m_Slots[kSlots];  // not "slots": Qt keeps that word as a macro
        TDeque<int> free;
        TDeque<int> used;
        void Reset();
        bool Push(uint32_t tag, const void* data, size_t length);
        bool Pop(uint32_t& tag, CByteBuffer& buffer);
    };

    uint8_t m_nId;
    bool m_bNotify;
    SRing m_Recv;
    SRing m_Send;
    struct SQueued {
        uint32_t tag;
        std::vector<uint8_t> data;
    };
    std::deque<SQueued> m_Backlog;  // behind m_Send, in order; under m_Lock
    size_t m_nBacklogBytes = 0;
    // Moves the backlog's head into the ring while slots are free; m_Lock held.
    void RefillFromBacklog();
    CWakeEvent* m_pSendWake = nullptr;
    CWakeEvent* m_pRecvWake = nullptr;
    CServiceTCP* m_pService = nullptr;  // changed by the owning thread only
    mutable CLock m_Lock;
    // Producers waiting for a free slot sleep here; a pop wakes them.
    std::mutex m_WaitMutex;
    std::condition_variable m_SlotFreed;
    uint64_t m_nSendPops = 0;  // guarded by m_WaitMutex
    uint64_t m_nSent = 0;      // guarded by m_Lock, as is m_nReceived
    uint64_t m_nReceived = 0;
};
