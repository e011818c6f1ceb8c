// Quiet stand-ins for what call control and the session controller ask of the rest of the program. The
// call host answers as the user 5550001 "Ana", whose contact 5550002 has the nickname "Bob". Each does
// nothing else: tests and fuzzers derive from them to record or check what they are asked.
#pragma once

#include <deque>
#include <string>

#include "app/CallControl.h"
#include "app/SessionWindow.h"

namespace vp::test {

class CQuietCallHost : public ICallHost {
public:
    bool SendControl(const Bytes&) override { return true; }
    std::string GetOwnNtv() const override { return "5550001"; }
    std::string GetDisplayName() const override { return "Ana"; }
    bool IsAway() const override { return m_bAway; }
    std::string FindNickname(const std::string& ntv) const override { return ntv == "5550002" ? "Bob" : ""; }
    void StopPolling() override {}
    void ResumePolling() override {}
    bool IsDynamic() const override { return m_bDynamic; }
    void EndProgram() override {}
    void PlaySound(UINT) override {}

    bool m_bAway = false;
    bool m_bDynamic = false;
};

// Chat lines put in m_incoming are what the peer sent.
class CQuietCallMedia : public ICallMedia {
public:
    void Start(HWND, const std::string&, const std::string&, int) override {}
    void StartCapture() override {}
    void End() override {}
    void SetSilenceThreshold(int) override {}
    bool SendText(const std::string&) override { return true; }
    bool ReceiveText(std::string& text) override {
        if (m_incoming.empty())
            return false;
        text = m_incoming.front();
        m_incoming.pop_front();
        return true;
    }
    void ReceiveAudio() override {}

    std::deque<std::string> m_incoming;
};

// A session shown nowhere: every notice is answered OK.
class CQuietSessionWindow : public ISessionWindow {
public:
    void OnSessionState(char) override {}
    void OnUserInfo(const SSessionUserInfo&) override {}
    bool ShowNotice(UINT, const std::string&, bool) override { return true; }
    void PlaySound(UINT) override {}
    void ShowPopup(const std::string&) override {}
    void CloseWindow() override {}
};

}  // namespace vp::test
