// Call control driven by fakes of its session, media and window: every record it sends is checked
// byte for byte, and the order of its steps is read from one shared log.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>

#include "app/CallControl.h"
#include "app/ClientApp.h"
#include "platform/StringTable.h"
#include "settings/Settings.h"
#include "support/AppFakes.h"
#include "support/TempEnvironment.h"
#include "video/I420Format.h"
#include "video/VideoPicture.h"

namespace {

using Log = std::vector<std::string>;

std::string RecordName(const Bytes& r) {
    if (r.empty())
        return "empty";
    switch (r[0]) {
        case MSG_CALL_REQUEST:
            return "CALL_REQUEST";
        case MSG_CALL_SETUP:
            return "CALL_SETUP";
        case MSG_CALL_ACCEPT:
            return "CALL_ACCEPT";
        case MSG_CALL_REFUSED:
            return "CALL_REFUSED " + std::to_string(r.size() > 327 ? r[327] : -1);
        case MSG_CALL_CONNECTED:
            return "CALL_CONNECTED";
        case MSG_HANGUP:
            return "HANGUP";
        case MSG_CALL_END:
            return "CALL_END";
        default:
            return "record " + std::to_string(r[0]);
    }
}

class CFakeHost : public vp::test::CQuietCallHost {
public:
    explicit CFakeHost(Log& log) : m_log(log) {}
    bool SendControl(const Bytes& record) override {
        m_sent.push_back(record);
        m_log.push_back("send " + RecordName(record));
        return true;
    }
    std::string FindNickname(const std::string& ntv) const override {
        auto it = m_nicknames.find(ntv);
        return it == m_nicknames.end() ? std::string() : it->second;
    }
    void StopPolling() override { m_log.push_back("stop polling"); }
    void ResumePolling() override { m_log.push_back("poll and restart timer 0"); }
    void EndProgram() override { m_log.push_back("end program"); }
    void PlaySound(UINT resource) override { m_sounds.push_back(resource); }

    Log& m_log;
    std::vector<Bytes> m_sent;
    std::vector<UINT> m_sounds;
    std::map<std::string, std::string> m_nicknames;
};

class CFakeMedia : public vp::test::CQuietCallMedia {
public:
    explicit CFakeMedia(Log& log) : m_log(log) {}
    void Start(HWND hWndNotify, const std::string& input, const std::string& output,
               int silenceThreshold) override {
        m_hWndNotify = hWndNotify;
        m_log.push_back("media start " + input + "/" + output + " " + std::to_string(silenceThreshold));
    }
    void StartCapture() override { m_log.push_back("capture"); }
    void End() override { m_log.push_back("media end"); }
    void SetSilenceThreshold(int value) override { m_nThreshold = value; }
    bool SendText(const std::string& text) override {
        m_log.push_back("text out " + text);
        return !m_bRefuseText;
    }
    bool StartVideo(IVideoPicture* pPreview, const std::string& camera, int frameRate) override {
        m_log.push_back("video start " + camera + " " + std::to_string(frameRate) +
                        (pPreview != nullptr ? " preview" : ""));
        return m_bCamera;
    }
    void StopVideo() override { m_log.push_back("video stop"); }
    void SetFrameRate(int n) override { m_log.push_back("frame rate " + std::to_string(n)); }
    void RequestKeyFrame() override { m_log.push_back("key frame"); }

