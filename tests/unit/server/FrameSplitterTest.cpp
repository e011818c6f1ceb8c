#include <gtest/gtest.h>

#include "server/FrameSplitter.h"

namespace {

Bytes Frame(uint8_t channel, size_t length, uint8_t fill) {
    Bytes frame(kFrameHeaderSize + length, fill);
    BuildFrameHeader(frame.data(), channel, static_cast<uint32_t>(length), "1001", 0, false);
    return frame;
}

TEST(FrameSplitter, CutsAStreamInAnyPiecesIntoWholeFrames) {
    Bytes stream;
    std::vector<Bytes> frames = {Frame(0, 2, 1), Frame(1, 0, 2), Frame(2, 5000, 3), Frame(4, 1, 4)};
    for (const Bytes& f : frames)
        stream.insert(stream.end(), f.begin(), f.end());
    for (size_t piece : {1, 7, 29, 30, 31, 4096, 100000}) {
        CFrameSplitter splitter;
        std::vector<Bytes> got;
        for (size_t at = 0; at < stream.size(); at += piece) {
            splitter.Append(stream.data() + at, std::min(piece, stream.size() - at));
            SFrameHeader h;
            Bytes f;
            CFrameSplitter::EResult r;
            while ((r = splitter.Next(h, f)) == CFrameSplitter::EResult::Frame) {
                EXPECT_EQ(f.size(), kFrameHeaderSize + h.length);
                got.push_back(f);
            }
            ASSERT_EQ(r, CFrameSplitter::EResult::NeedMore);
        }
        EXPECT_EQ(got, frames) << "pieces of " << piece;
        EXPECT_EQ(splitter.Buffered(), 0u);
    }
}

TEST(FrameSplitter, OversizeLengthIsCorrupt) {
    CFrameSplitter splitter;
    Bytes header(kFrameHeaderSize, 0);
    BuildFrameHeader(header.data(), 0, kMaxFramePayload + 1, "", 0, false);
    splitter.Append(header.data(), header.size());
    SFrameHeader h;
    Bytes f;
    EXPECT_EQ(splitter.Next(h, f), CFrameSplitter::EResult::Corrupt);

    // A length with the top bit set, too.
    CFrameSplitter other;
    header[5] = 0x80;
    other.Append(header.data(), header.size());
    EXPECT_EQ(other.Next(h, f), CFrameSplitter::EResult::Corrupt);

    // The largest allowed length is waited for, not refused.
    CFrameSplitter big;
    BuildFrameHeader(header.data(), 4, kMaxFramePayload, "", 4, false);
    big.Append(header.data(), header.size());
    EXPECT_EQ(big.Next(h, f), CFrameSplitter::EResult::NeedMore);
    // Unless the caller allows less.
    EXPECT_EQ(big.Next(h, f, 4096), CFrameSplitter::EResult::Corrupt);
}

}  // namespace
