// The frame around every message on the connection: a 30-byte header (channel, magic, payload length,
// sender NTV, tag, flag; integers big-endian) followed by the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/ByteBuffer.h"

constexpr size_t kFrameHeaderSize = 30;
constexpr uint32_t kFrameMagic = 0x01233210;
// The largest payload either side accepts; ample for a video key frame. A larger length, or one with
// the top bit set, means the stream is corrupt.
constexpr uint32_t kMaxFramePayload = 1048576;
constexpr size_t kSenderFieldSize = 16;  // NTV of at most 15 characters, NUL-padded

struct SFrameHeader {
    uint8_t channel = 0;
    uint32_t magic = 0;
    uint32_t length = 0;
    std::string sender;  // up to the first NUL of the 16-byte field
    uint32_t tag = 0;
    uint8_t flag = 0;
};

// Writes the 30 header bytes. The sender is cut to 15 characters.
void BuildFrameHeader(uint8_t* out, uint8_t channel, uint32_t length, std::string_view sender, uint32_t tag,
                      bool flag);
// Replaces `out` by a whole frame (header and payload).
void BuildFrame(CByteBuffer& out, uint8_t channel, uint32_t tag, const void* payload, uint32_t length,
                std::string_view sender, bool flag);

// Appends a whole frame to `out`, after what it already holds.
void AppendFrame(CByteBuffer& out, uint8_t channel, uint32_t tag, const void* payload, uint32_t length,
                 std::string_view sender, bool flag);

// Reads a header from `size` bytes. False when fewer than 30 bytes are given or the length is out of
// range (above kMaxFramePayload, which includes the top bit). The magic and flag are not judged.
bool ParseFrameHeader(const uint8_t* data, size_t size, SFrameHeader& out);

// Reads exactly n bytes into p: returns n, or anything else on failure (a short read ends the frame).
using FReceiveAll = std::function<int(void* p, int n)>;

enum class EFrameRead {
    Ok,
    ReadFailed,  // the source failed or ended before the frame was complete
    TooLong,     // the length field is beyond kMaxFramePayload: the stream cannot be trusted further
};

// Reads one frame: the header, then exactly its payload into `payload` (size = length).
EFrameRead ReadFrame(const FReceiveAll& receiveAll, SFrameHeader& header, CByteBuffer& payload);
