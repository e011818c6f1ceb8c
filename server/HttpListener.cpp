#include "server/HttpListener.h"

#include <httplib.h>

#include <cerrno>
#include <cstring>

#include "server/AccountStore.h"
#include "server/DirectoryPages.h"
#include "server/ServerLog.h"

namespace {

std::string Param(const httplib::Request& req, const char* name) {
    return req.has_param(name) ? req.get_param_value(name) : std::string();
}

}  // namespace

CHttpListener::CHttpListener(IAccountStore& store, PresenceFn presence)
    : m_Store(store), m_fnPresence(std::move(presence)) {}

CHttpListener::~CHttpListener() {
    Stop();
}

bool CHttpListener::Start(const CEndpoint& endpoint, std::string& error) {
    Stop();
    m_pServer = std::make_unique<httplib::Server>();
    httplib::Server& server = *m_pServer;
    // Pages are small and requests carry no body: keep slow or oversized clients from holding threads.
    server.set_payload_max_length(64 * 1024);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_keep_alive_max_count(20);

    server.Get("/directory", [this](const httplib::Request& req, httplib::Response& res) {
        EPageLanguage lang = PageLanguageFor(req.get_header_value("Accept-Language"));
        CDirectoryQuery query{Param(req, "Pais"), Param(req, "Ciudad"), Param(req, "Sexo"),
                              Param(req, "Idioma"), Param(req, "Pal_Clave")};
        std::string notice;
        if (req.has_param("callto"))
            notice = LinkNotice(true, Param(req, "callto"), lang);
        if (req.has_param("addntv"))
            notice = LinkNotice(false, Param(req, "addntv"), lang);
        std::vector<CDirectoryEntry> entries;
        size_t total = 0;
        for (CUserProfile& profile : m_Store.ListUsers()) {
            if (!MatchesDirectoryQuery(profile, query))
                continue;
            if (++total > kMaxDirectoryRows)
                continue;
            char status = m_fnPresence ? m_fnPresence(profile.strNtv) : 'D';
            entries.push_back({std::move(profile), status});
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(BuildDirectoryPage(entries, total, query, notice, lang), "text/html; charset=utf-8");
    });
    server.Get("/help", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(BuildHelpPage(PageLanguageFor(req.get_header_value("Accept-Language"))),
                        "text/html; charset=utf-8");
    });
    // A load balancer asks this every second or so: it answers without touching the database, whose
    // outage every node shares, and is left out of the log.
    server.Get("/health", [this](const httplib::Request&, httplib::Response& res) {
        const bool ready = !m_fnReady || m_fnReady();
        res.status = ready ? 200 : 503;
        res.set_header("Cache-Control", "no-store");
        res.set_content(ready ? "ok\n" : "not taking logins\n", "text/plain");
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/directory"); });
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        if (req.path == "/health")
            return;
        ServerLog("http %s %s %d from %s", req.method.c_str(), LogSafe(req.path).c_str(), res.status,
                  req.remote_addr.c_str());
    });

    // Only SO_REUSEADDR: the library's default SO_REUSEPORT would let a second server share the port.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    int port = endpoint.nPort;
    bool bound = port == 0 ? (port = server.bind_to_any_port(endpoint.strHost)) > 0
                           : server.bind_to_port(endpoint.strHost, port);
    if (!bound) {
        error = "cannot listen for HTTP on " + endpoint.ToString() + ": " + std::strerror(errno);
        m_pServer.reset();
        return false;
    }
    m_nPort = static_cast<uint16_t>(port);
    m_bEnded = false;
    m_Thread = std::thread([this] {
        m_pServer->listen_after_bind();
        m_bEnded = true;
    });
    return true;
}

void CHttpListener::Stop() {
    // stop() only acts once the accept loop runs; repeat it until the loop has seen it.
    while (m_Thread.joinable() && !m_bEnded) {
        m_pServer->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (m_Thread.joinable())
        m_Thread.join();
    m_pServer.reset();
}
