// The message layer every thread meets through: registered messages, message targets ("windows") bound
// to the thread that created them, posted and sent messages, window timers, and message loops.
//
// A target belongs to the thread that constructs it and must be destroyed on that thread. Messages for
// it are dispatched only on that thread, by whichever loop runs there: CMessageLoop on plain threads,
// the Qt binding (platform/qt) on the user-interface thread. Messages for a destroyed target are dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
struct HWND__;
using HWND = HWND__*;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// The same name gives the same id everywhere in the process (ids from 0xC000 up), 0 for a null or empty name.
UINT RegisterWindowMessage(const char* name);

class CMessageQueue;

class CMessageTarget {
public:
    CMessageTarget();
    virtual ~CMessageTarget();
    CMessageTarget(const CMessageTarget&) = delete;
    CMessageTarget& operator=(const CMessageTarget&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The handler: runs on the target's thread only.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    HWND m_hWnd;
};

// A target whose handler is a function; handy for small helpers and tests.
class CFunctionTarget : public CMessageTarget {
public:
    using Handler = std::function<LRESULT(UINT, WPARAM, LPARAM)>;
    explicit CFunctionTarget(Handler handler) : m_handler(std::move(handler)) {}
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        return m_handler ? m_handler(message, wParam, lParam) : 0;
    }

private:
    Handler m_handler;
};

// Queues the message for the target's thread. False when the target does not exist.
bool PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Runs the handler on the target's thread and returns its result; directly when called on that thread.
// While it waits, messages sent to the calling thread are still handled. 0 when the target does not
// exist or is destroyed before it could answer.
LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// SendMessage for a sender that may be told to give up: while the target has not begun handling the
// message, `withdraw` is asked every millisecond, and when it says so the message is taken back unseen
// and 0 returned. Once the handler runs, its answer is awaited as usual.
LRESULT SendMessageUnless(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                          const std::function<bool()>& withdraw);
bool IsWindow(HWND hWnd);

// Delivers WM_TIMER (wParam = id) to the target every `elapseMs` until killed; setting an id again
// restarts it. Returns the id, 0 on failure.
uintptr_t SetTimer(HWND hWnd, uintptr_t id, UINT elapseMs);
bool KillTimer(HWND hWnd, uintptr_t id);

// Dispatches what is due on the calling thread without waiting; returns the number of messages handled.
int DispatchPendingMessages(int maxMessages = -1);
// Answers the messages other threads have sent to the calling thread (posted ones and timers wait);
// returns how many. For a thread that waits for another which may be sending to it.
int DispatchSentMessages();
// Dispatches messages on the calling thread until `done` returns true or `timeoutMs` passes
// (negative: no limit). Returns done()'s last value. A nested loop in a handler is allowed.
bool PumpMessagesUntil(const std::function<bool()>& done, int timeoutMs = -1);

// A loop for threads without Qt: Run() dispatches until Quit(). Loops may nest (a modal wait inside a
// handler runs its own loop); Quit ends only the loop it is called on.
class CMessageLoop {
public:
    CMessageLoop();
    int Run();
    // Thread-safe.
    void Quit(int exitCode = 0);
    bool IsRunning() const { return m_bRunning; }

private:
    std::shared_ptr<CMessageQueue> m_queue;
    bool m_bRunning = false;
    std::shared_ptr<struct SLoopState> m_state;
};

// Hooks of the calling thread's queue for an outside event loop (the Qt binding):
// `wake` is called from any thread when the thread has something new to dispatch or its timers change.
void SetThreadWakeHook(std::function<void()> wake);
// Milliseconds until the calling thread's next timer is due (0 when due now), -1 when it has none.
int MillisecondsToNextTimer();
