// What the switchboard's tests stand in for its connections with.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <vector>

#include "net/Frame.h"
#include "server/Switchboard.h"

namespace sbtest {

struct CSent {
    uint8_t channel;
    Bytes payload;
    Bytes frame;
    bool bDroppable;
};

// Records what the switchboard asks of its connections; password checks wait until run.
class CFakeHost : public ISwitchboardHost {
public:
    void SendFrame(ConnId id, Bytes frame, bool bDroppable) override {
        SFrameHeader h;
        ASSERT_TRUE(ParseFrameHeader(frame.data(), frame.size(), h));
        ASSERT_EQ(frame.size(), kFrameHeaderSize + h.length);
        Bytes payload(frame.begin() + kFrameHeaderSize, frame.end());
        sent[id].push_back({h.channel, std::move(payload), std::move(frame), bDroppable});
    }
    void CloseConnection(ConnId id) override { closed.insert(id); }
    void PauseReading(ConnId id, bool bPause) override { paused[id] = bPause; }
    void RunCheck(std::function<bool()> check, std::function<void(bool)> done) override {
        checks.push_back({std::move(check), std::move(done)});
    }
    void RunChecks() {
        auto pending = std::move(checks);
        checks.clear();
        for (auto& [check, done] : pending)
            done(check());
    }
    // Takes what was sent to a connection so far.
    std::vector<CSent> Take(ConnId id) {
        auto out = std::move(sent[id]);
        sent[id].clear();
        return out;
    }

    std::map<ConnId, std::vector<CSent>> sent;
    std::set<ConnId> closed;
    std::map<ConnId, bool> paused;
    std::vector<std::pair<std::function<bool()>, std::function<void(bool)>>> checks;
};

inline Bytes Frame(uint8_t channel, const Bytes& payload, const char* sender = "", uint32_t tag = 0) {
    Bytes frame(kFrameHeaderSize + payload.size());
    BuildFrameHeader(frame.data(), channel, static_cast<uint32_t>(payload.size()), sender, tag, false);
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

}  // namespace sbtest
