#include "server/Server.h"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <deque>
#include <random>

#include "server/FrameSplitter.h"
#include "server/ServerLog.h"

namespace {

constexpr size_t kReadChunk = 64 * 1024;
// Frames written to the socket in one gathered write.
constexpr size_t kMaxGather = 64;

std::string PeerText(const asio::ip::tcp::socket& socket) {
    asio::error_code ec;
    auto ep = socket.remote_endpoint(ec);
    if (ec)
        return "?";
    CEndpoint e{ep.address().to_string(), ep.port()};
    return e.ToString();
}

// Lets thousands of clients connect: the soft limit of open files is often only 1024.
void RaiseFileLimit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

}  // namespace

// One client's socket: reads whole frames for the switchboard and writes its queue of frames in order.
class CClientConnection : public std::enable_shared_from_this<CClientConnection> {
public:
    CClientConnection(CServer& server, ConnId id, asio::ip::tcp::socket socket)
        : m_Server(server), m_nId(id), m_Socket(std::move(socket)) {}

    void Begin() { WaitReadable(); }

    void Send(Bytes frame, bool bDroppable) {
        if (m_bClosed)
            return;
        if (bDroppable && m_nQueuedBytes > kMediaQueueLimit) {
            if (m_nDropped++ % 1000 == 0) {
                ServerLog("connection %llu reads too slowly: media dropped (%llu so far)",
                          static_cast<unsigned long long>(m_nId),
                          static_cast<unsigned long long>(m_nDropped));
            }
            return;
        }
        m_nQueuedBytes += frame.size();
        m_Queue.push_back(std::move(frame));
        if (m_nQueuedBytes > kHardQueueLimit) {
            // Called from inside the switchboard: end the connection once that call is over.
            m_bClosed = true;
            asio::post(m_Server.m_Io, [self = shared_from_this()] {
                self->m_Server.ConnectionEnded(self->m_nId, "reads too slowly");
            });
            return;
        }
        Write();
    }

    void Close() {
        m_bClosed = true;
        ReleaseThrottled();
        asio::error_code ec;
        m_Socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
        m_Socket.close(ec);
    }

    void SetLoginPause(bool bPause) {
        m_bLoginPause = bPause;
        if (!bPause) {
            // Resumed from inside the switchboard: take the waiting frames once that call is over.
            asio::post(m_Server.m_Io, [self = shared_from_this()] {
                self->TakeFrames();
                self->WaitReadable();
            });
        }
    }

    const asio::ip::tcp::socket& Socket() const { return m_Socket; }
    size_t QueuedBytes() const { return m_nQueuedBytes; }

    // `source` sent this connection more than it reads: `source` is not read again until this queue
    // is back under the read limit (or this connection ends), so a flood of chat slows its sender
    // instead of pushing the reader past the hard limit.
    void Throttle(const std::shared_ptr<CClientConnection>& source) {
        if (source->m_bThrottled || source.get() == this)
            return;
        source->m_bThrottled = true;
        m_Throttled.push_back(source);
    }

private:
    bool Reading() const {
        return !m_bClosed && !m_bLoginPause && !m_bThrottled && m_nQueuedBytes <= kReadPauseLimit;
    }

    void ReleaseThrottled() {
        std::vector<std::weak_ptr<CClientConnection>> throttled;
        throttled.swap(m_Throttled);
        for (auto& weak : throttled) {
            if (auto source = weak.lock()) {
                source->m_bThrottled = false;
                asio::post(m_Server.m_Io, [source] {
                    source->TakeFrames();
                    source->WaitReadable();
                });
            }
        }
    }

    void WaitReadable() {
        if (!Reading() || m_bWaiting)
            return;
        m_bWaiting = true;
        m_Socket.async_wait(asio::ip::tcp::socket::wait_read,
                            [self = shared_from_this()](asio::error_code ec) {
                                self->m_bWaiting = false;
                                if (self->m_bClosed)
                                    return;
                                if (ec) {
                                    self->End("wait failed");
                                    return;
                                }
                                self->ReadAvailable();
                            });
    }

