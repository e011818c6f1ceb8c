// What the server (and the user) can do to call control, in any order: call records of any length and
// content, calls placed and hung up, timers firing, chat lines, the connection lost, and prompts answered
// while further records arrive inside them. Input: operations one after another (see Step).
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/CallControl.h"
#include "settings/Settings.h"
#include "support/AppFakes.h"

namespace {

struct SInput {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool More() const { return pos < size; }
    uint8_t Byte() { return pos < size ? data[pos++] : 0; }
};

class CHost : public vp::test::CQuietCallHost {
public:
    bool SendControl(const Bytes& r) override {
        // Only call records, each of its own size; a hang-up is always followed by the call end.
        if (r.empty())
            __builtin_trap();
        if (m_bHangupSent && r[0] != MSG_CALL_END)
            __builtin_trap();
        m_bHangupSent = r[0] == MSG_HANGUP;
        switch (r[0]) {
            case MSG_CALL_REQUEST:
            case MSG_CALL_ACCEPT:
                if (r.size() != kCallIdRecordSize)
                    __builtin_trap();
                break;
            case MSG_CALL_SETUP:
            case MSG_CALL_REFUSED:
                if (r.size() != kCallSetupSize)
                    __builtin_trap();
                break;
            case MSG_CALL_CONNECTED:
            case MSG_HANGUP:
            case MSG_CALL_END:
                if (r.size() != kShortRecordSize)
                    __builtin_trap();
                break;
            default:
                __builtin_trap();
        }
        return true;
    }
    bool m_bHangupSent = false;
};

using CMedia = vp::test::CQuietCallMedia;

class CView;
void Step(SInput& in, CCallControl& control, CHost& host, CMedia& media, CView& view, int depth);

class CView : public ICallView {
public:
    CView(SInput& in, CHost& host, CMedia& media) : m_in(in), m_host(host), m_media(media) {}
    void SetControl(CCallControl* c) { m_pControl = c; }
    HWND GetNotifyWindow() const override { return m_Window.GetSafeHwnd(); }
    void ShowCall(const std::string&) override { m_bVisible = true; }
    void HideCall() override { m_bVisible = false; }
    void SetCallingMode(bool) override {}
    void SetCallingFrame(int brackets) override {
        if (brackets < 0 || brackets > CCallControl::kMaxBrackets)
            __builtin_trap();
    }
    void SetSilenceSlider(int) override {}
    void AppendChatLine(const std::string&, bool) override {
        if (!m_bVisible)
            __builtin_trap();  // chat only during a call
    }
    void ShowNotice(const std::string&) override {}
    // The nested loop: operations go on until one answers (or the input ends: no answer).
    EPrompt RunPrompt(const std::string&) override {
        if (m_nDepth > 0)
            __builtin_trap();  // a second prompt while one is open
        ++m_nDepth;
        m_closed = -1;
        while (m_in.More() && m_closed < 0) {
            const uint8_t op = m_in.Byte();
            if (op % 9 == 8) {
                m_closed = m_in.Byte() % 3;
                break;
            }
            --m_in.pos;
            Step(m_in, *m_pControl, m_host, m_media, *this, 1);
        }
        --m_nDepth;
        return m_closed < 0 ? PROMPT_NO_ANSWER : static_cast<EPrompt>(m_closed);
    }
    void ClosePrompt(EPrompt result) override {
        if (m_nDepth > 0 && m_closed < 0)
            m_closed = result;
    }
    bool m_bVisible = false;

private:
    SInput& m_in;
    CHost& m_host;
    CMedia& m_media;
    CCallControl* m_pControl = nullptr;
    CFunctionTarget m_Window{nullptr};
    int m_nDepth = 0;
    int m_closed = -1;
};

// One operation: its first byte chooses it, the bytes after it are its arguments.
void Step(SInput& in, CCallControl& control, CHost& host, CMedia& media, CView& view, int depth) {
    static const uint8_t kCodes[] = {MSG_CALL_ID,    MSG_CALL_ACCEPTED, MSG_CALL_ABORT,     MSG_HANGUP,
                                     MSG_CALL_SETUP, MSG_CALL_REFUSED,  MSG_CALL_CONNECTED, MSG_PING};
    const uint8_t op = in.Byte() % 9;
    switch (op) {
        case 0: {  // a record: code, length, bytes (a set-up gets its full size more often than not)
            const uint8_t code = kCodes[in.Byte() % 8];
            size_t n = in.Byte();
            if (code == MSG_CALL_SETUP || code == MSG_CALL_REFUSED)
                n = (n & 1) ? kCallSetupSize : n;
            Bytes record(n == 0 ? 1 : n, 0);
            record[0] = code;
            for (size_t i = 1; i < record.size() && in.More(); ++i)
                record[i] = in.Byte();
            control.OnControlMessage(record.data(), record.size());
            break;
        }
        case 1: {
            std::string ntv;
            for (uint8_t n = in.Byte() % 20; n > 0 && in.More(); --n)
                ntv.push_back(static_cast<char>('0' + in.Byte() % 10));
            control.PlaceCall(ntv);
            break;
        }
        case 2:
            if (depth == 0)  // the call window is behind the prompt
                control.HangUp();
            break;
        case 3:
            control.OnTimer(in.Byte() % 7);
            break;
        case 4:
            media.m_incoming.push_back(std::string(in.Byte() % 4, 'x'));
            control.OnTextReceived();
            break;
        case 5:
            control.SendText(std::string(in.Byte() % 3, 'y'));
            break;
        case 6:
            control.OnConnectionLost();
            break;
        case 7:
            host.m_bAway = !host.m_bAway;
            break;
        default:
            break;  // an answer outside a prompt means nothing
    }
    if (view.m_bVisible != control.IsCallShown())
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SInput in{data, size};
    CSettings settings;
    CHost host;
    CMedia media;
    CView view(in, host, media);
    CCallControl control(host, media, view, settings);
    view.SetControl(&control);
    while (in.More())
        Step(in, control, host, media, view, 0);
    if (control.IsPromptOpen())
        __builtin_trap();
    return 0;
}