    Log& m_log;
    HWND m_hWndNotify = nullptr;
    int m_nThreshold = -1;
    bool m_bRefuseText = false;
    bool m_bCamera = true;
};

// The remote video window and both views, logging what call control makes them do.
class CFakeVideo : public IRemoteVideoWindow, public IVideoPicture {
public:
    explicit CFakeVideo(Log& log) : m_log(log) {}
    void ShowVideo(int w, int h) override {
        m_log.push_back("remote show " + std::to_string(w) + "x" + std::to_string(h));
    }
    void HideVideo() override { m_log.push_back("remote hide"); }
    IVideoPicture& Picture() override { return *this; }
    void SetPicture(const CDataBuffer&, const CImageFormat&) override {}
    void ClearPicture() override {}
    Log& m_log;
};

class CFakeView : public ICallView {
public:
    explicit CFakeView(Log& log) : m_log(log) {}
    HWND GetNotifyWindow() const override { return m_Window.GetSafeHwnd(); }
    void ShowCall(const std::string& title) override {
        m_bVisible = true;
        m_strTitle = title;
        m_chat.clear();
        m_log.push_back("show " + title);
    }
    void HideCall() override {
        if (m_bVisible)
            m_log.push_back("hide");
        m_bVisible = false;
    }
    void SetCallingMode(bool bOn) override {
        m_bCalling = bOn;
        m_log.push_back(bOn ? "calling mode" : "media controls");
    }
    void SetCallingFrame(int brackets) override { m_frames.push_back(brackets); }
    void SetSilenceSlider(int value) override { m_nSlider = value; }
    void AppendChatLine(const std::string& text, bool bReceived) override {
        m_chat.push_back((bReceived ? "< " : "> ") + text);
    }
    void ShowNotice(const std::string& text) override {
        m_notices.push_back(text);
        m_log.push_back("notice " + text);
    }
    EPrompt RunPrompt(const std::string& text) override {
        m_prompts.push_back(text);
        m_log.push_back("prompt " + text);
        m_bPromptOpen = true;
        m_closed.reset();
        // What happens while the prompt's nested loop runs.
        if (m_onPrompt)
            m_onPrompt();
        m_bPromptOpen = false;
        const EPrompt result = m_closed.value_or(m_answer);
        m_log.push_back("prompt closed " + std::to_string(result));
        return result;
    }
    void ClosePrompt(EPrompt result) override {
        if (m_bPromptOpen && !m_closed)
            m_closed = result;
    }
    void OnPromptRing(int rings) override { m_rings.push_back(rings); }
    void OnPlacing(const std::string& ntv) override { m_events.push_back("calling " + ntv); }
    void OnIncoming(const std::string& ntv, const std::string& name) override {
        m_events.push_back("incoming " + ntv + " " + name);
    }
    void OnCallConnected() override { m_events.push_back("call-connected"); }
    void OnCallRefused(uint8_t reason) override {
        m_events.push_back("call-refused " + std::to_string(reason));
    }
    void OnNoResponse() override { m_events.push_back("no-response"); }
    void OnCallAbort() override { m_events.push_back("call-abort"); }
    void OnCallEnding() override { m_events.push_back("hangup"); }
    void SetVideoChecked(bool bChecked) override {
        m_log.push_back(bChecked ? "box checked" : "box unchecked");
    }
    void SetLocalVideoShown(bool bShown) override {
        m_log.push_back(bShown ? "preview shown" : "preview hidden");
    }
    IVideoPicture* GetLocalPreview() override { return m_pVideo; }
    IRemoteVideoWindow* GetRemoteVideoWindow() override { return m_pVideo; }

    Log& m_log;
    CFakeVideo* m_pVideo = nullptr;
    CFunctionTarget m_Window{nullptr};
    bool m_bVisible = false;
    bool m_bCalling = false;
    std::string m_strTitle;
    std::vector<int> m_frames;
    int m_nSlider = -1;
    std::vector<std::string> m_chat;
    std::vector<std::string> m_notices;
    std::vector<std::string> m_prompts;
    std::vector<int> m_rings;
    bool m_bPromptOpen = false;
    std::optional<EPrompt> m_closed;
    EPrompt m_answer = PROMPT_ACCEPT;
    std::function<void()> m_onPrompt;
    std::vector<std::string> m_events;
};

class CallControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetStringLanguage(LANG_ENGLISH_US);
        m_Settings.Load();
        m_Settings.SetAudioIn("Mic");
        m_Settings.SetAudioOut("Speaker");
        m_Settings.SetSilence(1200);
        m_Host.m_nicknames["5550002"] = "Bob";
    }

    bool Deliver(const Bytes& record) { return m_Control.OnControlMessage(record.data(), record.size()); }
    void Tick(uintptr_t id) { SendMessage(m_Control.GetTimerWindow(), WM_TIMER, id, 0); }
    Bytes Setup(uint32_t id, const std::string& callerNtv, const std::string& callerName = "") {
        return BuildCallSetup(id, callerNtv, callerName, "5550001");
    }
    Bytes Refusal(uint32_t id, uint8_t reason) {
        Bytes setup = BuildCallSetup(id, "5550001", "Ana", "5550002"), out;
        BuildCallRefused(setup.data(), setup.size(), reason, out);
        return out;
    }
    // An outgoing call to 5550002 that has reached the ringing state (call id 7).
    void Ringing() {
        m_Control.PlaceCall("5550002");
        Deliver(BuildCallIdRecord(MSG_CALL_ID, 7));
        ASSERT_TRUE(m_Control.IsCallingMode());
    }
    void Connected() {
        Ringing();
        Deliver(BuildShortRecord(MSG_CALL_CONNECTED));
    }
    // Milliseconds to the next timer of this thread, -1 for none.
    static int NextTimer() { return MillisecondsToNextTimer(); }
    size_t Count(const std::string& entry) const { return std::count(m_log.begin(), m_log.end(), entry); }
    std::vector<std::string> LogFrom(size_t first) const {
        return std::vector<std::string>(m_log.begin() + static_cast<long>(first), m_log.end());
    }

    CTempEnvironment m_Env;
    Log m_log;
    CSettings m_Settings;
    CFakeHost m_Host{m_log};
    CFakeMedia m_Media{m_log};
    CFakeView m_View{m_log};
    CCallControl m_Control{m_Host, m_Media, m_View, m_Settings};
};