    void ReadAvailable() {
        std::vector<uint8_t>& buffer = m_Server.m_ReadBuffer;
        asio::error_code ec;
        size_t n = m_Socket.read_some(asio::buffer(buffer), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitReadable();
            return;
        }
        if (ec) {
            End(ec == asio::error::eof ? "closed by peer" : "read failed");
            return;
        }
        m_Splitter.Append(buffer.data(), n);
        TakeFrames();
        WaitReadable();
    }

    void TakeFrames() {
        SFrameHeader header;
        Bytes frame;
        while (!m_bClosed && !m_bLoginPause && !m_bThrottled) {
            CFrameSplitter::EResult r =
                m_Splitter.Next(header, frame, m_Server.m_pSwitchboard->MaxPayloadFor(m_nId));
            if (r == CFrameSplitter::EResult::NeedMore)
                return;
            if (r == CFrameSplitter::EResult::Corrupt) {
                End("corrupt frame");
                return;
            }
            m_Server.m_nSource = m_nId;
            m_Server.m_pSwitchboard->OnFrame(m_nId, header, std::move(frame), m_Server.NowMs());
            m_Server.m_nSource = 0;
        }
    }

    void Write() {
        if (m_bWriting || m_Queue.empty() || m_bClosed)
            return;
        m_bWriting = true;
        m_nInFlight = std::min(m_Queue.size(), kMaxGather);
        m_Gather.clear();
        for (size_t i = 0; i < m_nInFlight; ++i)
            m_Gather.push_back(asio::buffer(m_Queue[i]));
        asio::async_write(m_Socket, m_Gather, [self = shared_from_this()](asio::error_code ec, size_t) {
            self->m_bWriting = false;
            if (self->m_bClosed)
                return;
            if (ec) {
                self->End("write failed");
                return;
            }
            for (size_t i = 0; i < self->m_nInFlight; ++i) {
                self->m_nQueuedBytes -= self->m_Queue.front().size();
                self->m_Queue.pop_front();
            }
            self->m_nInFlight = 0;
            if (self->m_nQueuedBytes <= kReadPauseLimit)
                self->ReleaseThrottled();
            self->Write();
            self->WaitReadable();  // the queue may have fallen below the read limit again
        });
    }

    void End(const char* reason) {
        if (m_bClosed)
            return;
        m_Server.ConnectionEnded(m_nId, reason);
    }

    CServer& m_Server;
    ConnId m_nId;
    asio::ip::tcp::socket m_Socket;
    CFrameSplitter m_Splitter;
    std::deque<Bytes> m_Queue;
    std::vector<asio::const_buffer> m_Gather;
    size_t m_nInFlight = 0;
    size_t m_nQueuedBytes = 0;
    uint64_t m_nDropped = 0;
    bool m_bWriting = false;
    bool m_bWaiting = false;
    bool m_bLoginPause = false;
    bool m_bThrottled = false;  // its reading waits for a peer's queue to shrink
    bool m_bClosed = false;
    std::vector<std::weak_ptr<CClientConnection>> m_Throttled;  // senders waiting for this queue
};

CServer::CServer(const CServerOptions& options)
    : m_Options(options),
      // A private database exists only in its one connection; any other is opened again for the pages.
      m_Http(options.strDbPath == ":memory:" ? static_cast<IAccountStore&>(m_Store) : m_DirectoryStore,
             [this](const std::string& ntv) {
                 char letter = m_pSwitchboard ? m_pSwitchboard->Presence().Get(ntv) : 'D';
                 return letter == 'D' && m_pCluster ? m_pCluster->LetterNow(ntv) : letter;
             }),
      m_Acceptor(m_Io),
      m_Tick(m_Io),
      m_AcceptRetry(m_Io),
      m_Signals(m_Io),
      m_ReadBuffer(kReadChunk) {}

CServer::~CServer() {
    Shutdown();
    m_Checks.join();
    StopCluster();
}

