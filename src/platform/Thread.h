// CThread: the base of every worker thread. It owns one system thread, names it for tracing, asks it
// to stop cooperatively and ends it by force ("breaks" it) when it does not stop in time.
//
// A forced end cancels the thread at its next cancellation point (a sleep, a socket wait, a condition
// wait) and unwinds its stack, so RAII guards (CLockGuard, std::lock_guard) release what they hold.
// Consequences for bodies: take locks only through guards, and a `catch (...)` on a path that can be
// cancelled must rethrow. Derived classes call Stop() in their own destructor, before their members go.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Lock.h"

// Thread bodies that have begun and not yet ended (or been broken).
extern std::atomic<int> g_nActiveThreads;

class CThread {
public:
    CThread();
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // True when the thread runs (or already ran); false when it could not be created.
    virtual bool Start(size_t stackSize = 0);
    // Asks the body to stop, waits 101 polls of 1 ms, then breaks it; a body the break does not reach
    // is waited for. Always true, and no thread remains when it returns.
    virtual bool Stop();
    // Ends the thread by force. True when it ended or none existed; false when it still runs (it is then
    // still this object's thread, and a later Stop waits for it).
    virtual bool Break();
    virtual bool IsRunning() const { return m_bRunning.load(); }
    virtual void SetName(const char* pszThreadName);

    const char* GetName() const { return m_strName.c_str(); }
    bool IsStopRequested() const { return m_bStop.load(); }
    bool HasThread() const { return m_hThread.load() != 0; }
    uint32_t GetThreadId() const { return m_dwThreadId.load(); }

protected:
    virtual void Run() = 0;

private:
    static void* Entry(void* self);
    bool BreakThread();
    void JoinEnded();
    bool IsOwnThread() const;

    std::string m_strName;
    std::atomic<uintptr_t> m_hThread{0};  // the system thread while it exists; 0 when none
    std::atomic<uint32_t> m_dwThreadId{0};
    std::atomic<bool> m_bStop{true};
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bResumed{false};  // the new thread waits for this: created "suspended"
    std::atomic<bool> m_bCounted{false};  // this body is counted in g_nActiveThreads
    pthread_t m_thread{};                 // kept until joined, after m_hThread is cleared
    bool m_bJoinable = false;
    CLock m_Lock;  // serialises Start and Stop
};

// Polling service threads: one step of work, a short wait, again until a stop is requested.
class CServiceThread : public CThread {
protected:
    void Run() override;
    // One step of work.
    virtual void Service() = 0;
    // The pause between steps: 1 ms unless a derived class waits for its own work with a bound.
    virtual void WaitForWork();
};

class CServiceRecv : public CServiceThread {
public:
    CServiceRecv();
};

class CServiceSend : public CServiceThread {
public:
    CServiceSend();
};
