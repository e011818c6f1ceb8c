// A proxy's reply to CONNECT, read byte by byte and judged as the connect thread does.
#include <string>

#include "net/ProxyReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t pos = 0;
    std::string reply;
    const EProxyReply result = ReadProxyReply(
        [&](uint8_t& b) {
            if (pos == size)
                return 0;
            b = data[pos++];
            return 1;
        },
        reply);
    if (reply.size() > kMaxProxyReply || reply.size() != pos)
        __builtin_trap();
    if (result == EProxyReply::Accepted && ProxyReplyStatus(reply) != 200)
        __builtin_trap();
    return 0;
}
