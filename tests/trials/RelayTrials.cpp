// A call with sound and chat both ways, the caller's link to the server through the fault relay: a delay,
// a bandwidth cap, a stall and a reset. What each side prints is what its user sees; the chat lines each
// side sent are checked off against those the other received.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <thread>

#include "support/FaultRelay.h"
#include "trials/Trials.h"

namespace trials {

namespace {

using vp::test::CChildProcess;
using vp::test::CFaultRelay;

constexpr int kBeforeMs = 3000;  // the call runs normally first
constexpr int kFaultMs = 10000;  // how long a delay, cap or stall lasts
constexpr int kAfterMs = 5000;   // the call runs on after it
constexpr int kChatEveryMs = 100;

struct SFault {
    const char* name;
    std::function<void(CFaultRelay&)> apply;
    bool bReset;
    int nChatBytes = 200;  // each chat line's size
};

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The chat lines "chat N..." received, by number, in the order they came.
std::vector<long> ChatReceived(CChildProcess& p) {
    std::vector<long> out;
    for (const std::string& line : p.Lines())
        if (line.compare(0, 10, "text chat ") == 0)
            out.push_back(std::atol(line.c_str() + 10));
    return out;
}

// "sent S, received R" plus what is missing: lost in the middle (a fault) or only the last lines, those
// still on the way when the call ended.
std::string ChatAccount(long sent, const std::vector<long>& received, int& midLost) {
    std::set<long> got(received.begin(), received.end());
    const bool inOrder = std::is_sorted(received.begin(), received.end()) && got.size() == received.size();
    long missing = 0, firstMissing = 0;
    for (long k = 1; k <= sent; ++k)
        if (got.count(k) == 0 && missing++ == 0)
            firstMissing = k;
    std::string text = std::to_string(sent) + " / " + std::to_string(received.size());
    if (missing == 0)
        return text + (inOrder ? "" : " (out of order or repeated!)");
    // Missing lines that are all after the last one received were on their way when the call ended.
    const long lastGot = got.empty() ? 0 : *got.rbegin();
    if (firstMissing > lastGot) {
        text += " (last " + std::to_string(missing) + " on the way at the end)";
    } else {
        ++midLost;
        text += " (" + std::to_string(missing) + " lost, first #" + std::to_string(firstMissing) + "!)";
    }
    return text + (inOrder ? "" : " (out of order or repeated!)");
}

// How much later than at the start of the call each chat line came, with its arrival: line N leaves about
// N send intervals after the sender's call connected, so its lateness over the first lines' is what the
// link added.
std::vector<std::pair<Clock::time_point, double>> ChatLateness(CChildProcess& receiver,
                                                               Clock::time_point senderConnected) {
    const auto lines = ChatReceived(receiver);
    const auto times = receiver.TimesOf("text chat ", EMatch::Prefix);
    std::vector<std::pair<Clock::time_point, double>> late;
    for (size_t i = 0; i < lines.size() && i < times.size(); ++i)
        late.push_back(
            {times[i], Ms(times[i] - senderConnected) - static_cast<double>(lines[i] * kChatEveryMs)});
    double base = 1e9;
    for (size_t i = 0; i < late.size() && i < 10; ++i)
        base = std::min(base, late[i].second);
    for (auto& l : late)
        l.second -= base;
    return late;
}

std::string MostAdded(const std::vector<std::pair<Clock::time_point, double>>& late) {
    double most = 0;
    for (const auto& l : late)
        most = std::max(most, l.second);
    char text[32];
    std::snprintf(text, sizeof text, late.empty() ? "-" : "+%.1f s", most / 1000);
    return text;
}

// The events a user would notice from line `from` on: chat, sound and video counts left out.
std::string Events(CChildProcess& p, size_t from) {
    const auto lines = p.Lines();
    std::string text, last;
    for (size_t i = from; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        // The contact list refilling after a login is left out too: its pop-up says what the user sees.
        if (l.rfind("text ", 0) == 0 || l.rfind("audio-", 0) == 0 || l.rfind("video-", 0) == 0 ||
            l.rfind("chat-sent", 0) == 0 || l.rfind("user-info", 0) == 0 || l.rfind("contact", 0) == 0 ||
            l == last)
            continue;
        text += (text.empty() ? "" : ", ") + l;
        last = l;
    }
    return text.empty() ? "nothing" : text;
}

std::string RunFault(SContext& ctx, const SFault& fault, int& problems) {
    CTrialServer server(ctx);
    CFaultRelay relay;
    if (!server.Ready() || !server.Start() || !relay.Start(kRelayAddress, 443, kServerAddress, 443)) {
        ++problems;
        return std::string("| ") + fault.name + " | could not start the server or the relay |\n";
    }
    const std::string every = std::to_string(kChatEveryMs), size = std::to_string(fault.nChatBytes);
    const std::string talk = std::to_string((kBeforeMs + kFaultMs + kAfterMs) / 1000);
    CChildProcess ana, bea;
    StartCli(bea, ctx, kBea, kServerAddress,
             {"--auto-answer", "--mic", "tone", "--chat-every", every, "--chat-size", size});
    WaitCount(bea, "state C", 1, 15000);
    StartCli(ana, ctx, kAna, kRelayAddress,
             {"--call", kBea.ntv, "--mic", "tone", "--chat-every", every, "--chat-size", size,
              "--hangup-after", talk});
    if (!WaitCount(ana, "call-connected", 1, 15000) || !WaitCount(bea, "call-connected", 1, 5000)) {
        ++problems;
        return std::string("| ") + fault.name + " | the call did not connect |\n";
    }
    const auto connected = *ana.TimeOf("call-connected");
    Sleep(kBeforeMs);
    const size_t anaFrom = ana.Lines().size(), beaFrom = bea.Lines().size();
    const auto faultAt = Clock::now();
    fault.apply(relay);
    std::string recovery = "-";
    auto clearedAt = Clock::time_point::max();
    if (fault.bReset) {
        if (WaitCount(ana, "state C", 2, 15000)) {
            char t[64];
            std::snprintf(t, sizeof t, "caller logged in again %.0f ms after the reset",
                          Ms(ana.TimesOf("state C")[1] - faultAt));
            recovery = t;
        } else {
            recovery = "caller not logged in again within 15 s";
            ++problems;
        }
    } else {
        Sleep(kFaultMs);
        relay.Clear();
        clearedAt = Clock::now();
    }
    const bool anaEnded = WaitCount(ana, "hangup", 1, kAfterMs + 15000);
    const bool beaEnded = WaitCount(bea, "hangup", 1, 15000);
    WaitCount(ana, "chat-sent ", 1, 5000, EMatch::Prefix);
    WaitCount(bea, "chat-sent ", 1, 5000, EMatch::Prefix);
    Sleep(500);
    std::string callState;
    if (!anaEnded || !beaEnded) {
        callState = "did not end on both sides!";
        ++problems;
    } else {
        const double lasted = Ms(*ana.TimeOf("hangup") - connected) / 1000;
        char t[96];
        std::snprintf(
            t, sizeof t, "%s (%.1f s)",
            lasted + 1 >= kBeforeMs / 1000 + kFaultMs / 1000 + kAfterMs / 1000 ? "stayed up" : "ended",
            lasted);
        callState = t;
    }
    const int anaCode = ana.Stop(SIGTERM), beaCode = bea.Stop(SIGTERM);
    if (anaCode != 0 || beaCode != 0) {
        callState += " exit codes " + std::to_string(anaCode) + "/" + std::to_string(beaCode) + "!";
        ++problems;
    }
    int midLost = 0;
    const std::string up = ChatAccount(NumberAfter(ana, "chat-sent"), ChatReceived(bea), midLost);
    const std::string down = ChatAccount(NumberAfter(bea, "chat-sent"), ChatReceived(ana), midLost);
    // A line lost in the middle of a connection that lived is a fault; after a reset it is what the reset
    // took (the caller's connection ended).
    if (!fault.bReset)
        problems += midLost;
    const auto upLate = ChatLateness(bea, connected);
    const auto downLate = ChatLateness(ana, *bea.TimeOf("call-connected"));
    if (!fault.bReset) {
        // On time again: the first line after the fault ended that is no more than 150 ms late.
        recovery = "chat not on time again!";
        for (const auto& [at, late] : upLate)
            if (at >= clearedAt && late <= 150) {
                char t[96];
                std::snprintf(t, sizeof t, "chat on time again %.0f ms after the fault ended",
                              Ms(at - clearedAt));
                recovery = t;
                break;
            }
    }
    char sound[128];
    std::snprintf(sound, sizeof sound, "%ld / %ld; %ld / %ld", NumberAfter(ana, "audio-sent"),
                  NumberAfter(bea, "audio-received"), NumberAfter(bea, "audio-sent"),
                  NumberAfter(ana, "audio-received"));
    std::string row = std::string("| ") + fault.name + " | " + callState + " | " + Events(ana, anaFrom) +
                      " | " + Events(bea, beaFrom) + " | " + recovery + " | " + up + " | " + down + " | " +
                      MostAdded(upLate) + " / " + MostAdded(downLate) + " | " + sound + " |\n";
    relay.Stop();
    server.Kill();
    return row;
}

}  // namespace

std::string LinkFaults(SContext& ctx, int& problems) {
    const std::vector<SFault> faults = {
        {"delay 300 ms each way, 10 s", [](CFaultRelay& r) { r.SetDelay(300, 300); }, false},
        {"bandwidth 32 KiB/s each way, 10 s, chat lines of 4000 bytes (40 kB/s each way)",
         [](CFaultRelay& r) { r.SetBandwidth(32 * 1024); }, false, 4000},
        {"stall 10 s", [](CFaultRelay& r) { r.Stall(kFaultMs); }, false},
        {"reset (RST both ways)", [](CFaultRelay& r) { r.Reset(); }, true},
    };
    std::string text =
        "| fault on the caller's link | call | caller sees (after the fault) | callee sees | recovery | "
        "chat caller→callee sent / received | chat callee→caller sent / received | most added chat delay "
        "(caller→callee / callee→caller) | sound packets sent / received (caller→callee; callee→caller) |\n"
        "|---|---|---|---|---|---|---|---|---|\n";
    for (const SFault& f : faults) {
        std::fprintf(stderr, "trials: link fault: %s\n", f.name);
        text += RunFault(ctx, f, problems);
    }
    return text;
}

}  // namespace trials
