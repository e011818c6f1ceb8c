#include "platform/Lock.h"

void CLock::Lock() {
    while (m_bLocked.exchange(true, std::memory_order_acquire)) {
        m_bLocked.wait(true, std::memory_order_relaxed);
    }
}

bool CLock::TryLock() { return !m_bLocked.exchange(true, std::memory_order_acquire); }

void CLock::Unlock() {
    m_bLocked.store(false, std::memory_order_release);
    m_bLocked.notify_one();
}
