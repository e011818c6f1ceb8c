#include "net/Frame.h"

#include <algorithm>
#include <cstring>

namespace {

void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t GetBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

}  // namespace

void BuildFrameHeader(uint8_t* out, uint8_t channel, uint32_t length, std::string_view sender, uint32_t tag,
                      bool flag) {
    std::memset(out, 0, kFrameHeaderSize);
    out[0] = channel;
    PutBE32(out + 1, kFrameMagic);
    PutBE32(out + 5, length);
    const size_t n = std::min(sender.size(), kSenderFieldSize - 1);
    // A NUL inside the text ends it on the wire anyway; copy only up to it.
    const size_t nul = sender.substr(0, n).find('\0');
    std::memcpy(out + 9, sender.data(), nul == std::string_view::npos ? n : nul);
    PutBE32(out + 25, tag);
    out[29] = flag ? 1 : 0;
}

void BuildFrame(CByteBuffer& out, uint8_t channel, uint32_t tag, const void* payload, uint32_t length,
                std::string_view sender, bool flag) {
    out.SetSize(kFrameHeaderSize + length);
    BuildFrameHeader(out.Data(), channel, length, sender, tag, flag);
    if (length > 0)
        std::memcpy(out.Data() + kFrameHeaderSize, payload, length);
}

void AppendFrame(CByteBuffer& out, uint8_t channel, uint32_t tag, const void* payload, uint32_t length,
                 std::string_view sender, bool flag) {
    uint8_t header[kFrameHeaderSize];
    BuildFrameHeader(header, channel, length, sender, tag, flag);
    out.Append(header, sizeof header);
    out.Append(payload, length);
}

bool ParseFrameHeader(const uint8_t* data, size_t size, SFrameHeader& out) {
    if (data == nullptr || size < kFrameHeaderSize)
        return false;
    out.channel = data[0];
    out.magic = GetBE32(data + 1);
    out.length = GetBE32(data + 5);
    const char* sender = reinterpret_cast<const char*>(data + 9);
    out.sender.assign(sender, strnlen(sender, kSenderFieldSize));
    out.tag = GetBE32(data + 25);
    out.flag = data[29];
    return out.length <= kMaxFramePayload;
}

EFrameRead ReadFrame(const FReceiveAll& receiveAll, SFrameHeader& header, CByteBuffer& payload) {
    uint8_t raw[kFrameHeaderSize];
    if (receiveAll(raw, static_cast<int>(kFrameHeaderSize)) != static_cast<int>(kFrameHeaderSize)) {
        return EFrameRead::ReadFailed;
    }
    if (!ParseFrameHeader(raw, sizeof raw, header))
        return EFrameRead::TooLong;
    payload.SetSize(header.length);
    if (header.length == 0)
        return EFrameRead::Ok;
    const int n = static_cast<int>(header.length);
    if (receiveAll(payload.Data(), n) != n)
        return EFrameRead::ReadFailed;
    return EFrameRead::Ok;
}
