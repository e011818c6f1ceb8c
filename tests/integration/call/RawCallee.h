// A callee played by a raw protocol client, for calls in which the callee must misbehave on purpose (stop
// reading, for one). Needs no test framework, so benchmarks use it too.
#pragma once

#include <string>

#include "integration/server/ServerHarness.h"
#include "net/Protocol.h"

namespace calltest {

// A raw client answers the call that reaches it: takes the set-up, accepts and says connected. False when
// no set-up came or the accept was not confirmed.
inline bool AnswerRaw(servertest::CTestClient& callee) {
    Bytes record;
    for (int i = 0; i < 10 && (record.empty() || record[0] != MSG_CALL_SETUP); ++i)
        record = callee.ReceiveControl(5000);
    SCallSetup setup;
    if (!ParseCallSetup(record.data(), record.size(), setup))
        return false;
    callee.Control(BuildCallIdRecord(MSG_CALL_ACCEPT, setup.callId));
    for (int i = 0; i < 10 && record != BuildShortRecord(MSG_CALL_ACCEPTED); ++i)
        record = callee.ReceiveControl(5000);
    return record == BuildShortRecord(MSG_CALL_ACCEPTED) &&
           callee.Control(BuildShortRecord(MSG_CALL_CONNECTED));
}

// Reads chat lines "chat 1", "chat 2", ... (any padding after the number) until nothing comes for
// `quietMs`, or for a second after the caller hung up (the hang-up travels on another channel and may
// pass lines still on their way). The number of lines read in order; -1 at the first one out of order.
inline int ReadNumberedChat(servertest::CTestClient& callee, int quietMs = 10000) {
    int lines = 0;
    for (;;) {
        auto f = callee.Receive(quietMs);
        if (!f)
            return lines;
        if (f->header.channel == kChannelControl && f->payload == BuildShortRecord(MSG_HANGUP))
            quietMs = 1000;
        if (f->header.channel != kChannelText)
            continue;
        std::string text;
        if (!ParseText(f->payload.data(), f->payload.size(), text))
            return -1;
        const std::string expected = "chat " + std::to_string(lines + 1);
        if (text.compare(0, expected.size(), expected) != 0 ||
            (text.size() > expected.size() && text[expected.size()] != '.'))
            return -1;
        ++lines;
    }
}

}  // namespace calltest
