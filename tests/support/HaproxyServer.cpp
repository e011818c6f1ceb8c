#include "support/HaproxyServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace vp::test {

namespace {

// Another run of the same test may hold the address; it lets go when it ends.
constexpr int kAddressWaitMs = 90000;

std::string Trimmed(const std::string& line) {
    const size_t from = line.find_first_not_of(" \t");
    return from == std::string::npos ? std::string() : line.substr(from);
}

// Replaces `from` where it stands as a whole number, not inside a longer one.
std::string ReplacePort(std::string line, const std::string& from, const std::string& to) {
    for (size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size())) {
        const size_t end = at + from.size();
        const bool whole = (at == 0 || !std::isdigit(static_cast<unsigned char>(line[at - 1]))) &&
                           (end == line.size() || !std::isdigit(static_cast<unsigned char>(line[end])));
        if (whole)
            line.replace(at, from.size(), to);
    }
    return line;
}

bool Accepts(const std::string& address, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

}  // namespace

std::string HaproxyConfigFrom(const std::string& recipe, const std::string& address, uint16_t httpPort,
                              const std::vector<std::string>& nodes) {
    // Foreground, no chroot or user change; its messages (nodes going down and up) and a line per
    // connection (which node took it) on standard error.
    std::string out = "global\n    maxconn 1000\n    log stderr format raw local0 info\n";
    std::map<std::string, size_t> hosts;  // the recipe's node host -> its place
    std::istringstream in(recipe);
    std::string line;
    bool inGlobal = false;
    while (std::getline(in, line)) {
        const std::string body = Trimmed(line);
        const bool sectionStart = !line.empty() && line[0] != ' ' && line[0] != '\t' && line[0] != '#';
        if (sectionStart)
            inGlobal = body == "global" || body.rfind("global ", 0) == 0;
        if (inGlobal)
            continue;
        if (body.rfind("server ", 0) == 0) {
            std::istringstream words(body);
            std::string keyword, name, endpoint;
            words >> keyword >> name >> endpoint;
            const std::string host = endpoint.substr(0, endpoint.rfind(':'));
            const size_t place = hosts.emplace(host, hosts.size()).first->second;
            if (place >= nodes.size())
                continue;
            line.replace(line.find(endpoint), host.size(), nodes[place]);
        }
        if (body.rfind("bind :", 0) == 0)
            line.replace(line.find("bind :"), 6, "bind " + address + ":");
        out += ReplacePort(line, "8080", std::to_string(httpPort)) + "\n";
    }
    return out;
}

bool CHaproxyServer::Start(std::string* error) {
    auto fail = [&](const std::string& why) { return Failed(error, why, [this] { Stop(); }); };
    if (IsRunning())
        return true;
    std::ifstream file(std::string(VP_SOURCE_DIR) + "/deploy/haproxy.cfg");
    std::stringstream recipe;
    recipe << file.rdbuf();
    if (!file)
        return fail("cannot read deploy/haproxy.cfg");
    if (!m_pDir)
        m_pDir = std::make_unique<CTempDir>("vp-haproxy");
    const std::string config = m_pDir->File("haproxy.cfg");
    std::ofstream(config) << HaproxyConfigFrom(recipe.str(), m_strAddress, m_nHttpPort, m_Nodes);

    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + std::chrono::milliseconds(kAddressWaitMs);
    if (!m_Proxy.Start({"haproxy", "-db", "-f", config}, CChildProcess::kErr))
        return fail("cannot run haproxy (is it installed?)");
    for (;;) {
        if (m_Proxy.StreamsEnded()) {
            const std::string said = m_Proxy.Text(CChildProcess::kErr);
            if (said.find("cannot bind") == std::string::npos || Clock::now() > giveUp)
                return fail("haproxy did not start: " + said);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            m_Proxy.Start({"haproxy", "-db", "-f", config}, CChildProcess::kErr);
            continue;
        }
        // It binds every port before it accepts on any.
        if (Accepts(m_strAddress, m_nHttpPort))
            return true;
        if (Clock::now() > giveUp)
            return fail("haproxy does not accept on " + m_strAddress);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void CHaproxyServer::Stop() {
    m_Proxy.Kill();
}

}  // namespace vp::test
