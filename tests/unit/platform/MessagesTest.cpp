#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Messages.h"
#include "support/MessageRecorder.h"

namespace {

using namespace std::chrono_literals;

// A target that records what reaches it and answers twice the wParam.
class CRecorder : public vp::test::CMessageRecorder {
public:
    CRecorder() : CMessageRecorder([](UINT, WPARAM w, LPARAM) { return static_cast<LRESULT>(w) * 2; }) {}
};

// A plain thread running a message loop with one target, for cross-thread tests.
class CLoopThread {
public:
    CLoopThread() {
        m_thread = std::thread([this] {
            CFunctionTarget target([this](UINT m, WPARAM w, LPARAM) -> LRESULT {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_handled.push_back(m);
                m_handlerThread = std::this_thread::get_id();
                return static_cast<LRESULT>(w) + 1000;
            });
            CMessageLoop loop;
            m_loop = &loop;
            m_hWnd = target.GetSafeHwnd();
            m_ready = true;
            m_ready.notify_all();
            loop.Run();
            m_loop = nullptr;
        });
        m_ready.wait(false);
    }
    ~CLoopThread() {
        m_loop.load()->Quit();
        m_thread.join();
    }
    HWND hWnd() const { return m_hWnd; }
    std::vector<UINT> handled() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_handled;
    }
    std::thread::id handlerThread() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_handlerThread;
    }

private:
    std::thread m_thread;
    std::atomic<CMessageLoop*> m_loop{nullptr};
    std::atomic<bool> m_ready{false};
    HWND m_hWnd = nullptr;
    std::mutex m_mutex;
    std::vector<UINT> m_handled;
    std::thread::id m_handlerThread;
};

TEST(RegisteredMessages, SameNameSameIdDifferentNamesDifferentIds) {
    const UINT a = RegisterWindowMessage("WM_TRANSPORT_RECV");
    const UINT b = RegisterWindowMessage("WM_TRANSPORT_ERROR");
    EXPECT_GE(a, 0xC000u);
    EXPECT_NE(a, b);
    UINT fromOtherThread = 0;
    std::thread([&] { fromOtherThread = RegisterWindowMessage("WM_TRANSPORT_RECV"); }).join();
    EXPECT_EQ(a, fromOtherThread);
    EXPECT_EQ(0u, RegisterWindowMessage(""));
    EXPECT_EQ(0u, RegisterWindowMessage(nullptr));
}

TEST(PostedMessages, ArriveInOrderOnTheTargetsThread) {
    CRecorder target;
    std::thread poster([&] {
        for (WPARAM i = 0; i < 100; ++i) EXPECT_TRUE(PostMessage(target.GetSafeHwnd(), WM_USER, i, -1));
    });
    poster.join();
    EXPECT_EQ(0u, target.seen.size()) << "posting must not run the handler";
    EXPECT_EQ(100, DispatchPendingMessages());
    ASSERT_EQ(100u, target.seen.size());
    for (WPARAM i = 0; i < 100; ++i) EXPECT_EQ(i, target.seen[i].wParam);
    for (auto id : target.threads) EXPECT_EQ(std::this_thread::get_id(), id);
}

TEST(PostedMessages, ToADestroyedTargetAreDroppedSafely) {
    HWND stale;
    {
        auto target = std::make_unique<CRecorder>();
        stale = target->GetSafeHwnd();
        EXPECT_TRUE(PostMessage(stale, WM_USER, 1, 0));
    }  // destroyed with a message pending
    EXPECT_FALSE(IsWindow(stale));
    EXPECT_FALSE(PostMessage(stale, WM_USER, 2, 0));
    EXPECT_EQ(0, SendMessage(stale, WM_USER, 2, 0));
    DispatchPendingMessages();  // the pending one is dropped, nothing is called
    EXPECT_FALSE(SetTimer(stale, 1, 5));
}

TEST(SentMessages, RunDirectlyOnTheOwnThread) {
    CRecorder target;
    EXPECT_EQ(42, SendMessage(target.GetSafeHwnd(), WM_USER, 21, 0));
    ASSERT_EQ(1u, target.seen.size());
}

TEST(SentMessages, CrossThreadRunOnTheTargetThreadAndReturnTheResult) {
    CLoopThread other;
    EXPECT_EQ(1007, SendMessage(other.hWnd(), WM_USER + 1, 7, 0));
    EXPECT_TRUE(PostMessage(other.hWnd(), WM_USER + 2, 0, 0));
    EXPECT_EQ(1008, SendMessage(other.hWnd(), WM_USER + 3, 8, 0));
    EXPECT_NE(std::this_thread::get_id(), other.handlerThread());
    for (int i = 0; i < 5000 && other.handled().size() < 3; ++i) std::this_thread::sleep_for(1ms);
    auto handled = other.handled();
    std::sort(handled.begin(), handled.end());
    EXPECT_EQ((std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}), handled);
}

