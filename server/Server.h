// CServer: the running velaphond. One thread runs an event loop that owns every connection and the
// switchboard; account lookups with their password checks run on a small pool, and the web pages on the
// HTTP listener's threads.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "server/AccountStore.h"
#include "server/ClusterBus.h"
#include "server/ClusterLink.h"
#include "server/CommandLine.h"
#include "server/HttpListener.h"
#include "server/Switchboard.h"

class CClientConnection;

// How much a connection that reads too slowly may hold back: beyond the media limit its audio and
// video frames are dropped (whole frames, never control messages or chat lines); beyond the hard limit
// the connection is closed; while its queue is above the read limit, its own requests wait unread, and
// so do those of a peer that sends it control messages or chat beyond that limit.
inline constexpr size_t kMediaQueueLimit = 256 * 1024;
inline constexpr size_t kReadPauseLimit = 1024 * 1024;
inline constexpr size_t kHardQueueLimit = 8 * 1024 * 1024;

class CServer : public ISwitchboardHost {
public:
    explicit CServer(const CServerOptions& options);
    ~CServer() override;

    // Opens the database and binds both listeners; with bHandleSignals SIGINT and SIGTERM stop the
    // server. False with a reason when any of it fails.
    bool Start(std::string& error, bool bHandleSignals = false);
    // Runs the event loop until Stop or a signal.
    void Run();
    // Safe from any thread.
    void Stop();

    uint16_t Port() const { return m_nPort; }
    uint16_t HttpPort() const { return m_Http.Port(); }

    // ISwitchboardHost
    void SendFrame(ConnId id, Bytes frame, bool bDroppable) override;
    void CloseConnection(ConnId id) override;
    void PauseReading(ConnId id, bool bPause) override;
    void RunCheck(std::function<bool()> check, std::function<void(bool)> done) override;

private:
    friend class CClientConnection;

    void Accept();
    void ScheduleTick();
    void Shutdown();
    void StopCluster();
    // A connection ended on its own (peer closed, I/O failure, corrupt stream, too slow a reader).
    void ConnectionEnded(ConnId id, const char* reason);
    uint64_t NowMs() const;

    CServerOptions m_Options;
    asio::io_context m_Io;
    asio::thread_pool m_Checks{1};
    CAccountStore m_Store;
    // The directory pages list every account: on a connection of their own, such a search never holds
    // up the protocol thread's lookups.
    CAccountStore m_DirectoryStore;
    // Made before the switchboard and stopped after the event loop: its answers are posted to the loop.
    std::unique_ptr<CClusterLink> m_pCluster;
    std::unique_ptr<CClusterBus> m_pBus;
    std::unique_ptr<CSwitchboard> m_pSwitchboard;
    CHttpListener m_Http;
    asio::ip::tcp::acceptor m_Acceptor;
    asio::steady_timer m_Tick;
    asio::steady_timer m_AcceptRetry;
    asio::signal_set m_Signals;
    std::unordered_map<ConnId, std::shared_ptr<CClientConnection>> m_Connections;
    ConnId m_nNextId = 1;
    ConnId m_nSource = 0;  // the connection whose frame the switchboard is handling
    uint16_t m_nPort = 0;
    uint32_t m_nTickMs = 1000;
    std::vector<uint8_t> m_ReadBuffer;  // shared by every connection: reads happen one at a time
    bool m_bStopped = false;
};

// `velaphond serve`: runs until SIGINT or SIGTERM. The process exit code.
int RunServer(const CServerOptions& options);
