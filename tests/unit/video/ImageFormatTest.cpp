// Picture descriptions and buffers: what survives copies, what a peer's format can and cannot reach.
#include <gtest/gtest.h>

#include <cstring>

#include "video/ImageFormat.h"

namespace {

TEST(ImageFormat, HeaderWordsLandInTheirFields) {
    CImageFormat f(40, 320, 240, (12u << 16) | 1u, kFourCCI420, 115200, 0, 0, 0, 0);
    EXPECT_EQ(f.m_Header.header.biPlanes, 1);
    EXPECT_EQ(f.m_Header.header.biBitCount, 12);
    EXPECT_TRUE(f.IsI420());
    uint8_t bytes[40];
    std::memcpy(bytes, &f.m_Header.header, 40);
    EXPECT_EQ(0, std::memcmp(bytes + 16, "I420", 4));
    EXPECT_FALSE(f.Differs(CImageFormat(f.m_Header.header)));
    CImageFormat empty;
    EXPECT_TRUE(f.Differs(empty));
}

TEST(ImageFormat, UncompressedSizesFollowTheBytesPerPixelTable) {
    CImageFormat f(40, 321, 3, 1, 0, 0, 0, 0, 0, 0);
    const struct {
        int bits;
        uint32_t size;
    } cases[] = {{4, 482}, {8, 963}, {12, 1445}, {16, 1926}, {24, 2889}, {32, 3852}, {15, 0}, {1, 0}};
    for (const auto& c : cases) {
        f.SetUncompressed(c.bits);
        EXPECT_EQ(f.m_Header.header.biSizeImage, c.size) << c.bits;
        EXPECT_EQ(f.m_Header.header.biCompression, 0u);
        EXPECT_EQ(f.m_Header.header.biSize, 40u);
    }
}

TEST(ImageFormat, PaletteCopiesAndBitmapInfoStayInsideTheirAreas) {
    CImageFormat src(40, 8, 8, (8u << 16) | 1u, 0, 64, 0, 0, 2, 0);
    src.m_Palette[0] = SRgbQuad{1, 2, 3, 0};
    src.m_Palette[1] = SRgbQuad{4, 5, 6, 0};
    src.m_Palette[2] = SRgbQuad{7, 8, 9, 0};
    CImageFormat dst;
    dst.CopyFrom(src);
    EXPECT_EQ(dst.m_Palette[1].red, 6);
    EXPECT_EQ(dst.m_Palette[2].blue, 2);  // beyond biClrUsed: the default ramp stays

    // A peer may claim any number of colours: never more than 256 entries leave the palette.
    CImageFormat hostile(40, 8, 8, 1, 0, 0, 0, 0, 0xFFFFFFFFu, 0);
    const uint8_t* info = hostile.AsBitmapInfo();
    EXPECT_EQ(0, std::memcmp(info, &hostile.m_Header.header, 40));
    for (size_t i = 40 + 256 * 4; i < CImageFormat::kBitmapInfoArea; ++i)
        ASSERT_EQ(info[i], 0) << i;
    CImageFormat copy;
    copy.CopyFrom(hostile);  // more than 256: header only
    EXPECT_EQ(copy.m_Header.header.biClrUsed, 0xFFFFFFFFu);
}

TEST(DataBuffer, ResizeKeepsLargerStorageAndAssignCopiesTheWholeCapacity) {
    CDataBuffer a;
    a.Resize(0);
    a.Resize(-5);
    EXPECT_EQ(a.Data(), nullptr);
    a.Resize(100);
    std::memset(a.Data(), 7, 100);
    a.Resize(10);  // smaller: storage and bytes stay
    EXPECT_EQ(a.Capacity(), 100);
    EXPECT_EQ(a.Size(), 10);
    EXPECT_EQ(a.Data()[99], 7);

    CDataBuffer b;
    b.Assign(a);
    EXPECT_EQ(b.Capacity(), 100);
    EXPECT_EQ(b.Size(), 10);
    EXPECT_EQ(b.Data()[99], 7);
    a.Clear();
    EXPECT_EQ(a.Capacity(), 0);
    b.Assign(a);  // an empty source leaves the storage and empties the size
    EXPECT_EQ(b.Size(), 0);
    EXPECT_EQ(b.Capacity(), 100);
}

}  // namespace
