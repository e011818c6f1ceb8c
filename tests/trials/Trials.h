// The fault trials; each returns its part of the report (markdown table rows).
#pragma once

#include <string>

#include "trials/TrialSupport.h"

namespace trials {

std::string ServerKillDuringSession(SContext& ctx);
std::string ServerKillDuringCall(SContext& ctx);
std::string KillDuringSaves(SContext& ctx);
// Adds to `problems` every fault found (a call that does not end, chat lost while the link lived...).
std::string LinkFaults(SContext& ctx, int& problems);

// The helper the settings trial kills: saves new contents one after another until killed.
int SaveLoop();

}  // namespace trials