// ---- placing a call ----------------------------------------------------------------------------------

TEST_F(CallControlTest, EmptyNumberSendsNothingAndStartsNoTimer) {
    m_Control.PlaceCall("");
    EXPECT_TRUE(m_Host.m_sent.empty());
    EXPECT_FALSE(m_Control.IsAnswerTimerRunning());
    EXPECT_EQ(NextTimer(), -1);
}

TEST_F(CallControlTest, PlacingSendsTheRequestAndArmsTheTwelveSecondTimeout) {
    m_Control.PlaceCall("5550002");
    ASSERT_EQ(m_Host.m_sent.size(), 1u);
    EXPECT_EQ(m_Host.m_sent[0], (Bytes{MSG_CALL_REQUEST, 0, 0, 0, 0}));
    EXPECT_EQ(m_Control.GetCalledNtv(), "5550002");
    EXPECT_TRUE(m_Control.IsAnswerTimerRunning());
    EXPECT_GT(NextTimer(), 11000);
    EXPECT_LE(NextTimer(), 12000);
    EXPECT_FALSE(m_View.m_bVisible);  // nothing shows before the call id
}

TEST_F(CallControlTest, CallIdSendsSetupAndOpensTheWindowInCallingMode) {
    m_Control.PlaceCall("5550002");
    const size_t mark = m_log.size();
    EXPECT_TRUE(Deliver(BuildCallIdRecord(MSG_CALL_ID, 0x01020304)));
    ASSERT_EQ(m_Host.m_sent.size(), 2u);
    EXPECT_EQ(m_Host.m_sent[1], BuildCallSetup(0x01020304, "5550001", "Ana", "5550002"));
    EXPECT_EQ(m_Control.GetCallId(), 0x01020304u);
    EXPECT_EQ(LogFrom(mark), (Log{"send CALL_SETUP", "media start Mic/Speaker 1200", "calling mode",
                                  "stop polling", "show Calling to NTV : Bob"}));
    EXPECT_EQ(m_Media.m_hWndNotify, m_View.GetNotifyWindow());
    EXPECT_EQ(m_View.m_nSlider, 1200);
    EXPECT_TRUE(m_Control.IsCallShown());
    EXPECT_EQ(Count("capture"), 0u);  // the caller waits for the callee's media
}

TEST_F(CallControlTest, TitleFallsBackToTheNumberWithoutANickname) {
    m_Host.m_nicknames["5550003"] = "";
    m_Control.PlaceCall("5550003");
    Deliver(BuildCallIdRecord(MSG_CALL_ID, 1));
    EXPECT_EQ(m_View.m_strTitle, "Calling to NTV : 5550003");
}

TEST_F(CallControlTest, CallIdIsIgnoredUnlessThisClientIsPlacingACall) {
    EXPECT_TRUE(Deliver(BuildCallIdRecord(MSG_CALL_ID, 5)));
    EXPECT_TRUE(m_Host.m_sent.empty());
    EXPECT_FALSE(m_View.m_bVisible);
    // A repeated call id does not set up the call twice.
    Ringing();
    const size_t sent = m_Host.m_sent.size();
    Deliver(BuildCallIdRecord(MSG_CALL_ID, 8));
    EXPECT_EQ(m_Host.m_sent.size(), sent);
    EXPECT_EQ(m_Control.GetCallId(), 7u);
}

TEST_F(CallControlTest, PlacingWhileACallIsPlacedOrHeldDoesNothing) {
    m_Control.PlaceCall("5550002");
    m_Control.PlaceCall("5550003");
    EXPECT_EQ(m_Host.m_sent.size(), 1u);
    EXPECT_EQ(m_Control.GetCalledNtv(), "5550002");

    Deliver(BuildCallIdRecord(MSG_CALL_ID, 7));
    Deliver(BuildShortRecord(MSG_CALL_CONNECTED));
    const size_t sent = m_Host.m_sent.size();
    m_Control.PlaceCall("5550003");
    EXPECT_EQ(m_Host.m_sent.size(), sent);
    EXPECT_FALSE(m_Control.IsAnswerTimerRunning());  // not restarted
    EXPECT_TRUE(m_View.m_bVisible);
}

