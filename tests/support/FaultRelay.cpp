#include "support/FaultRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <optional>
#include <vector>

namespace vp::test {

namespace {

using Clock = CFaultRelay::Clock;
using std::chrono::milliseconds;

// Beyond this much held in one direction the relay stops reading it, so a stalled sender meets TCP's own
// back-pressure instead of filling this process.
constexpr size_t kMaxHeld = 16u << 20;
constexpr size_t kReadChunk = 64 * 1024;

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void CloseWithReset(int fd) {
    if (fd < 0)
        return;
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

}  // namespace

// One direction of a connection: bytes read from `from`, held until due, written to `to`.
struct SDirection {
    struct SChunk {
        Clock::time_point arrived;
        std::vector<uint8_t> bytes;
        size_t offset = 0;
    };
    std::deque<SChunk> held;
    size_t nHeld = 0;
    bool bEof = false;       // the reading side has finished sending
    bool bShutDown = false;  // the end was passed on to the writing side
    bool bBlocked = false;   // the writing side's buffer is full
    double budget = 0;       // bytes the cap allows now
    Clock::time_point lastRefill = Clock::now();
};

struct CFaultRelay::SPair {
    int client = -1;
    int server = -1;
    SDirection up;    // client to server
    SDirection down;  // server to client
    bool bFailed = false;
};

CFaultRelay::CFaultRelay() = default;

CFaultRelay::~CFaultRelay() {
    Stop();
}

bool CFaultRelay::Start(const std::string& listenAddr, uint16_t listenPort, const std::string& target,
                        uint16_t targetPort) {
    Stop();
    m_Target = {};
    m_Target.sin_family = AF_INET;
    m_Target.sin_port = htons(targetPort);
    if (inet_pton(AF_INET, target.c_str(), &m_Target.sin_addr) != 1)
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(listenPort);
    if (inet_pton(AF_INET, listenAddr.c_str(), &sa.sin_addr) != 1)
        return false;
    m_nListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    setsockopt(m_nListenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (m_nListenFd < 0 || bind(m_nListenFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(m_nListenFd, 64) != 0) {
        if (m_nListenFd >= 0)
            close(m_nListenFd);
        m_nListenFd = -1;
        return false;
    }
    socklen_t len = sizeof sa;
    getsockname(m_nListenFd, reinterpret_cast<sockaddr*>(&sa), &len);
    m_nPort = ntohs(sa.sin_port);
    m_nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_bStop = false;
    m_Faults = {};
    m_Thread = std::thread([this] { Run(); });
    return true;
}

void CFaultRelay::Stop() {
    if (!m_Thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    Wake();
    m_Thread.join();
    close(m_nListenFd);
    close(m_nWakeFd);
    m_nListenFd = m_nWakeFd = -1;
}

void CFaultRelay::Wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(m_nWakeFd, &one, sizeof one);
}

void CFaultRelay::SetDelay(int upMs, int downMs) {
    std::lock_guard lock(m_mutex);
    m_Faults.nDelayUpMs = std::max(0, upMs);
    m_Faults.nDelayDownMs = std::max(0, downMs);
    Wake();
}

void CFaultRelay::SetBandwidth(uint32_t bytesPerS) {
    std::lock_guard lock(m_mutex);
    m_Faults.nBytesPerS = bytesPerS;
    Wake();
}

void CFaultRelay::Stall(int ms) {
    std::lock_guard lock(m_mutex);
    m_Faults.stallEnd = Clock::now() + milliseconds(ms);
    Wake();
}

void CFaultRelay::Clear() {
    std::lock_guard lock(m_mutex);
    m_Faults = {};
    Wake();
}

void CFaultRelay::Reset() {
    int request;
    {
        std::lock_guard lock(m_mutex);
        request = ++m_nResetRequests;
    }
    Wake();
    // The thread serves requests in order; a stopped relay has nothing to reset.
    while (m_Thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            if (m_nResetsServed >= request || m_bStop)
                return;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
}

int CFaultRelay::Accepted() const {
    std::lock_guard lock(m_mutex);
    return m_nAccepted;
}

int CFaultRelay::ResetCount() const {
    std::lock_guard lock(m_mutex);
    return m_nResetConnections;
}

uint64_t CFaultRelay::BytesDroppedByReset() const {
    std::lock_guard lock(m_mutex);
    return m_nDroppedBytes;
}

namespace {

// Reads what `fd` has into the direction; false when the connection failed.
bool ReadInto(int fd, SDirection& d) {
    while (!d.bEof && d.nHeld < kMaxHeld) {
        std::vector<uint8_t> buf(kReadChunk);
        ssize_t n = read(fd, buf.data(), buf.size());
        if (n > 0) {
            buf.resize(static_cast<size_t>(n));
            d.nHeld += buf.size();
            d.held.push_back({Clock::now(), std::move(buf), 0});
            continue;
        }
        if (n == 0) {
            d.bEof = true;
            return true;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    return true;
}

// Writes what is due; gives the time the next held byte falls due (max when none waits), or nullopt
// when the connection failed.
std::optional<Clock::time_point> WriteDue(int fd, SDirection& d, const CFaultRelay::SFaults& f, int delayMs,
                                          Clock::time_point now) {
    if (f.nBytesPerS != 0) {
        const double elapsed = std::chrono::duration<double>(now - d.lastRefill).count();
        // A burst of at most a twentieth of a second keeps the pace even.
        d.budget = std::min(d.budget + elapsed * f.nBytesPerS, std::max(1.0, f.nBytesPerS / 20.0));
    }
    d.lastRefill = now;
    d.bBlocked = false;
    if (now < f.stallEnd)
        return f.stallEnd;
    while (!d.held.empty()) {
        auto& c = d.held.front();
        const auto due = c.arrived + milliseconds(delayMs);
        if (due > now)
            return due;
        size_t n = c.bytes.size() - c.offset;
        if (f.nBytesPerS != 0) {
            n = std::min(n, static_cast<size_t>(d.budget));
            if (n == 0)
                return now + milliseconds(5);
        }
        ssize_t w = send(fd, c.bytes.data() + c.offset, n, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                d.bBlocked = true;  // POLLOUT wakes us
                return Clock::time_point::max();
            }
            return std::nullopt;
        }
        c.offset += static_cast<size_t>(w);
        d.nHeld -= static_cast<size_t>(w);
        if (f.nBytesPerS != 0)
            d.budget -= static_cast<double>(w);
        if (c.offset < c.bytes.size())
            continue;
        d.held.pop_front();
    }
    if (d.bEof && !d.bShutDown) {
        shutdown(fd, SHUT_WR);
        d.bShutDown = true;
    }
    return Clock::time_point::max();
}

}  // namespace

void CFaultRelay::Run() {
    std::vector<std::unique_ptr<SPair>> pairs;
    for (;;) {
        SFaults faults;
        int resetsWanted;
        {
            std::lock_guard lock(m_mutex);
            if (m_bStop)
                break;
            faults = m_Faults;
            resetsWanted = m_nResetRequests;
        }
        if (resetsWanted > m_nResetsServed) {
            uint64_t dropped = 0;
            for (auto& p : pairs) {
                dropped += p->up.nHeld + p->down.nHeld;
                CloseWithReset(p->client);
                CloseWithReset(p->server);
            }
            std::lock_guard lock(m_mutex);
            m_nResetConnections += static_cast<int>(pairs.size());
            m_nDroppedBytes += dropped;
            m_nResetsServed = resetsWanted;
            pairs.clear();
        }

        // Forward what is due and find the next moment anything falls due.
        const auto now = Clock::now();
        auto next = Clock::time_point::max();
        for (auto& p : pairs) {
            auto a = WriteDue(p->server, p->up, faults, faults.nDelayUpMs, now);
            auto b = WriteDue(p->client, p->down, faults, faults.nDelayDownMs, now);
            if (!a || !b) {
                p->bFailed = true;
                continue;
            }
            next = std::min({next, *a, *b});
        }
        // A failed side, or both ends finished and passed on: the connection is over. A failure is
        // passed on as a reset, as the kernel would have done.
        std::erase_if(pairs, [](const std::unique_ptr<SPair>& p) {
            if (p->bFailed) {
                CloseWithReset(p->client);
                CloseWithReset(p->server);
                return true;
            }
            if (p->up.bShutDown && p->down.bShutDown) {
                close(p->client);
                close(p->server);
                return true;
            }
            return false;
        });

        std::vector<pollfd> fds = {{m_nWakeFd, POLLIN, 0}, {m_nListenFd, POLLIN, 0}};
        for (auto& p : pairs) {
            short cEvents = 0, sEvents = 0;
            if (!p->up.bEof && p->up.nHeld < kMaxHeld)
                cEvents |= POLLIN;
            if (!p->down.bEof && p->down.nHeld < kMaxHeld)
                sEvents |= POLLIN;
            if (p->down.bBlocked)
                cEvents |= POLLOUT;
            if (p->up.bBlocked)
                sEvents |= POLLOUT;
            fds.push_back({p->client, cEvents, 0});
            fds.push_back({p->server, sEvents, 0});
        }
        int timeoutMs = 200;
        if (next != Clock::time_point::max()) {
            auto wait = std::chrono::ceil<milliseconds>(next - Clock::now()).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait, 0, 200));
        }
        poll(fds.data(), fds.size(), timeoutMs);

        if (fds[0].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] ssize_t n = read(m_nWakeFd, &v, sizeof v);
        }
        for (size_t i = 0; i < pairs.size(); ++i) {
            SPair& p = *pairs[i];
            const short cRev = fds[2 + 2 * i].revents, sRev = fds[3 + 2 * i].revents;
            if (((cRev | sRev) & POLLERR) || ((cRev & (POLLIN | POLLHUP)) && !ReadInto(p.client, p.up)) ||
                ((sRev & (POLLIN | POLLHUP)) && !ReadInto(p.server, p.down)))
                p.bFailed = true;
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                int c = accept4(m_nListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (c < 0)
                    break;
                int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                // Loopback connects at once; a target that is down is passed on as a refusal.
                if (s < 0 || connect(s, reinterpret_cast<const sockaddr*>(&m_Target), sizeof m_Target) != 0) {
                    if (s >= 0)
                        close(s);
                    CloseWithReset(c);
                    continue;
                }
                SetNonBlocking(s);
                int on = 1;
                setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                auto p = std::make_unique<SPair>();
                p->client = c;
                p->server = s;
                pairs.push_back(std::move(p));
                std::lock_guard lock(m_mutex);
                ++m_nAccepted;
            }
        }
    }
    for (auto& p : pairs) {
        close(p->client);
        close(p->server);
    }
}

}  // namespace vp::test
