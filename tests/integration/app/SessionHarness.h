// Test helpers for the session controller: a real velaphond on port 443 of a loopback address of its own,
// a window that records what the controller asks of it, a controller rig, and a scripted server built
// from the network code for what velaphond never does.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ClientApp.h"
#include "app/SessionController.h"
#include "integration/server/ServerHarness.h"
#include "net/ChannelControl.h"
#include "net/ChannelText.h"
#include "net/ServiceTCP.h"
#include "net/SocketTCP.h"
#include "platform/Messages.h"
#include "platform/StringTable.h"
#include "server/AccountStore.h"
#include "support/AccountSeed.h"
#include "support/Process.h"

namespace sessiontest {

using servertest::CScratch;

constexpr int kPort = 443;

// Dispatches this thread's messages until done() or a generous liveness bound.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 15000) {
    return PumpMessagesUntil(done, timeoutMs);
}
// Dispatches for a while, for checks that something does not happen.
inline void Idle(int ms) {
    PumpMessagesUntil([] { return false; }, ms);
}

using vp::test::SeedDatabase;
using vp::test::SUser;

// Every worktree's copy of these tests uses the same addresses, and another copy may be running: a test
// waits for its address to be free rather than fail, and keeps it while its server is down, so that no
// client of another run reaches a server of this one.
constexpr int kAddressWaitMs = 90000;

