// Arbitrary bytes on server connections. The input is a script of steps; each step names one of three
// connections and gives bytes for it (cut into frames exactly as the server does) or ticks the clock,
// drops or reconnects a connection. With the first byte's low bit set, connections 1 and 2 start logged
// in and in a call, so the relay and hang-up paths are reached at once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>

#include "fuzz/server/SwitchboardFuzzSupport.h"
#include "net/Frame.h"
#include "net/Protocol.h"
#include "server/AccountStore.h"
#include "server/FrameSplitter.h"
#include "server/ServerLog.h"
#include "server/Switchboard.h"

namespace {

Bytes Framed(const Bytes& payload) {
    Bytes frame(kFrameHeaderSize + payload.size());
    BuildFrameHeader(frame.data(), kChannelControl, static_cast<uint32_t>(payload.size()), "", 0, false);
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCheckingHost host;
    CSwitchboardConfig config;
    config.nPingIntervalMs = 100;
    CSwitchboard board(FuzzStore(), host, config);
    std::map<ConnId, CFrameSplitter> splitters;
    uint64_t now = 1000;

    auto feed = [&](ConnId id, const uint8_t* bytes, size_t n) {
        if (host.closed[id] || splitters.count(id) == 0)
            return;
        CFrameSplitter& splitter = splitters[id];
        splitter.Append(bytes, n);
        SFrameHeader h;
        Bytes frame;
        for (;;) {
            CFrameSplitter::EResult r = splitter.Next(h, frame, board.MaxPayloadFor(id));
            if (r == CFrameSplitter::EResult::NeedMore)
                break;
            if (r == CFrameSplitter::EResult::Corrupt) {
                board.OnDisconnected(id, "corrupt");
                splitters.erase(id);
                break;
            }
            board.OnFrame(id, h, std::move(frame), now);
            if (host.closed[id])
                break;
        }
    };
    auto connect = [&](ConnId id) {
        board.OnDisconnected(id, "again");
        host.closed[id] = false;
        splitters[id] = CFrameSplitter();
        board.OnConnected(id, "fuzz", now);
    };
    for (ConnId id = 1; id <= 3; ++id)
        connect(id);

    if (size > 0 && (data[0] & 1) != 0) {
        auto send = [&](ConnId id, const Bytes& record) {
            Bytes f = Framed(record);
            feed(id, f.data(), f.size());
        };
        send(1, BuildLogin("1001", "1001", "", "0200003", 0));
        send(2, BuildLogin("1002", "1002", "", "0200003", 0));
        send(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        send(1, BuildCallSetup(config.nFirstCallId, "1001", "n", "1002"));
        send(2, BuildCallIdRecord(MSG_CALL_ACCEPT, config.nFirstCallId));
    }

    size_t at = size > 0 ? 1 : 0;
    while (at + 2 <= size) {
        uint8_t op = data[at];
        size_t n = data[at + 1];
        at += 2;
        ConnId id = 1 + op % 3;
        switch ((op / 3) % 5) {
            case 0:
            case 1:
            case 2: {
                n = std::min(n * (1 + (op >> 7) * 15), size - at);  // the high bit allows longer pieces
                feed(id, data + at, n);
                at += n;
                break;
            }
            case 3:
                now += n * 4;
                board.OnTimer(now);
                break;
            default:
                if (n % 2 == 0) {
                    board.OnDisconnected(id, "gone");
                    host.closed[id] = true;
                } else {
                    connect(id);
                }
        }
    }
    for (ConnId id = 1; id <= 3; ++id)
        board.OnDisconnected(id, "end");
    if (board.SessionCount() != 0 || board.CallCount() != 0)
        std::abort();
    return 0;
}
