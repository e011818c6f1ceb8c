// Reading and judging an HTTP proxy's reply to CONNECT: bytes up to the empty line that ends the
// header, at most 1024 of them; status 200 opens the tunnel.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

constexpr size_t kMaxProxyReply = 1024;

enum class EProxyReply {
    Accepted,  // status 200 and a complete header
    Refused,   // a complete header with any other status
    Empty,     // the proxy closed without a word
    Failed,    // a read error, a header cut short by the close, or 1024 bytes without its end
};

// The status code behind the protocol version of the status line ("HTTP/1.0 200 ..."): the decimal
// number starting at byte 9; -1 when there is none.
int ProxyReplyStatus(std::string_view reply);

// Reads one byte into b: 1 when read, 0 when the peer has closed, -1 on error.
using FReceiveByte = std::function<int(uint8_t& b)>;

// Reads the reply byte by byte (so nothing behind the header is consumed) and judges it; `reply`
// receives what was read.
EProxyReply ReadProxyReply(const FReceiveByte& receiveByte, std::string& reply);
