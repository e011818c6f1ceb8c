#include "trials/TrialSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/AccountSeed.h"

namespace trials {

std::string ProgramFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

CTrialServer::CTrialServer(const SContext& ctx) : m_strBin(ctx.bin + "/velaphond") {
    const std::string db = ctx.scratch + "/accounts.db";
    std::filesystem::remove(db);
    if (vp::test::SeedDatabase(db, {{kAna.ntv, kAna.password, "Ana", {{kBea.ntv, "Bea"}}},
                                    {kBea.ntv, kBea.password, "Bea", {{kAna.ntv, "Ana"}}}}))
        m_strDb = db;
}

bool CTrialServer::Start(Clock::time_point* listening) {
    const std::string address = kServerAddress;
    if (!m_Process.Start(
            {m_strBin, "serve", "--db", m_strDb, "--listen", address + ":443", "--http", address + ":0"},
            vp::test::CChildProcess::kErr))
        return false;
    if (!m_Process.WaitLine("listening ", EMatch::Prefix, 20000))
        return false;
    if (listening != nullptr)
        *listening = *m_Process.TimeOf("listening ", EMatch::Prefix);
    return true;
}

void CTrialServer::Kill() {
    m_Process.Kill();
}

void StartCli(vp::test::CChildProcess& cli, const SContext& ctx, const SUserAccount& user,
              const std::string& host, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {
        ctx.bin + "/velaphon-cli", "--host", host, "--ntv", user.ntv, "--password", user.password};
    args.insert(args.end(), extra.begin(), extra.end());
    cli.Start(args, vp::test::CChildProcess::kOut);
}

bool WaitCount(vp::test::CChildProcess& p, const std::string& text, int count, int timeoutMs, EMatch match) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (p.Count(text, match) >= count)
            return true;
        if (Clock::now() >= end || p.StreamsEnded())
            return p.Count(text, match) >= count;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

long NumberAfter(vp::test::CChildProcess& p, const std::string& name) {
    const std::string prefix = name + " ";
    const auto lines = p.Lines();
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->compare(0, prefix.size(), prefix) == 0)
            return std::atol(it->c_str() + prefix.size());
    return -1;
}

std::string Distribution(std::vector<double> ms) {
    if (ms.empty())
        return "-";
    std::sort(ms.begin(), ms.end());
    // Nearest rank: the smallest value with at least q of the sample at or below it.
    auto at = [&](double q) {
        size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(ms.size())));
        return ms[std::clamp<size_t>(rank, 1, ms.size()) - 1];
    };
    char text[128];
    std::snprintf(text, sizeof text, "%.0f / %.0f / %.0f / %.0f / %.0f", ms.front(), at(0.5), at(0.9),
                  at(0.99), ms.back());
    return text;
}

}  // namespace trials
