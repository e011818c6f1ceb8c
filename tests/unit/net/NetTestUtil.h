// Helpers for network tests: connected loopback socket pairs and a window that records messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "net/Frame.h"
#include "net/SocketTCP.h"
#include "net/SocketThreadConnectTCP.h"
#include "platform/Messages.h"
#include "platform/Trace.h"
#include "support/MessageRecorder.h"
#include "support/TraceCapture.h"

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

using vp::test::SMsg;
using CRecorder = vp::test::CMessageRecorder;

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
using vp::test::CTraceCapture;

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

// `prefix` followed by n. Appended rather than `"m" + std::to_string(n)`, in which GCC 12 at -O3 sees a
// false overlapping copy.
inline std::string Numbered(const std::string& prefix, int n) {
    std::string s = prefix;
    s += std::to_string(n);
    return s;
}

}  // namespace nettest
