// The running server with several real connections at once: its sockets, queues, read pauses and
// throttling, which the switchboard harness does not reach. One server runs in this process for the
// whole campaign, on its own thread; each input opens up to four loopback connections and plays a
// script on them: raw bytes, frames of up to 1 MiB on any channel, reading or not reading what the
// server sends (a slow reader fills its queue), closing, resetting and reconnecting. Whatever the input
// did, a new connection must then still be able to log in.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "net/Frame.h"
#include "net/Protocol.h"
#include "server/AccountStore.h"
#include "server/Server.h"
#include "server/ServerLog.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kConnections = 4;

// The server and the thread that runs its loop, stopped and joined when the process exits: a loop still
// running while the process's statics are destroyed would use them after their end.
struct SRunningServer {
    CServer* pServer = nullptr;
    std::thread thread;
};
SRunningServer g_Running;

void StopServer() {
    g_Running.pServer->Stop();
    g_Running.thread.join();
    delete g_Running.pServer;
    g_Running.pServer = nullptr;
}

uint16_t ServerPort() {
    static uint16_t port = [] {
        SetServerLogSink([](const std::string&) {});
        const std::string db = (std::filesystem::temp_directory_path() /
                                ("vp_fuzz_server_io_" + std::to_string(getpid()) + ".db"))
                                   .string();
        std::filesystem::remove(db);
        {
            CAccountStore store;
            if (!store.Open(db, true))
                std::abort();
            for (int i = 1; i <= kConnections + 1; ++i) {
                CUserProfile p;
                p.strNtv = std::to_string(1000 + i);
                p.strName = "user " + p.strNtv;
                store.AddUser(p, p.strNtv, EHashCost::Minimal);
            }
        }
        CServerOptions options;
        options.eCommand = ECommand::Serve;
        options.strDbPath = db;
        options.listen = {"127.0.0.185", 0};
        options.http = {"127.0.0.185", 0};
        options.nPingIntervalMs = 200;
        auto* server = new CServer(options);
        std::string error;
        if (!server->Start(error))
            std::abort();
        g_Running.pServer = server;
        g_Running.thread = std::thread([server] { server->Run(); });
        return server->Port();
    }();
    return port;
}

