#include "platform/Lock.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the lock word is waited on as a futex");

namespace {

uint32_t* Word(std::atomic<uint32_t>& a) {
    return reinterpret_cast<uint32_t*>(&a);
}

}  // namespace

void CLock::Lock() {
    if (m_nLocked.exchange(1, std::memory_order_acquire) == 0)
        return;
    // Counted while waiting, also when a forced end unwinds the wait.
    struct SWaiting {
        std::atomic<uint32_t>& waiters;
        explicit SWaiting(std::atomic<uint32_t>& w) : waiters(w) { waiters.fetch_add(1); }
        ~SWaiting() { waiters.fetch_sub(1); }
    } waiting(m_nWaiters);
    while (m_nLocked.exchange(1, std::memory_order_acquire) != 0) {
        // The futex wait is no cancellation point: it is bounded, and the point follows it.
        timespec slice{0, 10 * 1000 * 1000};
        syscall(SYS_futex, Word(m_nLocked), FUTEX_WAIT_PRIVATE, 1, &slice, nullptr, 0);
        pthread_testcancel();
    }
}

bool CLock::TryLock() {
    return m_nLocked.exchange(1, std::memory_order_acquire) == 0;
}

void CLock::Unlock() {
    m_nLocked.store(0, std::memory_order_seq_cst);
    if (m_nWaiters.load(std::memory_order_seq_cst) != 0)
        syscall(SYS_futex, Word(m_nLocked), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}