TEST_F(CallControlTest, CalleeMediaRunningStartsCaptureAndEndsCallingMode) {
    Ringing();
    const size_t mark = m_log.size();
    Deliver(BuildShortRecord(MSG_CALL_CONNECTED));
    EXPECT_EQ(LogFrom(mark), (Log{"capture", "media controls"}));
    EXPECT_FALSE(m_Control.IsAnswerTimerRunning());
    EXPECT_FALSE(m_Control.IsCallingMode());
    // A second one changes nothing.
    Deliver(BuildShortRecord(MSG_CALL_CONNECTED));
    EXPECT_EQ(Count("capture"), 1u);
}

TEST_F(CallControlTest, CallingModeGrowsItsFrameAndRingsBackEveryTwoSeconds) {
    Ringing();
    EXPECT_GT(NextTimer(), 0);
    EXPECT_LE(NextTimer(), 250);
    m_View.m_frames.clear();
    for (int i = 0; i < 16; ++i)
        Tick(CCallControl::kTimerCalling);
    EXPECT_EQ(m_View.m_frames, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7, 0}));
    EXPECT_EQ(m_Host.m_sounds, (std::vector<UINT>{167, 167}));
    Deliver(BuildShortRecord(MSG_CALL_CONNECTED));
    Tick(CCallControl::kTimerCalling);
    EXPECT_EQ(m_View.m_frames.size(), 16u);
}

// ---- ending a call -----------------------------------------------------------------------------------

TEST_F(CallControlTest, HangingUpSendsHangupThenCallEndAndEndsTheMedia) {
    Connected();
    const size_t mark = m_log.size();
    m_Control.HangUp();
    EXPECT_EQ(LogFrom(mark),
              (Log{"hide", "send HANGUP", "send CALL_END", "media end", "poll and restart timer 0"}));
    EXPECT_EQ(m_Host.m_sent.back(), (Bytes{MSG_CALL_END, 0}));
    EXPECT_EQ(m_Host.m_sent[m_Host.m_sent.size() - 2], (Bytes{MSG_HANGUP, 0}));
    EXPECT_FALSE(m_Control.IsCallShown());
    EXPECT_TRUE(m_Control.GetCalledNtv().empty());
    EXPECT_EQ(Count("end program"), 0u);
    // Idle again: a new call can be placed.
    m_Control.PlaceCall("5550002");
    EXPECT_EQ(m_Host.m_sent.back()[0], MSG_CALL_REQUEST);
}

TEST_F(CallControlTest, HangingUpInCallingModeStopsTheRingBack) {
    Ringing();
    m_Control.HangUp();
    EXPECT_EQ(Count("media controls"), 1u);
    EXPECT_FALSE(m_Control.IsAnswerTimerRunning());
    EXPECT_EQ(NextTimer(), -1);
}

TEST_F(CallControlTest, DynamicModeEndsTheProgramAfterItsCall) {
    m_Host.m_bDynamic = true;
    Connected();
    Deliver(BuildShortRecord(MSG_HANGUP));
    EXPECT_EQ(m_log.back(), "end program");
    EXPECT_EQ(Count("send HANGUP"), 1u);
}

TEST_F(CallControlTest, RemoteHangupEndsOnlyAShownCall) {
    EXPECT_TRUE(Deliver(BuildShortRecord(MSG_HANGUP)));
    EXPECT_TRUE(m_Host.m_sent.empty());
    Connected();
    Deliver(BuildShortRecord(MSG_HANGUP));
    EXPECT_FALSE(m_Control.IsCallShown());
    EXPECT_EQ(Count("send HANGUP"), 1u);
    EXPECT_EQ(Count("send CALL_END"), 1u);
}

TEST_F(CallControlTest, ConnectionLossEndsTheCallWithoutMessages) {
    Connected();
    const size_t sent = m_Host.m_sent.size();
    m_Control.OnConnectionLost();
    EXPECT_EQ(m_Host.m_sent.size(), sent);
    EXPECT_FALSE(m_Control.IsCallShown());
    EXPECT_EQ(Count("media end"), 1u);
    m_Control.PlaceCall("5550002");
    EXPECT_EQ(m_Host.m_sent.size(), sent + 1);
}

// ---- timeouts and refusals ---------------------------------------------------------------------------

