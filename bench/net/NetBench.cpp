// The transport against plain sockets on loopback, in one run:
// - round trip of one control message through a connected pair of transports (an echo on the far
//   side) beside the round trip of a frame-sized write/read on a plain socket pair; the difference
//   halved is the latency the transport adds to one message;
// - messages per second one way through the transports beside plain 32-byte writes;
// - CPU time a connected, idle pair of transports spends per second, beside the same two threads
//   waiting the way a 1 ms polling loop would (1 µs select, 1 ms sleep).
#include <benchmark/benchmark.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "net/ChannelControl.h"
#include "net/ServiceTCP.h"
#include "platform/Messages.h"

namespace {

constexpr const char* kAddress = "127.0.0.35";
constexpr int kFrameBytes = 32;  // a ping in its frame
using Clock = std::chrono::steady_clock;

double g_plainRoundTripUs = 0;  // measured first, the reference of the transport's round trip

double MicrosecondsPerIteration(const benchmark::State& state, Clock::time_point start) {
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    return state.iterations() > 0 ? us / static_cast<double>(state.iterations()) : 0;
}

bool MakePair(CSocketTCP& a, CSocketTCP& b) {
    CSocketTCP listener;
    bool ok = listener.Create() && listener.Bind(0, kAddress) && listener.Listen(1) &&
              CreateConnectionSocket(a) && a.Connect(kAddress, listener.GetLocalPort()) && listener.Accept(b);
    listener.Close();
    return ok;
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A thread with a message loop; its target runs `handler` for every message.
class CLoopThread {
public:
    explicit CLoopThread(std::function<void(UINT, WPARAM, LPARAM)> handler) {
        m_thread = std::thread([this, handler] {
            CFunctionTarget target([&](UINT m, WPARAM w, LPARAM l) -> LRESULT {
                handler(m, w, l);
                return 0;
            });
            CMessageLoop loop;
            m_loop = &loop;
            m_hWnd = target.GetSafeHwnd();
            m_ready = true;
            m_ready.notify_all();
            loop.Run();
        });
        m_ready.wait(false);
    }
    ~CLoopThread() {
        m_loop.load()->Quit();
        m_thread.join();
    }
    HWND Hwnd() const { return m_hWnd; }

private:
    std::thread m_thread;
    std::atomic<CMessageLoop*> m_loop{nullptr};
    std::atomic<bool> m_ready{false};
    HWND m_hWnd = nullptr;
};

// A connected pair of transports: side A on the calling thread, side B on its own loop thread, which
// hands each received control message to `onB`.
struct STransportPair {
    CFunctionTarget windowA{[](UINT, WPARAM, LPARAM) -> LRESULT { return 0; }};
    CServiceTCP a, b;
    CChannelControl controlA, controlB;
    std::function<void(CChannel&)> onB;
    CLoopThread loopB{[this](UINT m, WPARAM, LPARAM) {
        if (m == WM_TRANSPORT_RECV && onB)
            onB(controlB);
    }};

    bool Open() {
        CSocketTCP sa, sb;
        if (!MakePair(sa, sb))
            return false;
        a.AddChannel(&controlA);
        b.AddChannel(&controlB);
        return a.Open(windowA.GetSafeHwnd(), sa) && b.Open(loopB.Hwnd(), sb);
    }
    ~STransportPair() {
        a.Stop();
        b.Stop();
    }
};

void BM_PlainSocketRoundTrip(benchmark::State& state) {
    CSocketTCP a, b;
    if (!MakePair(a, b)) {
        state.SkipWithError("no socket pair");
        return;
    }
    std::thread echo([&] {
        char buf[kFrameBytes];
        while (b.ReceiveAll(buf, kFrameBytes) == kFrameBytes)
            b.Send(buf, kFrameBytes);
    });
    char buf[kFrameBytes] = {};
    const auto start = Clock::now();
    for (auto _ : state) {
        a.Send(buf, kFrameBytes);
        a.ReceiveAll(buf, kFrameBytes);
    }
    a.Shutdown(SHUT_RDWR);
    echo.join();
    a.Close();
    b.Close();
    g_plainRoundTripUs = MicrosecondsPerIteration(state, start);
    state.counters["round_trip_us"] = g_plainRoundTripUs;
}

void BM_TransportRoundTrip(benchmark::State& state) {
    STransportPair pair;
    pair.onB = [](CChannel& ch) {
        uint32_t tag;
        CByteBuffer msg;
        while (ch.PopReceived(tag, msg))
            ch.PushSendWait(tag, msg.Data(), msg.Size(), -1);
    };
    if (!pair.Open()) {
        state.SkipWithError("no transport pair");
        return;
    }
    uint32_t tag;
    CByteBuffer reply;
    const auto start = Clock::now();
    for (auto _ : state) {
        pair.controlA.SendPing();
        // Waits as the window does: for WM_TRANSPORT_RECV, then takes the message.
        PumpMessagesUntil([&] { return pair.controlA.PopReceived(tag, reply); }, 5000);
    }
    const double us = MicrosecondsPerIteration(state, start);
    state.counters["round_trip_us"] = us;
    if (g_plainRoundTripUs > 0) {
        // Each round trip carries two messages: half the difference is what one message gains.
        state.counters["added_latency_per_message_us"] = (us - g_plainRoundTripUs) / 2;
        state.counters["ratio_to_plain"] = us / g_plainRoundTripUs;
    }
}

void BM_PlainSocketThroughput(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        CSocketTCP a, b;
        state.PauseTiming();
        MakePair(a, b);
        state.ResumeTiming();
        std::thread reader([&] {
            std::vector<char> buf(kFrameBytes);
            for (int i = 0; i < count; ++i)
                b.ReceiveAll(buf.data(), kFrameBytes);
        });
        char frame[kFrameBytes] = {};
        for (int i = 0; i < count; ++i)
            a.Send(frame, kFrameBytes);
        reader.join();
        a.Close();
        b.Close();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_TransportThroughput(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::atomic<int> received{0};
    STransportPair pair;
    pair.onB = [&](CChannel& ch) {
        uint32_t tag;
        CByteBuffer msg;
        while (ch.PopReceived(tag, msg))
            ++received;
    };
    if (!pair.Open()) {
        state.SkipWithError("no transport pair");
        return;
    }
    for (auto _ : state) {
        received = 0;
        for (int i = 0; i < count; ++i)
            pair.controlA.SendPing();
        while (received.load() < count)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// Two threads on an idle connected socket waiting by polling: 1 µs select for reading, then 1 ms sleep.
void PollingIdleLoop(int fd, std::atomic<bool>& stop) {
    while (!stop) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval tv{0, 1};
        select(fd + 1, &set, nullptr, nullptr, &tv);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

constexpr double kIdleSeconds = 2.0;
double g_pollingIdleCpuPercent = 0;

void BM_IdlePollingReferenceCpu(benchmark::State& state) {
    CSocketTCP a, b;
    MakePair(a, b);
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        std::thread recv([&] { PollingIdleLoop(a.GetHandle(), stop); });
        std::thread send([&] { PollingIdleLoop(a.GetHandle(), stop); });
        const double before = ProcessCpuSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
        const double cpu = ProcessCpuSeconds() - before;
        stop = true;
        recv.join();
        send.join();
        state.SetIterationTime(kIdleSeconds);
        g_pollingIdleCpuPercent = 100.0 * cpu / kIdleSeconds;
        state.counters["cpu_percent_of_core"] = g_pollingIdleCpuPercent;
    }
    a.Close();
    b.Close();
}

void BM_IdleTransportCpu(benchmark::State& state) {
    for (auto _ : state) {
        // One transport of a connected pair measured alone: the far end is a plain socket.
        CSocketTCP mine, peer;
        MakePair(mine, peer);
        CFunctionTarget window([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
        CServiceTCP transport;
        CChannelControl control;
        transport.AddChannel(&control);
        transport.Open(window.GetSafeHwnd(), mine);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // settle
        const double before = ProcessCpuSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
        const double cpu = ProcessCpuSeconds() - before;
        transport.Stop();
        peer.Close();
        state.SetIterationTime(kIdleSeconds);
        const double percent = 100.0 * cpu / kIdleSeconds;
        state.counters["cpu_percent_of_core"] = percent;
        if (g_pollingIdleCpuPercent > 0)
            state.counters["ratio_to_polling"] = percent / g_pollingIdleCpuPercent;
    }
}

// How long Stop takes on a connected, idle transport (the design allows 101 polls of 1 ms per thread).
void BM_TransportStop(benchmark::State& state) {
    CFunctionTarget window([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    for (auto _ : state) {
        state.PauseTiming();
        CSocketTCP mine, peer;
        MakePair(mine, peer);
        CServiceTCP transport;
        transport.Open(window.GetSafeHwnd(), mine);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // both threads idle in their waits
        state.ResumeTiming();
        transport.Stop();
        state.PauseTiming();
        peer.Close();
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_PlainSocketRoundTrip)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransportRoundTrip)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainSocketThroughput)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransportThroughput)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdlePollingReferenceCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleTransportCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK(BM_TransportStop)->Iterations(50)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
