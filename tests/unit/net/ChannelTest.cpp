#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "NetTestUtil.h"
#include "net/Channel.h"
#include "net/ChannelControl.h"
#include "net/ChannelText.h"
#include "net/Frame.h"

namespace {

std::string AsText(const CByteBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

TEST(Channel, RingsAreFifoBoundedAndKeepTheFreeUsedInvariant) {
    CChannel ch(2);
    EXPECT_EQ(32, ch.FreeSendSlots());
    for (int i = 0; i < 32; ++i) {
        const std::string m = nettest::Numbered("m", i);
        ASSERT_TRUE(ch.PushSend(static_cast<uint32_t>(i), m.data(), m.size()));
        EXPECT_EQ(32, ch.SendCount() + ch.FreeSendSlots());
    }
    EXPECT_FALSE(ch.PushSend(99, "x", 1));  // full: refused, not dropped or overwritten
    EXPECT_EQ(32, ch.ReceivedCount() + ch.FreeReceiveSlots());
    EXPECT_EQ(0, ch.ReceivedCount());  // directions are separate

    CByteBuffer out;
    uint32_t tag = 0;
    for (int i = 0; i < 32; ++i) {
        ASSERT_TRUE(ch.PopSend(tag, out));
        EXPECT_EQ(static_cast<uint32_t>(i), tag);
        EXPECT_EQ(nettest::Numbered("m", i), AsText(out));
    }
    EXPECT_FALSE(ch.PopSend(tag, out));
    EXPECT_EQ(32, ch.FreeSendSlots());
}

TEST(Channel, SlotsGrowForLargeMessagesAndHandEmptyOnes) {
    CChannel ch(4);
    std::string big(100000, 'v');
    big[99999] = 'z';
    ASSERT_TRUE(ch.PushReceived(4, big.data(), big.size()));
    ASSERT_TRUE(ch.PushReceived(0, nullptr, 0));
    CByteBuffer out;
    uint32_t tag = 0;
    ASSERT_TRUE(ch.PopReceived(tag, out));
    EXPECT_EQ(big, AsText(out));
    ASSERT_TRUE(ch.PopReceived(tag, out));
    EXPECT_EQ(0u, out.Size());
}

TEST(Channel, ResetEmptiesBothDirections) {
    CChannel ch(0);
    ch.PushSend(0, "a", 1);
    ch.PushReceived(0, "b", 1);
    ch.Reset();
    EXPECT_EQ(0, ch.SendCount());
    EXPECT_EQ(0, ch.ReceivedCount());
    EXPECT_EQ(32, ch.FreeSendSlots());
    EXPECT_EQ(32, ch.FreeReceiveSlots());
}

// The counts are what the transport moved: refused pushes and messages still in a ring do not count,
// and a reset between calls keeps them.
TEST(Channel, MessageCountsAreWhatCrossedTheTransport) {
    CChannel ch(3);
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(ch.PushSendQueued(0, "s", 1));  // 32 in the ring, 8 behind it
    CByteBuffer out;
    uint32_t tag = 0;
    for (int i = 0; i < 35; ++i)
        ASSERT_TRUE(ch.PopSend(tag, out));
    EXPECT_EQ(35u, ch.MessagesSent());
    for (int i = 0; i < 33; ++i)
        ch.PushReceived(0, "r", 1);  // the last is refused: the ring is full
    EXPECT_EQ(32u, ch.MessagesReceived());
    ch.PopReceived(tag, out);
    EXPECT_EQ(32u, ch.MessagesReceived());
    ch.Reset();
    EXPECT_EQ(35u, ch.MessagesSent());
    EXPECT_EQ(32u, ch.MessagesReceived());
}

TEST(Channel, ProducerAndConsumerThreadsLoseNothing) {
    CChannel ch(2);
    constexpr int kCount = 5000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i)
            ASSERT_TRUE(ch.PushSendWait(0, &i, sizeof i, -1));
    });
    CByteBuffer out;
    uint32_t tag = 0;
    for (int expected = 0; expected < kCount;) {
        if (!ch.PopSend(tag, out)) {
            std::this_thread::yield();
            continue;
        }
        int v = -1;
        ASSERT_EQ(sizeof v, out.Size());
        std::memcpy(&v, out.Data(), sizeof v);
        ASSERT_EQ(expected, v);
        ++expected;
    }
    producer.join();
}

TEST(Channel, PushSendWaitGivesUpOnlyAfterItsBound) {
    CChannel ch(0);
    for (int i = 0; i < 32; ++i)
        ch.PushSend(0, "x", 1);
    EXPECT_FALSE(ch.PushSendWait(0, "y", 1, 5));
    EXPECT_EQ(32, ch.SendCount());
}

// What no frame can carry is refused where it is queued (the peer would take it for a corrupt stream),
// at once even by a push that may wait for ever; the largest frame still goes.
TEST(Channel, PayloadsBeyondOneFrameAreRefusedAtOnce) {
    CChannel ch(2);
    std::string most(kMaxFramePayload, 'm');
    std::string over(kMaxFramePayload + 1, 'o');
    EXPECT_FALSE(ch.PushSend(0, over.data(), over.size()));
    EXPECT_FALSE(ch.PushSendWait(0, over.data(), over.size(), -1));
    EXPECT_TRUE(ch.PushSend(0, most.data(), most.size()));
    EXPECT_EQ(1, ch.SendCount());
}

