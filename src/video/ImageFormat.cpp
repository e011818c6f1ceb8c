#include "video/ImageFormat.h"

#include <cmath>
#include <cstring>
#include <new>
#include <utility>

SBitmapInfoHeader ZeroBitmapHeader() {
    SBitmapInfoHeader h;
    h.biSize = 0;
    h.biPlanes = 0;
    return h;
}

CImageFormat::CImageFormat() {
    for (uint32_t i = 0; i < kPaletteEntries; ++i) {
        const auto v = static_cast<uint8_t>(i);
        m_Palette[i] = SRgbQuad{v, v, v, 0};
    }
}

CImageFormat::CImageFormat(uint32_t biSize, int32_t biWidth, int32_t biHeight, uint32_t planesAndBitCount,
                           uint32_t biCompression, uint32_t biSizeImage, int32_t biXPelsPerMeter,
                           int32_t biYPelsPerMeter, uint32_t biClrUsed, uint32_t biClrImportant)
    : CImageFormat() {
    SBitmapInfoHeader& h = m_Header.header;
    h.biSize = biSize;
    h.biWidth = biWidth;
    h.biHeight = biHeight;
    h.biPlanes = static_cast<uint16_t>(planesAndBitCount & 0xFFFF);
    h.biBitCount = static_cast<uint16_t>(planesAndBitCount >> 16);
    h.biCompression = biCompression;
    h.biSizeImage = biSizeImage;
    h.biXPelsPerMeter = biXPelsPerMeter;
    h.biYPelsPerMeter = biYPelsPerMeter;
    h.biClrUsed = biClrUsed;
    h.biClrImportant = biClrImportant;
}

CImageFormat::CImageFormat(const SBitmapInfoHeader& header) : CImageFormat() {
    m_Header.header = header;
}

void CImageFormat::CopyFrom(const CImageFormat& other) {
    if (&other == this)
        return;
    m_Header.header = other.m_Header.header;
    const uint32_t used = other.m_Header.header.biClrUsed;
    if (used <= kPaletteEntries)
        std::memcpy(m_Palette, other.m_Palette, used * sizeof(SRgbQuad));
}

bool CImageFormat::Differs(const CImageFormat& other) const {
    return std::memcmp(&m_Header.header, &other.m_Header.header, sizeof(SBitmapInfoHeader)) != 0;
}

double BytesPerPixel(int bits) {
    switch (bits) {
        case 4:
            return 0.5;
        case 8:
            return 1;
        case 12:
            return 1.5;
        case 16:
            return 2;
        case 24:
            return 3;
        case 32:
            return 4;
        default:
            return 0;
    }
}

void CImageFormat::SetUncompressed(int bits) {
    SBitmapInfoHeader& h = m_Header.header;
    h.biCompression = 0;
    h.biBitCount = static_cast<uint16_t>(bits);
    h.biSize = kBitmapInfoHeaderSize;
    const double size = double(h.biWidth) * double(h.biHeight) * BytesPerPixel(bits);
    h.biSizeImage = static_cast<uint32_t>(std::lround(size));
}

const uint8_t* CImageFormat::AsBitmapInfo() const {
    static uint8_t area[kBitmapInfoArea];
    std::memset(area, 0, sizeof area);
    std::memcpy(area, &m_Header.header, sizeof(SBitmapInfoHeader));
    // A peer's format reaches this: never more entries than the palette and the area hold.
    uint32_t used = m_Header.header.biClrUsed;
    if (used > kPaletteEntries)
        used = kPaletteEntries;
    std::memcpy(area + sizeof(SBitmapInfoHeader), m_Palette, used * sizeof(SRgbQuad));
    return area;
}

bool CImageFormat::IsI420() const {
    const uint32_t c = m_Header.header.biCompression;
    return c == kFourCCI420 || c == kFourCCIYUV;
}

CDataBuffer::~CDataBuffer() {
    Clear();
}

void CDataBuffer::Resize(long n) {
    if (n <= 0)
        return;
    if (m_nCapacity < n) {
        delete[] m_pData;
        m_pData = new (std::nothrow) uint8_t[static_cast<size_t>(n)];
        if (!m_pData) {
            m_nCapacity = 0;
            m_nSize = 0;
            return;
        }
        m_nCapacity = n;
    }
    m_nSize = n;
}

void CDataBuffer::Assign(const CDataBuffer& other) {
    if (&other == this)
        return;
    Resize(other.m_nCapacity);
    if (other.m_nCapacity > 0 && m_nCapacity >= other.m_nCapacity)
        std::memcpy(m_pData, other.m_pData, static_cast<size_t>(other.m_nCapacity));
    m_nSize = m_nCapacity >= other.m_nSize ? other.m_nSize : 0;
}

void CDataBuffer::Swap(CDataBuffer& other) {
    std::swap(m_pData, other.m_pData);
    std::swap(m_nCapacity, other.m_nCapacity);
    std::swap(m_nSize, other.m_nSize);
}

void CDataBuffer::Clear() {
    delete[] m_pData;
    m_pData = nullptr;
    m_nCapacity = 0;
    m_nSize = 0;
}
