// CFrameSplitter: cuts a received byte stream into whole frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/Frame.h"
#include "net/Protocol.h"

class CFrameSplitter {
public:
    // Adds received bytes.
    void Append(const uint8_t* data, size_t size);
    enum class EResult { Frame, NeedMore, Corrupt };
    // Takes the next whole frame (header and payload bytes). Corrupt: a length beyond `maxPayload` (or the
    // protocol's limit); the stream cannot be followed any further.
    EResult Next(SFrameHeader& header, Bytes& frame, uint32_t maxPayload = kMaxFramePayload);
    size_t Buffered() const { return m_Buffer.size() - m_nOffset; }

private:
    Bytes m_Buffer;
    size_t m_nOffset = 0;  // start of the unread bytes
};
