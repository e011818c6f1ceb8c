// CServiceTCP: the transport. It owns the connected socket and two threads: the receive thread reads
// frames and files each payload into the receive ring of its channel, announcing it to the notify
// window with WM_TRANSPORT_RECV; the send thread turns the send rings of the registered channels into
// frames. Any failure that ends the connection (reset, orderly close by the peer, corrupt stream,
// other socket errors) ends both threads and is reported once with WM_TRANSPORT_ERROR.
//
// Idle threads block (socket readiness, a wake event set by CChannel::PushSend) with a bounded wait
// instead of polling, so a quiet connection costs next to nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/Channel.h"
#include "net/Frame.h"
#include "net/ReadAhead.h"
#include "net/SocketTCP.h"
#include "net/WakeEvent.h"
#include "platform/Lock.h"
#include "platform/Messages.h"
#include "platform/Thread.h"

// wParam: channel number; lParam: the frame's tag.
inline const UINT WM_TRANSPORT_RECV = RegisterWindowMessage("WM_TRANSPORT_RECV");
// wParam 0; lParam WSAECONNRESET (10054) for every failure that ended the connection; the exact code is
// GetLastError().
inline const UINT WM_TRANSPORT_ERROR = RegisterWindowMessage("WM_TRANSPORT_ERROR");

class CServiceTCP {
public:
    static constexpr int kChannelCount = 256;

    CServiceTCP();
    // Stops the threads and closes the socket; channels still registered are let go.
    ~CServiceTCP();
    CServiceTCP(const CServiceTCP&) = delete;
    CServiceTCP& operator=(const CServiceTCP&) = delete;

    // Registers the channel under its number; a number already registered is left as it was.
    void AddChannel(CChannel* channel);
    // Unregisters the channel; on return no transport thread touches it any more.
    void RemoveChannel(CChannel* channel);
    std::vector<uint8_t> GetChannelIds() const;

    // The NTV written into the sender field of every frame.
    void SetUserNtv(std::string_view ntv);

    // Takes over the connected socket (`socket` is left empty) and starts both threads; messages go to
    // `window`. A transport still holding an earlier connection is stopped first. False when it could
    // not start; the socket is then closed.
    bool Open(HWND window, CSocketTCP& socket);
    // Stops both threads (what the send rings held when it was called is written first, within the
    // threads' bounded stop), then closes the socket. Always true.
    bool Stop();
    // True while both threads run on a live connection.
    bool IsOpen() const;
    // The Winsock code of the failure that ended the connection; 0 after a successful Open.
    int GetLastError() const { return m_nLastError.load(); }

    // The connection's socket, for addresses and tests.
    const CSocketTCPStream& GetSocket() const { return m_Socket; }

    // A channel's backlog passed its bound: the connection ends as after a socket failure (reported
    // with WM_TRANSPORT_ERROR). Any thread.
    void FailOverflow(uint8_t channel);

private:
    class CRecvThread : public CServiceRecv {
    public:
        explicit CRecvThread(CServiceTCP& owner) : m_owner(owner) {}
        ~CRecvThread() override { Stop(); }

    protected:
        void Run() override;
        void Service() override { m_owner.ServiceRecv(); }
        void WaitForWork() override;

    private:
        CServiceTCP& m_owner;
    };
    class CSendThread : public CServiceSend {
    public:
        explicit CSendThread(CServiceTCP& owner) : m_owner(owner) {}
        ~CSendThread() override { Stop(); }

    protected:
        void Run() override;
        void Service() override { m_owner.ServiceSend(); }
        void WaitForWork() override;

    private:
        CServiceTCP& m_owner;
    };

    bool ThreadsShouldEnd(const CThread& thread) const;
    void ServiceRecv();
    void ServiceSend();
    // Writes the frames gathered in the socket's frame buffer and empties it.
    bool FlushFrames();
    // Ends the connection after a failed read or write on one of the threads.
    void OnFailure(CThread& caller, int error);

    CSocketTCPStream m_Socket;
    HWND m_hWndNotify = nullptr;
    CChannel* m_Channels[kChannelCount] = {};
    std::vector<uint8_t> m_ChannelIds;  // in order of registration
    mutable CLock m_ChannelLock;        // the table and list, and any use of a registered channel
    std::string m_strUserNtv;
    CLock m_NtvLock;
    std::atomic<int> m_nLastError{0};
    std::atomic<bool> m_bFailed{false};    // the connection has ended: both threads leave
    std::atomic<bool> m_bStopping{false};  // Stop is ending the threads: failures are not reported
    CWakeEvent m_SendWake;
    CWakeEvent m_RecvWake;      // a receive slot was freed
    CByteBuffer m_RecvPayload;  // used by the receive thread only
    CReadAhead m_ReadAhead;     // used by the receive thread only
    CByteBuffer m_SendPayload;  // used by the send thread only
    CRecvThread m_RecvThread{*this};
    CSendThread m_SendThread{*this};
};
