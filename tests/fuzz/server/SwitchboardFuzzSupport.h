// What the switchboard's fuzz harnesses share: a host that checks every frame the switchboard writes, and
// an account store with the harness's users (each user's password is its NTV).
#pragma once

#include <cstdlib>
#include <functional>
#include <map>

#include "net/Frame.h"
#include "server/AccountStore.h"
#include "server/ServerLog.h"
#include "server/Switchboard.h"

class CCheckingHost : public ISwitchboardHost {
public:
    void SendFrame(ConnId, Bytes frame, bool) override {
        // Everything the server writes must be one well-formed frame.
        SFrameHeader h;
        if (!ParseFrameHeader(frame.data(), frame.size(), h) || frame.size() != kFrameHeaderSize + h.length) {
            std::abort();
        }
    }
    void CloseConnection(ConnId id) override { closed[id] = true; }
    void PauseReading(ConnId, bool) override {}
    void RunCheck(std::function<bool()> check, std::function<void(bool)> done) override { done(check()); }
    std::map<ConnId, bool> closed;
};

// Users 1001, 1002 and 1003, made once per process.
inline CAccountStore& FuzzStore() {
    static CAccountStore* store = [] {
        SetServerLogSink([](const std::string&) {});
        auto* s = new CAccountStore;
        if (!s->Open(":memory:", true))
            std::abort();
        for (const char* ntv : {"1001", "1002", "1003"}) {
            CUserProfile p;
            p.strNtv = ntv;
            p.strName = "name";
            s->AddUser(p, ntv, EHashCost::Minimal);
        }
        return s;
    }();
    return *store;
}
