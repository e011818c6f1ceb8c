#include "platform/Messages.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

struct SPosted {
    HWND hWnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct STimer {
    HWND hWnd;
    uintptr_t id;
    Clock::duration interval;
    Clock::time_point due;
};

}  // namespace

struct SSent;

// The messages, sent requests and timers of one thread.
class CMessageQueue {
public:
    // The thread is ending: nothing more is queued, and what was sent to it is answered with 0.
    void Close();

    void Notify();
    // The earliest due timer, with the queue's mutex held.
    std::optional<Clock::time_point> NextDueLocked() const;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<SPosted> m_posted;
    std::deque<std::shared_ptr<SSent>> m_sent;
    std::vector<STimer> m_timers;
    std::shared_ptr<std::function<void()>> m_wake;
    bool m_bClosed = false;
};

struct SSent {
    HWND hWnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::shared_ptr<CMessageQueue> sender;
    LRESULT result = 0;
    bool done = false;  // guarded by the sender's mutex
};

struct SLoopState {
    bool quit = false;  // guarded by the queue's mutex
    int exitCode = 0;
};

namespace {

void Reply(const std::shared_ptr<SSent>& s, LRESULT result) {
    {
        std::lock_guard<std::mutex> lock(s->sender->m_mutex);
        s->result = result;
        s->done = true;
    }
    s->sender->m_cv.notify_all();
}

// Closes the thread's queue when the thread ends, whoever still holds a reference to it.
struct SThreadQueueHolder {
    std::shared_ptr<CMessageQueue> queue = std::make_shared<CMessageQueue>();
    ~SThreadQueueHolder() { queue->Close(); }
};

std::shared_ptr<CMessageQueue>& ThreadQueue() {
    thread_local SThreadQueueHolder holder;
    return holder.queue;
}

struct STargetEntry {
    CMessageTarget* target;
    std::shared_ptr<CMessageQueue> queue;
};

class CTargetRegistry {
public:
    HWND Add(CMessageTarget* target, std::shared_ptr<CMessageQueue> queue) {
        std::lock_guard<std::mutex> lock(m_mutex);
        HWND h = reinterpret_cast<HWND>(++m_nLastId);
        m_targets.emplace(h, STargetEntry{target, std::move(queue)});
        return h;
    }
    void Remove(HWND h) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_targets.erase(h);
    }
    std::optional<STargetEntry> Find(HWND h) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_targets.find(h);
        if (it == m_targets.end())
            return std::nullopt;
        return it->second;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HWND, STargetEntry> m_targets;
    uintptr_t m_nLastId = 0;  // handles are never reused
};

CTargetRegistry& Targets() {
    static CTargetRegistry* registry = new CTargetRegistry;  // outlives every thread's queue
    return *registry;
}

// Calls the target's handler when it still exists and belongs to this thread; 0 otherwise.
LRESULT Deliver(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    auto entry = Targets().Find(h);
    if (!entry || entry->queue != ThreadQueue())
        return 0;
    return entry->target->WindowProc(message, wParam, lParam);
}

enum class EDispatch { kSentOnly, kAll };

// Dispatches one message of the calling thread: sent requests first, then posted messages, then a due timer.
bool DispatchOne(CMessageQueue& q, EDispatch what) {
    std::unique_lock<std::mutex> lock(q.m_mutex);
    if (!q.m_sent.empty()) {
        auto s = q.m_sent.front();
        q.m_sent.pop_front();
        lock.unlock();
        Reply(s, Deliver(s->hWnd, s->message, s->wParam, s->lParam));
        return true;
    }
    if (what == EDispatch::kSentOnly)
        return false;
    if (!q.m_posted.empty()) {
        SPosted p = q.m_posted.front();
        q.m_posted.pop_front();
        lock.unlock();
        Deliver(p.hWnd, p.message, p.wParam, p.lParam);
        return true;
    }
    const auto now = Clock::now();
    STimer* due = nullptr;
    for (auto& t : q.m_timers) {
        if (t.due <= now && (due == nullptr || t.due < due->due))
            due = &t;
    }
    if (due == nullptr)
        return false;
    due->due = now + due->interval;
    const HWND h = due->hWnd;
    const uintptr_t id = due->id;
    lock.unlock();
    Deliver(h, WM_TIMER, id, 0);
    return true;
}

