// The tunnel against a real HTTP proxy: tinyproxy, started here on a loopback address with Basic
// authentication, tunnelling to a listener of the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "net/ChannelControl.h"
#include "net/ServiceTCP.h"
#include "support/TinyProxy.h"
#include "unit/net/NetTestUtil.h"

using namespace nettest;

namespace {

constexpr int kProxyPort = 8888;
const char* kLogin = "velaphon-user";                       // longer than 9 characters
const char* kPassword = "a-password-longer-than-nineteen";  // longer than 19

class CTinyProxy : public vp::test::CTinyProxy {
public:
    explicit CTinyProxy(const std::string& address)
        : vp::test::CTinyProxy(address, kProxyPort, kLogin, kPassword) {}
};

// The server end: accepts one connection on port 443.
class CTarget {
public:
    explicit CTarget(const std::string& address) {
        EXPECT_TRUE(m_listener.Create() && m_listener.Bind(443, address) && m_listener.Listen(4));
    }
    ~CTarget() { m_listener.Close(); }
    bool Accept(CSocketTCP& out) { return m_listener.WaitReadable(10000) && m_listener.Accept(out); }

private:
    CSocketTCP m_listener;
};

TEST(ProxyTunnel, TinyproxyWithBasicAuthCarriesTheTransport) {
    CTinyProxy proxy("127.0.0.30");
    ASSERT_TRUE(proxy.Ready()) << "tinyproxy did not start";
    CTarget target("127.0.0.31");
    CSocketThreadConnectTCP connector;
    connector.SetProxy("127.0.0.30", kProxyPort, kLogin, kPassword);
    CSocketTCP client, server;
    ASSERT_EQ((std::vector<int>{1, 2, 3, 4, 5}), RunConnect(connector, "127.0.0.31", 443, client));
    ASSERT_TRUE(target.Accept(server));

    // Both transports over the tunnel: a login goes one way, a ping comes back.
    CRecorder clientWindow, serverWindow;
    CServiceTCP clientTransport, serverTransport;
    CChannelControl clientControl, serverControl;
    clientTransport.AddChannel(&clientControl);
    serverTransport.AddChannel(&serverControl);
    clientTransport.SetUserNtv("34600111222");
    ASSERT_TRUE(clientTransport.Open(clientWindow.GetSafeHwnd(), client));
    ASSERT_TRUE(serverTransport.Open(serverWindow.GetSafeHwnd(), server));
    ASSERT_TRUE(clientControl.SendLogin("34600111222", "pw", "127.0.0.1", kClientVersion, 0));
    CByteBuffer got;
    uint32_t tag;
    ASSERT_TRUE(WaitFor([&] { return serverControl.PopReceived(tag, got); }));
    EXPECT_EQ(BuildLogin("34600111222", "pw", "127.0.0.1", kClientVersion, 0),
              Bytes(got.Data(), got.Data() + got.Size()));
    ASSERT_TRUE(serverControl.SendPing());
    ASSERT_TRUE(WaitFor([&] { return clientControl.PopReceived(tag, got); }));
    EXPECT_EQ((Bytes{MSG_PING, 0}), Bytes(got.Data(), got.Data() + got.Size()));
    clientTransport.Stop();
    serverTransport.Stop();
}

TEST(ProxyTunnel, TinyproxyRefusesWrongOrMissingCredentials) {
    CTinyProxy proxy("127.0.0.32");
    ASSERT_TRUE(proxy.Ready()) << "tinyproxy did not start";
    CTarget target("127.0.0.33");
    // The last two would pass if the password were cut to 19 characters.
    const std::string full = kPassword;
    for (const std::string& password :
         {std::string("wrong"), std::string(), full.substr(0, 19), full + "x"}) {
        SCOPED_TRACE(password);
        CSocketThreadConnectTCP connector;
        connector.SetProxy("127.0.0.32", kProxyPort, kLogin, password);
        CSocketTCP client;
        EXPECT_EQ((std::vector<int>{-1, 1, 2, 4, 5, 6}), RunConnect(connector, "127.0.0.33", 443, client));
        EXPECT_FALSE(client.IsValid());
    }
}

}  // namespace
