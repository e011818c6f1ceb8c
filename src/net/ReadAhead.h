// What the receive thread reads from its socket. One receive fills a read-ahead buffer, so a burst of
// small frames costs one system call instead of two per frame; a piece at least as large as the buffer
// (a video key frame) goes straight into its destination without the extra copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/SocketTCP.h"

class CReadAhead {
public:
    static constexpr size_t kDefaultBytes = 65536;

    explicit CReadAhead(size_t capacity = kDefaultBytes) : m_Buffer(capacity) {}

    // Exactly n bytes into p, from the buffer first and then from the socket: n, or -1 when the socket
    // failed, was closed, or the peer ended the stream first.
    int Read(CSocketTCP& socket, void* p, int n);
    // Bytes received but not yet read.
    bool HasData() const { return m_nPos != m_nEnd; }
    // Forgets what is buffered (a new connection).
    void Clear() { m_nPos = m_nEnd = 0; }

private:
    std::vector<uint8_t> m_Buffer;
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
};