TEST(SentMessages, TwoThreadsSendingToEachOtherDoNotLockUp) {
    // The loop thread's handler sends back to us while we wait for its answer.
    CRecorder mine;
    HWND mineHwnd = mine.GetSafeHwnd();
    std::atomic<HWND> otherHwnd{nullptr};
    std::atomic<CMessageLoop*> otherLoop{nullptr};
    std::thread other([&] {
        CFunctionTarget t([&](UINT, WPARAM w, LPARAM) -> LRESULT { return SendMessage(mineHwnd, WM_USER, w, 0) + 1; });
        CMessageLoop loop;
        otherLoop = &loop;
        otherHwnd = t.GetSafeHwnd();
        loop.Run();
    });
    while (otherHwnd.load() == nullptr) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(11, SendMessage(otherHwnd, WM_USER, 5, 0));  // 5 * 2 + 1
    otherLoop.load()->Quit();
    other.join();
}

TEST(SentMessages, ToAThreadThatEndsAreAnsweredWithZero) {
    std::atomic<HWND> h{nullptr};
    std::atomic<bool> release{false};
    std::thread other([&] {
        CFunctionTarget t([](UINT, WPARAM, LPARAM) -> LRESULT { return 5; });
        h = t.GetSafeHwnd();
        release.wait(false);  // never dispatches
    });
    while (h.load() == nullptr) std::this_thread::sleep_for(1ms);
    std::thread releaser([&] {
        std::this_thread::sleep_for(20ms);
        release = true;
        release.notify_all();
    });
    EXPECT_EQ(0, SendMessage(h, WM_USER, 0, 0));
    other.join();
    releaser.join();
}

TEST(Timers, FireRepeatedlyUntilKilled) {
    int ticks = 0;
    uintptr_t lastId = 0;
    CFunctionTarget target([&](UINT m, WPARAM w, LPARAM) -> LRESULT {
        if (m == WM_TIMER) {
            ++ticks;
            lastId = w;
        }
        return 0;
    });
    EXPECT_EQ(3u, SetTimer(target.GetSafeHwnd(), 3, 5));
    EXPECT_TRUE(PumpMessagesUntil([&] { return ticks >= 3; }, 5000));
    EXPECT_EQ(3u, lastId);
    EXPECT_TRUE(KillTimer(target.GetSafeHwnd(), 3));
    EXPECT_FALSE(KillTimer(target.GetSafeHwnd(), 3));
    const int after = ticks;
    PumpMessagesUntil(nullptr, 40);
    EXPECT_EQ(after, ticks);
}

TEST(Timers, SettingAnIdAgainRestartsItAndDestroyingTheTargetStopsIt) {
    int ticks = 0;
    auto target = std::make_unique<CFunctionTarget>([&](UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_TIMER) ++ticks;
        return 0;
    });
    SetTimer(target->GetSafeHwnd(), 1, 10000);
    SetTimer(target->GetSafeHwnd(), 1, 5);  // restarted with the short interval
    EXPECT_TRUE(PumpMessagesUntil([&] { return ticks >= 1; }, 5000));
    target.reset();
    EXPECT_EQ(-1, MillisecondsToNextTimer());
}

TEST(NestedLoops, KeepDispatchingAndQuitOnlyTheirOwnLoop) {
    CMessageLoop outer;
    std::vector<int> order;
    CFunctionTarget quitter([&](UINT, WPARAM, LPARAM l) -> LRESULT {
        reinterpret_cast<CMessageLoop*>(l)->Quit();
        return 0;
    });
    CFunctionTarget target([&](UINT, WPARAM w, LPARAM) -> LRESULT {
        order.push_back(static_cast<int>(w));
        if (w == 1) {
            // A modal wait: what is queued meanwhile is handled inside it, in order.
            CMessageLoop inner;
            PostMessage(target.GetSafeHwnd(), WM_USER, 2, 0);
            PostMessage(quitter.GetSafeHwnd(), WM_USER, 0, reinterpret_cast<LPARAM>(&inner));
            inner.Run();
            order.push_back(100);
        } else if (w == 3) {
            outer.Quit(7);  // must not end the inner loop that is running now
        }
        return 0;
    });
    PostMessage(target.GetSafeHwnd(), WM_USER, 1, 0);
    PostMessage(target.GetSafeHwnd(), WM_USER, 3, 0);
    EXPECT_EQ(7, outer.Run());
    EXPECT_EQ((std::vector<int>{1, 3, 2, 100}), order);
}

}  // namespace