Bytes Frame(uint8_t channel, const Bytes& payload) {
    Bytes frame(kFrameHeaderSize + payload.size());
    BuildFrameHeader(frame.data(), channel, static_cast<uint32_t>(payload.size()), "", 0, false);
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

// One client connection, non-blocking: what the socket does not take at once is dropped (the stream
// is then cut short, as a client that dies mid-frame would leave it).
class CConnection {
public:
    ~CConnection() { Close(true); }
    bool Open() {
        Close(true);
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(ServerPort());
        inet_pton(AF_INET, "127.0.0.185", &sa.sin_addr);
        int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int small = 16384;  // a reader that stops reading soon leaves the server holding its frames
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            Close(true);
            return false;
        }
        return true;
    }
    void Close(bool bReset) {
        if (m_fd < 0)
            return;
        if (bReset) {
            linger l{1, 0};
            setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        close(m_fd);
        m_fd = -1;
        m_In.clear();
    }
    bool IsOpen() const { return m_fd >= 0; }
    void Write(const uint8_t* p, size_t n) {
        if (m_fd >= 0 && n > 0)
            send(m_fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    void Write(const Bytes& b) { Write(b.data(), b.size()); }
    // Reads what has arrived, waiting at most timeoutMs for the first bytes.
    void Drain(int timeoutMs) {
        if (m_fd < 0)
            return;
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return;
        uint8_t buffer[65536];
        for (;;) {
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return;
            if (m_In.size() < (1u << 20))
                m_In.insert(m_In.end(), buffer, buffer + n);
        }
    }
    // Waits for a control record starting with `code`; false after timeoutMs.
    bool WaitControl(uint8_t code, int timeoutMs, Bytes* record = nullptr) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            SFrameHeader h;
            while (m_In.size() >= kFrameHeaderSize && ParseFrameHeader(m_In.data(), m_In.size(), h) &&
                   m_In.size() >= kFrameHeaderSize + h.length) {
                Bytes payload(m_In.begin() + kFrameHeaderSize, m_In.begin() + kFrameHeaderSize + h.length);
                m_In.erase(m_In.begin(), m_In.begin() + kFrameHeaderSize + h.length);
                if (h.channel == kChannelControl && !payload.empty() && payload[0] == code) {
                    if (record != nullptr)
                        *record = std::move(payload);
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || m_fd < 0)
                return false;
            Drain(static_cast<int>(left.count()));
        }
    }
    bool Login(const std::string& ntv) {
        Write(Frame(kChannelControl, BuildLogin(ntv, ntv, "127.0.0.1", "0200003", 0)));
        return WaitControl(MSG_LOGIN_OK, 5000);
    }

private:
    int m_fd = -1;
    Bytes m_In;
};

}  // namespace

// Each run talks to a server over real sockets: the replay in the test suite takes few generated inputs.
extern "C" int VpReplayGeneratedInputs() {
    return 40;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    size = std::min<size_t>(size, 1024);  // a longer script finds nothing a shorter one cannot
    // A first login makes everything the server's thread uses, the statics the libraries make on first use
    // included; the stop at exit is registered after them, so it runs before they are destroyed.
    static const bool ready = [] {
        CConnection probe;
        if (!probe.Open() || !probe.Login(std::to_string(1000 + kConnections + 1)))
            std::abort();
        std::atexit(StopServer);
        return true;
    }();
    (void)ready;
    CConnection conns[kConnections];
    const uint8_t setup = data[0];
    for (int i = 0; i < kConnections; ++i) {
        if (!conns[i].Open())
            std::abort();
    }
    // With the low bits set, the connections start logged in, and the first two in a call.
    if (setup & 1) {
        for (int i = 0; i < kConnections; ++i)
            conns[i].Login(std::to_string(1001 + i));
    }
    if ((setup & 3) == 3) {
        Bytes id;
        conns[0].Write(Frame(kChannelControl, BuildCallIdRecord(MSG_CALL_REQUEST, 0)));
        uint32_t callId = 0;
        if (conns[0].WaitControl(MSG_CALL_ID, 2000, &id) && ParseCallIdRecord(id.data(), id.size(), callId)) {
            conns[0].Write(Frame(kChannelControl, BuildCallSetup(callId, "1001", "user 1001", "1002")));
            if (conns[1].WaitControl(MSG_CALL_SETUP, 2000))
                conns[1].Write(Frame(kChannelControl, BuildCallIdRecord(MSG_CALL_ACCEPT, callId)));
        }
    }

    size_t at = 1;
    while (at + 2 <= size) {
        const uint8_t op = data[at];
        const uint8_t arg = data[at + 1];
        at += 2;
        CConnection& c = conns[op % kConnections];
        switch ((op / kConnections) % 8) {
            case 0:
            case 1: {  // bytes from the input, as they are
                const size_t n = std::min<size_t>(arg, size - at);
                c.Write(data + at, n);
                at += n;
                break;
            }
            case 2:
            case 3: {  // a frame on a channel, its payload from the input, repeated up to 1 MiB
                const uint8_t channel = (op & 0x80)   ? kChannelText
                                        : (op & 0x40) ? kChannelAudio
                                                      : kChannelVideo;
                const size_t piece = std::min<size_t>(arg % 64, size - at);
                const size_t length = std::min<size_t>(static_cast<size_t>(arg) * arg * 17, kMaxFramePayload);
                Bytes payload(length);
                for (size_t i = 0; i < length && piece > 0; ++i)
                    payload[i] = data[at + i % piece];
                at += piece;
                c.Write(Frame(channel, payload));
                break;
            }
            case 4:  // a chat line the switchboard relays
                c.Write(Frame(kChannelText, BuildText(std::string(static_cast<size_t>(arg) * 64, 'x'))));
                break;
            case 5:  // read what the server sent
                c.Drain(arg % 8);
                break;
            case 6:  // close, reset, or connect again
                if (arg % 3 == 2)
                    c.Open();
                else
                    c.Close(arg % 3 == 1);
                break;
            default:  // let the server catch up
                std::this_thread::sleep_for(std::chrono::microseconds(arg * 20));
        }
    }
    for (CConnection& c : conns)
        c.Close(true);

    // The server still serves newcomers.
    CConnection probe;
    if (!probe.Open() || !probe.Login(std::to_string(1000 + kConnections + 1)))
        std::abort();
    return 0;
}
