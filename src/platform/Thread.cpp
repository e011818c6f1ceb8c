#include "platform/Thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/Trace.h"

std::atomic<int> g_nActiveThreads{0};

namespace {

constexpr const char* kUnnamed = "Desconocido";
constexpr int kStopPolls = 100;  // polls allowed before a break: tries 0..100 = 101 polls
constexpr int kBreakJoinSeconds = 2;

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

CThread::CThread() {
    SetName(kUnnamed);
}

CThread::~CThread() {
    Stop();
}

void CThread::SetName(const char* pszThreadName) {
    if (pszThreadName == nullptr) {
        Trace("CThread:%d - Es ( NULL == pszThreadName ) el nombre de thread.\n", __LINE__);
        return;
    }
    m_strName = pszThreadName;
}

void* CThread::Entry(void* self) {
    auto* t = static_cast<CThread*>(self);
    t->m_bResumed.wait(false);
    t->m_dwThreadId = static_cast<uint32_t>(syscall(SYS_gettid));
    ++g_nActiveThreads;
    t->m_bCounted = true;
    // The stop flag was cleared by Start; a Stop made since then stands.
    t->m_bRunning = true;
    // Also run when a forced end unwinds the body. Clearing the handle is the last touch of the object:
    // the owner may free it from then on.
    struct SEnd {
        CThread* t;
        ~SEnd() {
            t->m_bRunning = false;
            if (t->m_bCounted.exchange(false))
                --g_nActiveThreads;
            t->m_hThread = 0;
        }
    } end{t};
    t->Run();
    return nullptr;
}

bool CThread::Start(size_t stackSize) {
    if (m_hThread.load() != 0) {
        Trace("%s:%d | ( m_hThread )\n", "CThread", __LINE__);
        return true;
    }
    CLockGuard guard(m_Lock);
    JoinEnded();

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize > 0) {
        pthread_attr_setstacksize(&attr, std::max<size_t>(stackSize, PTHREAD_STACK_MIN));
    }
    m_bResumed = false;
    m_bStop = false;
    int err = pthread_create(&m_thread, &attr, &CThread::Entry, this);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        m_bStop = true;
        Trace("%s:%d Start | ERROR | ( NULL == m_hThread ). %d\n", "CThread", __LINE__, err);
        return false;
    }
    m_bJoinable = true;
    m_hThread = static_cast<uintptr_t>(m_thread);
    // Normal priority is what a new thread has here; nothing to set. Resume it.
    m_bResumed = true;
    m_bResumed.notify_one();

    SleepMs(1);
    if (m_strName == kUnnamed)
        Trace("Thread sin nombre\n");
    return true;
}

bool CThread::IsOwnThread() const {
    return m_bJoinable && pthread_equal(m_thread, pthread_self());
}

bool CThread::Stop() {
    if (IsOwnThread()) {
        // A body cannot wait for itself: the request is enough, the body returns.
        m_bStop = true;
        return true;
    }
    CLockGuard guard(m_Lock);
    if (m_hThread.load() == 0) {
        Trace("%s:%d | ERROR | ( NULL == m_hThread ). %d\n", "CThread", __LINE__, errno);
        JoinEnded();
        return true;
    }
    m_bStop = true;
    for (int tries = 0; m_hThread.load() != 0; ++tries) {
        SleepMs(1);
        if (tries == kStopPolls && !BreakThread()) {
            // The body reached no cancellation point in time; until it does (or returns) it may still
            // touch this object, so it is waited for rather than left behind.
            Trace("%s:%d - Esperando el fin del thread \"%s\".\n", "CThread", __LINE__, m_strName.c_str());
            JoinEnded();
        }
    }
    JoinEnded();
    return true;
}

bool CThread::Break() {
    if (IsOwnThread()) {
        m_bStop = true;
        return true;
    }
    return BreakThread();
}

bool CThread::BreakThread() {
    if (m_hThread.load() == 0) {
        Trace("%s:%d | ERROR | ( NULL == m_hThread ). %d\n", "CThread", __LINE__, errno);
        JoinEnded();
        return true;
    }
    m_bStop = true;
    const std::string name = m_strName.empty() ? kUnnamed : m_strName;
    Trace("Break de Thread. Activos %d, ID=0x%X, Nombre=\"%s\"\n", g_nActiveThreads.load() - 1,
          m_dwThreadId.load(), name.c_str());
    if (pthread_cancel(m_thread) == 0) {
        // The cancel lands at the body's next cancellation point; its stack unwinds and its guards let go.
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += kBreakJoinSeconds;
        if (pthread_timedjoin_np(m_thread, nullptr, &deadline) == 0) {
            m_bJoinable = false;
            return true;
        }
    }
    // Still running: the thread stays ours (and the cancel pending), so no one takes it for ended.
    Trace("%s:%d - Error al \"break\" al thread.\n", "CThread", __LINE__);
    return false;
}

void CThread::JoinEnded() {
    if (m_bJoinable) {
        pthread_join(m_thread, nullptr);
        m_bJoinable = false;
    }
}

void CServiceThread::Run() {
    while (!IsStopRequested()) {
        Service();
        WaitForWork();
    }
}

void CServiceThread::WaitForWork() {
    SleepMs(1);
}

CServiceRecv::CServiceRecv() {
    SetName("CServiceRecv");
}

CServiceSend::CServiceSend() {
    SetName("CServiceSend");
}