bool HasWorkLocked(const CMessageQueue& q, Clock::time_point now) {
    if (!q.m_sent.empty() || !q.m_posted.empty())
        return true;
    auto due = q.NextDueLocked();
    return due && *due <= now;
}

// Waits until the thread has something to dispatch, `stop` holds, or the deadline passes.
void WaitForMessages(CMessageQueue& q, const std::function<bool()>& stop,
                     std::optional<Clock::time_point> deadline) {
    std::unique_lock<std::mutex> lock(q.m_mutex);
    for (;;) {
        const auto now = Clock::now();
        if (HasWorkLocked(q, now) || (stop && stop()))
            return;
        if (deadline && now >= *deadline)
            return;
        auto until = q.NextDueLocked();
        if (deadline && (!until || *deadline < *until))
            until = deadline;
        if (until) {
            q.m_cv.wait_until(lock, *until);
        } else {
            q.m_cv.wait(lock);
        }
    }
}

}  // namespace

void CMessageQueue::Close() {
    std::deque<std::shared_ptr<SSent>> pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bClosed = true;
        pending.swap(m_sent);
    }
    for (auto& s : pending)
        Reply(s, 0);
}

void CMessageQueue::Notify() {
    std::shared_ptr<std::function<void()>> wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wake = m_wake;
    }
    m_cv.notify_all();
    if (wake && *wake)
        (*wake)();
}

std::optional<Clock::time_point> CMessageQueue::NextDueLocked() const {
    std::optional<Clock::time_point> next;
    for (const auto& t : m_timers) {
        if (!next || t.due < *next)
            next = t.due;
    }
    return next;
}

UINT RegisterWindowMessage(const char* name) {
    if (name == nullptr || *name == '\0')
        return 0;
    static std::mutex mutex;
    static std::map<std::string, UINT> ids;
    std::lock_guard<std::mutex> lock(mutex);
    auto [it, inserted] = ids.emplace(name, 0);
    if (inserted)
        it->second = 0xC000 + static_cast<UINT>(ids.size() - 1);
    return it->second;
}

CMessageTarget::CMessageTarget() : m_hWnd(Targets().Add(this, ThreadQueue())) {}

CMessageTarget::~CMessageTarget() {
    Targets().Remove(m_hWnd);
    auto& q = *ThreadQueue();
    std::lock_guard<std::mutex> lock(q.m_mutex);
    std::erase_if(q.m_timers, [this](const STimer& t) { return t.hWnd == m_hWnd; });
}

bool IsWindow(HWND hWnd) {
    return Targets().Find(hWnd).has_value();
}

bool PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto entry = Targets().Find(hWnd);
    if (!entry)
        return false;
    {
        std::lock_guard<std::mutex> lock(entry->queue->m_mutex);
        if (entry->queue->m_bClosed)
            return false;
        entry->queue->m_posted.push_back(SPosted{hWnd, message, wParam, lParam});
    }
    entry->queue->Notify();
    return true;
}

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageUnless(hWnd, message, wParam, lParam, nullptr);
}

LRESULT SendMessageUnless(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                          const std::function<bool()>& withdraw) {
    auto entry = Targets().Find(hWnd);
    if (!entry)
        return 0;
    auto& me = ThreadQueue();
    if (entry->queue == me)
        return entry->target->WindowProc(message, wParam, lParam);

    auto s = std::make_shared<SSent>(SSent{hWnd, message, wParam, lParam, me});
    {
        std::lock_guard<std::mutex> lock(entry->queue->m_mutex);
        if (entry->queue->m_bClosed)
            return 0;
        entry->queue->m_sent.push_back(s);
    }
    entry->queue->Notify();

    // Wait for the answer; requests sent to this thread meanwhile are handled, so two threads that
    // send to each other do not lock up.
    bool taken = false;  // the target has begun handling it: too late to withdraw
    std::unique_lock<std::mutex> lock(me->m_mutex);
    for (;;) {
        if (s->done)
            return s->result;
        if (!me->m_sent.empty()) {
            lock.unlock();
            DispatchOne(*me, EDispatch::kSentOnly);
            lock.lock();
            continue;
        }
        if (!withdraw || taken) {
            me->m_cv.wait(lock);
            continue;
        }
        me->m_cv.wait_for(lock, std::chrono::milliseconds(1));
        if (s->done || !withdraw())
            continue;
        lock.unlock();
        {
            std::lock_guard<std::mutex> targetLock(entry->queue->m_mutex);
            auto& sent = entry->queue->m_sent;
            auto it = std::find(sent.begin(), sent.end(), s);
            if (it != sent.end()) {
                sent.erase(it);
                return 0;
            }
        }
        taken = true;
        lock.lock();
    }
}

