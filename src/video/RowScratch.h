// Work memory of the row loops: grows as needed, never shrinks, kept between calls by its owner (one per
// thread where the owner is thread_local), 32-byte aligned for the vector kernels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

class CRowScratch {
public:
    CRowScratch() = default;
    CRowScratch(const CRowScratch&) = delete;
    CRowScratch& operator=(const CRowScratch&) = delete;
    ~CRowScratch() { std::free(m_pData); }

    // At least `bytes` bytes (their content is undefined), or null when memory ran out.
    uint8_t* Get(size_t bytes) {
        if (bytes > m_nCapacity) {
            std::free(m_pData);
            const size_t rounded = (bytes + 31) / 32 * 32;
            m_pData = static_cast<uint8_t*>(std::aligned_alloc(32, rounded));
            m_nCapacity = m_pData ? rounded : 0;
        }
        return m_pData;
    }

private:
    uint8_t* m_pData = nullptr;
    size_t m_nCapacity = 0;
};
