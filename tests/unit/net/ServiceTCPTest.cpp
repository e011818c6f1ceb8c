#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "NetTestUtil.h"
#include "net/ChannelControl.h"
#include "net/ServiceTCP.h"
#include "net/SocketError.h"

using namespace nettest;

namespace {

std::string AsText(const CByteBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

// A transport opened on one end of a loopback pair; the test plays the peer with the raw other end.
struct STransportWithRawPeer {
    CRecorder window;
    CServiceTCP transport;
    CChannelControl control;
    CSocketTCPStream peer;

    explicit STransportWithRawPeer(const char* address) {
        CSocketTCP mine;
        EXPECT_TRUE(MakeSocketPair(mine, peer, address));
        transport.AddChannel(&control);
        EXPECT_TRUE(transport.Open(window.GetSafeHwnd(), mine));
        EXPECT_FALSE(mine.IsValid());  // taken over
    }
    ~STransportWithRawPeer() {
        transport.Stop();
        peer.Close();
    }
    // Reads one frame the transport wrote.
    bool ReadFrameFromPeer(SFrameHeader& h, CByteBuffer& payload) {
        return ReadFrame([this](void* p, int n) { return peer.ReceiveAll(p, n); }, h, payload) ==
               EFrameRead::Ok;
    }
};

TEST(ServiceTCP, PairCarriesEveryMessageInOrderOnEachChannel) {
    CSocketTCP a, b;
    ASSERT_TRUE(MakeSocketPair(a, b, "127.0.0.11"));
    CRecorder wa, wb;
    CServiceTCP ta, tb;
    CChannel ca0(0), ca2(2), cb0(0), cb2(2);
    ta.AddChannel(&ca0);
    ta.AddChannel(&ca2);
    tb.AddChannel(&cb0);
    tb.AddChannel(&cb2);
    ta.SetUserNtv("111");
    ASSERT_TRUE(ta.Open(wa.GetSafeHwnd(), a));
    ASSERT_TRUE(tb.Open(wb.GetSafeHwnd(), b));
    EXPECT_TRUE(ta.IsOpen());

    constexpr int kCount = 300;  // more than the rings hold: producers wait, nothing is dropped
    std::string big(5000, 'v');  // larger than one send piece
    int next0 = 0, next2 = 0;
    std::string failure;
    wb.onMessage = [&](UINT m, WPARAM w, LPARAM) {
        if (m != WM_TRANSPORT_RECV)
            return;
        CChannel& ch = w == 0 ? cb0 : cb2;
        int& next = w == 0 ? next0 : next2;
        CByteBuffer out;
        uint32_t tag;
        while (ch.PopReceived(tag, out)) {
            const std::string expected = Numbered(w == 0 ? "c" : big, next);
            if (AsText(out) != expected && failure.empty())
                failure = "channel " + std::to_string(w) + " #" + std::to_string(next);
            ++next;
        }
    };
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            const std::string c = Numbered("c", i);
            const std::string v = Numbered(big, i);
            ca0.PushSendWait(0, c.data(), c.size(), -1);
            ca2.PushSendWait(0, v.data(), v.size(), -1);
        }
    });
    EXPECT_TRUE(WaitFor([&] { return next0 == kCount && next2 == kCount; }));
    producer.join();
    EXPECT_EQ("", failure);
    EXPECT_EQ(0, wb.Count(WM_TRANSPORT_ERROR));
    ta.Stop();
    tb.Stop();
    EXPECT_FALSE(ta.IsOpen());
}

