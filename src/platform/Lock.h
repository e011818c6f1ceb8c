// CLock: a non-recursive binary lock. Unlike a mutex it may be released by another thread, and
// releasing a free lock leaves it free (a forced thread end relies on that). A thread waiting for it
// reaches a cancellation point at least every 10 ms, so a forced end reaches it there too.
#pragma once

#include <atomic>
#include <cstdint>

class CLock {
public:
    CLock() = default;
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void Lock();
    bool TryLock();
    void Unlock();
    bool IsLocked() const { return m_nLocked.load(std::memory_order_relaxed) != 0; }

private:
    std::atomic<uint32_t> m_nLocked{0};   // the futex word: 1 while held
    std::atomic<uint32_t> m_nWaiters{0};  // threads in Lock's wait; Unlock wakes one only when some wait
};

// Holds a CLock for a scope; a thread unwound by a forced end releases it here.
class CLockGuard {
public:
    explicit CLockGuard(CLock& lock) : m_lock(lock) { m_lock.Lock(); }
    ~CLockGuard() { m_lock.Unlock(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CLock& m_lock;
};
