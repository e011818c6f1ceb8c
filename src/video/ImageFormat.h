// CImageFormat: the description of a picture (a 40-byte bitmap-info header, 4 bytes after it, and a
// palette); CDataBuffer: the growable picture buffer of capture, conversion and codec.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/Protocol.h"

static_assert(sizeof(SBitmapInfoHeader) == kBitmapInfoHeaderSize, "the header is exchanged as 40 bytes");

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kFourCCI420 = MakeFourCC('I', '4', '2', '0');
constexpr uint32_t kFourCCIYUV = MakeFourCC('I', 'Y', 'U', 'V');

// A header with every field 0 (the struct's defaults describe a bitmap, not "nothing").
SBitmapInfoHeader ZeroBitmapHeader();

// The header and the four bytes that follow it: what capture-format requests exchange.
struct SCaptureFormat {
    SBitmapInfoHeader header = ZeroBitmapHeader();
    uint32_t extra = 0;
};
constexpr size_t kCaptureFormatSize = 44;
static_assert(sizeof(SCaptureFormat) == kCaptureFormatSize);

// A palette entry: blue, green, red, reserved.
struct SRgbQuad {
    uint8_t blue = 0, green = 0, red = 0, reserved = 0;
};

class CImageFormat {
public:
    static constexpr uint32_t kPaletteEntries = 256;
    // The size of the area AsBitmapInfo fills: the header and at most 256 palette entries.
    static constexpr size_t kBitmapInfoArea = 2048;

    // Header and extra bytes zero; the palette holds a grey ramp.
    CImageFormat();
    // The ten header words as they stand in a 40-byte header; the fourth holds biPlanes in its low and
    // biBitCount in its high 16 bits.
    CImageFormat(uint32_t biSize, int32_t biWidth, int32_t biHeight, uint32_t planesAndBitCount,
                 uint32_t biCompression, uint32_t biSizeImage, int32_t biXPelsPerMeter,
                 int32_t biYPelsPerMeter, uint32_t biClrUsed, uint32_t biClrImportant);
    explicit CImageFormat(const SBitmapInfoHeader& header);

    // The header, then biClrUsed palette entries when biClrUsed is at most 256.
    void CopyFrom(const CImageFormat& other);
    // True when the 40-byte headers differ in any byte.
    bool Differs(const CImageFormat& other) const;
    // Uncompressed at `bits` per pixel, rows not padded: biSizeImage = width x height x bytes per pixel.
    void SetUncompressed(int bits);
    // A process-wide 2048-byte area holding the header and the palette entries biClrUsed names (at most
    // 256, whatever the header says). Valid until the next call on any format.
    const uint8_t* AsBitmapInfo() const;

    int Width() const { return m_Header.header.biWidth; }
    int Height() const { return m_Header.header.biHeight; }
    bool IsI420() const;

    SRgbQuad m_Palette[kPaletteEntries];
    SCaptureFormat m_Header;
};

// Bytes per pixel of a bit count, as SetUncompressed uses it (0 for unknown counts).
double BytesPerPixel(int bits);

class CDataBuffer {
public:
    CDataBuffer() = default;
    virtual ~CDataBuffer();
    CDataBuffer(const CDataBuffer&) = delete;
    CDataBuffer& operator=(const CDataBuffer&) = delete;

    // Nothing for n <= 0. A capacity below n is replaced by n new bytes (the content is lost; a failed
    // allocation leaves the buffer empty). The size becomes n.
    void Resize(long n);
    // Resize to the other's capacity, copy that many bytes, then take the other's size.
    void Assign(const CDataBuffer& other);
    // Frees the bytes; pointer, capacity and size become 0.
    void Clear();
    // Exchanges bytes, capacity and size with `other`: a move without a copy.
    void Swap(CDataBuffer& other);

    uint8_t* Data() { return m_pData; }
    const uint8_t* Data() const { return m_pData; }
    long Capacity() const { return m_nCapacity; }
    long Size() const { return m_nSize; }

    uint8_t* m_pData = nullptr;
    long m_nCapacity = 0;
    long m_nSize = 0;
};