TEST(ServiceTCP, ReceivedFramesEmptyForeignMagicAndUnregisteredChannel) {
    STransportWithRawPeer t("127.0.0.12");
    auto foreign = Frame(0, "m", 7);
    foreign[1] = 0xAB;  // magic not checked
    std::vector<uint8_t> stream;
    for (const auto& f : {Frame(0, ""), Frame(3, std::string(3000, 'x')), foreign}) {
        stream.insert(stream.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(SendRaw(t.peer, stream));
    ASSERT_TRUE(WaitFor([&] { return t.control.ReceivedCount() == 2; }));
    ASSERT_TRUE(WaitFor([&] { return t.window.Count(WM_TRANSPORT_RECV) == 2; }));
    CByteBuffer out;
    uint32_t tag = 99;
    ASSERT_TRUE(t.control.PopReceived(tag, out));
    EXPECT_EQ(0u, out.Size());
    ASSERT_TRUE(t.control.PopReceived(tag, out));
    EXPECT_EQ("m", AsText(out));
    EXPECT_EQ(7u, tag);
    // Only channel 0 was announced; the channel-3 frame left no trace.
    for (const auto& m : t.window.seen) {
        if (m.message == WM_TRANSPORT_RECV) {
            EXPECT_EQ(0u, m.wParam);
        }
    }
    EXPECT_EQ(7, t.window.seen.back().lParam);
    EXPECT_TRUE(t.transport.IsOpen())
        << t.transport.GetLastError() << " " << t.window.Count(WM_TRANSPORT_ERROR);
}

TEST(ServiceTCP, SentFramesCarryTheHeaderWithTheSenderCutTo15) {
    STransportWithRawPeer t("127.0.0.13");
    t.transport.SetUserNtv("1234567890123456789");
    ASSERT_TRUE(t.control.SendPing());
    uint8_t raw[32];
    ASSERT_EQ(32, t.peer.ReceiveAll(raw, 32));
    const uint8_t expected[32] = {0,   0x01, 0x23, 0x32, 0x10, 0,   0,   0,   2,   '1', '2',
                                  '3', '4',  '5',  '6',  '7',  '8', '9', '0', '1', '2', '3',
                                  '4', '5',  0,    0,    0,    0,   0,   0,   8,   0};
    EXPECT_EQ(0, std::memcmp(raw, expected, sizeof raw));
    // Every message queued after a change of NTV carries the new one, however the send thread is timed.
    for (int i = 0; i < 50; ++i) {
        const std::string ntv = std::to_string(5550000 + i);
        t.transport.SetUserNtv(ntv);
        ASSERT_TRUE(t.control.SendPing());
        SFrameHeader h;
        CByteBuffer payload;
        ASSERT_TRUE(t.ReadFrameFromPeer(h, payload));
        ASSERT_EQ(ntv, h.sender) << "message " << i;
    }
}

TEST(ServiceTCP, AFullReceiveRingHoldsTheReaderAndRepeatsTheNotification) {
    STransportWithRawPeer t("127.0.0.14");
    std::vector<uint8_t> stream;
    for (int i = 0; i < 40; ++i) {
        const auto f = Frame(0, Numbered("n", i));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(SendRaw(t.peer, stream));
    // The window does not drain: the 33rd frame waits and the notice keeps coming.
    ASSERT_TRUE(WaitFor([&] { return t.window.Count(WM_TRANSPORT_RECV) >= 32 + 20; }));
    EXPECT_EQ(32, t.control.ReceivedCount());
    CByteBuffer out;
    uint32_t tag;
    int next = 0;
    std::string failure;
    ASSERT_TRUE(WaitFor([&] {
        while (t.control.PopReceived(tag, out)) {
            if (AsText(out) != Numbered("n", next))
                failure = "order";
            ++next;
        }
        return next == 40;
    }));
    EXPECT_EQ("", failure);
}

TEST(ServiceTCP, EveryConnectionLossIsReportedOnce) {
    struct SCase {
        const char* name;
        std::function<void(CSocketTCPStream&)> breakIt;
        int expectedError;
    };
    const SCase cases[] = {
        {"orderly close", [](CSocketTCPStream& p) { p.Close(); }, WSAEDISCON},
        {"reset",
         [](CSocketTCPStream& p) {
             linger l{1, 0};  // close with a reset
             p.SetOption(SO_LINGER, &l, sizeof l);
             p.Close();
         },
         WSAECONNRESET},
        {"length above the limit",
         [](CSocketTCPStream& p) {
             uint8_t h[kFrameHeaderSize];
             BuildFrameHeader(h, 0, kMaxFramePayload + 1, "", 0, false);
             p.Send(h, sizeof h);
         },
         WSAEMSGSIZE},
        {"length with the top bit",
         [](CSocketTCPStream& p) {
             uint8_t h[kFrameHeaderSize];
             BuildFrameHeader(h, 0, 0x80000000u, "", 0, false);
             p.Send(h, sizeof h);
         },
         WSAEMSGSIZE},
        {"close inside a frame",
         [](CSocketTCPStream& p) {
             auto f = Frame(0, "abcdef");
             f.resize(f.size() - 2);
             SendRaw(p, f);
             p.Close();
         },
         WSAEDISCON},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        STransportWithRawPeer t("127.0.0.15");
        c.breakIt(t.peer);
        ASSERT_TRUE(WaitFor([&] { return t.window.Count(WM_TRANSPORT_ERROR) == 1; }));
        const auto& m = t.window.seen.back();
        EXPECT_EQ(0u, m.wParam);
        EXPECT_EQ(WSAECONNRESET, m.lParam);
        EXPECT_EQ(c.expectedError, t.transport.GetLastError());
        EXPECT_TRUE(WaitFor([&] { return !t.transport.IsOpen(); }));
        // Sends after the loss are neither written nor reported again.
        t.control.SendPing();
        DispatchPendingMessages();
        t.transport.Stop();
        DispatchPendingMessages();
        EXPECT_EQ(1, t.window.Count(WM_TRANSPORT_ERROR));
    }
}

TEST(ServiceTCP, StopIsPromptWritesWhatWasQueuedAndReportsNothing) {
    STransportWithRawPeer t("127.0.0.16");
    // The peer stalls inside a frame: the receive thread is blocked reading its payload.
    auto f = Frame(0, std::string(100, 'p'));
    f.resize(50);
    ASSERT_TRUE(SendRaw(t.peer, f));
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(t.control.SendCallRequest());
    CTraceCapture traces;
    const auto start = std::chrono::steady_clock::now();
    t.transport.Stop();
    EXPECT_EQ(0, traces.Count("Break de Thread"));  // both threads ended on their own
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));  // liveness only
    EXPECT_FALSE(t.transport.IsOpen());
    int frames = 0;
    SFrameHeader h;
    CByteBuffer payload;
    while (t.ReadFrameFromPeer(h, payload)) {
        EXPECT_EQ((Bytes{10, 0, 0, 0, 0}), Bytes(payload.Data(), payload.Data() + payload.Size()));
        ++frames;
    }
    EXPECT_EQ(10, frames);
    DispatchPendingMessages();
    EXPECT_EQ(0, t.window.Count(WM_TRANSPORT_ERROR));
}

TEST(ServiceTCP, StopEndsASendBlockedByAPeerThatReadsNothing) {
    STransportWithRawPeer t("127.0.0.18");
    CChannel video(4);
    t.transport.AddChannel(&video);
    const std::string picture(200000, 'p');
    // Far more than both socket buffers hold: the send thread blocks inside a write.
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(video.PushSendWait(4, picture.data(), picture.size(), 5000));
    CTraceCapture traces;
    const auto start = std::chrono::steady_clock::now();
    t.transport.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));  // liveness only
    EXPECT_EQ(0, traces.Count("Break de Thread"));
    EXPECT_FALSE(t.transport.IsOpen());
    DispatchPendingMessages();
    EXPECT_EQ(0, t.window.Count(WM_TRANSPORT_ERROR));
}

