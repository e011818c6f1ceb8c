#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "net/Frame.h"

namespace {

// A byte source over a buffer, as the socket's ReceiveAll behaves: n bytes or a failure.
struct SMemorySource {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    int operator()(void* p, int n) {
        if (bytes.size() - pos < static_cast<size_t>(n))
            return -1;
        std::memcpy(p, bytes.data() + pos, static_cast<size_t>(n));
        pos += static_cast<size_t>(n);
        return n;
    }
};

TEST(Frame, HeaderBytesAreExact) {
    uint8_t h[kFrameHeaderSize];
    BuildFrameHeader(h, 4, 0x00010203, "34600111222", 4, false);
    const uint8_t expected[kFrameHeaderSize] = {4,   0x01, 0x23, 0x32, 0x10, 0x00, 0x01, 0x02, 0x03, '3',
                                                '4', '6',  '0',  '0',  '1',  '1',  '1',  '2',  '2',  '2',
                                                0,   0,    0,    0,    0,    0,    0,    0,    4,    0};
    EXPECT_EQ(0, std::memcmp(h, expected, sizeof h));
    BuildFrameHeader(h, 0, 0, "", 0, true);
    EXPECT_EQ(1, h[29]);
}

TEST(Frame, SenderIsCutTo15AndNulPadded) {
    uint8_t h[kFrameHeaderSize];
    std::memset(h, 0xEE, sizeof h);
    BuildFrameHeader(h, 0, 0, "1234567890123456789", 0, false);
    EXPECT_EQ(0, std::memcmp(h + 9, "123456789012345", 15));
    EXPECT_EQ(0, h[24]);
    SFrameHeader parsed;
    ASSERT_TRUE(ParseFrameHeader(h, sizeof h, parsed));
    EXPECT_EQ("123456789012345", parsed.sender);
}

TEST(Frame, ParseIgnoresMagicAndRejectsOversizedLengths) {
    uint8_t h[kFrameHeaderSize];
    BuildFrameHeader(h, 2, 160, "1", 7, false);
    h[1] = 0xDE;  // a foreign magic is still accepted
    SFrameHeader parsed;
    ASSERT_TRUE(ParseFrameHeader(h, sizeof h, parsed));
    EXPECT_EQ(2, parsed.channel);
    EXPECT_EQ(160u, parsed.length);
    EXPECT_EQ(7u, parsed.tag);
    EXPECT_FALSE(ParseFrameHeader(h, kFrameHeaderSize - 1, parsed));

    BuildFrameHeader(h, 2, kMaxFramePayload, "1", 0, false);
    EXPECT_TRUE(ParseFrameHeader(h, sizeof h, parsed));
    BuildFrameHeader(h, 2, kMaxFramePayload + 1, "1", 0, false);
    EXPECT_FALSE(ParseFrameHeader(h, sizeof h, parsed));
    BuildFrameHeader(h, 2, 0x80000010, "1", 0, false);  // top bit: not a frame without payload
    EXPECT_FALSE(ParseFrameHeader(h, sizeof h, parsed));
}

TEST(Frame, ReadFrameReadsConsecutiveFramesAndFailsOnShortOrHugeOnes) {
    CByteBuffer a, b;
    const char payload[] = "abc";
    BuildFrame(a, 1, 0, payload, 3, "ntv", false);
    BuildFrame(b, 0, 0, nullptr, 0, "ntv", false);
    SMemorySource src;
    src.bytes.assign(a.Data(), a.Data() + a.Size());
    src.bytes.insert(src.bytes.end(), b.Data(), b.Data() + b.Size());
    src.bytes.insert(src.bytes.end(), a.Data(), a.Data() + a.Size() - 1);  // cut short

    SFrameHeader h;
    CByteBuffer out;
    ASSERT_EQ(EFrameRead::Ok, ReadFrame(std::ref(src), h, out));
    EXPECT_EQ(1, h.channel);
    ASSERT_EQ(3u, out.Size());
    EXPECT_EQ(0, std::memcmp(out.Data(), "abc", 3));
    ASSERT_EQ(EFrameRead::Ok, ReadFrame(std::ref(src), h, out));
    EXPECT_EQ(0u, out.Size());
    EXPECT_EQ(EFrameRead::ReadFailed, ReadFrame(std::ref(src), h, out));

    uint8_t huge[kFrameHeaderSize];
    BuildFrameHeader(huge, 0, 0xFFFFFFFF, "", 0, false);
    SMemorySource bad;
    bad.bytes.assign(huge, huge + sizeof huge);
    EXPECT_EQ(EFrameRead::TooLong, ReadFrame(std::ref(bad), h, out));
}

}  // namespace
