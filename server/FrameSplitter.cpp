#include "server/FrameSplitter.h"

void CFrameSplitter::Append(const uint8_t* data, size_t size) {
    if (size == 0)
        return;
    // Drop what was taken before growing, so the buffer never holds more than one frame's worth plus a read.
    if (m_nOffset > 0 && m_nOffset >= m_Buffer.size() / 2) {
        m_Buffer.erase(m_Buffer.begin(), m_Buffer.begin() + static_cast<std::ptrdiff_t>(m_nOffset));
        m_nOffset = 0;
    }
    m_Buffer.insert(m_Buffer.end(), data, data + size);
}

CFrameSplitter::EResult CFrameSplitter::Next(SFrameHeader& header, Bytes& frame, uint32_t maxPayload) {
    size_t available = Buffered();
    if (available < kFrameHeaderSize)
        return EResult::NeedMore;
    const uint8_t* start = m_Buffer.data() + m_nOffset;
    if (!ParseFrameHeader(start, available, header) || header.length > maxPayload)
        return EResult::Corrupt;
    size_t total = kFrameHeaderSize + header.length;
    if (available < total)
        return EResult::NeedMore;
    frame.assign(start, start + total);
    m_nOffset += total;
    if (m_nOffset == m_Buffer.size()) {
        m_Buffer.clear();
        m_nOffset = 0;
        // An idle connection should not keep a large buffer from its last video frame.
        if (m_Buffer.capacity() > 64 * 1024)
            Bytes().swap(m_Buffer);
    }
    return EResult::Frame;
}
