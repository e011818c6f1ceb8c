#include "server/NodeMessage.h"

#include "net/Frame.h"

namespace {

constexpr size_t kFixedSize = 6;  // kind, call id, name length

bool BodyFits(ENodeMessage kind, const uint8_t* body, size_t size) {
    switch (kind) {
        case ENodeMessage::Setup:
        case ENodeMessage::Refused:
            return size == kCallSetupSize;
        case ENodeMessage::Frame: {
            SFrameHeader header;
            return ParseFrameHeader(body, size, header) && size == kFrameHeaderSize + header.length;
        }
        case ENodeMessage::Accepted:
        case ENodeMessage::Connected:
        case ENodeMessage::Abort:
        case ENodeMessage::Hangup:
            return size == 0;
    }
    return false;
}

}  // namespace

Bytes BuildNodeMessage(const SNodeMessage& m) {
    const size_t nameSize = std::min(m.strFrom.size(), kMaxNodeNameSize);
    Bytes out;
    out.reserve(kFixedSize + nameSize + m.body.size());
    out.push_back(static_cast<uint8_t>(m.eKind));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(m.nCallId >> shift));
    out.push_back(static_cast<uint8_t>(nameSize));
    out.insert(out.end(), m.strFrom.begin(), m.strFrom.begin() + static_cast<std::ptrdiff_t>(nameSize));
    out.insert(out.end(), m.body.begin(), m.body.end());
    return out;
}

bool ParseNodeMessage(const uint8_t* data, size_t size, SNodeMessage& out) {
    if (size < kFixedSize || data[0] < static_cast<uint8_t>(ENodeMessage::Setup) ||
        data[0] > static_cast<uint8_t>(ENodeMessage::Frame)) {
        return false;
    }
    const auto kind = static_cast<ENodeMessage>(data[0]);
    const size_t nameSize = data[5];
    if (nameSize == 0 || nameSize > kMaxNodeNameSize || size < kFixedSize + nameSize)
        return false;
    const uint8_t* body = data + kFixedSize + nameSize;
    const size_t bodySize = size - kFixedSize - nameSize;
    if (!BodyFits(kind, body, bodySize))
        return false;
    out.eKind = kind;
    out.nCallId = (uint32_t{data[1]} << 24) | (uint32_t{data[2]} << 16) | (uint32_t{data[3]} << 8) | data[4];
    out.strFrom.assign(reinterpret_cast<const char*>(data + kFixedSize), nameSize);
    out.body.assign(body, body + bodySize);
    return true;
}
