// CCallConsole: the headless client's view of a call. Every step is printed as one line on standard
// output; the incoming prompt is answered by the command line (at once, after some rings, refused, or
// left to ring out); once a call is connected it can say a text and hang up after a while.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "app/CallControl.h"
#include "cli/CliOptions.h"
#include "cli/VideoConsole.h"
#include "platform/Messages.h"

class CChannel;
class CSessionCall;

class CCallConsole : public ICallView {
public:
    explicit CCallConsole(const SCallScript& script, std::FILE* out = stdout);
    ~CCallConsole() override;

    // The call side whose control and packet counts this view uses, and the session's control channel
    // (its records are counted too); set before any call. Starts the stats lines when asked for.
    void SetCall(CSessionCall* pCall, const CChannel* pControl = nullptr);
    // Sets a still test pattern moving and gives the number of its first new frame; called by the
    // script's move timer.
    void SetCameraMover(std::function<uint32_t()> move) { m_Move = std::move(move); }

    HWND GetNotifyWindow() const override { return m_Window.GetSafeHwnd(); }
    void ShowCall(const std::string&) override { m_bShown = true; }
    void HideCall() override { m_bShown = false; }
    void SetCallingMode(bool) override {}
    void SetCallingFrame(int) override {}
    void SetSilenceSlider(int) override {}
    void AppendChatLine(const std::string& text, bool bReceived) override;
    // The call's own events say what a notice would.
    void ShowNotice(const std::string&) override {}
    EPrompt RunPrompt(const std::string& text) override;
    void ClosePrompt(EPrompt result) override;
    void OnPromptRing(int rings) override;

    void OnPlacing(const std::string& ntv) override;
    void OnIncoming(const std::string& ntv, const std::string& name) override;
    void OnCallConnected() override;
    void OnCallRefused(uint8_t reason) override;
    void OnNoResponse() override;
    void OnCallAbort() override;
    void OnCallEnding() override;
    void SetLocalVideoShown(bool bShown) override;
    IRemoteVideoWindow* GetRemoteVideoWindow() override { return &m_Video; }

    bool IsShown() const { return m_bShown; }

private:
    static constexpr uintptr_t kTimerHangup = 1;
    static constexpr uintptr_t kTimerVideoOff = 2;
    static constexpr uintptr_t kTimerMove = 3;
    static constexpr uintptr_t kTimerChat = 4;
    static constexpr uintptr_t kTimerStats = 5;
    void Line(const std::string& text);
    // One line of the current (or last) call's counts per channel.
    std::string StatsLine() const;
    void OnTimer(uintptr_t id);

    SCallScript m_Script;
    std::FILE* m_pOut;
    CSessionCall* m_pCall = nullptr;
    const CChannel* m_pControl = nullptr;
    std::function<uint32_t()> m_Move;
    bool m_bShown = false;
    uint32_t m_nSentBefore = 0;  // the video service's count when the call began
    int m_nChatSent = 0;
    int m_nChatReceived = 0;
    CVideoConsole m_Video{[this](const std::string& text) { Line(text); }};
    bool m_bPromptOpen = false;
    std::optional<EPrompt> m_PromptResult;
    // The audio service's notify window: the start of playback is an event of its own.
    CFunctionTarget m_Window;
    CFunctionTarget m_Timers;
};
