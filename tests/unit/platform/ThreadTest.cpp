#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Lock.h"
#include "platform/Thread.h"
#include "platform/Trace.h"
#include "support/TraceCapture.h"

namespace {

using namespace std::chrono_literals;

// Collects trace lines for the duration of a test.
using vp::test::CTraceCapture;

// A body that runs until asked to stop, counting its steps.
class CPolite : public CThread {
public:
    explicit CPolite(const char* name = "CPolite") { SetName(name); }
    ~CPolite() override { Stop(); }
    std::atomic<int> steps{0};
    std::atomic<bool> sawStopAtBegin{false};

protected:
    void Run() override {
        sawStopAtBegin = IsStopRequested();
        while (!IsStopRequested()) {
            ++steps;
            std::this_thread::sleep_for(1ms);
        }
    }
};

// The body starts on its own schedule; a loaded machine may take a while.
void WaitUntilRunning(const CThread& t) {
    for (int i = 0; i < 5000 && !t.IsRunning(); ++i)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(t.IsRunning());
}

// A body that ignores the stop request and holds a lock through a guard while it sleeps.
class CStubborn : public CThread {
public:
    explicit CStubborn(CLock& lock) : m_lock(lock) { SetName("CStubborn"); }
    ~CStubborn() override { Stop(); }
    std::atomic<bool> holding{false};
    static std::atomic<int> unwound;

protected:
    void Run() override {
        struct Unwind {
            ~Unwind() { ++unwound; }
        } unwind;
        CLockGuard guard(m_lock);
        holding = true;
        for (;;)
            std::this_thread::sleep_for(1ms);
    }

private:
    CLock& m_lock;
};
std::atomic<int> CStubborn::unwound{0};

class CService : public CServiceRecv {
public:
    ~CService() override { Stop(); }
    std::atomic<int> steps{0};

protected:
    void Service() override { ++steps; }
};

TEST(Thread, StartTwiceCreatesNoSecondThread) {
    CTraceCapture traces;
    const int before = g_nActiveThreads;
    CPolite t;
    ASSERT_TRUE(t.Start());
    WaitUntilRunning(t);
    const uint32_t id = t.GetThreadId();
    EXPECT_TRUE(t.Start());
    EXPECT_EQ(1, traces.Count("( m_hThread )"));
    EXPECT_EQ(id, t.GetThreadId());
    EXPECT_EQ(before + 1, g_nActiveThreads.load());
    EXPECT_TRUE(t.Stop());
    EXPECT_FALSE(t.HasThread());
    EXPECT_FALSE(t.IsRunning());
    EXPECT_EQ(before, g_nActiveThreads.load());
    EXPECT_FALSE(t.sawStopAtBegin) << "a body that tests the flag before its first step still runs";
    EXPECT_GT(t.steps.load(), 0);
}

TEST(Thread, StopWithoutAThreadTracesAndReturnsTrue) {
    CTraceCapture traces;
    CPolite t;
    EXPECT_TRUE(t.Stop());
    EXPECT_FALSE(t.HasThread());
    EXPECT_EQ(1, traces.Count("| ERROR | ( NULL == m_hThread )"));
}

TEST(Thread, CanBeStartedAgainAfterStop) {
    CPolite t;
    ASSERT_TRUE(t.Start());
    t.Stop();
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.HasThread());
    t.Stop();
}

TEST(Thread, AnUnnamedThreadTracesOnceAfterStarting) {
    CTraceCapture traces;
    CPolite unnamed("Desconocido");
    unnamed.Start();
    unnamed.Stop();
    EXPECT_EQ(1, traces.Count("Thread sin nombre\n"));
    CPolite named;
    named.Start();
    named.Stop();
    EXPECT_EQ(1, traces.Count("Thread sin nombre\n"));
}

TEST(Thread, SetNameNullKeepsTheNameAndTraces) {
    CTraceCapture traces;
    CPolite t("Mine");
    t.SetName(nullptr);
    EXPECT_STREQ("Mine", t.GetName());
    EXPECT_EQ(1, traces.Count("Es ( NULL == pszThreadName )"));
}

TEST(Thread, AStubbornBodyIsBrokenAfterThePollsAndReleasesItsLock) {
    CTraceCapture traces;
    CLock lock;
    const int before = g_nActiveThreads;
    const int unwoundBefore = CStubborn::unwound;
    CStubborn t(lock);
    ASSERT_TRUE(t.Start());
    while (!t.holding)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(lock.IsLocked());
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(t.Stop());
    EXPECT_GE(std::chrono::steady_clock::now() - began, 100ms) << "the body gets its 101 polls first";
    EXPECT_FALSE(t.HasThread());
    EXPECT_FALSE(t.IsRunning());
    EXPECT_FALSE(lock.IsLocked()) << "the forced end unwound the body's guard";
    EXPECT_EQ(unwoundBefore + 1, CStubborn::unwound.load());
    EXPECT_EQ(before, g_nActiveThreads.load());
    EXPECT_EQ(1, traces.Count("Break de Thread. Activos"));
    EXPECT_EQ(1, traces.Count("Nombre=\"CStubborn\""));
}

