#include "net/SocketTCP.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/SocketError.h"

namespace {

bool Fail() {
    SetLastSocketErrorFromErrno();
    return false;
}

bool WaitFor(int fd, short events, int timeoutMs) {
    if (fd == kInvalidSocket) {
        SetLastSocketError(WSAENOTSOCK);
        return false;
    }
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, timeoutMs);
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return Fail();
    }
}

bool ParseDotted(const std::string& address, in_addr& out) {
    return inet_pton(AF_INET, address.c_str(), &out) == 1;
}

std::string Dotted(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return text;
}

}  // namespace

CSocketTCP::CSocketTCP() = default;

CSocketTCP::~CSocketTCP() = default;

bool CSocketTCP::Attach(CSocketTCP& other) {
    if (IsValid() || &other == this)
        return false;
    m_hSocket = other.m_hSocket.exchange(kInvalidSocket);
    m_LocalAddr = other.m_LocalAddr;
    m_PeerAddr = other.m_PeerAddr;
    return true;
}

bool CSocketTCP::SetOption(int optname, const void* value, unsigned length) {
    if (!IsValid())
        return false;
    if (setsockopt(m_hSocket, SOL_SOCKET, optname, value, length) != 0)
        return Fail();
    return true;
}

bool CSocketTCP::GetOption(int optname, void* value, unsigned* length) const {
    if (!IsValid())
        return false;
    socklen_t n = *length;
    if (getsockopt(m_hSocket, SOL_SOCKET, optname, value, &n) != 0)
        return Fail();
    *length = n;
    return true;
}

bool CSocketTCP::IoCtl(unsigned long command, int* argument) {
    if (!IsValid())
        return false;
    if (ioctl(m_hSocket, command, argument) != 0)
        return Fail();
    return true;
}

bool CSocketTCP::Create(int type) {
    if (IsValid())
        return true;
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Fail();
    m_hSocket = fd;
    return true;
}

bool CSocketTCP::Close() {
    const int fd = m_hSocket.exchange(kInvalidSocket);
    if (fd != kInvalidSocket)
        close(fd);
    return true;
}

bool CSocketTCP::Connect(const std::string& address, int port) {
    if (!IsValid()) {
        SetLastSocketError(WSAENOTSOCK);
        return false;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (!ParseDotted(address, a.sin_addr)) {
        SetLastSocketError(WSAEINVAL);
        return false;
    }
    m_PeerAddr = a;
    int r;
    do {
        r = connect(m_hSocket, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    } while (r != 0 && errno == EINTR);
    if (r != 0)
        return Fail();
    socklen_t n = sizeof m_LocalAddr;
    getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&m_LocalAddr), &n);
    return true;
}

bool CSocketTCP::Accept(CSocketTCP& result) {
    result.Close();
    if (!IsValid()) {
        SetLastSocketError(WSAENOTSOCK);
        return false;
    }
    sockaddr_in peer{};
    socklen_t n = sizeof peer;
    int fd;
    do {
        fd = accept4(m_hSocket, reinterpret_cast<sockaddr*>(&peer), &n, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return Fail();
    result.m_hSocket = fd;
    result.m_PeerAddr = peer;
    n = sizeof result.m_LocalAddr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&result.m_LocalAddr), &n);
    return true;
}

bool CSocketTCP::Bind(int port, const std::string& address) {
    if (!IsValid())
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!address.empty() && !ParseDotted(address, a.sin_addr)) {
        SetLastSocketError(WSAEINVAL);
        return false;
    }
    const int one = 1;
    setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(m_hSocket, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        return Fail();
    socklen_t n = sizeof m_LocalAddr;
    getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&m_LocalAddr), &n);
    return true;
}

bool CSocketTCP::Listen(int backlog) {
    if (!IsValid())
        return false;
    if (listen(m_hSocket, backlog) != 0)
        return Fail();
    return true;
}

int CSocketTCP::Receive(void* buffer, int length) {
    CLockGuard guard(m_RecvLock);
    if (!IsValid()) {
        SetLastSocketError(WSAENOTSOCK);
        return -1;
    }
    if (length <= 0)
        return 0;
    for (;;) {
        const ssize_t r = recv(m_hSocket, buffer, static_cast<size_t>(length), 0);
        if (r > 0)
            return static_cast<int>(r);
        if (r == 0) {
            SetLastSocketError(WSAEDISCON);
            return 0;
        }
        if (errno == EINTR)
            continue;
        return SetLastSocketErrorFromErrno() == WSAEWOULDBLOCK ? 0 : -1;
    }
}

