#include "net/ProxyReply.h"

int ProxyReplyStatus(std::string_view reply) {
    constexpr size_t kStatusAt = 9;
    int status = 0;
    size_t i = kStatusAt;
    for (; i < reply.size() && i < kStatusAt + 9 && reply[i] >= '0' && reply[i] <= '9'; ++i) {
        status = status * 10 + (reply[i] - '0');
    }
    return i == kStatusAt ? -1 : status;
}

EProxyReply ReadProxyReply(const FReceiveByte& receiveByte, std::string& reply) {
    reply.clear();
    while (reply.size() < kMaxProxyReply) {
        uint8_t b = 0;
        const int r = receiveByte(b);
        if (r < 0)
            return EProxyReply::Failed;
        if (r == 0)
            return reply.empty() ? EProxyReply::Empty : EProxyReply::Failed;
        reply += static_cast<char>(b);
        if (reply.size() >= 4 && reply.compare(reply.size() - 4, 4, "\r\n\r\n") == 0) {
            return ProxyReplyStatus(reply) == 200 ? EProxyReply::Accepted : EProxyReply::Refused;
        }
    }
    return EProxyReply::Failed;
}