TEST(Thread, BreakCalledDirectlyEndsTheThread) {
    CLock lock;
    CStubborn t(lock);
    ASSERT_TRUE(t.Start());
    while (!t.holding)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(t.Break());
    EXPECT_FALSE(t.HasThread());
    EXPECT_FALSE(t.IsRunning());
    EXPECT_FALSE(lock.IsLocked());
    EXPECT_TRUE(t.Break()) << "breaking again finds no thread";
    ASSERT_TRUE(t.Start()) << "a broken object can be started again";
    while (!lock.IsLocked())
        std::this_thread::sleep_for(1ms);
    t.Stop();
}

TEST(Thread, AStopBeforeTheBodyBeginsStillStopsIt) {
    // Many short runs: whatever the interleaving, the body sees the request and nothing is broken.
    CTraceCapture traces;
    for (int i = 0; i < 50; ++i) {
        CPolite t;
        ASSERT_TRUE(t.Start());
        t.Stop();
    }
    // A request lost between Start and Stop would break every run. A machine so busy that a new thread
    // gets no processor for the whole grace period may break one or two; that is the forced end working.
    EXPECT_LE(traces.Count("Break de Thread"), 5);
}

TEST(Thread, ActiveCountFollowsBodies) {
    const int before = g_nActiveThreads;
    {
        std::vector<std::unique_ptr<CPolite>> threads;
        for (int i = 0; i < 4; ++i) {
            threads.push_back(std::make_unique<CPolite>());
            threads.back()->Start();
        }
        for (auto& t : threads)
            WaitUntilRunning(*t);
        EXPECT_EQ(before + 4, g_nActiveThreads.load());
    }
    EXPECT_EQ(before, g_nActiveThreads.load());
}

TEST(ServiceThread, StepsUntilStoppedAndKeepsItsName) {
    CService s;
    EXPECT_STREQ("CServiceRecv", s.GetName());
    struct CSend : CServiceSend {
        void Service() override {}
    } send;
    EXPECT_STREQ("CServiceSend", send.GetName());
    ASSERT_TRUE(s.Start());
    while (s.steps < 5)
        std::this_thread::sleep_for(1ms);
    s.Stop();
    const int steps = s.steps;
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(steps, s.steps.load());
}

// A body waiting for a lock that is never released can still be ended by force, and its end is real.
TEST(Thread, ABodyWaitingForALockIsEndedByForce) {
    CLock lock;
    lock.Lock();
    std::atomic<bool> waiting{false}, unwound{false};
    struct CWaiter : CThread {
        CLock& lock;
        std::atomic<bool>&waiting, &unwound;
        CWaiter(CLock& l, std::atomic<bool>& w, std::atomic<bool>& u) : lock(l), waiting(w), unwound(u) {}
        ~CWaiter() override { Stop(); }
        void Run() override {
            struct SUnwind {
                std::atomic<bool>& flag;
                ~SUnwind() { flag = true; }
            } unwind{unwound};
            waiting = true;
            CLockGuard guard(lock);
        }
    } t(lock, waiting, unwound);
    ASSERT_TRUE(t.Start());
    while (!waiting)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(t.Stop());
    EXPECT_TRUE(unwound) << "Stop returned while the body still waited";
    EXPECT_FALSE(t.HasThread());
    EXPECT_TRUE(lock.IsLocked()) << "the lock it never got stays with its holder";
    lock.Unlock();
}

// A body that reaches no cancellation point for longer than a forced end waits is waited for: Stop
// returns once it has really ended, so it never outlives its object.
TEST(Thread, AStopNeverClaimsAnEndThatDidNotHappen) {
    std::atomic<bool> finished{false};
    struct CSpinner : CThread {
        std::atomic<bool>& finished;
        explicit CSpinner(std::atomic<bool>& f) : finished(f) {}
        ~CSpinner() override { Stop(); }
        void Run() override {
            const auto end = std::chrono::steady_clock::now() + 3s;
            while (std::chrono::steady_clock::now() < end) {
            }
            finished = true;
        }
    } t(finished);
    ASSERT_TRUE(t.Start());
    WaitUntilRunning(t);
    CTraceCapture traces;
    t.Stop();
    EXPECT_TRUE(finished) << "Stop returned while the body still ran";
    EXPECT_FALSE(t.HasThread());
    EXPECT_FALSE(t.IsRunning());
}

TEST(Lock, ExcludesAndMayBeReleasedTwice) {
    CLock lock;
    EXPECT_TRUE(lock.TryLock());
    EXPECT_FALSE(lock.TryLock());
    lock.Unlock();
    lock.Unlock();  // releasing a free lock leaves it free
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();

    long counter = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CLockGuard g(lock);
                ++counter;
            }
        });
    }
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(80000, counter);
}

}  // namespace
