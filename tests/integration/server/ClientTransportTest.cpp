// The client's own transport (socket, transport threads, control and text channels) against velaphond.
#include <gtest/gtest.h>

#include "integration/server/ServerHarness.h"
#include "net/ChannelControl.h"
#include "net/ChannelText.h"
#include "net/ServiceTCP.h"
#include "net/SocketTCP.h"
#include "platform/Messages.h"
#include "server/AccountStore.h"

namespace {

using namespace servertest;

// One client as the session controller wires it: a window for the transport's messages, the transport,
// the control channel registered at once and the text channel for calls.
class CTransportClient {
public:
    CTransportClient() : m_Window([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; }) {}
    ~CTransportClient() {
        m_Transport.Stop();
        m_Transport.RemoveChannel(&m_Text);
        m_Transport.RemoveChannel(&m_Control);
    }

    bool Open(const std::string& address, uint16_t port, const std::string& ntv) {
        CSocketTCP socket;
        if (!CreateConnectionSocket(socket) || !socket.Connect(address, port))
            return false;
        m_Transport.AddChannel(&m_Control);
        m_Transport.SetUserNtv(ntv);
        return m_Transport.Open(m_Window.GetSafeHwnd(), socket);
    }
    // The next control record, pings answered on the way.
    Bytes NextControl(int timeoutMs = 10000) {
        for (;;) {
            if (!PumpMessagesUntil([&] { return m_Control.ReceivedCount() > 0; }, timeoutMs))
                return {};
            uint32_t tag = 0;
            CByteBuffer buffer;
            m_Control.PopReceived(tag, buffer);
            Bytes record(buffer.Data(), buffer.Data() + buffer.Size());
            if (record == BuildShortRecord(MSG_PING)) {
                m_Control.SendPing();
                continue;
            }
            return record;
        }
    }
    std::string NextText(int timeoutMs = 10000) {
        PumpMessagesUntil([&] { return m_Text.ReceivedCount() > 0; }, timeoutMs);
        return m_Text.ReceiveText();
    }
    void StartMedia() { m_Transport.AddChannel(&m_Text); }

    CChannelControl& Control() { return m_Control; }
    CChannelText& Text() { return m_Text; }

private:
    CFunctionTarget m_Window;
    CServiceTCP m_Transport;
    CChannelControl m_Control;
    CChannelText m_Text;
};

TEST(ClientTransport, LogsInCallsAndChatsThroughTheServer) {
    CScratch scratch;
    std::string db = scratch.File("accounts.db");
    {
        CAccountStore store;
        ASSERT_TRUE(store.Open(db, true));
        for (const char* ntv : {"1001", "1002"}) {
            CUserProfile p;
            p.strNtv = ntv;
            p.strName = std::string("User ") + ntv;
            ASSERT_EQ(store.AddUser(p, ntv, EHashCost::Minimal), CAccountStore::EResult::Done);
        }
    }
    CServerProcess server;
    ASSERT_TRUE(server.Start(db, "127.0.0.72"));

    CTransportClient a, b;
    ASSERT_TRUE(a.Open(server.Address(), server.Port(), "1001"));
    ASSERT_TRUE(b.Open(server.Address(), server.Port(), "1002"));
    for (auto [client, ntv] : {std::pair{&a, "1001"}, std::pair{&b, "1002"}}) {
        client->Control().SendLogin(ntv, ntv, "127.0.0.1", kClientVersion, 0);
        EXPECT_EQ(client->NextControl(), BuildShortRecord(MSG_LOGIN_OK));
        Bytes info = client->NextControl();
        SUserInfo parsed;
        ASSERT_TRUE(ParseUserInfo(info.data(), info.size(), parsed));
        EXPECT_EQ(parsed.displayName, std::string("User ") + ntv);
        EXPECT_EQ(parsed.directoryAddress, ":" + std::to_string(server.HttpPort()) + "/directory");
        EXPECT_EQ(AbsoluteUserInfoAddress(parsed.directoryAddress, server.Address()),
                  "http://" + server.Address() + ":" + std::to_string(server.HttpPort()) + "/directory");
    }
    a.Control().SendContactStatus("1002");
    EXPECT_EQ(a.NextControl(), BuildContactStatus("1002", 'C'));

    // The call set-up in the order the client runs it.
    a.Control().SendCallRequest();
    Bytes id = a.NextControl();
    uint32_t callId = 0;
    ASSERT_TRUE(ParseCallIdRecord(id.data(), id.size(), callId));
    a.Control().SendCallSetup("1001", "User 1001", "1002", callId);
    a.StartMedia();
    Bytes setup = b.NextControl();
    EXPECT_EQ(setup, BuildCallSetup(callId, "1001", "User 1001", "1002"));
    b.Control().SendCallAccept(callId);
    EXPECT_EQ(b.NextControl(), BuildShortRecord(MSG_CALL_ACCEPTED));
    b.StartMedia();
    b.Control().SendCallConnected();
    EXPECT_EQ(a.NextControl(), BuildShortRecord(MSG_CALL_CONNECTED));

    a.Text().SendText("hola");
    EXPECT_EQ(b.NextText(), "hola");
    b.Text().SendText("qu\xe9 tal");
    EXPECT_EQ(a.NextText(), "qu\xe9 tal");

    a.Control().SendHangup();
    a.Control().SendCallEnd();
    EXPECT_EQ(b.NextControl(), BuildShortRecord(MSG_HANGUP));
}

}  // namespace