TEST_F(CallControlTest, AnswerTimeoutInCallingModeHangsUpAndSaysNoResponse) {
    Ringing();
    const size_t mark = m_log.size();
    Tick(CCallControl::kTimerAnswer);
    EXPECT_EQ(LogFrom(mark), (Log{"media controls", "hide", "send HANGUP", "send CALL_END", "media end",
                                  "poll and restart timer 0", "notice No response"}));
}

TEST_F(CallControlTest, AnswerTimeoutBeforeTheCallIdGivesTheCallUp) {
    m_Control.PlaceCall("5550002");
    Tick(CCallControl::kTimerAnswer);
    EXPECT_EQ(m_View.m_notices, (std::vector<std::string>{"No response"}));
    EXPECT_TRUE(m_Control.GetCalledNtv().empty());
    // The call id that comes too late opens nothing.
    const size_t sent = m_Host.m_sent.size();
    Deliver(BuildCallIdRecord(MSG_CALL_ID, 9));
    EXPECT_EQ(m_Host.m_sent.size(), sent);
    EXPECT_FALSE(m_View.m_bVisible);
}

TEST_F(CallControlTest, StrayAnswerTimeoutWhenIdleDoesNothing) {
    Tick(CCallControl::kTimerAnswer);
    EXPECT_TRUE(m_View.m_notices.empty());
    EXPECT_TRUE(m_Host.m_sent.empty());
}

TEST_F(CallControlTest, RefusalHangsUpThenShowsTheNoticeForItsReason) {
    const std::vector<std::pair<uint8_t, std::string>> cases = {
        {17, "Busy"}, {18, "Call timeout"}, {0, "Call rejected"}, {99, "Call rejected"}};
    for (const auto& [reason, text] : cases) {
        m_log.clear();
        Ringing();
        const size_t mark = m_log.size();
        Deliver(Refusal(7, reason));
        EXPECT_EQ(LogFrom(mark), (Log{"media controls", "hide", "send HANGUP", "send CALL_END", "media end",
                                      "poll and restart timer 0", "notice " + text}))
            << int(reason);
        EXPECT_FALSE(m_Control.IsAnswerTimerRunning());
    }
}

TEST_F(CallControlTest, LateRefusalAfterTheTimeoutIsStillTold) {
    Ringing();
    Tick(CCallControl::kTimerAnswer);
    m_log.clear();
    Deliver(Refusal(7, kRefusedNoAnswer));
    EXPECT_EQ(m_log, (Log{"send HANGUP", "send CALL_END", "media end", "poll and restart timer 0",
                          "notice Call timeout"}));
}

TEST_F(CallControlTest, RefusalOfAnEarlierCallLeavesTheNewOneAlone) {
    Ringing();
    Tick(CCallControl::kTimerAnswer);
    m_Control.PlaceCall("5550003");
    Deliver(BuildCallIdRecord(MSG_CALL_ID, 8));
    m_log.clear();
    Deliver(Refusal(7, kRefusedNoAnswer));
    EXPECT_TRUE(m_log.empty());
    EXPECT_TRUE(m_Control.IsCallShown());
    // Also when this client has meanwhile taken a call.
    m_Control.HangUp();
    Deliver(Setup(20, "5550002"));
    Deliver(BuildShortRecord(MSG_CALL_ACCEPTED));
    m_log.clear();
    Deliver(Refusal(8, kRefusedBusy));
    EXPECT_TRUE(m_log.empty());
}

TEST_F(CallControlTest, ShortRecordsAreIgnored) {
    m_Control.PlaceCall("5550002");
    const Bytes shortId = {MSG_CALL_ID, 1, 2};
    Deliver(shortId);
    EXPECT_FALSE(m_View.m_bVisible);
    Bytes setup = Setup(1, "5550002");
    setup.resize(200);
    Deliver(setup);
    EXPECT_TRUE(m_View.m_prompts.empty());
    EXPECT_FALSE(m_Control.OnControlMessage(nullptr, 0));
    EXPECT_FALSE(Deliver(BuildShortRecord(MSG_PING)));
}

// ---- incoming calls ----------------------------------------------------------------------------------