uintptr_t SetTimer(HWND hWnd, uintptr_t id, UINT elapseMs) {
    auto entry = Targets().Find(hWnd);
    if (!entry)
        return 0;
    const auto interval = std::chrono::milliseconds(std::max<UINT>(elapseMs, 1));
    {
        auto& q = *entry->queue;
        std::lock_guard<std::mutex> lock(q.m_mutex);
        auto it = std::find_if(q.m_timers.begin(), q.m_timers.end(),
                               [&](const STimer& t) { return t.hWnd == hWnd && t.id == id; });
        const auto due = Clock::now() + interval;
        if (it != q.m_timers.end()) {
            it->interval = interval;
            it->due = due;
        } else {
            q.m_timers.push_back(STimer{hWnd, id, interval, due});
        }
    }
    entry->queue->Notify();
    return id;
}

bool KillTimer(HWND hWnd, uintptr_t id) {
    auto entry = Targets().Find(hWnd);
    if (!entry)
        return false;
    auto& q = *entry->queue;
    size_t removed;
    {
        std::lock_guard<std::mutex> lock(q.m_mutex);
        removed = std::erase_if(q.m_timers, [&](const STimer& t) { return t.hWnd == hWnd && t.id == id; });
    }
    if (removed > 0)
        q.Notify();
    return removed > 0;
}

int DispatchPendingMessages(int maxMessages) {
    auto q = ThreadQueue();
    int n = 0;
    while ((maxMessages < 0 || n < maxMessages) && DispatchOne(*q, EDispatch::kAll))
        ++n;
    return n;
}

int DispatchSentMessages() {
    auto q = ThreadQueue();
    int n = 0;
    while (DispatchOne(*q, EDispatch::kSentOnly))
        ++n;
    return n;
}

bool PumpMessagesUntil(const std::function<bool()>& done, int timeoutMs) {
    auto q = ThreadQueue();
    std::optional<Clock::time_point> deadline;
    if (timeoutMs >= 0)
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done && done())
            return true;
        if (deadline && Clock::now() >= *deadline)
            return done ? done() : false;
        if (!DispatchOne(*q, EDispatch::kAll)) {
            // `done` may depend on other threads: look again at least every 10 ms.
            auto slice = Clock::now() + std::chrono::milliseconds(10);
            WaitForMessages(*q, nullptr, deadline ? std::min(*deadline, slice) : slice);
        }
    }
}

CMessageLoop::CMessageLoop() : m_queue(ThreadQueue()), m_state(std::make_shared<SLoopState>()) {}

int CMessageLoop::Run() {
    {
        std::lock_guard<std::mutex> lock(m_queue->m_mutex);
        m_state->quit = false;
    }
    m_bRunning = true;
    auto state = m_state;
    auto quitRequested = [&] { return state->quit; };  // called with the queue's mutex held
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_queue->m_mutex);
            if (state->quit)
                break;
        }
        if (!DispatchOne(*m_queue, EDispatch::kAll))
            WaitForMessages(*m_queue, quitRequested, std::nullopt);
    }
    m_bRunning = false;
    return state->exitCode;
}

void CMessageLoop::Quit(int exitCode) {
    // Once `quit` is set the loop may return and its thread end, taking this object and its queue with
    // it: nothing of either is touched after that but through the references taken here.
    auto queue = m_queue;
    auto state = m_state;
    {
        std::lock_guard<std::mutex> lock(queue->m_mutex);
        state->quit = true;
        state->exitCode = exitCode;
    }
    queue->Notify();
}

void SetThreadWakeHook(std::function<void()> wake) {
    auto& q = *ThreadQueue();
    std::lock_guard<std::mutex> lock(q.m_mutex);
    q.m_wake = wake ? std::make_shared<std::function<void()>>(std::move(wake)) : nullptr;
}

int MillisecondsToNextTimer() {
    auto& q = *ThreadQueue();
    std::lock_guard<std::mutex> lock(q.m_mutex);
    auto next = q.NextDueLocked();
    if (!next)
        return -1;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return static_cast<int>(std::max<long long>(ms, 0));
}
