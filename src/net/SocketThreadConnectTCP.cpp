#include "net/SocketThreadConnectTCP.h"

#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "net/Base64.h"
#include "net/ProxyReply.h"

CSocketThreadConnectTCP::CSocketThreadConnectTCP() {
    SetName("CSocketThreadConnectTCP");
}

CSocketThreadConnectTCP::~CSocketThreadConnectTCP() {
    Stop();
    CloseSocket();
}

bool CSocketThreadConnectTCP::Connect(HWND window, const std::string& host, int port) {
    if (HasThread())
        return false;
    m_bAbort = false;
    m_hWndNotify = window;
    m_strHost = host;
    m_nPort = port;
    return Start(0);
}

void CSocketThreadConnectTCP::SetProxy(const std::string& host, int port, const std::string& login,
                                       const std::string& password) {
    m_strProxyHost = host;
    m_nProxyPort = port;
    m_strProxyLogin = login;
    m_strProxyPassword = password;
    m_bProxy = true;
}

void CSocketThreadConnectTCP::ClearProxy() {
    m_bProxy = false;
    m_strProxyHost.clear();
    m_nProxyPort = 0;
    m_strProxyLogin.clear();
    m_strProxyPassword.clear();
}

bool CSocketThreadConnectTCP::Abort() {
    if (!HasThread())
        return true;
    m_bAbort = true;
    {
        std::lock_guard<std::mutex> lock(m_SocketMutex);
        m_Socket.Shutdown(SHUT_RDWR);
    }
    for (int polls = 0; polls <= 100 && HasThread(); ++polls) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return !HasThread();
}

bool CSocketThreadConnectTCP::Stop() {
    Abort();
    return CThread::Stop();
}

bool CSocketThreadConnectTCP::Break() {
    if (Abort()) {
        CThread::Stop();  // joins the ended thread
        return true;
    }
    return CThread::Break();
}

void CSocketThreadConnectTCP::Report(int code, bool send, CSocketTCP* socket) {
    // The owner is ending this attempt, possibly waiting for it on its own thread: a sent message
    // would wait for it in turn.
    if (Aborted())
        return;
    const auto w = static_cast<WPARAM>(static_cast<intptr_t>(code));
    const auto l = reinterpret_cast<LPARAM>(socket);
    if (send) {
        // A stop that comes while the window has not taken the report yet withdraws it: the window
        // may be the one stopping us, and the socket in it is no longer on offer.
        SendMessageUnless(m_hWndNotify, WM_SOCKET_CONNECT, w, l, [this] { return Aborted(); });
    } else {
        PostMessage(m_hWndNotify, WM_SOCKET_CONNECT, w, l);
    }
}

void CSocketThreadConnectTCP::Run() {
    // A socket handed over earlier was taken (Attach leaves ours empty); anything else is stale.
    CloseSocket();
    if (m_bProxy) {
        Tunnel();
    } else {
        if (!CreateSocket()) {
            Report(SOCKET_CONNECT_FAILED, true);
            return;
        }
        Report(SOCKET_CONNECT_CREATED, true);
        const std::string address = Resolve(m_strHost);
        if (address.empty()) {
            CloseSocket();
            Report(SOCKET_CONNECT_FAILED, true);
            return;
        }
        Report(SOCKET_CONNECT_RESOLVED, false);
        if (Aborted() || !m_Socket.Connect(address, m_nPort)) {
            CloseSocket();
            Report(SOCKET_CONNECT_FAILED, true);
            return;
        }
    }
    if (Aborted()) {
        CloseSocket();
    } else if (m_Socket.IsValid()) {
        Report(SOCKET_CONNECT_CONNECTED, true, &m_Socket);
    } else {
        Report(SOCKET_CONNECT_FAILED, true);
    }
}

bool CSocketThreadConnectTCP::CreateSocket() {
    std::lock_guard<std::mutex> lock(m_SocketMutex);
    return CreateConnectionSocket(m_Socket);
}

void CSocketThreadConnectTCP::CloseSocket() {
    std::lock_guard<std::mutex> lock(m_SocketMutex);
    m_Socket.Close();
}

bool CSocketThreadConnectTCP::SendText(const std::string& text) {
    const int n = static_cast<int>(text.size());
    int sent = 0;
    while (sent < n) {
        const int r = m_Socket.Send(text.data() + sent, n - sent);
        if (r < 0)
            return false;
        if (r == 0 && !m_Socket.WaitWritable())
            continue;
        sent += r;
    }
    return true;
}

void CSocketThreadConnectTCP::Tunnel() {
    auto fail = [this](int code, bool send) {
        CloseSocket();
        Report(code, send);
    };
    if (!CreateSocket()) {
        fail(SOCKET_CONNECT_FAILED, false);
        return;
    }
    Report(SOCKET_CONNECT_CREATED, false);
    const std::string proxy = Resolve(m_strProxyHost);
    if (proxy.empty()) {
        fail(SOCKET_CONNECT_FAILED, false);
        return;
    }
    Report(SOCKET_CONNECT_RESOLVED, false);
    if (Aborted() || !m_Socket.Connect(proxy, m_nProxyPort)) {
        fail(SOCKET_CONNECT_FAILED, false);
        return;
    }

    // The server's name is resolved here when possible; a name this machine cannot resolve is left to
    // the proxy, which often can.
    std::string target = Resolve(m_strHost);
    if (target.empty())
        target = m_strHost;
    Report(SOCKET_CONNECT_TUNNEL_REQUEST, false);
    if (!SendText("CONNECT " + target + ":" + std::to_string(m_nPort) + " HTTP/1.0\r\n") ||
        !SendText("Proxy-Connection: Keep-Alive\r\nPragma: No-Cache\r\n")) {
        fail(SOCKET_CONNECT_TUNNEL_FAILED, true);
        return;
    }
    if (!m_strProxyLogin.empty() && !m_strProxyPassword.empty()) {
        const std::string credentials = Base64Encode(m_strProxyLogin + ":" + m_strProxyPassword);
        if (!SendText("Proxy-Authorization: Basic " + credentials + "\r\n")) {
            fail(SOCKET_CONNECT_TUNNEL_FAILED, true);
            return;
        }
    }
    if (!SendText("\r\n")) {
        fail(SOCKET_CONNECT_TUNNEL_FAILED, true);
        return;
    }

    Report(SOCKET_CONNECT_TUNNEL_REPLY, false);
    int waitedMs = 0;
    std::string reply;
    const EProxyReply result = ReadProxyReply(
        [&](uint8_t& b) {
            while (!m_Socket.WaitReadable()) {
                waitedMs += kWaitReadableMs;
                if (waitedMs >= kProxyReplyTimeoutMs || Aborted())
                    return -1;
            }
            return m_Socket.Receive(&b, 1);
        },
        reply);
    switch (result) {
        case EProxyReply::Accepted:
            return;
        case EProxyReply::Empty:
            CloseSocket();
            return;
        case EProxyReply::Refused:
        case EProxyReply::Failed:
            fail(SOCKET_CONNECT_TUNNEL_FAILED, true);
            return;
    }
}
