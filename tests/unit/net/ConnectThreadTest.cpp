#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "NetTestUtil.h"
#include "net/Base64.h"
#include "net/ProxyReply.h"
#include "net/SocketError.h"
#include "net/SocketThreadConnectTCP.h"

using namespace nettest;

namespace {

using Codes = std::vector<int>;

TEST(Base64, PaddingAndUnsignedBytes) {
    EXPECT_EQ("", Base64Encode(""));
    EXPECT_EQ("Zg==", Base64Encode("f"));
    EXPECT_EQ("Zm8=", Base64Encode("fo"));
    EXPECT_EQ("Zm9v", Base64Encode("foo"));
    EXPECT_EQ("Zm9vYg==", Base64Encode("foob"));
    EXPECT_EQ("Zm9vYmE=", Base64Encode("fooba"));
    EXPECT_EQ("Zm9vYmFy", Base64Encode("foobar"));
    EXPECT_EQ("/+8=", Base64Encode("\xff\xef"));
    EXPECT_EQ("dXNlcjpwYXNz", Base64Encode("user:pass"));
}

TEST(SocketError, WinsockNumbers) {
    EXPECT_EQ(0, WinsockErrorFromErrno(0));
    EXPECT_EQ(10035, WinsockErrorFromErrno(EWOULDBLOCK));
    EXPECT_EQ(10054, WinsockErrorFromErrno(ECONNRESET));
    EXPECT_EQ(10054, WinsockErrorFromErrno(EPIPE));
    EXPECT_EQ(10061, WinsockErrorFromErrno(ECONNREFUSED));
    EXPECT_EQ(10060, WinsockErrorFromErrno(ETIMEDOUT));
    EXPECT_EQ(10057, WinsockErrorFromErrno(ENOTCONN));
    EXPECT_EQ(10053, WinsockErrorFromErrno(ECONNABORTED));
    EXPECT_EQ(10022, WinsockErrorFromErrno(EDOM));  // no counterpart: still a failure
}

TEST(Resolve, DottedAddressesAsTheyAreEveryOtherNameLookedUp) {
    EXPECT_EQ("127.0.0.25", Resolve("127.0.0.25"));
    EXPECT_EQ("127.0.0.1", Resolve("localhost"));
    // Texts that begin with a digit but are not dotted addresses are looked up, not used as they stand.
    EXPECT_EQ("127.0.0.1", Resolve("127.1"));
    EXPECT_EQ("127.0.0.1", Resolve("2130706433"));
    EXPECT_EQ("", Resolve("9no..such..host"));  // malformed: fails without asking any name server
    EXPECT_EQ("", Resolve(""));
}

TEST(ProxyReply, StatusAndReading) {
    EXPECT_EQ(200, ProxyReplyStatus("HTTP/1.0 200 Connection established\r\n\r\n"));
    EXPECT_EQ(407, ProxyReplyStatus("HTTP/1.1 407 Proxy Authentication Required\r\n"));
    EXPECT_EQ(-1, ProxyReplyStatus("HTTP/1.0 OK"));
    EXPECT_EQ(-1, ProxyReplyStatus("short"));

    auto read = [](const std::string& bytes, bool failAtEnd = false) {
        size_t pos = 0;
        std::string reply;
        const EProxyReply r = ReadProxyReply(
            [&](uint8_t& b) {
                if (pos == bytes.size())
                    return failAtEnd ? -1 : 0;
                b = static_cast<uint8_t>(bytes[pos++]);
                return 1;
            },
            reply);
        return std::make_pair(r, pos);
    };
    const std::string ok = "HTTP/1.0 200 Connection established\r\nVia: x\r\n\r\n";
    EXPECT_EQ(std::make_pair(EProxyReply::Accepted, ok.size()),
              read(ok + "tunnel bytes"));  // nothing more read
    EXPECT_EQ(EProxyReply::Refused, read("HTTP/1.0 407 No\r\n\r\n").first);
    EXPECT_EQ(EProxyReply::Refused, read("HTTP/1.0 2000 X\r\n\r\n").first);
    EXPECT_EQ(EProxyReply::Empty, read("").first);
    EXPECT_EQ(EProxyReply::Failed, read("HTTP/1.0 200 OK\r\n").first);  // closed before the empty line
    EXPECT_EQ(EProxyReply::Failed, read("HTTP/1.0 200 OK\r\n", true).first);
    EXPECT_EQ(std::make_pair(EProxyReply::Failed, size_t{1024}), read(std::string(1500, 'a') + "\r\n\r\n"));
}

// A proxy played by the test: accepts one connection, reads the request up to its empty line, answers
// with a scripted reply and then either closes or relays nothing but an echo of what follows.
class CScriptedProxy {
public:
    CScriptedProxy(const std::string& address, std::string reply, bool closeAfter)
        : m_reply(std::move(reply)), m_bClose(closeAfter) {
        EXPECT_TRUE(m_listener.Create() && m_listener.Bind(0, address) && m_listener.Listen(1));
        m_thread = std::thread([this] { Serve(); });
    }
    ~CScriptedProxy() {
        m_listener.Shutdown(SHUT_RDWR);
        m_client.Shutdown(SHUT_RDWR);
        m_thread.join();
        m_listener.Close();
        m_client.Close();
    }
    int Port() const { return m_listener.GetLocalPort(); }
    std::string Request() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_request;
    }

private:
    void Serve() {
        if (!m_listener.Accept(m_client))
            return;
        std::string request;
        char c;
        while (request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n") != 0) {
            if (m_client.Receive(&c, 1) != 1)
                break;
            request += c;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_request = request;
        }
        if (!m_reply.empty())
            SendRaw(m_client, std::vector<uint8_t>(m_reply.begin(), m_reply.end()));
        if (m_bClose) {
            m_client.Shutdown(SHUT_RDWR);
            return;
        }
        char buf[256];
        int n;
        while ((n = m_client.Receive(buf, sizeof buf)) > 0)
            m_client.Send(buf, n);
    }