TEST_F(CallControlTest, AcceptedCallStartsMediaWithCaptureThenTellsTheCaller) {
    const Bytes setup = Setup(0x0A0B0C0D, "5550002", "Roberto");
    Deliver(setup);
    EXPECT_EQ(m_View.m_prompts, (std::vector<std::string>{"Accept calling from Bob?"}));
    EXPECT_EQ(m_Host.m_sent.back(), (Bytes{MSG_CALL_ACCEPT, 0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(m_Control.GetCallerName(), "Bob");
    EXPECT_FALSE(m_Control.IsPromptOpen());
    EXPECT_FALSE(m_View.m_bVisible);  // until the server has established the call

    const size_t mark = m_log.size();
    Deliver(BuildShortRecord(MSG_CALL_ACCEPTED));
    EXPECT_EQ(LogFrom(mark), (Log{"media start Mic/Speaker 1200", "capture", "stop polling",
                                  "show Calling from NTV : Bob", "send CALL_CONNECTED"}));
    EXPECT_EQ(m_Host.m_sent.back(), (Bytes{MSG_CALL_CONNECTED, 0}));
    EXPECT_FALSE(m_Control.IsCallingMode());
}

TEST_F(CallControlTest, PromptNamesTheCallerByNicknameDisplayNameOrNumber) {
    Deliver(Setup(1, "5550009", "Roberto"));
    Deliver(Setup(2, "5550008", ""));
    EXPECT_EQ(m_View.m_prompts,
              (std::vector<std::string>{"Accept calling from Roberto?", "Accept calling from 5550008?"}));
    // Accepted without any name, the call shows the caller's number.
    EXPECT_EQ(m_Control.GetCallerName(), "5550008");
}

TEST_F(CallControlTest, GuestCallerPromptsAsDirectCall) {
    Deliver(Setup(3, CClientApp::kGuestNtv, "Web visitor"));
    EXPECT_EQ(m_View.m_prompts, (std::vector<std::string>{"Accept call from direct calling?"}));
    Deliver(BuildShortRecord(MSG_CALL_ACCEPTED));
    EXPECT_EQ(m_View.m_strTitle, "Calling from NTV : Direct call");
}

TEST_F(CallControlTest, AcceptedWithoutAnAcceptedCallIsIgnored) {
    Deliver(BuildShortRecord(MSG_CALL_ACCEPTED));
    EXPECT_FALSE(m_View.m_bVisible);
    EXPECT_TRUE(m_Host.m_sent.empty());
}

TEST_F(CallControlTest, RejectAndRingOutAnswerWithTheirReasons) {
    const Bytes setup = Setup(4, "5550002");
    Bytes expected;
    m_View.m_answer = ICallView::PROMPT_REJECT;
    Deliver(setup);
    BuildCallRefused(setup.data(), setup.size(), 0, expected);
    EXPECT_EQ(m_Host.m_sent.back(), expected);

    m_View.m_answer = ICallView::PROMPT_NO_ANSWER;
    Deliver(setup);
    BuildCallRefused(setup.data(), setup.size(), 18, expected);
    EXPECT_EQ(m_Host.m_sent.back(), expected);
    EXPECT_TRUE(m_Control.GetCallerName().empty());
}

TEST_F(CallControlTest, TenRingsThenTheEleventhTickAnswersNoAnswer) {
    m_View.m_onPrompt = [this] {
        EXPECT_GT(NextTimer(), 1000);
        EXPECT_LE(NextTimer(), 2000);
        for (int i = 0; i < 10; ++i)
            Tick(CCallControl::kTimerRing);
        EXPECT_FALSE(m_View.m_closed.has_value());
        Tick(CCallControl::kTimerRing);
    };
    const Bytes setup = Setup(5, "5550002");
    Deliver(setup);
    EXPECT_EQ(m_Host.m_sounds, std::vector<UINT>(10, 167));
    EXPECT_EQ(m_View.m_rings, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    Bytes expected;
    BuildCallRefused(setup.data(), setup.size(), kRefusedNoAnswer, expected);
    EXPECT_EQ(m_Host.m_sent, (std::vector<Bytes>{expected}));
    EXPECT_EQ(NextTimer(), -1);  // the ring timer went with the prompt
}

TEST_F(CallControlTest, BusyWhileInACallOrAway) {
    const Bytes setup = Setup(6, "5550003");
    Bytes busy;
    BuildCallRefused(setup.data(), setup.size(), kRefusedBusy, busy);

    Connected();
    Deliver(setup);
    EXPECT_EQ(m_Host.m_sent.back(), busy);
    m_Control.HangUp();

    m_Host.m_bAway = true;
    Deliver(setup);
    EXPECT_EQ(m_Host.m_sent.back(), busy);
    EXPECT_TRUE(m_View.m_prompts.empty());

    // Also while this client is placing a call and waits for its id.
    m_Host.m_bAway = false;
    m_Control.PlaceCall("5550002");
    Deliver(setup);
    EXPECT_EQ(m_Host.m_sent.back(), busy);
}

TEST_F(CallControlTest, SecondRequestDuringTheOpenPromptIsRefusedAsBusy) {
    const Bytes first = Setup(10, "5550002");
    const Bytes second = Setup(11, "5550003");
    m_View.m_onPrompt = [&] {
        // The nested loop dispatches the next control messages while the prompt is open.
        Deliver(second);
        Deliver(BuildShortRecord(MSG_HANGUP));  // no call window yet: the prompt goes on
        Tick(CCallControl::kTimerRing);
    };
    Deliver(first);
    Bytes busy;
    BuildCallRefused(second.data(), second.size(), kRefusedBusy, busy);
    ASSERT_EQ(m_Host.m_sent.size(), 2u);
    EXPECT_EQ(m_Host.m_sent[0], busy);
    EXPECT_EQ(m_Host.m_sent[1], BuildCallIdRecord(MSG_CALL_ACCEPT, 10));
    EXPECT_EQ(m_View.m_prompts.size(), 1u);
    EXPECT_EQ(m_View.m_rings, (std::vector<int>{1}));
}

TEST_F(CallControlTest, AbortClosesTheOpenPromptWithoutAnAnswer) {
    m_View.m_onPrompt = [&] { Deliver(BuildShortRecord(MSG_CALL_ABORT)); };
    Deliver(Setup(12, "5550002"));
    EXPECT_EQ(m_View.m_closed, ICallView::PROMPT_ABORTED);
    EXPECT_TRUE(m_Host.m_sent.empty());
    EXPECT_FALSE(m_Control.IsPromptOpen());
    EXPECT_TRUE(m_Control.GetCallerName().empty());
}

TEST_F(CallControlTest, AbortAfterAcceptingForgetsTheCaller) {
    Deliver(Setup(13, "5550002"));
    EXPECT_EQ(m_Control.GetCallerName(), "Bob");
    Deliver(BuildShortRecord(MSG_CALL_ABORT));
    EXPECT_TRUE(m_Control.GetCallerName().empty());
    Deliver(BuildShortRecord(MSG_CALL_ACCEPTED));
    EXPECT_FALSE(m_View.m_bVisible);
}

TEST_F(CallControlTest, AbortStopsTheAnswerTimer) {
    Ringing();
    Deliver(BuildShortRecord(MSG_CALL_ABORT));
    EXPECT_FALSE(m_Control.IsAnswerTimerRunning());
    EXPECT_TRUE(m_Control.IsCallShown());
    // Before the call id nothing else would end the set-up: it is forgotten.
    m_Control.HangUp();
    m_Control.PlaceCall("5550002");
    Deliver(BuildShortRecord(MSG_CALL_ABORT));
    EXPECT_TRUE(m_Control.GetCalledNtv().empty());
    EXPECT_FALSE(m_Control.IsBusy());
}

TEST_F(CallControlTest, ConnectionLossClosesAnOpenPrompt) {
    m_View.m_onPrompt = [&] { m_Control.OnConnectionLost(); };
    Deliver(Setup(14, "5550002"));
    EXPECT_EQ(m_View.m_closed, ICallView::PROMPT_ABORTED);
    EXPECT_TRUE(m_Host.m_sent.empty());
}

TEST_F(CallControlTest, ObserversHearEachStepOfBothSides) {
    Connected();
    m_Control.HangUp();
    Deliver(Setup(30, "5550003", "Carla"));
    Deliver(BuildShortRecord(MSG_CALL_ACCEPTED));
    Deliver(BuildShortRecord(MSG_HANGUP));
    m_Control.PlaceCall("5550002");
    Tick(CCallControl::kTimerAnswer);
    Deliver(Refusal(0, kRefusedBusy));  // late, with nothing to end
    m_View.m_onPrompt = [&] { Deliver(BuildShortRecord(MSG_CALL_ABORT)); };
    Deliver(Setup(31, "5550003"));
    EXPECT_EQ(m_View.m_events, (std::vector<std::string>{
                                   "calling 5550002", "call-connected", "hangup", "incoming 5550003 Carla",
                                   "call-connected", "hangup", "calling 5550002", "no-response", "hangup",
                                   "call-refused 17", "incoming 5550003 ", "call-abort"}));
}

// ---- chat and the silence slider ---------------------------------------------------------------------

TEST_F(CallControlTest, ChatLinesFlowOnlyDuringACall) {
    m_Media.m_incoming = {"too early"};
    m_Control.OnTextReceived();
    EXPECT_TRUE(m_Media.m_incoming.empty());  // taken and dropped
    EXPECT_FALSE(m_Control.SendText("hello"));

    Connected();
    EXPECT_TRUE(m_View.m_chat.empty());
    EXPECT_FALSE(m_Control.SendText(""));
    EXPECT_TRUE(m_Control.SendText("hola"));
    m_Media.m_incoming = {"qué tal", "", "bien"};
    m_Control.OnTextReceived();
    EXPECT_EQ(m_View.m_chat, (std::vector<std::string>{"> hola", "< qué tal", "< bien"}));
    EXPECT_EQ(Count("text out hola"), 1u);
    // Refused by the link: not shown as said.
    m_Media.m_bRefuseText = true;
    EXPECT_FALSE(m_Control.SendText("too long"));
    EXPECT_EQ(m_View.m_chat.size(), 3u);
}

TEST_F(CallControlTest, SilenceSliderIsStoredAtOnceExceptInDynamicMode) {
    m_Control.SetSilenceThreshold(4000);
    EXPECT_EQ(m_Media.m_nThreshold, 4000);
    CSettings reloaded;
    reloaded.Load();
    EXPECT_EQ(reloaded.GetSilence(), 4000);

    m_Host.m_bDynamic = true;
    m_Control.SetSilenceThreshold(40000);
    EXPECT_EQ(m_Media.m_nThreshold, 32000);
    EXPECT_EQ(m_Settings.GetSilence(), 32000);
    reloaded.Load();
    EXPECT_EQ(reloaded.GetSilence(), 4000);
}

}  // namespace

// ---- video -------------------------------------------------------------------------------------------

TEST_F(CallControlTest, VideoBoxStartsAndStopsTheLocalVideoAndANoCameraStartIsTold) {
    CFakeVideo video(m_log);
    m_View.m_pVideo = &video;
    m_Settings.SetVideoIn("Cam");
    m_Settings.SetFrameRate(12);
    EXPECT_FALSE(m_Control.SetVideo(true));  // no call: nothing starts
    Connected();
    size_t mark = m_log.size();
    m_Media.m_bCamera = false;
    EXPECT_FALSE(m_Control.SetVideo(true));
    EXPECT_EQ(LogFrom(mark),
              (Log{"video start Cam 12 preview", "box unchecked", "notice Video can't be activated"}));

    m_Media.m_bCamera = true;
    mark = m_log.size();
    EXPECT_TRUE(m_Control.SetVideo(true));
    m_Control.SetFrameRate(31);  // outside the slider
    m_Control.SetFrameRate(20);
    EXPECT_EQ(m_Settings.GetFrameRate(), 20);
    m_Control.SetVideo(false);
    EXPECT_EQ(LogFrom(mark), (Log{"video start Cam 12 preview", "preview shown", "frame rate 20",
                                  "video stop", "preview hidden"}));

    // A lost camera ends video as an unchecked box would, and says so.
    m_Control.SetVideo(true);
    mark = m_log.size();
    m_Control.OnCameraLost();
    m_Control.OnCameraLost();
    EXPECT_EQ(LogFrom(mark),
              (Log{"video stop", "preview hidden", "box unchecked", "notice Video can't be activated"}));
}

TEST_F(CallControlTest, VideoRecordsReachTheReceiverAndTheServiceAndEndWithTheCall) {
    CFakeVideo video(m_log);
    m_View.m_pVideo = &video;
    const Bytes format = BuildVideoFormat(I420FormatOfSize(320, 240).m_Header.header);
    EXPECT_TRUE(m_Control.OnVideoMessage(format.data(), format.size()));  // no call: ignored
    EXPECT_FALSE(m_Control.Receiver().IsDecoding());
    Connected();
    m_Control.SetVideo(true);
    size_t mark = m_log.size();
    m_Control.OnVideoMessage(format.data(), format.size());
    EXPECT_TRUE(m_Control.Receiver().IsDecoding());
    const Bytes key = BuildShortRecord(MSG_VIDEO_KEYFRAME);
    m_Control.OnVideoMessage(key.data(), key.size());
    EXPECT_FALSE(m_Control.OnControlMessage(key.data(), key.size()));
    EXPECT_EQ(LogFrom(mark), (Log{"remote show 320x240", "key frame"}));

    mark = m_log.size();
    m_Control.HangUp();
    EXPECT_EQ(LogFrom(mark), (Log{"video stop", "preview hidden", "box unchecked", "remote hide", "hide",
                                  "send HANGUP", "send CALL_END", "media end", "poll and restart timer 0"}));
    EXPECT_FALSE(m_Control.Receiver().IsDecoding());
}
