// What every fault trial uses: the programs beside this one, a velaphond that can be killed and started
// again on the trials' address, velaphon-cli processes, waiting for their lines, and distributions.
#pragma once

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "support/Process.h"

namespace trials {

using Clock = vp::test::CChildProcess::Clock;
using EMatch = vp::test::CChildProcess::EMatch;

constexpr const char* kServerAddress = "127.0.0.240";
constexpr const char* kRelayAddress = "127.0.0.241";

struct SUserAccount {
    const char* ntv;
    const char* password;
};
constexpr SUserAccount kAna{"5550241", "pw-ana"};
constexpr SUserAccount kBea{"5550242", "pw-bea"};

// The folder of this program, where velaphond and velaphon-cli are built too.
std::string ProgramFolder();
double Ms(Clock::duration d);

// Whatever the trials share: where the programs are, a scratch folder, the random source, the count.
struct SContext {
    std::string bin;
    std::string scratch;
    std::mt19937 rng;
    int n = 100;
    // A whole number of milliseconds, uniform in [lo, hi].
    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
};

// velaphond on kServerAddress:443 with Ana and Bea, who know each other.
class CTrialServer {
public:
    explicit CTrialServer(const SContext& ctx);
    // Starts it and waits until it accepts; the moment it said so.
    bool Start(Clock::time_point* listening = nullptr);
    // SIGKILL, reaped.
    void Kill();
    bool Ready() const { return !m_strDb.empty(); }

private:
    std::string m_strBin, m_strDb;
    vp::test::CChildProcess m_Process;
};

// velaphon-cli logged in as `user` to `host`, with more arguments; standard output collected.
void StartCli(vp::test::CChildProcess& cli, const SContext& ctx, const SUserAccount& user,
              const std::string& host, const std::vector<std::string>& extra = {});
// Waits until at least `count` lines match; false when they did not come in time or the program ended.
bool WaitCount(vp::test::CChildProcess& p, const std::string& text, int count, int timeoutMs,
               EMatch match = EMatch::Exact);
// The number ending the last line "NAME N" so far; -1 when none came.
long NumberAfter(vp::test::CChildProcess& p, const std::string& name);

// min / median / p90 / p99 / max of a sample in milliseconds, as table text ("-" when empty).
std::string Distribution(std::vector<double> ms);

}  // namespace trials
