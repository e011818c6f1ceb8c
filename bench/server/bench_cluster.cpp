// velaphond as a cluster: three nodes sharing one private Redis and one SQLite file (127.0.0.50–54).
// BM_ClusterCalls holds the same number of calls (VP_BENCH_CLUSTER_CALLS, default 200, ten audio messages
// a second each way) within node 1, then across nodes 1 and 2 (caller on 1, callee on 2), and reports the
// latency the relay adds beside the plain loopback echo of the same run, the nodes' CPU per call (summed
// over the nodes involved) and Redis's CPU per call and per frame relayed between nodes.
// BM_ClusterLoad spreads idle clients (VP_BENCH_CLUSTER_CLIENTS, 1500) and calls over the three nodes,
// every other call across two nodes, with calls doubling from VP_BENCH_CLUSTER_STEP (100) up to
// VP_BENCH_CLUSTER_MAX (1600) while the relay's p99 stays under VP_BENCH_P99_MS (20): the last size under
// it is what this machine holds (a size where the plain loopback passed it too was disturbed by other work
// and does not end the climb). VP_BENCH_SECONDS (10) per phase.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "BenchAccounts.h"
#include "LoadRig.h"
#include "RedisPublisher.h"
#include "ServerChild.h"
#include "net/Protocol.h"
#include "support/RedisServer.h"