TEST(ServiceTCP, ChannelRegistration) {
    CServiceTCP transport;
    CChannel a(2), b(1), twin(2);
    transport.AddChannel(&a);
    transport.AddChannel(&b);
    transport.AddChannel(&a);
    transport.AddChannel(&twin);  // the number is taken: left as it was
    EXPECT_EQ((std::vector<uint8_t>{2, 1}), transport.GetChannelIds());
    transport.RemoveChannel(&twin);  // not the registered one
    EXPECT_EQ((std::vector<uint8_t>{2, 1}), transport.GetChannelIds());
    transport.RemoveChannel(&a);
    EXPECT_EQ((std::vector<uint8_t>{1}), transport.GetChannelIds());
    {
        CChannel temporary(4);
        transport.AddChannel(&temporary);
    }  // a destroyed channel leaves the transport
    EXPECT_EQ((std::vector<uint8_t>{1}), transport.GetChannelIds());
}

TEST(ServiceTCP, ReopensAfterALostConnection) {
    CRecorder window;
    CServiceTCP transport;
    CChannelControl control;
    transport.AddChannel(&control);
    for (int round = 0; round < 3; ++round) {
        CSocketTCP mine;
        CSocketTCPStream peer;
        ASSERT_TRUE(MakeSocketPair(mine, peer, "127.0.0.17"));
        ASSERT_TRUE(transport.Open(window.GetSafeHwnd(), mine));
        ASSERT_TRUE(control.SendPing());
        uint8_t raw[32];
        ASSERT_EQ(32, peer.ReceiveAll(raw, 32));
        peer.Close();
        ASSERT_TRUE(WaitFor([&] { return window.Count(WM_TRANSPORT_ERROR) == round + 1; }));
    }
    CSocketTCP invalid;
    EXPECT_FALSE(transport.Open(window.GetSafeHwnd(), invalid));
    EXPECT_FALSE(transport.IsOpen());
}

}  // namespace
