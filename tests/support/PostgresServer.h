// A private PostgreSQL server for tests: a cluster made with initdb in a temporary folder, listening only
// on a Unix socket in that folder (no TCP port, so it never meets a system cluster or another test's),
// with trust authentication for its superuser "velaphon". PostgreSQL refuses to run as root: when the
// tests do, the cluster belongs to and runs as the user "postgres" (or "nobody" when there is none).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"

namespace vp::test {

class CPostgresServer {
public:
    CPostgresServer() = default;
    ~CPostgresServer();
    CPostgresServer(const CPostgresServer&) = delete;
    CPostgresServer& operator=(const CPostgresServer&) = delete;

    // Makes the cluster, starts the server and waits until it accepts connections. False (with a reason)
    // when PostgreSQL is not installed or does not start.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool IsRunning() const { return m_Server.Pid() > 0; }
    // Stops the server as an outage would and starts it again on the same data.
    void Halt();
    bool Resume(std::string* error = nullptr);

    // A libpq URI of the database `name` on this server.
    std::string Uri(const std::string& name = "postgres") const;
    // Creates an empty database; its URI, or empty text on failure.
    std::string CreateDatabase(const std::string& name);
    // Runs SQL in a database with psql; false when it fails. `output` gets the rows, one a line.
    bool RunSql(const std::string& database, const std::string& sql, std::string* output = nullptr);

private:
    // The command line that runs `argv` as the cluster's owner, in the cluster's folder.
    std::vector<std::string> AsOwner(const std::vector<std::string>& argv) const;

    std::unique_ptr<CTempDir> m_pDir;
    std::string m_strBin;            // PostgreSQL's programs
    std::string m_strUid, m_strGid;  // empty when running as ourselves
    CChildProcess m_Server;
};

}  // namespace vp::test
