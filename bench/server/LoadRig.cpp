#include "LoadRig.h"

#include <sys/resource.h>

#include <algorithm>

#include "net/Protocol.h"

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

void RaiseFileLimit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

CLoadRig::~CLoadRig() {
    m_Timer.cancel();
    for (auto& p : m_Peers) {
        asio::error_code ec;
        p->Socket().close(ec);
    }
}

std::shared_ptr<CPeer> CLoadRig::Connect(CPeer::ERole role, const std::string& ntv, const tcp::endpoint& at) {
    auto p = std::make_shared<CPeer>(m_io, stats, role);
    p->strNtv = ntv;
    asio::error_code ec;
    p->Socket().connect(at, ec);
    if (ec)
        return nullptr;
    p->Begin();
    p->Control(BuildLogin(ntv, ntv, "127.0.0.1", "0200003", 0));
    m_Peers.push_back(p);
    (role == CPeer::ERole::Idle ? m_Pollers : m_Talkers).push_back(p.get());
    if (role == CPeer::ERole::Caller)
        ++m_nCalls;
    // The server's backlog is short: let it take the logins in as they come.
    if (m_Peers.size() % 100 == 0)
        m_io.poll();
    return p;
}

bool CLoadRig::RunUntil(const std::function<bool()>& done, int timeoutS) {
    auto end = Clock::now() + std::chrono::seconds(timeoutS);
    while (!done() && Clock::now() < end)
        m_io.run_for(std::chrono::milliseconds(20));
    return done();
}

bool CLoadRig::AllLoggedIn(int timeoutS) {
    const size_t clients = m_Pollers.size() + m_Talkers.size();
    return RunUntil([&] { return stats.loggedIn == clients; }, timeoutS);
}

bool CLoadRig::PlaceCalls(int timeoutS) {
    for (CPeer* p : m_Talkers) {
        if (p->Role() == CPeer::ERole::Caller)
            p->Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    }
    return RunUntil([&] { return stats.established + stats.refused == static_cast<uint64_t>(m_nCalls); },
                    timeoutS);
}

bool CLoadRig::AddProbes(const std::string& address, int count) {
    asio::error_code ec;
    m_pEchoes = std::make_unique<tcp::acceptor>(m_io);
    tcp::endpoint at(asio::ip::make_address(address), 0);
    m_pEchoes->open(at.protocol(), ec);
    if (!ec)
        m_pEchoes->bind(at, ec);
    if (!ec)
        m_pEchoes->listen(asio::socket_base::max_listen_connections, ec);
    for (int i = 0; i < count && !ec; ++i) {
        auto probe = std::make_shared<CPeer>(m_io, stats, CPeer::ERole::Probe);
        auto echo = std::make_shared<CPeer>(m_io, stats, CPeer::ERole::Echo);
        probe->Socket().connect(m_pEchoes->local_endpoint(), ec);
        if (!ec)
            m_pEchoes->accept(echo->Socket(), ec);
        if (ec)
            break;
        probe->Begin();
        echo->Begin();
        m_Peers.push_back(probe);
        m_Peers.push_back(echo);
        m_Talkers.push_back(probe.get());
    }
    return !ec;
}

void CLoadRig::StartTicks() {
    m_Timer.expires_after(std::chrono::milliseconds(10));
    m_Timer.async_wait([this](asio::error_code ec) {
        if (!ec)
            Tick();
    });
}

void CLoadRig::Tick() {
    for (size_t i = static_cast<size_t>(m_nTick % 500); i < m_Pollers.size(); i += 500)
        m_Pollers[i]->Poll();
    if (m_bAudio) {
        for (size_t i = static_cast<size_t>(m_nTick % 10); i < m_Talkers.size(); i += 10) {
            if (m_Talkers[i]->bInCall || m_Talkers[i]->Role() == CPeer::ERole::Probe)
                m_Talkers[i]->SendAudio();
        }
    }
    if (onTick)
        onTick();
    ++m_nTick;
    m_Timer.expires_at(m_Timer.expiry() + std::chrono::milliseconds(10));
    m_Timer.async_wait([this](asio::error_code ec) {
        if (!ec)
            Tick();
    });
}

std::vector<double> CLoadRig::Phase(bool withAudio, int seconds,
                                    const std::function<std::vector<double>()>& cpu) {
    m_bAudio = withAudio;
    m_io.run_for(std::chrono::seconds(1));  // settle
    stats.measuring = stats.collecting = true;
    std::vector<double> before = cpu();
    auto t0 = Clock::now();
    m_io.run_for(std::chrono::seconds(seconds));
    std::vector<double> after = cpu();
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    m_bAudio = false;
    stats.measuring = false;
    m_io.run_for(std::chrono::seconds(1));  // answers still on their way
    stats.collecting = false;
    for (size_t i = 0; i < after.size(); ++i)
        after[i] = (after[i] - before[i]) / wall;
    return after;
}

void CLoadRig::Report(benchmark::State& state) const {
    double relay = Percentile(stats.relayUs, 0.5), loop = Percentile(stats.loopbackUs, 0.5);
    state.counters["relay_us_p50"] = relay;
    state.counters["relay_us_p99"] = Percentile(stats.relayUs, 0.99);
    state.counters["loopback_rtt_us_p50"] = loop;
    state.counters["loopback_rtt_us_p99"] = Percentile(stats.loopbackUs, 0.99);
    state.counters["relay_added_us_p50"] = relay - loop;
    state.counters["relay_to_loopback_ratio"] = loop > 0 ? relay / loop : 0;
    state.counters["control_lost"] =
        static_cast<double>(stats.queriesSent - std::min(stats.queriesSent, stats.queryReplies));
    state.counters["audio_lost"] =
        static_cast<double>(stats.audioSent - std::min(stats.audioSent, stats.audioReceived));
    state.counters["queries"] = static_cast<double>(stats.queriesSent);
    state.counters["audio_messages"] = static_cast<double>(stats.audioSent);
}
