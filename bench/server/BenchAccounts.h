// The accounts a server benchmark logs in: idle clients, callers and callees, each NTV its own password.
#pragma once

#include <string>

inline std::string IdleNtv(int i) {
    return std::to_string(100000 + i);
}
inline std::string CallerNtv(int i) {
    return std::to_string(200000 + i);
}
inline std::string CalleeNtv(int i) {
    return std::to_string(300000 + i);
}

// Creates the SQLite file with `clients` idle accounts and `calls` pairs of call parties.
bool SeedBenchAccounts(const std::string& db, int clients, int calls);
