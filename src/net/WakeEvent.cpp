#include "net/WakeEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

CWakeEvent::CWakeEvent() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CWakeEvent::~CWakeEvent() {
    if (m_fd >= 0)
        close(m_fd);
}

void CWakeEvent::Set() {
    const uint64_t one = 1;
    // A full counter is still "set"; nothing to do on failure.
    [[maybe_unused]] ssize_t r = write(m_fd, &one, sizeof one);
}

bool CWakeEvent::Wait(int timeoutMs) {
    pollfd p{m_fd, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0)
        return false;
    Reset();
    return true;
}

void CWakeEvent::Reset() {
    uint64_t value;
    [[maybe_unused]] ssize_t r = read(m_fd, &value, sizeof value);
}