// Holds ADDRESS:443 without accepting: connections are refused and nobody else can listen there.
class CAddressHold {
public:
    // Waits for the address to be free.
    bool Take(const std::string& address, int timeoutMs = kAddressWaitMs) {
        Release();
        for (int waited = 0;; waited += 50) {
            m_fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(kPort);
            inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
            if (m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
                return true;
            Release();
            if (waited >= timeoutMs)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    void Release() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    ~CAddressHold() { Release(); }

private:
    int m_fd = -1;
};

// velaphond serving clients on ADDRESS:443 (the port every client uses) and its web pages on a free port
// of the same address. Its log lines are collected as they come.
class CVelaphond {
public:
    CVelaphond(std::string db, std::string address, std::vector<std::string> extra = {})
        : m_db(std::move(db)), m_address(std::move(address)), m_extra(std::move(extra)) {}
    ~CVelaphond() { Kill(); }

    // Starts and waits until it accepts; while another run holds the address, waits for it.
    bool Start() {
        Kill();
        if (!m_bHeld && !m_Hold.Take(m_address))
            return false;
        for (int tries = 0; tries < kAddressWaitMs / 100; ++tries) {
            m_Hold.Release();
            m_bHeld = false;
            if (StartOnce())
                return true;
            // Taken by another run between the release and the server's bind: wait for it again.
            if (!m_Hold.Take(m_address))
                return false;
            m_bHeld = true;
        }
        return false;
    }
    // Ends the process at once, as a crash would, and keeps the address until the next Start.
    void Crash() {
        Kill();
        m_bHeld = m_Hold.Take(m_address, 5000);
    }

    // Ends the process at once.
    void Kill() { m_Server.Kill(); }
    // Waits (without dispatching) for a log line holding the text.
    bool WaitForLog(const std::string& text, int timeoutMs = 15000) {
        return m_Server.WaitForLog(text, timeoutMs);
    }
    // Whether a line holding the text has been logged (no waiting).
    bool Logged(const std::string& text) { return m_Server.Logged(text); }
    uint16_t HttpPort() const { return m_Server.HttpPort(); }
    const std::string& Address() const { return m_address; }

private:
    bool StartOnce() { return m_Server.Start(m_db, m_address, m_extra, kPort); }

    std::string m_db, m_address;
    std::vector<std::string> m_extra;
    servertest::CServerProcess m_Server;
    CAddressHold m_Hold;
    bool m_bHeld = false;
};

// velaphond on ADDRESS:443 over a fresh database holding the users, in a scratch folder of the test.
struct SSeededServer {
    SSeededServer(const std::string& address, const std::vector<SUser>& users,
                  std::vector<std::string> extra = {})
        : address(address), server(scratch.File("accounts.db"), address, std::move(extra)) {
        EXPECT_TRUE(SeedDatabase(scratch.File("accounts.db"), users));
        started = server.Start();
    }
    std::string address;
    CScratch scratch;
    CVelaphond server;
    bool started = false;
};

// What the controller asked of its window, and the answers it gets.
class CRecordingWindow : public ISessionWindow {
public:
    void OnSessionState(char state) override { states.push_back(state); }
    void OnUserInfo(const SSessionUserInfo& i) override {
        info = i;
        ++userInfos;
    }
    bool ShowNotice(UINT id, const std::string& text, bool okOnly) override {
        notices.push_back(id);
        noticeTexts.push_back(text);
        noticeOkOnly.push_back(okOnly);
        // A notice is modal: messages keep flowing while the user reads it.
        Idle(noticeMs);
        bool ok = answers.empty() ? true : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return ok;
    }
    void PlaySound(UINT resource) override { sounds.push_back(resource); }
    void ShowPopup(const std::string& text) override { popups.push_back(text); }
    void CloseWindow() override { ++closes; }
    void OnConnecting(int attempt) override { attempts.push_back(attempt); }
    void OnLoginError(uint8_t reason) override { loginErrors.push_back(reason); }
    void OnNewVersion() override { ++newVersions; }
    void OnContactAdded(const SContactRecord& c) override { added.push_back(c.m_strNtv); }
    void OnContactStatus(const SContactRecord& c, char) override {
        statusChanges.push_back(c.m_strNtv + ":" + std::string(1, c.m_cStatus));
    }

    int Count(const std::vector<UINT>& v, UINT id) const {
        int n = 0;
        for (UINT x : v)
            n += x == id ? 1 : 0;
        return n;
    }

    std::vector<char> states;
    SSessionUserInfo info;
    int userInfos = 0;
    std::vector<UINT> notices;
    std::vector<std::string> noticeTexts;
    std::vector<bool> noticeOkOnly;
    std::deque<bool> answers;  // OK unless told otherwise
    int noticeMs = 50;
    std::vector<UINT> sounds;
    std::vector<std::string> popups;
    int closes = 0;
    std::vector<int> attempts;
    std::vector<uint8_t> loginErrors;
    int newVersions = 0;
    std::vector<std::string> added;
    std::vector<std::string> statusChanges;
};

// One client: the application object's data, a recording window and the controller.
struct SClient {
    explicit SClient(const std::string& host, const std::string& ntv, const std::string& password) {
        SetStringLanguage(LANG_ENGLISH_US);
        app.Settings().SetUser(ntv, password);
        app.Settings().SetServer(host, kPort);
        session = std::make_unique<CSessionController>(app, window);
    }
    ~SClient() { session.reset(); }
    bool WaitState(char state, int timeoutMs = 15000) {
        return WaitFor([&] { return session->State() == state; }, timeoutMs);
    }

    CClientApp app;
    CRecordingWindow window;
    std::unique_ptr<CSessionController> session;
};

// A server that says exactly what a test tells it: accepts the controller's connection on ADDRESS:443
// and speaks control records through the network code's own transport.
class CScriptedServer {
public:
    explicit CScriptedServer(const std::string& address) {
        for (int waited = 0; !m_bListening && waited < kAddressWaitMs; waited += 50) {
            m_Listener.Close();
            m_bListening = m_Listener.Create() && m_Listener.Bind(kPort, address) && m_Listener.Listen(4);
            if (!m_bListening)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~CScriptedServer() {
        m_Transport.Stop();
        m_Transport.RemoveChannel(&m_Control);
        m_Transport.RemoveChannel(&m_Text);
        m_Listener.Close();
    }
    bool Listening() const { return m_bListening; }

    // Accepts the next connection (dispatching meanwhile, so the controller can connect).
    bool Accept(int timeoutMs = 15000) {
        m_Transport.Stop();
        m_Control.Reset();
        if (!WaitFor([&] { return m_Listener.WaitReadable(0); }, timeoutMs))
            return false;
        CSocketTCP socket;
        if (!m_Listener.Accept(socket))
            return false;
        m_Transport.AddChannel(&m_Control);
        m_Transport.AddChannel(&m_Text);
        return m_Transport.Open(m_Window.GetSafeHwnd(), socket);
    }
    // Closes the connection, as a server that goes away.
    void Drop() { m_Transport.Stop(); }
    // The next record the client sent, within the time; empty when none.
    Bytes Next(int timeoutMs = 15000) {
        if (!WaitFor([&] { return m_Control.ReceivedCount() > 0; }, timeoutMs))
            return {};
        uint32_t tag = 0;
        CByteBuffer b;
        m_Control.PopReceived(tag, b);
        return Bytes(b.Data(), b.Data() + b.Size());
    }
    // Records until one with the code arrives; the others are kept in `skipped`.
    Bytes NextWithCode(uint8_t code, int timeoutMs = 15000) {
        for (;;) {
            Bytes r = Next(timeoutMs);
            if (r.empty() || r[0] == code)
                return r;
            skipped.push_back(r);
        }
    }
    bool Send(const Bytes& record) { return m_Control.SendRecord(record); }
    CChannelControl& Control() { return m_Control; }
    CChannelText& Text() { return m_Text; }

    std::vector<Bytes> skipped;

private:
    CSocketTCP m_Listener;
    bool m_bListening = false;
    CFunctionTarget m_Window{[](UINT, WPARAM, LPARAM) -> LRESULT { return 0; }};
    CServiceTCP m_Transport;
    CChannelControl m_Control;
    CChannelText m_Text;
};

// What the controller hands to the call logic.
class CRecordingHooks : public ISessionCallHooks {
public:
    void OnCallRecord(const uint8_t* data, size_t size) override { calls.emplace_back(data, data + size); }
    void OnVideoRecord(const uint8_t* data, size_t size) override { videos.emplace_back(data, data + size); }
    void OnChannelReceived(uint8_t channel) override { channels.push_back(channel); }
    void OnCallTimeout() override { ++timeouts; }
    void PlaceCall(const std::string& ntv) override { placed.push_back(ntv); }
    void OnConnectionLost() override { ++lost; }

    std::vector<Bytes> calls, videos;
    std::vector<uint8_t> channels;
    int timeouts = 0;
    std::vector<std::string> placed;
    int lost = 0;
};

}  // namespace sessiontest
