#include "cli/CallConsole.h"

#include "app/SessionCall.h"
#include "cli/ConsoleWindow.h"
#include "net/Channel.h"

CCallConsole::CCallConsole(const SCallScript& script, std::FILE* out)
    : m_Script(script),
      m_pOut(out),
      m_Window([this](UINT message, WPARAM wParam, LPARAM) -> LRESULT {
          if (message == WM_AUDIO_RECEIVED && wParam == 1)
              Line("audio-playing");
          return 0;
      }),
      m_Timers([this](UINT message, WPARAM wParam, LPARAM) -> LRESULT {
          if (message == WM_TIMER)
              OnTimer(wParam);
          return 0;
      }) {}

CCallConsole::~CCallConsole() {
    KillTimer(m_Timers.GetSafeHwnd(), kTimerHangup);
    KillTimer(m_Timers.GetSafeHwnd(), kTimerVideoOff);
    KillTimer(m_Timers.GetSafeHwnd(), kTimerMove);
    KillTimer(m_Timers.GetSafeHwnd(), kTimerChat);
    KillTimer(m_Timers.GetSafeHwnd(), kTimerStats);
}

void CCallConsole::SetCall(CSessionCall* pCall, const CChannel* pControl) {
    m_pCall = pCall;
    m_pControl = pControl;
    if (m_Script.m_nStatsEverySeconds > 0)
        SetTimer(m_Timers.GetSafeHwnd(), kTimerStats,
                 static_cast<UINT>(m_Script.m_nStatsEverySeconds) * 1000);
}

std::string CCallConsole::StatsLine() const {
    std::string line = "stats";
    auto add = [&line](const char* name, uint64_t value) {
        line += ' ';
        line += name;
        line += ' ';
        line += std::to_string(value);
    };
    if (m_pCall != nullptr) {
        CSessionCall& call = *m_pCall;
        add("audio-sent", call.Audio().SentPackets());
        add("audio-dropped", call.Audio().DroppedPackets());
        add("audio-received", call.Audio().ReceivedPackets());
        add("video-sent", call.Video().PicturesSent() - m_nSentBefore);
        add("video-received", call.Control().Receiver().PicturesReceived());
        add("video-decoded", call.Control().Receiver().PicturesDecoded());
    }
    add("chat-sent", static_cast<uint64_t>(m_nChatSent));
    add("chat-received", static_cast<uint64_t>(m_nChatReceived));
    if (m_pControl != nullptr) {
        add("control-sent", m_pControl->MessagesSent());
        add("control-received", m_pControl->MessagesReceived());
    }
    return line;
}

void CCallConsole::Line(const std::string& text) {
    std::fputs(text.c_str(), m_pOut);
    std::fputc('\n', m_pOut);
    std::fflush(m_pOut);
}

void CCallConsole::AppendChatLine(const std::string& text, bool bReceived) {
    if (!bReceived)
        return;
    ++m_nChatReceived;
    Line("text " + CConsoleWindow::LastField(text));
}

ICallView::EPrompt CCallConsole::RunPrompt(const std::string&) {
    if (m_Script.m_bReject)
        return PROMPT_REJECT;
    if (m_Script.m_nAutoAnswerRings == 0)
        return PROMPT_ACCEPT;
    // The prompt's nested loop: control messages and the ring timer go on while it waits.
    m_bPromptOpen = true;
    m_PromptResult.reset();
    PumpMessagesUntil([this] { return m_PromptResult.has_value(); });
    m_bPromptOpen = false;
    return *m_PromptResult;
}

void CCallConsole::ClosePrompt(EPrompt result) {
    if (m_bPromptOpen && !m_PromptResult)
        m_PromptResult = result;
}

void CCallConsole::OnPromptRing(int rings) {
    Line("ring " + std::to_string(rings));
    if (m_Script.m_nAutoAnswerRings > 0 && rings >= m_Script.m_nAutoAnswerRings)
        ClosePrompt(PROMPT_ACCEPT);
}

void CCallConsole::OnPlacing(const std::string& ntv) {
    // Here, not at the connection: the peer's first line may come before this side hears it connected.
    m_nChatReceived = 0;
    Line("calling " + CConsoleWindow::LastField(ntv));
}

void CCallConsole::OnIncoming(const std::string& ntv, const std::string& name) {
    m_nChatReceived = 0;
    Line("incoming " + CConsoleWindow::Field(ntv) + " " + CConsoleWindow::LastField(name));
}

