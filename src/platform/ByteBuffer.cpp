#include "platform/ByteBuffer.h"

#include <cstring>
#include <utility>

CByteBuffer::CByteBuffer() : m_pData(new uint8_t[kGrowth]()), m_nCapacity(kGrowth) {}

CByteBuffer::CByteBuffer(const CByteBuffer& other)
    : m_pData(new uint8_t[other.m_nCapacity]()), m_nCapacity(other.m_nCapacity), m_nSize(other.m_nSize) {
    std::memcpy(m_pData.get(), other.m_pData.get(), other.m_nCapacity);
}

CByteBuffer& CByteBuffer::operator=(const CByteBuffer& other) {
    if (this != &other) {
        CByteBuffer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CByteBuffer::CByteBuffer(CByteBuffer&& other) noexcept
    : m_pData(std::move(other.m_pData)), m_nCapacity(other.m_nCapacity), m_nSize(other.m_nSize) {
    other.m_pData.reset(new (std::nothrow) uint8_t[kGrowth]());
    other.m_nCapacity = other.m_pData ? kGrowth : 0;
    other.m_nSize = 0;
}

CByteBuffer& CByteBuffer::operator=(CByteBuffer&& other) noexcept {
    if (this != &other) {
        std::swap(m_pData, other.m_pData);
        std::swap(m_nCapacity, other.m_nCapacity);
        std::swap(m_nSize, other.m_nSize);
        other.m_nSize = 0;
    }
    return *this;
}

void CByteBuffer::Reserve(size_t n) {
    if (m_nCapacity > n) return;
    const size_t capacity = n + kGrowth;
    std::unique_ptr<uint8_t[]> data(new uint8_t[capacity]());
    if (m_pData) std::memcpy(data.get(), m_pData.get(), m_nCapacity);
    m_pData = std::move(data);
    m_nCapacity = capacity;
}

void CByteBuffer::SetSize(size_t n) {
    Reserve(n);
    m_nSize = n;
}

void CByteBuffer::Append(const void* p, size_t n) {
    if (n == 0) return;
    Reserve(m_nSize + n);
    std::memcpy(m_pData.get() + m_nSize, p, n);
    m_nSize += n;
}

void CByteBuffer::Reset() {
    if (m_pData) std::memset(m_pData.get(), 0, m_nCapacity);
    m_nSize = 0;
}
