// CSocketThreadConnectTCP: makes one connection attempt per Connect on its own thread, directly or
// through an HTTP proxy tunnel (CONNECT with Basic authorisation), and reports every stage to the
// notify window with WM_SOCKET_CONNECT. On success (code 3) lParam is the connected CSocketTCP; the
// receiver takes it over (Attach) while handling that sent message.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "net/SocketTCP.h"
#include "platform/Messages.h"
#include "platform/Thread.h"

inline const UINT WM_SOCKET_CONNECT = RegisterWindowMessage("WM_SOCKET_CONNECT");

// wParam codes of WM_SOCKET_CONNECT (wParam carries them as static_cast<WPARAM>(code); read it back
// with static_cast<int>).
enum : int {
    SOCKET_CONNECT_FAILED = -1,         // sent (posted inside the tunnel before its request)
    SOCKET_CONNECT_CREATED = 1,         // socket created and configured
    SOCKET_CONNECT_RESOLVED = 2,        // name resolved; connecting
    SOCKET_CONNECT_CONNECTED = 3,       // sent; lParam = the connected CSocketTCP*
    SOCKET_CONNECT_TUNNEL_REQUEST = 4,  // CONNECT request being sent
    SOCKET_CONNECT_TUNNEL_REPLY = 5,    // request complete; reading the proxy's reply
    SOCKET_CONNECT_TUNNEL_FAILED = 6,   // sent; the request could not be written or the proxy refused
};

class CSocketThreadConnectTCP : public CThread {
public:
    // How long the tunnel waits for the proxy's reply before it gives up (code 6).
    static constexpr int kProxyReplyTimeoutMs = 20000;

    CSocketThreadConnectTCP();
    // Stops the attempt and closes a socket that was never handed over.
    ~CSocketThreadConnectTCP() override;

    // Starts one attempt towards host:port; false while an attempt is running or when the thread could
    // not start.
    bool Connect(HWND window, const std::string& host, int port);

    // The tunnel is used while a proxy is set. Credentials are sent only when both are non-empty.
    void SetProxy(const std::string& host, int port, const std::string& login, const std::string& password);
    void ClearProxy();
    bool UsesProxy() const { return m_bProxy; }

    // Both end an attempt cooperatively first: the socket is shut down, which wakes a blocked connect or
    // read at once, and the body reports nothing more. Only a body that does not end within the usual
    // bound is ended by force.
    bool Stop() override;
    bool Break() override;

protected:
    void Run() override;

private:
    // Reports a code: sent (waits for the window) or posted.
    void Report(int code, bool send, CSocketTCP* socket = nullptr);
    // Opens m_Socket through the proxy; leaves it invalid on failure.
    void Tunnel();
    bool SendText(const std::string& text);
    bool CreateSocket();
    void CloseSocket();
    // Ends a running attempt without force; true when the body has ended.
    bool Abort();
    bool Aborted() const { return m_bAbort.load() || IsStopRequested(); }

    HWND m_hWndNotify = nullptr;
    std::string m_strHost;
    int m_nPort = 0;
    bool m_bProxy = false;
    std::string m_strProxyHost;
    int m_nProxyPort = 0;
    std::string m_strProxyLogin;
    std::string m_strProxyPassword;
    CSocketTCP m_Socket;       // the attempt's socket, until the window takes it over
    std::mutex m_SocketMutex;  // creation and closing of m_Socket against Abort's shutdown
    std::atomic<bool> m_bAbort{false};
};
