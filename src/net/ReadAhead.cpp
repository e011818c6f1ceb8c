#include "net/ReadAhead.h"

#include <algorithm>
#include <cstring>

#include "net/SocketError.h"

int CReadAhead::Read(CSocketTCP& socket, void* p, int n) {
    auto* out = static_cast<uint8_t*>(p);
    int got = 0;
    while (got < n) {
        if (!HasData()) {
            m_nPos = m_nEnd = 0;
            if (static_cast<size_t>(n - got) >= m_Buffer.size())
                return socket.ReceiveAll(out + got, n - got) < 0 ? -1 : n;
            if (!socket.WaitReadable()) {
                if (!socket.IsValid())
                    return -1;
                continue;
            }
            const int r = socket.Receive(m_Buffer.data(), static_cast<int>(m_Buffer.size()));
            if (r < 0 || (r == 0 && GetLastSocketError() == WSAEDISCON))
                return -1;
            m_nEnd = static_cast<size_t>(r);
            continue;
        }
        const size_t take = std::min(static_cast<size_t>(n - got), m_nEnd - m_nPos);
        std::memcpy(out + got, m_Buffer.data() + m_nPos, take);
        m_nPos += take;
        got += static_cast<int>(take);
    }
    return n;
}