    CSocketTCP m_listener;
    CSocketTCP m_client;
    std::string m_reply;
    bool m_bClose;
    std::mutex m_mutex;
    std::string m_request;
    std::thread m_thread;
};

TEST(ConnectThread, DirectConnectionIsHandedOver) {
    CSocketTCP listener, accepted, taken;
    ASSERT_TRUE(listener.Create() && listener.Bind(443, "127.0.0.20") && listener.Listen(1));
    CSocketThreadConnectTCP connector;
    EXPECT_EQ((Codes{1, 2, 3}), RunConnect(connector, "127.0.0.20", 443, taken));
    ASSERT_TRUE(taken.IsValid());
    ASSERT_TRUE(listener.Accept(accepted));
    EXPECT_EQ(taken.GetLocalPort(), accepted.GetPeerPort());
    // A second attempt never closes the socket handed over by the first.
    CSocketTCP second;
    EXPECT_EQ((Codes{1, 2, 3}), RunConnect(connector, "127.0.0.20", 443, second));
    EXPECT_EQ(5, taken.Send("alive", 5));
    char buf[5];
    EXPECT_EQ(5, accepted.ReceiveAll(buf, 5));
    for (auto* s : {&listener, &accepted, &taken, &second})
        s->Close();
}

TEST(ConnectThread, DirectFailures) {
    CSocketThreadConnectTCP connector;
    CSocketTCP taken;
    // Nothing listens there: refused after resolving.
    EXPECT_EQ((Codes{-1, 1, 2}), RunConnect(connector, "127.0.0.21", 443, taken));
    // A name that does not resolve: no connection attempt at all.
    EXPECT_EQ((Codes{-1, 1}), RunConnect(connector, "no..such..host", 443, taken));
    EXPECT_FALSE(taken.IsValid());
}

TEST(ConnectThread, TunnelRequestCarriesTheWholeCredentials) {
    CSocketTCP target;
    ASSERT_TRUE(target.Create() && target.Bind(443, "127.0.0.22") && target.Listen(1));
    CScriptedProxy proxy("127.0.0.23", "HTTP/1.0 200 Connection established\r\n\r\n", false);
    CSocketThreadConnectTCP connector;
    const std::string login = "longlogin123", password = "a-password-of-30-characters!!!";
    connector.SetProxy("127.0.0.23", proxy.Port(), login, password);
    CSocketTCP taken;
    EXPECT_EQ((Codes{1, 2, 3, 4, 5}), RunConnect(connector, "127.0.0.22", 443, taken));
    EXPECT_EQ(
        "CONNECT 127.0.0.22:443 HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\nPragma: No-Cache\r\n"
        "Proxy-Authorization: Basic " +
            Base64Encode(login + ":" + password) + "\r\n\r\n",
        proxy.Request());
    ASSERT_TRUE(taken.IsValid());
    // The socket is the tunnel: bytes travel through the proxy (an echo here).
    ASSERT_EQ(4, taken.Send("ping", 4));
    char buf[4];
    ASSERT_EQ(4, taken.ReceiveAll(buf, 4));
    EXPECT_EQ("ping", std::string(buf, 4));
    taken.Close();
    target.Close();
}

