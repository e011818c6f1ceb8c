// velaphond under a videophone's load: N logged-in clients that poll the presence of three contacts every
// 5 s, and M established calls that relay ten audio messages a second each way. Reports the server's CPU
// per client and per call (from /proc while each phase runs) and the latency the relay adds, beside the
// plain loopback round trip measured in the same run by an echo in this process: both paths cross the
// loopback twice. Sizes: VP_BENCH_CLIENTS (default 5000), VP_BENCH_CALLS (500), VP_BENCH_SECONDS (10 per
// phase).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/Frame.h"
#include "net/Protocol.h"
#include "server/AccountStore.h"
#include "server/FrameSplitter.h"
#include "support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

uint64_t NowNs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
}

Bytes Frame(uint8_t channel, const Bytes& payload) {
    Bytes frame(kFrameHeaderSize + payload.size());
    BuildFrameHeader(frame.data(), channel, static_cast<uint32_t>(payload.size()), "", 0, false);
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

// An audio message of a usual size (160 encoded bytes) whose first encoded bytes carry the send time.
Bytes TimedAudio(uint32_t counter) {
    Bytes encoded(160, 0x2a);
    uint64_t t = NowNs();
    std::memcpy(encoded.data(), &t, sizeof t);
    return BuildAudio(counter, encoded.data(), static_cast<uint32_t>(encoded.size()), 1600);
}

uint64_t SentAt(const Bytes& audioPayload) {
    uint64_t t = 0;
    if (audioPayload.size() >= kAudioHeaderSize + sizeof t) {
        std::memcpy(&t, audioPayload.data() + kAudioHeaderSize, sizeof t);
    }
    return t;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct CStats {
    uint64_t queriesSent = 0, queryReplies = 0;
    uint64_t audioSent = 0, audioReceived = 0;
    uint64_t loggedIn = 0, established = 0;
    bool measuring = false;   // sends and latencies are counted
    bool collecting = false;  // answers are counted (a little longer, for those on their way)
    std::vector<double> relayUs;
    std::vector<double> loopbackUs;
};

// One connection of the load: a client of the server, or either end of the loopback echo.
class CPeer : public std::enable_shared_from_this<CPeer> {
public:
    enum class ERole { Idle, Caller, Callee, Probe, Echo };

    CPeer(asio::io_context& io, CStats& stats, ERole role) : m_Socket(io), m_Stats(stats), m_eRole(role) {}

    tcp::socket& Socket() { return m_Socket; }
    ERole Role() const { return m_eRole; }
    std::string strNtv, strPeerNtv, strPassword;
    std::vector<std::string> contacts;
    bool bInCall = false;

    void Begin() {
        asio::error_code ec;
        m_Socket.set_option(tcp::no_delay(true), ec);
        Read();
    }
    void Send(Bytes frame) {
        m_Queue.push_back(std::move(frame));
        Write();
    }
    void Control(const Bytes& record) { Send(Frame(kChannelControl, record)); }

    void Poll() {
        for (const auto& c : contacts) {
            Control(BuildContactStatusQuery(c));
            if (m_Stats.measuring)
                ++m_Stats.queriesSent;
        }
    }
    void SendAudio() {
        Send(Frame(m_eRole == ERole::Probe ? 9 : kChannelAudio, TimedAudio(++m_nCounter)));
        if (m_Stats.measuring && m_eRole != ERole::Probe)
            ++m_Stats.audioSent;
    }

private:
    void Read() {
        m_Socket.async_read_some(asio::buffer(m_Buffer),
                                 [self = shared_from_this()](asio::error_code ec, size_t n) {
                                     if (ec)
                                         return;
                                     self->m_Splitter.Append(self->m_Buffer, n);
                                     SFrameHeader h;
                                     Bytes f;
                                     while (self->m_Splitter.Next(h, f) == CFrameSplitter::EResult::Frame)
                                         self->Handle(h, f);
                                     self->Read();
                                 });
    }

    void Handle(const SFrameHeader& h, Bytes& frame) {
        Bytes payload(frame.begin() + kFrameHeaderSize, frame.end());
        if (m_eRole == ERole::Echo) {
            Send(std::move(frame));
            return;
        }
        if (m_eRole == ERole::Probe) {
            if (m_Stats.collecting)
                m_Stats.loopbackUs.push_back((NowNs() - SentAt(payload)) / 1000.0);
            return;
        }
        if (h.channel == kChannelAudio) {
            if (m_Stats.collecting) {
                ++m_Stats.audioReceived;
                m_Stats.relayUs.push_back((NowNs() - SentAt(payload)) / 1000.0);
            }
            return;
        }
        if (h.channel != kChannelControl || payload.empty())
            return;
        switch (payload[0]) {
            case MSG_PING:
                Control(BuildShortRecord(MSG_PING));
                break;
            case MSG_LOGIN_OK:
                ++m_Stats.loggedIn;
                break;
            case MSG_CONTACT_STATUS:
                if (m_Stats.collecting)
                    ++m_Stats.queryReplies;
                break;
            case MSG_CALL_ID: {
                uint32_t id = 0;
                ParseCallIdRecord(payload.data(), payload.size(), id);
                Control(BuildCallSetup(id, strNtv, "bench", strPeerNtv));
                break;
            }
            case MSG_CALL_SETUP: {
                SCallSetup setup;
                if (ParseCallSetup(payload.data(), payload.size(), setup)) {
                    Control(BuildCallIdRecord(MSG_CALL_ACCEPT, setup.callId));
                }
                break;
            }
            case MSG_CALL_ACCEPTED:
                bInCall = true;
                Control(BuildShortRecord(MSG_CALL_CONNECTED));
                break;
            case MSG_CALL_CONNECTED:
                bInCall = true;
                ++m_Stats.established;
                break;
            default:
                break;
        }
    }

    void Write() {
        if (m_bWriting || m_Queue.empty())
            return;
        m_bWriting = true;
        m_Out = std::move(m_Queue.front());
        m_Queue.pop_front();
        asio::async_write(m_Socket, asio::buffer(m_Out),
                          [self = shared_from_this()](asio::error_code ec, size_t) {
                              self->m_bWriting = false;
                              if (!ec)
                                  self->Write();
                          });
    }

    tcp::socket m_Socket;
    CStats& m_Stats;
    ERole m_eRole;
    CFrameSplitter m_Splitter;
    uint8_t m_Buffer[16384];
    std::deque<Bytes> m_Queue;
    Bytes m_Out;
    bool m_bWriting = false;
    uint32_t m_nCounter = 0;
};

// velaphond as a child process; its log is collected so it never blocks on a full pipe.
class CServerChild {
public:
    bool Start(const std::string& db, const std::string& address) {
        if (!m_Process.Start({std::string(VP_BINARY_DIR) + "/bin/velaphond", "serve", "--db", db, "--listen",
                              address + ":0", "--http", address + ":0"},
                             vp::test::CChildProcess::kErr)) {
            return false;
        }
        std::string line;
        if (!m_Process.WaitLine("listening ", vp::test::CChildProcess::EMatch::Substring, -1, &line))
            return false;
        unsigned port = 0;
        const char* at = std::strstr(line.c_str(), "listening ");
        if (std::strchr(at, ':') != nullptr && std::sscanf(std::strchr(at, ':') + 1, "%u", &port) == 1)
            m_nPort = static_cast<uint16_t>(port);
        return m_nPort != 0;
    }
    ~CServerChild() { m_Process.Stop(SIGTERM, -1); }
    // CPU seconds the server has used.
    double CpuSeconds() const {
        FILE* f = std::fopen(("/proc/" + std::to_string(m_Process.Pid()) + "/stat").c_str(), "r");
        if (f == nullptr)
            return 0;
        char buf[1024];
        size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        buf[n] = 0;
        const char* p = std::strrchr(buf, ')');
        unsigned long utime = 0, stime = 0;
        if (p == nullptr ||
            std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) {
            return 0;
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    uint16_t Port() const { return m_nPort; }

private:
    vp::test::CChildProcess m_Process;
    uint16_t m_nPort = 0;
};

void RaiseFileLimit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

void BM_ServerLoad(benchmark::State& state) {
    const int clients = EnvInt("VP_BENCH_CLIENTS", 5000);
    const int calls = EnvInt("VP_BENCH_CALLS", 500);
    const int seconds = EnvInt("VP_BENCH_SECONDS", 10);
    const int probes = 20;
    const std::string address = "127.0.0.98";
    RaiseFileLimit();

    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("vp_bench_server_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string db = (dir / "accounts.db").string();
    {
        CAccountStore store;
        if (!store.Open(db, true)) {
            state.SkipWithError("cannot create the database");
            return;
        }
        auto add = [&](int ntv) {
            CUserProfile p;
            p.strNtv = std::to_string(ntv);
            store.AddUser(p, p.strNtv, EHashCost::Minimal);
        };
        for (int i = 0; i < clients; ++i)
            add(100000 + i);
        for (int i = 0; i < calls; ++i) {
            add(200000 + i);
            add(300000 + i);
        }
    }

    for (auto _ : state) {
        CServerChild server;
        if (!server.Start(db, address)) {
            state.SkipWithError("velaphond did not start");
            break;
        }
        asio::io_context io;
        CStats stats;
        std::vector<std::shared_ptr<CPeer>> peers;
        tcp::endpoint endpoint(asio::ip::make_address(address), server.Port());
        auto connect = [&](CPeer::ERole role, int ntv) {
            auto p = std::make_shared<CPeer>(io, stats, role);
            p->strNtv = std::to_string(ntv);
            asio::error_code ec;
            p->Socket().connect(endpoint, ec);
            if (ec)
                return false;
            p->Begin();
            p->Control(BuildLogin(p->strNtv, p->strNtv, "127.0.0.1", "0200003", 0));
            peers.push_back(p);
            return true;
        };
        bool ok = true;
        for (int i = 0; i < clients && ok; ++i) {
            ok = connect(CPeer::ERole::Idle, 100000 + i);
            for (int k = 1; k <= 3; ++k)
                peers.back()->contacts.push_back(std::to_string(100000 + (i + k) % clients));
            if (i % 200 == 0)
                io.poll();
        }
        for (int i = 0; i < calls && ok; ++i) {
            ok = connect(CPeer::ERole::Caller, 200000 + i) && connect(CPeer::ERole::Callee, 300000 + i);
            peers[peers.size() - 2]->strPeerNtv = std::to_string(300000 + i);
            if (i % 100 == 0)
                io.poll();
        }
        if (!ok) {
            state.SkipWithError("cannot connect the clients");
            break;
        }
        auto runUntil = [&](auto done, int timeoutS) {
            auto end = Clock::now() + std::chrono::seconds(timeoutS);
            while (!done() && Clock::now() < end)
                io.run_for(std::chrono::milliseconds(20));
            return done();
        };
        if (!runUntil([&] { return stats.loggedIn == static_cast<uint64_t>(clients + 2 * calls); }, 120)) {
            state.SkipWithError("not every client logged in");
            break;
        }
        for (auto& p : peers) {
            if (p->Role() == CPeer::ERole::Caller)
                p->Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        }
        if (!runUntil([&] { return stats.established == static_cast<uint64_t>(calls); }, 60)) {
            state.SkipWithError("not every call was established");
            break;
        }

        // The loopback reference: probes and their echoes, driven by the same event loop.
        tcp::acceptor echoes(io, tcp::endpoint(asio::ip::make_address("127.0.0.99"), 0));
        for (int i = 0; i < probes; ++i) {
            auto probe = std::make_shared<CPeer>(io, stats, CPeer::ERole::Probe);
            auto echo = std::make_shared<CPeer>(io, stats, CPeer::ERole::Echo);
            probe->Socket().connect(echoes.local_endpoint());
            echoes.accept(echo->Socket());
            probe->Begin();
            echo->Begin();
            peers.push_back(probe);
            peers.push_back(echo);
        }

        // Ticks of 10 ms, spreading the load as real clients would: each idle client polls once in 500
        // ticks (5 s), each call party and probe sends audio once in 10 ticks (100 ms).
        int tick = 0;
        bool audio = false;
        asio::steady_timer timer(io);
        std::function<void()> onTick = [&] {
            for (size_t i = static_cast<size_t>(tick % 500); i < static_cast<size_t>(clients); i += 500)
                peers[i]->Poll();
            if (audio) {
                for (size_t i = static_cast<size_t>(clients) + static_cast<size_t>(tick % 10); i < peers.size();
                     i += 10) {
                    if (peers[i]->bInCall || peers[i]->Role() == CPeer::ERole::Probe)
                        peers[i]->SendAudio();
                }
            }
            ++tick;
            timer.expires_at(timer.expiry() + std::chrono::milliseconds(10));
            timer.async_wait([&](asio::error_code ec) {
                if (!ec)
                    onTick();
            });
        };
        timer.expires_after(std::chrono::milliseconds(10));
        timer.async_wait([&](asio::error_code ec) {
            if (!ec)
                onTick();
        });
        auto phase = [&](bool withAudio) {
            audio = withAudio;
            io.run_for(std::chrono::seconds(1));  // settle
            stats.measuring = stats.collecting = true;
            double cpu0 = server.CpuSeconds();
            auto t0 = Clock::now();
            io.run_for(std::chrono::seconds(seconds));
            double cpu = server.CpuSeconds() - cpu0;
            double wall = std::chrono::duration<double>(Clock::now() - t0).count();
            audio = false;
            stats.measuring = false;
            io.run_for(std::chrono::seconds(1));  // answers still on their way
            stats.collecting = false;
            return cpu / wall;  // cores busy
        };
        double idleLoad = phase(false);
        stats.loopbackUs.clear();
        double callLoad = phase(true);
        timer.cancel();

        state.counters["clients"] = clients;
        state.counters["calls"] = calls;
        state.counters["cpu_us_per_s_per_client"] = idleLoad * 1e6 / (clients + 2.0 * calls);
        state.counters["cpu_us_per_s_per_call"] = std::max(0.0, callLoad - idleLoad) * 1e6 / calls;
        state.counters["server_cores_idle_phase"] = idleLoad;
        state.counters["server_cores_call_phase"] = callLoad;
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
        for (auto& p : peers) {
            asio::error_code ec;
            p->Socket().close(ec);
        }
    }
    fs::remove_all(dir);
}

BENCHMARK(BM_ServerLoad)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
