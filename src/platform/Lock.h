// CLock: a non-recursive binary lock. Unlike a mutex it may be released by another thread, and
// releasing a free lock leaves it free (a forced thread end relies on that).
#pragma once

#include <atomic>

class CLock {
public:
    CLock() = default;
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void Lock();
    bool TryLock();
    void Unlock();
    bool IsLocked() const { return m_bLocked.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_bLocked{false};
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
