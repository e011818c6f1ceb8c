#include "support/PostgresServer.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>

namespace vp::test {

namespace {

namespace fs = std::filesystem;

// The newest PostgreSQL installed the Debian way (/usr/lib/postgresql/<major>/bin).
std::string FindBinaries() {
    std::string best;
    int bestMajor = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string major = entry.path().filename().string();
        if (major.empty() || major.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (fs::exists(entry.path() / "bin" / "initdb") && std::stoi(major) > bestMajor) {
            bestMajor = std::stoi(major);
            best = (entry.path() / "bin").string();
        }
    }
    return best;
}

std::string PercentEncoded(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

CPostgresServer::~CPostgresServer() {
    Stop();
}

std::vector<std::string> CPostgresServer::AsOwner(const std::vector<std::string>& argv) const {
    std::vector<std::string> command;
    if (!m_strUid.empty()) {
        // Changing the user clears the parent-death signal the child was given: set it again, so that a
        // test that dies leaves no server behind (SIGQUIT: PostgreSQL's immediate shutdown).
        command = {
            "setpriv", "--reuid=" + m_strUid, "--regid=" + m_strGid, "--clear-groups", "--pdeathsig", "QUIT",
            "--"};
    }
    // The owner may not be allowed into the test's working folder, where PostgreSQL would start.
    command.insert(command.end(), {"sh", "-c", "cd \"$0\" && exec \"$@\"", m_pDir->Path()});
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

bool CPostgresServer::Start(std::string* error) {
    auto fail = [&](const std::string& why) { return Failed(error, why, [this] { Stop(); }); };
    if (IsRunning())
        return true;
    m_strBin = FindBinaries();
    if (m_strBin.empty())
        return fail("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)");
    m_pDir = std::make_unique<CTempDir>("vp-pg");
    const std::string dir = m_pDir->Path();
    if (dir.empty())
        return fail("no temporary folder");
    m_strUid.clear();
    m_strGid.clear();
    if (geteuid() == 0) {
        const passwd* owner = getpwnam("postgres");
        if (owner == nullptr)
            owner = getpwnam("nobody");
        if (owner == nullptr)
            return fail("no unprivileged user to run PostgreSQL as");
        m_strUid = std::to_string(owner->pw_uid);
        m_strGid = std::to_string(owner->pw_gid);
        if (chown(dir.c_str(), owner->pw_uid, owner->pw_gid) != 0)
            return fail("cannot give " + dir + " to " + owner->pw_name);
    }
    std::string output;
    // No syncing: the data is thrown away with the folder.
    if (RunProgram(AsOwner({m_strBin + "/initdb", "-D", dir + "/data", "-U", "velaphon", "-A", "trust", "-E",
                            "UTF8", "--locale=C", "--no-sync", "--no-instructions"}),
                   {}, &output) != 0) {
        return fail("initdb failed: " + output);
    }
    return Resume(error);
}

void CPostgresServer::Halt() {
    if (m_Server.Pid() > 0 && m_Server.Stop(SIGINT) < 0)
        m_Server.Kill();
}

bool CPostgresServer::Resume(std::string* error) {
    auto fail = [&](const std::string& why) { return Failed(error, why, [this] { Stop(); }); };
    if (!m_pDir)
        return fail("no cluster to start");
    const std::string dir = m_pDir->Path();
    if (!m_Server.Start(
            AsOwner({m_strBin + "/postgres", "-D", dir + "/data", "-k", dir, "-p", "5432", "-F", "-c",
                     "listen_addresses=", "-c", "max_connections=30", "-c", "shared_buffers=16MB"}),
            CChildProcess::kErr, SIGKILL)) {
        return fail("postgres could not be started");
    }
    if (!m_Server.WaitLine("database system is ready to accept connections", CChildProcess::EMatch::Substring,
                           30000)) {
        return fail("postgres did not start: " + m_Server.Text(CChildProcess::kErr));
    }
    return true;
}

void CPostgresServer::Stop() {
    // SIGINT: the fast shutdown, which ends every session at once.
    if (m_Server.Pid() > 0 && m_Server.Stop(SIGINT) < 0)
        m_Server.Kill();
    m_pDir.reset();
}

std::string CPostgresServer::Uri(const std::string& name) const {
    if (!m_pDir)
        return {};
    return "postgresql:///" + name + "?host=" + PercentEncoded(m_pDir->Path()) + "&port=5432&user=velaphon";
}

std::string CPostgresServer::CreateDatabase(const std::string& name) {
    if (!IsRunning())
        return {};
    if (RunProgram({m_strBin + "/createdb", "-h", m_pDir->Path(), "-p", "5432", "-U", "velaphon", name}) != 0)
        return {};
    return Uri(name);
}

bool CPostgresServer::RunSql(const std::string& database, const std::string& sql, std::string* output) {
    if (!IsRunning())
        return false;
    return RunProgram({m_strBin + "/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
                       m_pDir->Path(), "-p", "5432", "-U", "velaphon", "-d", database, "-c", sql},
                      {}, output) == 0;
}

}  // namespace vp::test