// What the ring cannot take waits behind it, in order, and moves in as the transport takes slots; past
// the bound nothing more is taken (the transport then ends the connection), and a reset empties it.
TEST(Channel, QueuedPushesNeverWaitKeepTheirOrderAndAreBounded) {
    CChannel ch(1);
    const std::string line(64 * 1024, '.');
    const int total = CChannel::kSlots + 40;
    for (int i = 0; i < total; ++i) {
        const std::string text = nettest::Numbered("line ", i) + line;
        ASSERT_TRUE(ch.PushSendQueued(static_cast<uint32_t>(i), text.data(), text.size())) << i;
    }
    EXPECT_EQ(CChannel::kSlots, ch.SendCount());
    EXPECT_GT(ch.BacklogBytes(), 40u * line.size());
    CByteBuffer out;
    uint32_t tag = 0;
    for (int i = 0; i < total; ++i) {
        ASSERT_TRUE(ch.PopSend(tag, out)) << i;
        ASSERT_EQ(static_cast<uint32_t>(i), tag);
        ASSERT_EQ(nettest::Numbered("line ", i) + line, AsText(out));
    }
    EXPECT_EQ(0u, ch.BacklogBytes());

    const std::string big(1024 * 1024, 'b');
    while (ch.FreeSendSlots() > 0)
        ASSERT_TRUE(ch.PushSendQueued(0, "x", 1));
    size_t queued = 0;
    while (ch.PushSendQueued(0, big.data(), big.size()))
        queued += big.size();
    EXPECT_LE(queued, CChannel::kBacklogLimit);
    EXPECT_GT(queued + big.size(), CChannel::kBacklogLimit);
    ch.Reset();
    EXPECT_EQ(0u, ch.BacklogBytes());
    EXPECT_EQ(0, ch.SendCount());
}

TEST(ChannelControl, SendOperationsQueueTheirRecords) {
    CChannelControl ctl;
    EXPECT_EQ(0, ctl.GetId());
    ASSERT_TRUE(ctl.SendLogin("12345", "pw", "127.0.0.1", kClientVersion, 0));
    ASSERT_TRUE(ctl.SendPing());
    ASSERT_TRUE(ctl.SendCallAccept(0x0A0B0C0D));
    ASSERT_TRUE(ctl.SendStatus('C'));
    Bytes setup = BuildCallSetup(5, "1", "N", "2");
    setup[327] = kRefusedNoAnswer;
    ASSERT_TRUE(ctl.SendCallRefused(setup.data(), setup.size()));
    EXPECT_FALSE(ctl.SendCallRefused(setup.data(), 100));

    CByteBuffer out;
    uint32_t tag = 99;
    ASSERT_TRUE(ctl.PopSend(tag, out));
    EXPECT_EQ(0u, tag);
    EXPECT_EQ(BuildLogin("12345", "pw", "127.0.0.1", kClientVersion, 0),
              Bytes(out.Data(), out.Data() + out.Size()));
    ASSERT_TRUE(ctl.PopSend(tag, out));
    EXPECT_EQ((Bytes{8, 0}), Bytes(out.Data(), out.Data() + out.Size()));
    ASSERT_TRUE(ctl.PopSend(tag, out));
    EXPECT_EQ((Bytes{13, 0x0D, 0x0C, 0x0B, 0x0A}), Bytes(out.Data(), out.Data() + out.Size()));
    ASSERT_TRUE(ctl.PopSend(tag, out));
    EXPECT_EQ((Bytes{48, 'C'}), Bytes(out.Data(), out.Data() + out.Size()));
    ASSERT_TRUE(ctl.PopSend(tag, out));
    ASSERT_EQ(328u, out.Size());
    EXPECT_EQ(18, out.Data()[0]);
    EXPECT_EQ(18, out.Data()[327]);
    EXPECT_FALSE(ctl.PopSend(tag, out));
}

TEST(ChannelText, SendsLinesAndReceivesThem) {
    CChannelText text;
    EXPECT_EQ(1, text.GetId());
    EXPECT_FALSE(text.SendText(""));
    EXPECT_EQ(0, text.SendCount());
    ASSERT_TRUE(text.SendText("hi"));
    CByteBuffer out;
    uint32_t tag = 0;
    ASSERT_TRUE(text.PopSend(tag, out));
    EXPECT_EQ((Bytes{0, 0, 0, 2, 'h', 'i', 0}), Bytes(out.Data(), out.Data() + out.Size()));

    EXPECT_EQ("", text.ReceiveText());
    const Bytes line = BuildText("hola");
    text.PushReceived(0, line.data(), line.size());
    text.PushReceived(0, "\0\0", 2);  // malformed: ignored
    EXPECT_EQ("hola", text.ReceiveText());
    EXPECT_EQ("", text.ReceiveText());
    EXPECT_EQ(0, text.ReceivedCount());
}

}  // namespace
