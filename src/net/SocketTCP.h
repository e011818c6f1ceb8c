// CSocketTCP: an IPv4 TCP socket (blocking) with the operations the connection needs; the owner closes
// it. Sends and receives are each serialised by their own lock, so one thread may read while another
// writes. Failures set the calling thread's last socket error (GetLastSocketError, Winsock numbers).
// CSocketTCPStream: the connection's socket; sends whole buffers in bounded pieces.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ByteBuffer.h"
#include "platform/Lock.h"

constexpr int kInvalidSocket = -1;
constexpr int kSocketBufferSize = 102400;
// The longest single wait for readiness; callers loop, so this only bounds how late a stop is seen.
constexpr int kWaitReadableMs = 50;

class CSocketTCP {
public:
    CSocketTCP();
    // Closes nothing: the owner calls Close.
    virtual ~CSocketTCP();
    CSocketTCP(const CSocketTCP&) = delete;
    CSocketTCP& operator=(const CSocketTCP&) = delete;

    bool IsValid() const { return m_hSocket.load() != kInvalidSocket; }
    int GetHandle() const { return m_hSocket.load(); }

    // Takes over other's socket and addresses; other is left without a socket. False when this object
    // already holds one.
    virtual bool Attach(CSocketTCP& other);
    virtual bool SetOption(int optname, const void* value, unsigned length);
    virtual bool GetOption(int optname, void* value, unsigned* length) const;
    virtual bool IoCtl(unsigned long command, int* argument);
    // A new IPv4 socket of the given type (SOCK_STREAM); only when none is held.
    virtual bool Create(int type = SOCK_STREAM);
    // Closes and forgets the handle. Always true.
    virtual bool Close();
    // Blocking connect to a dotted IPv4 address.
    virtual bool Connect(const std::string& address, int port);
    // Accepts one pending connection into `result` (closed first).
    virtual bool Accept(CSocketTCP& result);
    // Binds to the port and the dotted address, or any address when the text is empty.
    virtual bool Bind(int port, const std::string& address);
    virtual bool Listen(int backlog);
    // One receive: a positive count; 0 when nothing came (would block) or the peer closed (last error
    // WSAEDISCON); -1 on error or without a socket.
    virtual int Receive(void* buffer, int length);
    // Exactly `length` bytes: returns length, or -1 (error, or the peer closed before all came).
    virtual int ReceiveAll(void* buffer, int length);
    // One send: a positive count (possibly less than length), 0 when it would block, -1 on error.
    virtual int Send(const void* buffer, int length);
    // True as soon as the socket is readable (data, end of stream or error); false after timeoutMs.
    virtual bool WaitReadable(int timeoutMs = kWaitReadableMs);
    // The same for writing.
    bool WaitWritable(int timeoutMs = kWaitReadableMs);

    bool SetNonBlocking(bool on);
    bool SetKeepAlive(bool on);
    bool SetSendBufferSize(int n);
    bool SetReceiveBufferSize(int n);
    // Ends reading (wakes a thread blocked in a receive), writing, or both; the handle stays open.
    bool Shutdown(int how);

    // The bound local address and the connected peer, as dotted text and port.
    std::string GetLocalAddress() const;
    int GetLocalPort() const;
    std::string GetPeerAddress() const;
    int GetPeerPort() const;

protected:
    CLock m_SendLock;
    CLock m_RecvLock;
    std::atomic<int> m_hSocket{kInvalidSocket};
    sockaddr_in m_LocalAddr{};
    sockaddr_in m_PeerAddr{};
};

class CSocketTCPStream : public CSocketTCP {
public:
    static constexpr uint32_t kDefaultMaxChunk = 2048;

    // The whole buffer in pieces of at most m_nMaxChunk, each resent until the platform took all of it:
    // returns length, or -1 on failure.
    int Send(const void* buffer, int length) override;
    int SendAll(const void* buffer, int length) { return Send(buffer, length); }

    CByteBuffer& FrameBuffer() { return m_SendBuffer; }
    void SetMaxChunk(uint32_t n) { m_nMaxChunk = n; }

private:
    CByteBuffer m_SendBuffer;
    uint32_t m_nMaxChunk = kDefaultMaxChunk;
};

// A dotted IPv4 address for a name: the text itself when it is a dotted address, otherwise the first
// address the name resolves to; empty when it does not resolve.
std::string Resolve(std::string_view name);

// Creates a stream socket and configures it for the connection: blocking, keep-alive, 100 KiB buffers.
bool CreateConnectionSocket(CSocketTCP& socket);
