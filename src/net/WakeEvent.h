// CWakeEvent: an auto-reset event a thread can wait on with a bound, or poll together with a socket.
// Lets an idle service thread sleep until there is work instead of waking every millisecond.
#pragma once

class CWakeEvent {
public:
    CWakeEvent();
    ~CWakeEvent();
    CWakeEvent(const CWakeEvent&) = delete;
    CWakeEvent& operator=(const CWakeEvent&) = delete;

    // Thread-safe; several sets before a wait count as one.
    void Set();
    // Waits until set or `timeoutMs` passes; true when it was set (and resets it).
    bool Wait(int timeoutMs);
    // Clears a pending set without waiting.
    void Reset();
    // For poll(): readable while set.
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};
