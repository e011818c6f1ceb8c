// What the server sends the session: control records, each given to the controller's dispatch as the
// transport would file it. Input: records one after another, each a 2-byte little-endian length and
// that many bytes.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <thread>

#include "app/ClientApp.h"
#include "app/SessionController.h"
#include "net/ServiceTCP.h"
#include "support/AppFakes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CClientApp app;
    app.Settings().SetUser("1001", "pw");  // no host: nothing ever connects
    app.SetLaunchState(true, false, "");
    app.Accounts() = {{"1002", "pw", "", 1}};
    vp::test::CQuietSessionWindow window;
    CSessionController session(app, window);
    CChannelControl& control = session.Control();
    // Stands in for the transport's send thread, so that answers never wait for a free slot.
    std::atomic<bool> done{false};
    std::thread sender([&] {
        CByteBuffer record;
        uint32_t tag = 0;
        while (!done.load()) {
            if (!control.PopSend(tag, record))
                std::this_thread::yield();
        }
    });
    size_t pos = 0;
    while (pos < size) {
        // Up to a ring's worth per notification, as the receive thread may file them.
        while (pos < size && control.FreeReceiveSlots() > 0) {
            if (size - pos < 2) {
                pos = size;
                break;
            }
            const size_t n = std::min<size_t>(data[pos] | (data[pos + 1] << 8), size - pos - 2);
            control.PushReceived(0, data + pos + 2, n);
            pos += 2 + n;
        }
        session.WindowProc(WM_TRANSPORT_RECV, kChannelControl, 0);
        if (control.ReceivedCount() != 0)
            __builtin_trap();  // one notification takes everything queued before it
    }
    done = true;
    sender.join();
    std::set<std::string> seen;
    for (const SContactRecord& c : app.Contacts()) {
        if (c.m_strNtv.empty() || !seen.insert(c.m_strNtv).second)
            __builtin_trap();
    }
    if (session.State() != 'C' && session.State() != 'D')
        __builtin_trap();
    return 0;
}
