// CHttpListener: the web side of the server, serving /directory and /help on its own threads, and
// /health for a load balancer in front of several nodes.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "server/CommandLine.h"

class IAccountStore;
namespace httplib {
class Server;
}

class CHttpListener {
public:
    // The presence letter of an NTV ('C', 'A' or 'D'); called from the listener's threads.
    using PresenceFn = std::function<char(const std::string& ntv)>;
    // Whether the node takes logins now; called from the listener's threads.
    using ReadyFn = std::function<bool()>;

    CHttpListener(IAccountStore& store, PresenceFn presence);
    ~CHttpListener();
    CHttpListener(const CHttpListener&) = delete;
    CHttpListener& operator=(const CHttpListener&) = delete;

    // What /health reports: 200 while `ready` says so, 503 otherwise. Without it the node is always
    // ready. Set before Start.
    void SetReadiness(ReadyFn ready) { m_fnReady = std::move(ready); }

    // Binds the address (port 0 picks a free one) and starts accepting. False with a reason when it fails.
    bool Start(const CEndpoint& endpoint, std::string& error);
    // The bound port once started.
    uint16_t Port() const { return m_nPort; }
    void Stop();

private:
    IAccountStore& m_Store;
    PresenceFn m_fnPresence;
    ReadyFn m_fnReady;
    std::unique_ptr<httplib::Server> m_pServer;
    std::thread m_Thread;
    uint16_t m_nPort = 0;
    std::atomic<bool> m_bEnded{true};
};
