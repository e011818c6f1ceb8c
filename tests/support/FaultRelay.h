// A TCP relay that misbehaves on request, for trials of what a user sees when the link to the server
// is slow, thin, stuck or cut. It forwards every connection made to its listening address to the target
// and can be told while it runs to delay each direction, cap the bandwidth, stop forwarding for a while
// (holding what arrives) or reset every connection it carries. Plain sockets and one thread.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vp::test {

class CFaultRelay {
public:
    using Clock = std::chrono::steady_clock;

    // What the relay does to the bytes it carries; changes apply to the connections it carries now and to
    // those it accepts later.
    struct SFaults {
        int nDelayUpMs = 0;            // client to target
        int nDelayDownMs = 0;          // target to client
        uint32_t nBytesPerS = 0;       // per direction and connection; 0 for no cap
        Clock::time_point stallEnd{};  // nothing is forwarded before this
    };

    CFaultRelay();
    ~CFaultRelay();
    CFaultRelay(const CFaultRelay&) = delete;
    CFaultRelay& operator=(const CFaultRelay&) = delete;

    // Listens on listenAddr:listenPort (port 0: a free one, see Port) and forwards to target:targetPort.
    bool Start(const std::string& listenAddr, uint16_t listenPort, const std::string& target,
               uint16_t targetPort);
    // Closes the listener and every connection (gracefully).
    void Stop();
    uint16_t Port() const { return m_nPort; }

    void SetDelay(int upMs, int downMs);
    void SetBandwidth(uint32_t bytesPerS);
    // Holds both directions for `ms` from now; what arrives meanwhile is kept and forwarded afterwards.
    void Stall(int ms);
    // Clears delay, cap and stall (what is held is forwarded at once).
    void Clear();
    // Closes both sides of every connection it carries now with a reset (what it holds is lost); new
    // connections are accepted as before. Returns once done.
    void Reset();

    // Connections accepted so far, and resets sent to them by Reset.
    int Accepted() const;
    int ResetCount() const;
    // Bytes dropped by resets (held in the relay at that moment).
    uint64_t BytesDroppedByReset() const;

private:
    struct SPair;
    void Run();
    void Wake();

    mutable std::mutex m_mutex;
    SFaults m_Faults;
    bool m_bStop = false;
    int m_nResetRequests = 0;  // requests made; the thread counts those it has served
    int m_nResetsServed = 0;
    int m_nAccepted = 0;
    int m_nResetConnections = 0;
    uint64_t m_nDroppedBytes = 0;

    int m_nListenFd = -1;
    int m_nWakeFd = -1;
    uint16_t m_nPort = 0;
    sockaddr_in m_Target{};
    std::thread m_Thread;
};

}  // namespace vp::test
