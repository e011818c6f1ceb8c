// velaphond under a videophone's load: N logged-in clients that poll the presence of three contacts every
// 5 s, and M established calls that relay ten audio messages a second each way. Reports the server's CPU
// per client and per call (from /proc while each phase runs) and the latency the relay adds, beside the
// plain loopback round trip measured in the same run by an echo in this process: both paths cross the
// loopback twice. Sizes: VP_BENCH_CLIENTS (default 5000), VP_BENCH_CALLS (500), VP_BENCH_SECONDS (10 per
// phase).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "BenchAccounts.h"
#include "LoadRig.h"
#include "ServerChild.h"

namespace {

using asio::ip::tcp;

void BM_ServerLoad(benchmark::State& state) {
    const int clients = EnvInt("VP_BENCH_CLIENTS", 5000);
    const int calls = EnvInt("VP_BENCH_CALLS", 500);
    const int seconds = EnvInt("VP_BENCH_SECONDS", 10);
    const std::string address = "127.0.0.98";
    RaiseFileLimit();

    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("vp_bench_server_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string db = (dir / "accounts.db").string();
    if (!SeedBenchAccounts(db, clients, calls)) {
        state.SkipWithError("cannot create the database");
        return;
    }

    for (auto _ : state) {
        CServerChild server;
        if (!server.Start(db, address)) {
            state.SkipWithError("velaphond did not start");
            break;
        }
        CLoadRig rig;
        tcp::endpoint endpoint(asio::ip::make_address(address), server.Port());
        bool ok = true;
        for (int i = 0; i < clients && ok; ++i) {
            auto p = rig.Connect(CPeer::ERole::Idle, IdleNtv(i), endpoint);
            ok = p != nullptr;
            for (int k = 1; k <= 3 && ok; ++k)
                p->contacts.push_back(IdleNtv((i + k) % clients));
        }
        for (int i = 0; i < calls && ok; ++i) {
            auto caller = rig.Connect(CPeer::ERole::Caller, CallerNtv(i), endpoint);
            ok = caller != nullptr && rig.Connect(CPeer::ERole::Callee, CalleeNtv(i), endpoint);
            if (ok)
                caller->strPeerNtv = CalleeNtv(i);
        }
        if (!ok) {
            state.SkipWithError("cannot connect the clients");
            break;
        }
        if (!rig.AllLoggedIn(120)) {
            state.SkipWithError("not every client logged in");
            break;
        }
        if (!rig.PlaceCalls(60) || rig.stats.established != static_cast<uint64_t>(calls)) {
            state.SkipWithError("not every call was established");
            break;
        }
        // The loopback reference: probes and their echoes, driven by the same event loop.
        if (!rig.AddProbes("127.0.0.99", 20)) {
            state.SkipWithError("cannot start the loopback echo");
            break;
        }
        rig.StartTicks();
        auto cpu = [&] { return std::vector<double>{server.CpuSeconds()}; };
        double idleLoad = rig.Phase(false, seconds, cpu)[0];
        double callLoad = rig.Phase(true, seconds, cpu)[0];

        state.counters["clients"] = clients;
        state.counters["calls"] = calls;
        state.counters["cpu_us_per_s_per_client"] = idleLoad * 1e6 / (clients + 2.0 * calls);
        state.counters["cpu_us_per_s_per_call"] = std::max(0.0, callLoad - idleLoad) * 1e6 / calls;
        state.counters["server_cores_idle_phase"] = idleLoad;
        state.counters["server_cores_call_phase"] = callLoad;
        rig.Report(state);
    }
    fs::remove_all(dir);
}

BENCHMARK(BM_ServerLoad)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
