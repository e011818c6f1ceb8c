// The server dies (SIGKILL) and comes back, again and again, under a logged-in client and under a call
// between two clients: how long until each client is logged in again, and whether a call ends cleanly.
#include <cstdio>
#include <map>
#include <thread>

#include "trials/Trials.h"

namespace trials {

namespace {

// The server is down for a random while, so that the clients meet every step of their back-off.
constexpr int kMaxDownMs = 1500;
constexpr int kLoginWaitMs = 15000;

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string Failures(const std::map<std::string, int>& reasons) {
    std::string text;
    for (const auto& [why, count] : reasons)
        text += (text.empty() ? "" : "; ") + why + " ×" + std::to_string(count);
    return text.empty() ? "none" : text;
}

// Waits for the next login of `cli` (its `count`-th "state C") and gives its time after `from`.
bool Relogged(vp::test::CChildProcess& cli, int count, Clock::time_point from, std::vector<double>& out) {
    if (!WaitCount(cli, "state C", count, kLoginWaitMs))
        return false;
    out.push_back(std::max(0.0, Ms(cli.TimesOf("state C")[static_cast<size_t>(count - 1)] - from)));
    return true;
}

}  // namespace

std::string ServerKillDuringSession(SContext& ctx) {
    CTrialServer server(ctx);
    std::vector<double> detect, back;
    std::map<std::string, int> failures;
    vp::test::CChildProcess ana;
    if (!server.Ready() || !server.Start())
        return "server killed during a session: velaphond did not start\n";
    StartCli(ana, ctx, kAna, kServerAddress);
    if (!WaitCount(ana, "state C", 1, kLoginWaitMs))
        return "server killed during a session: the client never logged in\n";

    for (int i = 0; i < ctx.n; ++i) {
        const int logins = ana.Count("state C"), losses = ana.Count("state D");
        Sleep(ctx.Uniform(0, 500));
        const auto killed = Clock::now();
        server.Kill();
        if (WaitCount(ana, "state D", losses + 1, 5000))
            detect.push_back(Ms(ana.TimesOf("state D")[static_cast<size_t>(losses)] - killed));
        else
            ++failures["loss not noticed"];
        Sleep(ctx.Uniform(0, kMaxDownMs));
        Clock::time_point listening;
        if (!server.Start(&listening)) {
            ++failures["server did not restart"];
            break;
        }
        if (!Relogged(ana, logins + 1, listening, back))
            ++failures[ana.StreamsEnded() ? "client ended" : "no login within 15 s"];
    }
    const int code = ana.Stop(SIGTERM);
    if (code != 0)
        ++failures["client exit code " + std::to_string(code)];
    server.Kill();

    char text[1024];
    std::snprintf(text, sizeof text,
                  "| server killed during a session | %d | %s | from restart to 'C': %s | loss noticed "
                  "after kill: %s; down 0–%d ms at random; %d login errors |\n",
                  ctx.n, Failures(failures).c_str(), Distribution(back).c_str(), Distribution(detect).c_str(),
                  kMaxDownMs, ana.Count("login-error ", EMatch::Prefix));
    return text;
}

std::string ServerKillDuringCall(SContext& ctx) {
    CTrialServer server(ctx);
    std::vector<double> callerBack, calleeBack;
    std::map<std::string, int> failures;
    int endedBoth = 0, soundUp = 0, soundDown = 0;
    vp::test::CChildProcess bea;
    if (!server.Ready() || !server.Start())
        return "server killed during a call: velaphond did not start\n";
    // The callee lives through every round; each round has a caller of its own, which must end cleanly.
    StartCli(bea, ctx, kBea, kServerAddress, {"--auto-answer", "--mic", "tone"});
    if (!WaitCount(bea, "state C", 1, kLoginWaitMs))
        return "server killed during a call: the callee never logged in\n";

    for (int i = 0; i < ctx.n; ++i) {
        vp::test::CChildProcess ana;
        const int beaCalls = bea.Count("call-connected"), beaEnds = bea.Count("hangup");
        const int beaLogins = bea.Count("state C");
        StartCli(ana, ctx, kAna, kServerAddress, {"--call", kBea.ntv, "--mic", "tone"});
        if (!WaitCount(ana, "call-connected", 1, kLoginWaitMs) ||
            !WaitCount(bea, "call-connected", beaCalls + 1, 5000)) {
            ++failures["call not connected"];
            ana.Kill();
            continue;
        }
        Sleep(ctx.Uniform(300, 1000));
        server.Kill();
        const bool anaEnded = WaitCount(ana, "hangup", 1, 5000) && WaitCount(ana, "state D", 1, 5000);
        const bool beaEnded = WaitCount(bea, "hangup", beaEnds + 1, 5000);
        if (anaEnded && beaEnded)
            ++endedBoth;
        else
            ++failures[anaEnded ? "callee's call did not end" : "caller's call did not end"];
        // Whether each heard the other before the server went.
        WaitCount(ana, "audio-received ", 1, 2000, EMatch::Prefix);
        WaitCount(bea, "audio-received ", beaEnds + 1, 2000, EMatch::Prefix);
        if (NumberAfter(bea, "audio-received") > 0)
            ++soundUp;
        if (NumberAfter(ana, "audio-received") > 0)
            ++soundDown;

        Sleep(ctx.Uniform(0, kMaxDownMs));
        Clock::time_point listening;
        if (!server.Start(&listening)) {
            ++failures["server did not restart"];
            break;
        }
        if (!Relogged(ana, 2, listening, callerBack))
            ++failures[ana.StreamsEnded() ? "caller ended" : "caller: no login within 15 s"];
        if (!Relogged(bea, beaLogins + 1, listening, calleeBack))
            ++failures[bea.StreamsEnded() ? "callee ended" : "callee: no login within 15 s"];
        // No call may come back by itself, and the caller ends as asked.
        if (ana.Count("call-connected") != 1)
            ++failures["caller's call came back"];
        const int code = ana.Stop(SIGTERM);
        if (code != 0)
            ++failures["caller exit code " + std::to_string(code)];
    }
    const int code = bea.Stop(SIGTERM);
    if (code != 0)
        ++failures["callee exit code " + std::to_string(code)];
    server.Kill();

    char text[1024];
    std::snprintf(text, sizeof text,
                  "| server killed during a call | %d | %s | from restart to 'C': caller %s; callee %s | "
                  "call ended on both sides (hangup, then 'D') in %d; sound reached the callee in %d, "
                  "the caller in %d |\n",
                  ctx.n, Failures(failures).c_str(), Distribution(callerBack).c_str(),
                  Distribution(calleeBack).c_str(), endedBoth, soundUp, soundDown);
    return text;
}

}  // namespace trials