uint64_t CServer::NowMs() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool CServer::Start(std::string& error, bool bHandleSignals) {
    if (bHandleSignals) {
        // Before the "listening" line: whoever waits for it may signal at once.
        m_Signals.add(SIGINT);
        m_Signals.add(SIGTERM);
        m_Signals.async_wait([this](asio::error_code ec, int signal) {
            if (ec)
                return;
            ServerLog("stopping on signal %d", signal);
            Shutdown();
        });
    }
    if (!m_Store.Open(m_Options.strDbPath, true)) {
        error = "cannot open " + DisplayLocation(m_Options.strDbPath) + ": " + m_Store.LastError();
        return false;
    }
    if (m_Options.strDbPath != ":memory:" && !m_DirectoryStore.Open(m_Options.strDbPath, EStoreOpen::Use)) {
        error = "cannot open " + DisplayLocation(m_Options.strDbPath) + ": " + m_DirectoryStore.LastError();
        return false;
    }
    asio::error_code ec;
    asio::ip::tcp::endpoint endpoint(asio::ip::make_address(m_Options.listen.strHost, ec),
                                     m_Options.listen.nPort);
    if (!ec)
        m_Acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        m_Acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        m_Acceptor.bind(endpoint, ec);
    if (!ec)
        m_Acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + m_Options.listen.ToString() + ": " + ec.message();
        return false;
    }
    m_nPort = m_Acceptor.local_endpoint(ec).port();

    CSwitchboardConfig config;
    config.strCurrentVersion = m_Options.strCurrentVersion;
    config.nPingIntervalMs = m_Options.nPingIntervalMs;
    std::random_device random;
    config.nFirstCallId = 1 + random() % 0x7fffffff;
    if (!m_Options.strRedisHost.empty()) {
        SClusterOptions cluster;
        cluster.strRedisHost = m_Options.strRedisHost;
        cluster.nRedisPort = m_Options.nRedisPort;
        cluster.nNodeId = m_Options.nNodeId;
        cluster.times.nLeaseMs = m_Options.nLeaseMs;
        cluster.times.nRenewMs = std::max<uint32_t>(m_Options.nLeaseMs / 5, 100);
        config.nNodeId = m_Options.nNodeId;
        m_pCluster = std::make_unique<CClusterLink>(
            cluster, [this](std::function<void()> task) { asio::post(m_Io, std::move(task)); });
    }
    // Made before the web pages start: their threads read its presence table.
    if (m_pCluster) {
        auto post = [this](std::function<void()> task) { asio::post(m_Io, std::move(task)); };
        CClusterBus::SHandlers handlers;
        handlers.message = [this](const std::vector<uint8_t>& m) {
            m_pSwitchboard->OnNodeMessage(m.data(), m.size());
        };
        handlers.gone = [this](const std::string& node) { m_pSwitchboard->OnNodeGone(node); };
        handlers.state = [this](bool bUp) { m_pSwitchboard->OnBusState(bUp); };
        m_pBus = std::make_unique<CClusterBus>(m_Options.strRedisHost, m_Options.nRedisPort,
                                               m_pCluster->Instance(), post, std::move(handlers));
    }
    m_pSwitchboard = std::make_unique<CSwitchboard>(m_Store, *this, config, m_pCluster.get(), m_pBus.get());
    if (m_pCluster) {
        m_pCluster->Start();
        m_pBus->Start();
    }
    m_nTickMs = std::clamp<uint32_t>(m_Options.nPingIntervalMs / 4, 10, 1000);
    m_Http.SetReadiness([this] { return !m_pCluster || m_pCluster->IsUp(); });
    if (!m_Http.Start(m_Options.http, error))
        return false;

    // The client puts "http://" and the host it connected to before an address of this form.
    const CEndpoint& http = m_Options.http;
    std::string base = ":" + std::to_string(m_Http.Port());
    if (!http.IsAnyAddress() && http.strHost != m_Options.listen.strHost) {
        base = "http://" + CEndpoint{http.strHost, m_Http.Port()}.ToString();
    }
    m_pSwitchboard->SetUserInfoAddresses(base + "/directory", base + "/help");

    CEndpoint listening{m_Options.listen.strHost, m_nPort};
    CEndpoint httpListening{http.strHost, m_Http.Port()};
    ServerLog("listening %s http %s", listening.ToString().c_str(), httpListening.ToString().c_str());
    return true;
}

void CServer::Run() {
    Accept();
    ScheduleTick();
    m_Io.run();
    Shutdown();
    m_Checks.join();
    StopCluster();
}