namespace {

using asio::ip::tcp;

constexpr int kNodes = 3;
constexpr const char* kRedisAddress = "127.0.0.50";
constexpr std::array<const char*, kNodes> kNodeAddresses = {"127.0.0.51", "127.0.0.52", "127.0.0.53"};
constexpr const char* kEchoAddress = "127.0.0.54";
// Each party of a call sends ten audio messages a second.
constexpr double kFramesPerSecondPerCall = 20;

enum class EPlacement { WithinNode, AcrossNodes, Spread };

// Redis and the nodes over a database seeded for the run; the nodes stop first, in order, so they give
// their claims back, then Redis, then the files go.
class CCluster {
public:
    bool Start(int clients, int calls, std::string& why) {
        const std::string db = m_Dir.File("accounts.db");
        if (!SeedBenchAccounts(db, clients, calls)) {
            why = "cannot create the database";
            return false;
        }
        if (!m_Redis.Start(&why))
            return false;
        m_RedisPid = FindChild("redis-server");
        for (int n = 0; n < kNodes; ++n) {
            if (!m_Nodes[n].Start(db, kNodeAddresses[n],
                                  {"--cluster", m_Redis.Uri(), "--node-id", std::to_string(n + 1)})) {
                why = "velaphond did not start";
                return false;
            }
        }
        for (auto& node : m_Nodes) {
            if (!node.WaitLog("cluster: joined Redis", 10000)) {
                why = "a node did not join Redis";
                return false;
            }
        }
        return true;
    }
    const vp::test::CRedisServer& Redis() const { return m_Redis; }
    tcp::endpoint Node(int n) const {
        return {asio::ip::make_address(m_Nodes[n].Address()), m_Nodes[n].Port()};
    }
    // CPU seconds so far: each node, then Redis, then this process (the clients).
    std::vector<double> Cpu() const {
        std::vector<double> cpu;
        for (const auto& node : m_Nodes)
            cpu.push_back(node.CpuSeconds());
        cpu.push_back(CpuSecondsOf(m_RedisPid));
        cpu.push_back(CpuSecondsOf(getpid()));
        return cpu;
    }

private:
    vp::test::CTempDir m_Dir{"vp-bench-cluster"};
    vp::test::CRedisServer m_Redis{kRedisAddress};
    std::array<CServerChild, kNodes> m_Nodes;
    pid_t m_RedisPid = -1;
};

// The nodes (0-based) of call i's caller and callee.
std::pair<int, int> CallNodes(EPlacement placement, int i) {
    switch (placement) {
        case EPlacement::WithinNode:
            return {0, 0};
        case EPlacement::AcrossNodes:
            return {0, 1};
        case EPlacement::Spread:
            break;
    }
    return {i % kNodes, i % 2 == 0 ? i % kNodes : (i + 1) % kNodes};
}

struct SP99 {
    double relayUs = -1, loopbackUs = -1;
};

// One run: logs the load in, sets the calls up, measures a phase without audio and one with (and, but for the
// spread load, one that publishes as many frames straight to Redis). Returns the p99s, negative
// when the run could not be made (reported as an error).
SP99 RunCluster(benchmark::State& state, int clients, int calls, EPlacement placement) {
    const int seconds = EnvInt("VP_BENCH_SECONDS", 10);
    RaiseFileLimit();
    CCluster cluster;
    std::string why;
    if (!cluster.Start(clients, calls, why)) {
        state.SkipWithError(why.c_str());
        return {};
    }
    CLoadRig rig;
    std::array<bool, kNodes> involved{};
    bool ok = true;
    for (int i = 0; i < clients && ok; ++i) {
        auto p = rig.Connect(CPeer::ERole::Idle, IdleNtv(i), cluster.Node(i % kNodes));
        ok = p != nullptr;
        involved[i % kNodes] = true;
        // Two of the three contacts sit on other nodes: their presence is read through Redis.
        for (int k = 1; k <= 3 && ok; ++k)
            p->contacts.push_back(IdleNtv((i + k) % clients));
    }
    std::vector<std::pair<std::shared_ptr<CPeer>, bool>> callers;  // with whether the call is across
    for (int i = 0; i < calls && ok; ++i) {
        auto [from, to] = CallNodes(placement, i);
        auto caller = rig.Connect(CPeer::ERole::Caller, CallerNtv(i), cluster.Node(from));
        ok = caller != nullptr && rig.Connect(CPeer::ERole::Callee, CalleeNtv(i), cluster.Node(to));
        if (ok) {
            caller->strPeerNtv = CalleeNtv(i);
            callers.emplace_back(caller, from != to);
        }
        involved[from] = involved[to] = true;
    }
    if (!ok) {
        state.SkipWithError("cannot connect the clients");
        return {};
    }
    if (!rig.AllLoggedIn(120)) {
        state.SkipWithError("not every client logged in");
        return {};
    }
    if (!rig.PlaceCalls(60)) {
        state.SkipWithError("calls were neither established nor refused");
        return {};
    }
    int across = 0;
    for (const auto& [caller, isAcross] : callers)
        across += caller->bInCall && isAcross ? 1 : 0;
    const int established = static_cast<int>(rig.stats.established);
    if (established == 0 || (placement == EPlacement::AcrossNodes && across == 0)) {
        state.SkipWithError("calls were refused (this velaphond does not relay calls between nodes yet)");
        return {};
    }
    if (!rig.AddProbes(kEchoAddress, 20)) {
        state.SkipWithError("cannot start the loopback echo");
        return {};
    }
    rig.StartTicks();
    auto cpu = [&] { return cluster.Cpu(); };
    std::vector<double> idle = rig.Phase(false, seconds, cpu);
    std::vector<double> talk = rig.Phase(true, seconds, cpu);

    double nodesIdle = 0, nodesTalk = 0;
    for (int n = 0; n < kNodes; ++n) {
        if (involved[n]) {
            nodesIdle += idle[n];
            nodesTalk += talk[n];
        }
    }
    const double redisIdle = idle[kNodes], redisTalk = talk[kNodes];
    const double redisPerCall = std::max(0.0, redisTalk - redisIdle) * 1e6 / established;
    if (clients > 0) {
        state.counters["clients"] = clients;
        // Claims, their renewals and presence look-ups: what every logged-in user costs Redis (with only
        // the calls' parties logged in, Redis's own idle work would outweigh them).
        state.counters["redis_us_per_s_per_user"] = redisIdle * 1e6 / (clients + 2.0 * calls);
    }
    state.counters["calls"] = established;
    state.counters["calls_across"] = across;
    state.counters["calls_refused"] = static_cast<double>(rig.stats.refused);
    state.counters["nodes_cores_idle_phase"] = nodesIdle;
    state.counters["nodes_cores_call_phase"] = nodesTalk;
    state.counters["cpu_us_per_s_per_call"] = std::max(0.0, nodesTalk - nodesIdle) * 1e6 / established;
    state.counters["redis_cores_idle_phase"] = redisIdle;
    state.counters["redis_cores_call_phase"] = redisTalk;
    state.counters["redis_us_per_s_per_call"] = redisPerCall;
    if (across > 0) {
        // Within a node Redis has no part in the audio: its share goes to the calls across.
        state.counters["redis_us_per_frame"] =
            std::max(0.0, redisTalk - redisIdle) * 1e6 / (across * kFramesPerSecondPerCall);
    }
    state.counters["client_cores_call_phase"] = talk[kNodes + 1];
    if (placement != EPlacement::Spread) {
        // The reference for Redis: the calls' frames published straight to it, at the same rate.
        CRedisPublisher publisher(rig.Io());
        if (publisher.Open(cluster.Redis().Address(), cluster.Redis().Port())) {
            const Bytes frame(kFrameHeaderSize + kAudioHeaderSize + 160, 0x2a);
            const double perTick = established * kFramesPerSecondPerCall / 100;
            double due = 0;
            rig.onTick = [&] {
                for (due += perTick; due >= 1; due -= 1)
                    publisher.Publish(frame);
            };
            std::vector<double> bare = rig.Phase(false, seconds, cpu);
            rig.onTick = nullptr;
            state.counters["redis_us_per_frame_bare"] =
                std::max(0.0, bare[kNodes] - redisIdle) * 1e6 / (established * kFramesPerSecondPerCall);
        }
    }
    rig.Report(state);
    return {Percentile(rig.stats.relayUs, 0.99), Percentile(rig.stats.loopbackUs, 0.99)};
}

void BM_ClusterCalls(benchmark::State& state, EPlacement placement) {
    for (auto _ : state)
        RunCluster(state, 0, EnvInt("VP_BENCH_CLUSTER_CALLS", 200), placement);
}

void BM_ClusterLoad(benchmark::State& state) {
    // Once the relay has passed the limit at a size, the larger ones are not worth the machine's minutes;
    // unless the plain loopback passed it too, which says the machine was busy with something else.
    static bool s_bPassedLimit = false;
    const double limitUs = EnvInt("VP_BENCH_P99_MS", 20) * 1000.0;
    for (auto _ : state) {
        if (s_bPassedLimit) {
            state.SkipWithError("a smaller size passed the p99 limit already");
            break;
        }
        SP99 p99 = RunCluster(state, EnvInt("VP_BENCH_CLUSTER_CLIENTS", 1500),
                              static_cast<int>(state.range(0)), EPlacement::Spread);
        if (p99.relayUs < 0)
            break;
        state.counters["p99_under_limit"] = p99.relayUs <= limitUs ? 1 : 0;
        s_bPassedLimit = p99.relayUs > limitUs && p99.loopbackUs <= limitUs;
    }
}

void LoadSizes(benchmark::internal::Benchmark* b) {
    b->ArgName("calls");
    const int most = EnvInt("VP_BENCH_CLUSTER_MAX", 1600);
    for (int calls = EnvInt("VP_BENCH_CLUSTER_STEP", 100); calls <= most; calls *= 2)
        b->Arg(calls);
}

BENCHMARK_CAPTURE(BM_ClusterCalls, within_node, EPlacement::WithinNode)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ClusterCalls, across_nodes, EPlacement::AcrossNodes)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_ClusterLoad)->Apply(LoadSizes)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
