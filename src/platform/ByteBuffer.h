// CByteBuffer: a growable byte array with a capacity and a used size. A new buffer holds 1024 zeroed bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CByteBuffer {
public:
    static constexpr size_t kGrowth = 1024;

    CByteBuffer();
    CByteBuffer(const CByteBuffer& other);
    CByteBuffer& operator=(const CByteBuffer& other);
    CByteBuffer(CByteBuffer&& other) noexcept;
    CByteBuffer& operator=(CByteBuffer&& other) noexcept;

    // Grows to n + 1024 bytes, keeping the contents, when the capacity is not above n.
    void Reserve(size_t n);
    // Sets the used size (growing the storage when needed, so the size never exceeds the capacity).
    void SetSize(size_t n);
    // Appends n bytes and grows the used size.
    void Append(const void* p, size_t n);
    // Zero-fills the whole capacity and empties the buffer.
    void Reset();

    uint8_t* Data() { return m_pData.get(); }
    const uint8_t* Data() const { return m_pData.get(); }
    size_t Size() const { return m_nSize; }
    size_t Capacity() const { return m_nCapacity; }

private:
    std::unique_ptr<uint8_t[]> m_pData;
    size_t m_nCapacity = 0;
    size_t m_nSize = 0;
};