void CServer::StopCluster() {
    // Stopped after the event loop, so nothing they post is left unrun; the bus first passes on the
    // hang-ups of the calls that the shutdown ended, and the link gives the users' claims up.
    if (m_pBus)
        m_pBus->Stop();
    if (m_pCluster)
        m_pCluster->Stop();
}

void CServer::Stop() {
    asio::post(m_Io, [this] { Shutdown(); });
}

void CServer::Shutdown() {
    if (m_bStopped)
        return;
    m_bStopped = true;
    asio::error_code ec;
    m_Acceptor.close(ec);
    m_Tick.cancel();
    m_AcceptRetry.cancel();
    m_Signals.cancel(ec);
    auto connections = std::move(m_Connections);
    for (auto& [id, connection] : connections) {
        if (m_pSwitchboard)
            m_pSwitchboard->OnDisconnected(id, "server stopping");
        connection->Close();
    }
    m_Http.Stop();
    m_Checks.stop();
    m_Io.stop();
}

void CServer::Accept() {
    m_Acceptor.async_accept([this](asio::error_code ec, asio::ip::tcp::socket socket) {
        if (m_bStopped)
            return;
        if (ec) {
            // Out of descriptors or memory: try again shortly instead of spinning.
            ServerLog("accept failed: %s", ec.message().c_str());
            m_AcceptRetry.expires_after(std::chrono::milliseconds(100));
            m_AcceptRetry.async_wait([this](asio::error_code wec) {
                if (!wec && !m_bStopped)
                    Accept();
            });
            return;
        }
        asio::error_code opt;
        socket.set_option(asio::ip::tcp::no_delay(true), opt);
        socket.non_blocking(true, opt);
        ConnId id = m_nNextId++;
        auto connection = std::make_shared<CClientConnection>(*this, id, std::move(socket));
        m_Connections.emplace(id, connection);
        m_pSwitchboard->OnConnected(id, PeerText(connection->Socket()), NowMs());
        connection->Begin();
        Accept();
    });
}

void CServer::ScheduleTick() {
    m_Tick.expires_after(std::chrono::milliseconds(m_nTickMs));
    m_Tick.async_wait([this](asio::error_code ec) {
        if (ec || m_bStopped)
            return;
        m_pSwitchboard->OnTimer(NowMs());
        ScheduleTick();
    });
}

void CServer::ConnectionEnded(ConnId id, const char* reason) {
    auto it = m_Connections.find(id);
    if (it == m_Connections.end())
        return;
    auto connection = it->second;
    m_Connections.erase(it);
    connection->Close();
    m_pSwitchboard->OnDisconnected(id, reason);
}

void CServer::SendFrame(ConnId id, Bytes frame, bool bDroppable) {
    auto it = m_Connections.find(id);
    if (it == m_Connections.end())
        return;
    it->second->Send(std::move(frame), bDroppable);
    // What cannot be dropped is kept, so the one who sends it faster than it is read must wait.
    if (!bDroppable && m_nSource != 0 && m_nSource != id && it->second->QueuedBytes() > kReadPauseLimit) {
        auto source = m_Connections.find(m_nSource);
        if (source != m_Connections.end())
            it->second->Throttle(source->second);
    }
}

void CServer::CloseConnection(ConnId id) {
    auto it = m_Connections.find(id);
    if (it == m_Connections.end())
        return;
    auto connection = it->second;
    m_Connections.erase(it);
    connection->Close();
}

void CServer::PauseReading(ConnId id, bool bPause) {
    auto it = m_Connections.find(id);
    if (it != m_Connections.end())
        it->second->SetLoginPause(bPause);
}

void CServer::RunCheck(std::function<bool()> check, std::function<void(bool)> done) {
    asio::post(m_Checks, [this, check = std::move(check), done = std::move(done)]() mutable {
        bool ok = check();
        asio::post(m_Io, [done = std::move(done), ok] { done(ok); });
    });
}

int RunServer(const CServerOptions& options) {
    std::signal(SIGPIPE, SIG_IGN);
    RaiseFileLimit();
    CServer server(options);
    std::string error;
    if (!server.Start(error, true)) {
        ServerLog("velaphond: %s", error.c_str());
        return 1;
    }
    server.Run();
    ServerLog("stopped");
    return 0;
}