TEST(ConnectThread, TunnelFailures) {
    struct SCase {
        const char* name;
        std::string reply;
        std::string password;
        Codes expected;
    };
    const SCase cases[] = {
        {"refused", "HTTP/1.0 407 Proxy Authentication Required\r\n\r\n", "pw", {-1, 1, 2, 4, 5, 6}},
        {"no empty line within 1024 bytes", std::string(1100, 'x'), "pw", {-1, 1, 2, 4, 5, 6}},
        {"closes without a word", "", "pw", {-1, 1, 2, 4, 5}},
        {"closes inside the header", "HTTP/1.0 200 OK\r\n", "pw", {-1, 1, 2, 4, 5, 6}},
        {"no authorisation without a password", "HTTP/1.0 200 OK\r\n\r\n", "", {1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedProxy proxy("127.0.0.24", c.reply, true);
        CSocketThreadConnectTCP connector;
        connector.SetProxy("127.0.0.24", proxy.Port(), "user", c.password);
        CSocketTCP taken;
        EXPECT_EQ(c.expected, RunConnect(connector, "127.0.0.22", 443, taken));
        EXPECT_EQ(c.password.empty(), proxy.Request().find("Proxy-Authorization") == std::string::npos);
        taken.Close();
    }
    // The proxy itself unreachable or unresolvable: the failure is posted, then the final one sent.
    CSocketThreadConnectTCP connector;
    CSocketTCP taken;
    connector.SetProxy("127.0.0.24", 1, "user", "pw");
    EXPECT_EQ((Codes{-1, -1, 1, 2}), RunConnect(connector, "127.0.0.22", 443, taken));
    connector.SetProxy("no..such..proxy", 8080, "user", "pw");
    EXPECT_EQ((Codes{-1, -1, 1}), RunConnect(connector, "127.0.0.22", 443, taken));
}

TEST(ConnectThread, RefusesASecondAttemptWhileOneRunsAndBreaks) {
    // A proxy that never answers keeps the attempt waiting.
    CSocketTCP silent;
    ASSERT_TRUE(silent.Create() && silent.Bind(0, "127.0.0.26") && silent.Listen(1));
    CRecorder window;
    CSocketThreadConnectTCP connector;
    connector.SetProxy("127.0.0.26", silent.GetLocalPort(), "", "");
    ASSERT_TRUE(connector.Connect(window.GetSafeHwnd(), "127.0.0.22", 443));
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& m : window.seen) {
            if (m.message == WM_SOCKET_CONNECT && m.wParam == SOCKET_CONNECT_TUNNEL_REPLY)
                return true;
        }
        return false;
    }));
    EXPECT_FALSE(connector.Connect(window.GetSafeHwnd(), "127.0.0.22", 443));
    const size_t before = window.seen.size();
    CTraceCapture traces;
    EXPECT_TRUE(connector.Break());
    EXPECT_EQ(0, traces.Count("Break de Thread"));  // ended without force
    EXPECT_FALSE(connector.HasThread());
    DispatchPendingMessages();
    EXPECT_EQ(before, window.seen.size());  // a broken attempt reports nothing more
    // The connector is ready for the next attempt.
    CSocketTCP taken;
    connector.ClearProxy();
    EXPECT_EQ((Codes{-1, 1, 2}), RunConnect(connector, "127.0.0.21", 443, taken));
    silent.Close();
}

// The window stops the attempt while the connection's report already waits for it: the report is taken
// back unseen, the thread ends by itself at once, and the socket stays with the connector.
TEST(ConnectThread, AStopWhileTheReportWaitsWithdrawsIt) {
    CSocketTCP listener, accepted;
    ASSERT_TRUE(listener.Create() && listener.Bind(443, "127.0.0.27") && listener.Listen(1));
    CRecorder window;
    CSocketThreadConnectTCP connector;
    ASSERT_TRUE(connector.Connect(window.GetSafeHwnd(), "127.0.0.27", 443));
    // Only the first report ("created") is answered; from then on this thread dispatches nothing, so the
    // report of code 3 is left waiting for it.
    ASSERT_TRUE(WaitFor([&] {
        return !window.seen.empty() && window.seen.back().wParam == SOCKET_CONNECT_CREATED;
    }));
    ASSERT_TRUE(listener.Accept(accepted));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    CTraceCapture traces;
    EXPECT_TRUE(connector.Stop());
    EXPECT_EQ(0, traces.Count("Break de Thread"));
    DispatchPendingMessages();
    for (const auto& m : window.seen)
        EXPECT_FALSE(m.message == WM_SOCKET_CONNECT && m.wParam == SOCKET_CONNECT_CONNECTED)
            << "stale report";
    listener.Close();
    accepted.Close();
}

}  // namespace
