// The byte stream a peer sends, read frame after frame as the receive thread does, each payload filed
// into its channel's ring.
#include <cstring>

#include "net/Channel.h"
#include "net/Frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t pos = 0;
    auto source = [&](void* p, int n) {
        if (n < 0 || size - pos < static_cast<size_t>(n))
            return -1;
        if (n > 0)
            std::memcpy(p, data + pos, static_cast<size_t>(n));
        pos += static_cast<size_t>(n);
        return n;
    };
    CChannel channel(0);
    SFrameHeader header;
    CByteBuffer payload;
    while (ReadFrame(source, header, payload) == EFrameRead::Ok) {
        if (header.length != payload.Size())
            __builtin_trap();
        if (!channel.PushReceived(header.tag, payload.Data(), payload.Size())) {
            uint32_t tag;
            CByteBuffer out;
            while (channel.PopReceived(tag, out)) {
            }
            channel.PushReceived(header.tag, payload.Data(), payload.Size());
        }
    }
    return 0;
}
