// Helpers for calls between real clients through a real velaphond: the accounts every call test uses and
// the server that holds them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "integration/app/SessionHarness.h"
#include "integration/call/CliProcess.h"
#include "integration/call/RawCallee.h"

namespace calltest {

using namespace sessiontest;

// Accounts 5550141 Ana, 5550142 Bea, 5550143 Carla; Ana knows Bea as "Bea R.".
inline const std::vector<SUser>& Users() {
    static const std::vector<SUser> users = {
        {"5550141", "pw-ana", "Ana Gil", {{"5550142", "Bea R."}}},
        {"5550142", "pw-bea", "Bea Ruiz", {}},
        {"5550143", "pw-carla", "Carla", {}},
    };
    return users;
}

// velaphond on ADDRESS:443 with the accounts above.
struct SCallServer : SSeededServer {
    explicit SCallServer(const std::string& address) : SSeededServer(address, Users()) {}
};

}  // namespace calltest
