// The client side of a server benchmark, driven by one event loop in the benchmark's thread: logged-in
// clients, their calls, the loopback echo beside them, and measuring phases that read the servers' CPU.
#pragma once

#include <benchmark/benchmark.h>

#include <asio.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LoadPeer.h"

// Thousands of connections need more descriptors than the usual soft limit.
void RaiseFileLimit();

class CLoadRig {
public:
    CLoadRig() : m_Timer(m_io) {}
    ~CLoadRig();

    CStats stats;

    // Connects and logs in; false when the connection fails. Idle clients poll their contacts every 5 s.
    std::shared_ptr<CPeer> Connect(CPeer::ERole role, const std::string& ntv,
                                   const asio::ip::tcp::endpoint& at);
    // Runs the loop until done() holds or the time is over; whether done() holds.
    bool RunUntil(const std::function<bool()>& done, int timeoutS);
    bool AllLoggedIn(int timeoutS);
    // Each caller asks for a call to its peer; true when each call is established or refused in time.
    bool PlaceCalls(int timeoutS);
    // `count` probe connections to an echo of this process on `address`.
    bool AddProbes(const std::string& address, int count);

    // Ticks of 10 ms, spreading the load as real clients would: each idle client polls once in 500 ticks
    // (5 s), each call party and probe sends audio once in 10 ticks (100 ms).
    void StartTicks();
    // Settles for a second, then measures for `seconds`: the cores each process kept busy, as `cpu`
    // reads their CPU seconds. Audio flows only in a phase that asks for it.
    std::vector<double> Phase(bool withAudio, int seconds, const std::function<std::vector<double>()>& cpu);
    // Latency and losses of the phases so far.
    void Report(benchmark::State& state) const;
    asio::io_context& Io() { return m_io; }
    // Work of the caller's own run on every tick (none when empty).
    std::function<void()> onTick;

private:
    void Tick();

    asio::io_context m_io;
    asio::steady_timer m_Timer;
    std::unique_ptr<asio::ip::tcp::acceptor> m_pEchoes;
    std::vector<std::shared_ptr<CPeer>> m_Peers;
    std::vector<CPeer*> m_Pollers, m_Talkers;
    int m_nTick = 0, m_nCalls = 0;
    bool m_bAudio = false;
};