int CSocketTCP::ReceiveAll(void* buffer, int length) {
    auto* p = static_cast<uint8_t*>(buffer);
    int got = 0;
    while (got < length) {
        if (!WaitReadable()) {
            if (!IsValid())
                return -1;
            continue;
        }
        const int r = Receive(p + got, length - got);
        if (r < 0)
            return -1;
        if (r == 0) {
            // Readable yet nothing came: the peer has closed.
            if (GetLastSocketError() == WSAEDISCON)
                return -1;
            continue;
        }
        got += r;
    }
    return length;
}

int CSocketTCP::Send(const void* buffer, int length) {
    CLockGuard guard(m_SendLock);
    if (!IsValid()) {
        SetLastSocketError(WSAENOTSOCK);
        return -1;
    }
    if (length <= 0)
        return 0;
    for (;;) {
        const ssize_t r = send(m_hSocket, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (r > 0)
            return static_cast<int>(r);
        if (r == 0)
            continue;
        if (errno == EINTR)
            continue;
        return SetLastSocketErrorFromErrno() == WSAEWOULDBLOCK ? 0 : -1;
    }
}

bool CSocketTCP::WaitReadable(int timeoutMs) {
    return WaitFor(m_hSocket, POLLIN, timeoutMs);
}

bool CSocketTCP::WaitWritable(int timeoutMs) {
    return WaitFor(m_hSocket, POLLOUT, timeoutMs);
}

bool CSocketTCP::SetNonBlocking(bool on) {
    int arg = on ? 1 : 0;
    return IoCtl(FIONBIO, &arg);
}

bool CSocketTCP::SetKeepAlive(bool on) {
    const int v = on ? 1 : 0;
    return SetOption(SO_KEEPALIVE, &v, sizeof v);
}

bool CSocketTCP::SetSendBufferSize(int n) {
    return SetOption(SO_SNDBUF, &n, sizeof n);
}

bool CSocketTCP::SetReceiveBufferSize(int n) {
    return SetOption(SO_RCVBUF, &n, sizeof n);
}

bool CSocketTCP::Shutdown(int how) {
    if (!IsValid())
        return false;
    if (shutdown(m_hSocket, how) != 0)
        return Fail();
    return true;
}

std::string CSocketTCP::GetLocalAddress() const {
    return Dotted(m_LocalAddr);
}
int CSocketTCP::GetLocalPort() const {
    return ntohs(m_LocalAddr.sin_port);
}
std::string CSocketTCP::GetPeerAddress() const {
    return Dotted(m_PeerAddr);
}
int CSocketTCP::GetPeerPort() const {
    return ntohs(m_PeerAddr.sin_port);
}

int CSocketTCPStream::Send(const void* buffer, int length) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    int sent = 0;
    while (sent < length) {
        int piece = length - sent;
        if (m_nMaxChunk > 0)
            piece = std::min<int>(piece, static_cast<int>(m_nMaxChunk));
        const int r = CSocketTCP::Send(p + sent, piece);
        if (r < 0)
            return -1;
        if (r == 0) {
            // Would block (a non-blocking socket): wait until the platform takes more.
            if (!WaitWritable() && !IsValid())
                return -1;
            continue;
        }
        sent += r;  // the platform may take part of a piece; the rest goes next round
    }
    return length;
}

std::string Resolve(std::string_view name) {
    const std::string text(name);
    in_addr a{};
    if (ParseDotted(text, a))
        return text;
    if (text.empty())
        return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
        SetLastSocketError(WSAHOST_NOT_FOUND);
        return {};
    }
    std::string result = Dotted(*reinterpret_cast<const sockaddr_in*>(list->ai_addr));
    freeaddrinfo(list);
    return result;
}

bool CreateConnectionSocket(CSocketTCP& socket) {
    if (socket.IsValid() || !socket.Create(SOCK_STREAM))
        return false;
    socket.SetNonBlocking(false);
    socket.SetKeepAlive(true);
    socket.SetSendBufferSize(kSocketBufferSize);
    socket.SetReceiveBufferSize(kSocketBufferSize);
    return true;
}
