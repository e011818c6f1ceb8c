// Helpers for network tests: connected loopback socket pairs and a window that records messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "net/Frame.h"
#include "net/SocketTCP.h"
#include "net/SocketThreadConnectTCP.h"
#include "platform/Messages.h"
#include "platform/Trace.h"

namespace nettest {

// A connected pair on the given loopback address, port chosen by the system.
inline bool MakeSocketPair(CSocketTCP& client, CSocketTCP& server,
                           const std::string& address = "127.0.0.10") {
    CSocketTCP listener;
    if (!listener.Create() || !listener.Bind(0, address) || !listener.Listen(1))
        return false;
    bool ok = CreateConnectionSocket(client) && client.Connect(address, listener.GetLocalPort()) &&
              listener.Accept(server);
    listener.Close();
    return ok;
}

struct SMsg {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class CRecorder : public CMessageTarget {
public:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        seen.push_back({message, wParam, lParam});
        if (onMessage)
            onMessage(message, wParam, lParam);
        return 0;
    }
    int Count(UINT message) const {
        int n = 0;
        for (const auto& m : seen)
            n += m.message == message ? 1 : 0;
        return n;
    }
    std::vector<SMsg> seen;
    std::function<void(UINT, WPARAM, LPARAM)> onMessage;
};

// Waits (dispatching this thread's messages) until done() or a generous liveness bound.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    return PumpMessagesUntil(done, timeoutMs);
}

inline std::vector<uint8_t> Frame(uint8_t channel, const std::string& payload, uint32_t tag = 0,
                                  const std::string& sender = "peer") {
    CByteBuffer b;
    BuildFrame(b, channel, tag, payload.data(), static_cast<uint32_t>(payload.size()), sender, false);
    return std::vector<uint8_t>(b.Data(), b.Data() + b.Size());
}

inline bool SendRaw(CSocketTCP& s, const std::vector<uint8_t>& bytes) {
    CSocketTCPStream* stream = dynamic_cast<CSocketTCPStream*>(&s);
    if (stream != nullptr)
        return stream->SendAll(bytes.data(), static_cast<int>(bytes.size())) ==
               static_cast<int>(bytes.size());
    size_t sent = 0;
    while (sent < bytes.size()) {
        int r = s.Send(bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (r <= 0)
            return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

// Counts trace lines containing a text while it lives (a thread ended by force traces "Break de Thread").
class CTraceCapture {
public:
    CTraceCapture() {
        SetTraceSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~CTraceCapture() { SetTraceSink(nullptr); }
    int Count(const std::string& needle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (const auto& l : m_lines)
            n += l.find(needle) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Runs one attempt of the connector to its end. Returns the codes the window saw, sorted (sent codes
// are dispatched before posted ones, so arrival order says little); a socket reported with code 3 is
// taken over into `taken`.
inline std::vector<int> RunConnect(CSocketThreadConnectTCP& connector, const std::string& host, int port,
                                   CSocketTCP& taken) {
    std::vector<int> codes;
    CRecorder window;
    window.onMessage = [&](UINT m, WPARAM w, LPARAM l) {
        if (m != WM_SOCKET_CONNECT)
            return;
        const int code = static_cast<int>(static_cast<intptr_t>(w));
        codes.push_back(code);
        if (code == SOCKET_CONNECT_CONNECTED) {
            EXPECT_TRUE(taken.Attach(*reinterpret_cast<CSocketTCP*>(l)));
        } else {
            EXPECT_EQ(0, l) << "code " << code << " carries a socket";
        }
    };
    EXPECT_TRUE(connector.Connect(window.GetSafeHwnd(), host, port));
    EXPECT_TRUE(WaitFor([&] { return !connector.HasThread(); }, 30000));
    DispatchPendingMessages();
    std::sort(codes.begin(), codes.end());
    return codes;
}

}  // namespace nettest
