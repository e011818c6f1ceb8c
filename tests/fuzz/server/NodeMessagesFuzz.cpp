// What other nodes of a cluster say, as one node's switchboard hears it. The input is a script of steps:
// raw bytes as a message from another node, messages built with a chosen kind, call id and sender (so
// that set-ups, answers and frames reach calls that exist), the local users' own call records, and the
// other nodes or the bus going away. Everything the node sends its users must be a whole frame, and
// everything it sends other nodes must be a message they can read; at the end no call is left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

#include "fuzz/server/SwitchboardFuzzSupport.h"
#include "net/Frame.h"
#include "net/Protocol.h"
#include "server/AccountStore.h"
#include "server/NodeMessage.h"
#include "server/ServerLog.h"
#include "server/Switchboard.h"

namespace {

class CFakeCluster : public IClusterDirectory, public IClusterBus {
public:
    void Claim(const std::string&, char, std::function<void(EClaimResult)> done) override {
        done(EClaimResult::Claimed);
    }
    void Release(const std::string&) override {}
    void SetLetter(const std::string&, char) override {}
    void LookUp(const std::string&, std::function<void(char)> done) override { done('C'); }
    void Locate(const std::string& ntv, std::function<void(const std::string&)> done) override {
        pending.push_back([ntv, done] { done(ntv == "2002" ? "B" : ntv == "3003" ? "C" : ""); });
    }
    void SetLostHandler(std::function<void(const std::string&)>) override {}

    const std::string& Node() const override { return m_strNode; }
    bool IsUp() const override { return bUp; }
    void SendTo(const std::string&, std::vector<uint8_t> message, bool) override {
        SNodeMessage m;
        if (!ParseNodeMessage(message.data(), message.size(), m) || m.strFrom != m_strNode)
            std::abort();
        sentIds.push_back(m.nCallId);
    }
    void Watch(std::vector<std::string>) override {}

    std::vector<std::function<void()>> pending;
    std::vector<uint32_t> sentIds;
    bool bUp = true;

private:
    std::string m_strNode = "A";
};

Bytes Framed(uint8_t channel, const Bytes& payload) {
    Bytes frame(kFrameHeaderSize + payload.size());
    BuildFrameHeader(frame.data(), channel, static_cast<uint32_t>(payload.size()), "", 0, false);
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCheckingHost host;
    CFakeCluster cluster;
    CSwitchboardConfig config;
    config.nNodeId = 1;
    CSwitchboard board(FuzzStore(), host, config, &cluster, &cluster);
    uint64_t now = 1000;
    // Call ids worth naming: those the node handed out or sent, and a few of other nodes.
    std::vector<uint32_t> ids = {0x01000001, 0x01000002, 0x02000001, 0x03000001};

    auto control = [&](ConnId id, const Bytes& record) {
        Bytes f = Framed(kChannelControl, record);
        SFrameHeader h;
        ParseFrameHeader(f.data(), f.size(), h);
        board.OnFrame(id, h, std::move(f), now);
    };
    for (ConnId id : {1, 2}) {
        board.OnConnected(id, "fuzz", now);
        control(id, BuildLogin(id == 1 ? "1001" : "1002", id == 1 ? "1001" : "1002", "", "0200003", 0));
    }

    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t op = data[at], a = data[at + 1], b = data[at + 2];
        at += 3;
        const ConnId user = 1 + a % 2;
        const uint32_t id = ids[b % ids.size()];
        const char* from = (a & 2) != 0 ? "C" : "B";
        switch (op % 8) {
            case 0: {  // raw bytes from another node
                size_t n = std::min<size_t>(b, size - at);
                board.OnNodeMessage(data + at, n);
                at += n;
                break;
            }
            case 1: {  // a message of a chosen kind
                auto kind = static_cast<ENodeMessage>(1 + a % 7);
                Bytes body;
                if (kind == ENodeMessage::Setup || kind == ENodeMessage::Refused) {
                    body = BuildCallSetup(id, from[0] == 'B' ? "2002" : "3003", "n",
                                          (b & 1) != 0 ? "1001" : "1002");
                    body[kCallSetupSize - 1] = b;
                } else if (kind == ENodeMessage::Frame) {
                    const uint8_t channels[] = {kChannelControl, kChannelText, kChannelAudio, kChannelVideo,
                                                9};
                    Bytes payload(b % 8, static_cast<uint8_t>(op));
                    if (!payload.empty())
                        payload[0] = b;
                    body = Framed(channels[a % 5], payload);
                }
                Bytes m = BuildNodeMessage({kind, id, from, body});
                board.OnNodeMessage(m.data(), m.size());
                break;
            }
            case 2:
                control(user, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
                break;
            case 3:
                control(user, BuildCallSetup(id, "x", "n",
                                             a % 3 == 0   ? "2002"
                                             : a % 3 == 1 ? "3003"
                                                          : "1002"));
                break;
            case 4: {
                const uint8_t codes[] = {MSG_CALL_ACCEPT, MSG_HANGUP, MSG_CALL_END, MSG_CALL_CONNECTED};
                control(user, codes[b % 4] == MSG_CALL_ACCEPT ? BuildCallIdRecord(MSG_CALL_ACCEPT, id)
                                                              : BuildShortRecord(codes[b % 4]));
                break;
            }
            case 5: {
                Bytes refused = BuildCallSetup(id, "2002", "n", "1001");
                refused[kCallSetupSize - 1] = b;
                control(user, refused);
                Bytes f = Framed(a % 2 != 0 ? kChannelText : kChannelAudio, Bytes(b % 5, 1));
                SFrameHeader h;
                ParseFrameHeader(f.data(), f.size(), h);
                board.OnFrame(user, h, std::move(f), now);
                break;
            }
            case 6: {  // the cluster answers searches, or a node, the bus or a user comes and goes
                auto pending = std::move(cluster.pending);
                cluster.pending.clear();
                for (auto& answer : pending)
                    answer();
                if (b % 4 == 1)
                    board.OnNodeGone(from);
                if (b % 4 == 2) {
                    cluster.bUp = !cluster.bUp;
                    board.OnBusState(cluster.bUp);
                }
                if (b % 4 == 3) {
                    board.OnDisconnected(user, "gone");
                    board.OnConnected(user, "fuzz", now);
                    control(user, BuildLogin(user == 1 ? "1001" : "1002", user == 1 ? "1001" : "1002", "",
                                             "0200003", 0));
                }
                break;
            }
            default:
                now += b * 10;
                board.OnTimer(now);
                break;
        }
        // Ids the node used become worth naming.
        for (uint32_t sent : cluster.sentIds) {
            if (ids.size() < 16 && std::find(ids.begin(), ids.end(), sent) == ids.end())
                ids.push_back(sent);
        }
        cluster.sentIds.clear();
    }
    for (ConnId id : {1, 2})
        board.OnDisconnected(id, "end");
    if (board.SessionCount() != 0 || board.CallCount() != 0)
        std::abort();
    return 0;
}