void CCallConsole::OnCallConnected() {
    Line("call-connected");
    if (m_pCall != nullptr && !m_Script.m_strSay.empty())
        m_pCall->Control().SendText(m_Script.m_strSay);
    m_nChatSent = 0;
    if (m_Script.m_nChatEveryMs > 0)
        SetTimer(m_Timers.GetSafeHwnd(), kTimerChat, static_cast<UINT>(m_Script.m_nChatEveryMs));
    if (m_Script.m_nHangupAfterSeconds >= 0)
        SetTimer(m_Timers.GetSafeHwnd(), kTimerHangup,
                 static_cast<UINT>(m_Script.m_nHangupAfterSeconds) * 1000);
    if (m_pCall != nullptr) {
        m_nSentBefore = m_pCall->Video().PicturesSent();
        if (!m_Script.m_strCamera.empty() && !m_pCall->Control().SetVideo(true))
            Line("video-failed");
    }
}

void CCallConsole::SetLocalVideoShown(bool bShown) {
    Line(bShown ? "video-started" : "video-stopped");
    if (bShown && m_Script.m_nVideoOffAfterSeconds >= 0)
        SetTimer(m_Timers.GetSafeHwnd(), kTimerVideoOff,
                 static_cast<UINT>(m_Script.m_nVideoOffAfterSeconds) * 1000);
    if (bShown && m_Script.m_nMoveAfterSeconds >= 0 && m_Move)
        SetTimer(m_Timers.GetSafeHwnd(), kTimerMove, static_cast<UINT>(m_Script.m_nMoveAfterSeconds) * 1000);
    if (!bShown) {
        KillTimer(m_Timers.GetSafeHwnd(), kTimerVideoOff);
        KillTimer(m_Timers.GetSafeHwnd(), kTimerMove);
    }
}

void CCallConsole::OnCallRefused(uint8_t reason) {
    Line("call-refused " + std::to_string(reason));
}

void CCallConsole::OnNoResponse() {
    Line("no-response");
}

void CCallConsole::OnCallAbort() {
    Line("call-abort");
}

void CCallConsole::OnCallEnding() {
    KillTimer(m_Timers.GetSafeHwnd(), kTimerHangup);
    Line("hangup");
    if (m_Script.m_nChatEveryMs > 0) {
        KillTimer(m_Timers.GetSafeHwnd(), kTimerChat);
        Line("chat-sent " + std::to_string(m_nChatSent));
    }
    if (m_pCall != nullptr) {
        Line("audio-sent " + std::to_string(m_pCall->Audio().SentPackets()));
        Line("audio-received " + std::to_string(m_pCall->Audio().ReceivedPackets()));
        Line("video-sent " + std::to_string(m_pCall->Video().PicturesSent() - m_nSentBefore));
        Line("video-received " + std::to_string(m_pCall->Control().Receiver().PicturesDecoded()));
    }
    if (!m_Script.m_strSnapshot.empty() && m_Video.SaveSnapshot(m_Script.m_strSnapshot))
        Line("snapshot " + CConsoleWindow::LastField(m_Script.m_strSnapshot));
    if (m_Script.m_nStatsEverySeconds > 0)
        Line(StatsLine());
}

void CCallConsole::OnTimer(uintptr_t id) {
    if (id == kTimerStats) {
        Line(StatsLine());
        return;
    }
    if (id == kTimerChat) {
        std::string text = "chat " + std::to_string(m_nChatSent + 1);
        if (static_cast<int>(text.size()) < m_Script.m_nChatSize)
            text.resize(static_cast<size_t>(m_Script.m_nChatSize), '.');
        if (m_pCall != nullptr && m_pCall->Control().SendText(text))
            ++m_nChatSent;
        return;
    }
    if (id == kTimerMove) {
        KillTimer(m_Timers.GetSafeHwnd(), kTimerMove);
        Line("video-moving " + std::to_string(m_Move()));
        return;
    }
    if (id == kTimerVideoOff) {
        KillTimer(m_Timers.GetSafeHwnd(), kTimerVideoOff);
        if (m_pCall != nullptr)
            m_pCall->Control().SetVideo(false);
        return;
    }
    if (id != kTimerHangup)
        return;
    KillTimer(m_Timers.GetSafeHwnd(), kTimerHangup);
    if (m_pCall != nullptr && m_pCall->Control().IsCallShown())
        m_pCall->Control().HangUp();
}
