// trials: fault trials of the client, the server and the settings, with a report table (make trials).
//   trials [--report FILE] [--only session|call|settings|link]...
// TRIALS_N sets the rounds of the repeated trials (default 100), TRIALS_SEED the random moments.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "support/Process.h"
#include "trials/Trials.h"

int main(int argc, char** argv) {
    using namespace trials;
    std::string reportPath;
    std::set<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--save-loop")
            return SaveLoop();
        if ((arg == "--report" || arg == "--only") && i + 1 < argc) {
            if (arg == "--report")
                reportPath = argv[++i];
            else
                only.insert(argv[++i]);
            continue;
        }
        std::fprintf(stderr, "usage: trials [--report FILE] [--only session|call|settings|link]...\n");
        return 2;
    }
    auto wanted = [&](const char* name) { return only.empty() || only.count(name) != 0; };

    vp::test::CTempDir scratch("vp-trials");
    SContext ctx;
    ctx.bin = ProgramFolder();
    ctx.scratch = scratch.Path();
    ctx.n = std::getenv("TRIALS_N") != nullptr ? std::max(1, std::atoi(std::getenv("TRIALS_N"))) : 100;
    const unsigned seed = std::getenv("TRIALS_SEED") != nullptr ? std::atoi(std::getenv("TRIALS_SEED")) : 1;
    ctx.rng.seed(seed);

    const auto started = Clock::now();
    std::string rows;
    int problems = 0;
    auto run = [&](const char* name, const char* title, std::string (*trial)(SContext&)) {
        if (!wanted(name))
            return;
        std::fprintf(stderr, "trials: %s (%d rounds)\n", title, ctx.n);
        std::string row = trial(ctx);
        if (row.find("| none |") == std::string::npos)
            ++problems;
        rows += row;
    };
    run("session", "server killed during a session", ServerKillDuringSession);
    run("call", "server killed during a call", ServerKillDuringCall);
    run("settings", "kill -9 during settings saves", KillDuringSaves);

    std::string report = "# Fault trials\n\n";
    if (!rows.empty())
        report +=
            "Times in milliseconds as min / median / p90 / p99 / max.\n\n"
            "| trial | rounds | failures | measured | also |\n|---|---|---|---|---|\n" +
            rows + "\n";
    if (wanted("link"))
        report +=
            "## A call through the fault relay\n\nThe caller's link to the server runs through a relay "
            "that misbehaves 3 s into a call with sound (a tone) and a chat line every 100 ms each way ("
            "200 bytes unless said); the caller hangs up 18 s after the call connected.\n\n" +
            LinkFaults(ctx, problems) + "\n";
    char tail[160];
    std::snprintf(tail, sizeof tail, "Rounds %d, seed %u, %.0f s in all; %s.\n", ctx.n, seed,
                  Ms(Clock::now() - started) / 1000, problems == 0 ? "no fault found" : "FAULTS FOUND");
    report += tail;

    std::fputs(report.c_str(), stdout);
    if (!reportPath.empty()) {
        std::filesystem::create_directories(std::filesystem::path(reportPath).parent_path());
        std::ofstream(reportPath) << report;
    }
    return problems == 0 ? 0 : 1;
}
