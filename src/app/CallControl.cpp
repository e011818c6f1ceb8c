#include "app/CallControl.h"

#include <algorithm>

#include "app/ClientApp.h"
#include "platform/ByteBuffer.h"
#include "platform/StringTable.h"
#include "settings/Settings.h"

namespace {

constexpr int kMaxSilence = 32000;

std::string RefusalText(uint8_t reason) {
    switch (reason) {
        case kRefusedBusy:
            return LoadString(IDS_BUSY);
        case kRefusedNoAnswer:
            return LoadString(IDS_CALL_TIMEOUT);
        default:
            return LoadString(IDS_CALL_REJECTED);
    }
}

}  // namespace

LRESULT CCallControl::CTimerWindow::WindowProc(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_TIMER)
        m_owner.OnTimer(wParam);
    return 0;
}

CCallControl::CCallControl(ICallHost& host, ICallMedia& media, ICallView& view, CSettings& settings)
    : m_Host(host), m_Media(media), m_View(view), m_Settings(settings), m_Receiver([this] {
          m_Host.SendControl(BuildShortRecord(MSG_VIDEO_KEYFRAME));
      }) {}

CCallControl::~CCallControl() {
    StopTimer(kTimerAnswer);
    StopTimer(kTimerRing);
    StopTimer(kTimerCalling);
}

bool CCallControl::IsBusy() const {
    return m_bIncomingPrompt || m_bCallShown || !m_strCalledNtv.empty();
}

void CCallControl::StartTimer(uintptr_t id, UINT ms) {
    SetTimer(m_Timers.GetSafeHwnd(), id, ms);
    if (id == kTimerAnswer)
        m_bAnswerTimer = true;
}

void CCallControl::StopTimer(uintptr_t id) {
    KillTimer(m_Timers.GetSafeHwnd(), id);
    if (id == kTimerAnswer)
        m_bAnswerTimer = false;
}

void CCallControl::OnTimer(uintptr_t id) {
    switch (id) {
        case kTimerAnswer:
            OnAnswerTimeout();
            break;
        case kTimerRing:
            OnRingTick();
            break;
        case kTimerCalling:
            OnCallingTick();
            break;
        default:
            break;
    }
}

void CCallControl::PlaceCall(const std::string& ntv) {
    if (ntv.empty())
        return;
    // One call at a time: a second request would restart the answer timer and end the live call.
    if (IsBusy())
        return;
    m_strCalledNtv = ntv;
    m_strCallerName.clear();
    m_nCallId = 0;
    m_View.OnPlacing(ntv);
    m_Host.SendControl(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    StartTimer(kTimerAnswer, kAnswerTimeoutMs);
}

bool CCallControl::OnControlMessage(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0)
        return false;
    switch (data[0]) {
        case MSG_CALL_ID:
            OnCallId(data, size);
            return true;
        case MSG_CALL_ACCEPTED:
            OnCallAccepted();
            return true;
        case MSG_CALL_ABORT:
            OnCallAbort();
            return true;
        case MSG_HANGUP:
            OnRemoteHangup();
            return true;
        case MSG_CALL_SETUP:
            OnCallSetup(data, size);
            return true;
        case MSG_CALL_REFUSED:
            OnCallRefused(data, size);
            return true;
        case MSG_CALL_CONNECTED:
            OnCallConnected();
            return true;
        default:
            return false;
    }
}

void CCallControl::OnCallId(const uint8_t* data, size_t size) {
    // Only the call this client is placing, and only once.
    if (m_strCalledNtv.empty() || m_bCallShown)
        return;
    uint32_t id = 0;
    if (!ParseCallIdRecord(data, size, id))
        return;
    m_nCallId = id;
    m_Host.SendControl(BuildCallSetup(id, m_Host.GetOwnNtv(), m_Host.GetDisplayName(), m_strCalledNtv));
    StartMedia();
}

void CCallControl::Refuse(const Bytes& setup, uint8_t reason) {
    Bytes refused;
    if (BuildCallRefused(setup.data(), setup.size(), reason, refused))
        m_Host.SendControl(refused);
}

void CCallControl::OnCallSetup(const uint8_t* data, size_t size) {
    SCallSetup setup;
    if (!ParseCallSetup(data, size, setup))
        return;
    // A copy: the prompt's nested loop may reuse the buffer the record came in.
    const Bytes record(data, data + kCallSetupSize);
    if (m_bIncomingPrompt || m_Host.IsAway() || m_bCallShown || !m_strCalledNtv.empty()) {
        Refuse(record, kRefusedBusy);
        return;
    }
    m_bIncomingPrompt = true;

    std::string name;
    std::string text;
    if (setup.callerNtv == CClientApp::kGuestNtv) {
        text = LoadString(IDS_ACCEPT_DIRECT_CALL);
        name = LoadString(IDS_DIRECT_CALL);
    } else {
        name = m_Host.FindNickname(setup.callerNtv);
        if (name.empty())
            name = setup.callerName;
        text = FormatString(IDS_ACCEPT_CALL_FROM, {name.empty() ? setup.callerNtv : name});
    }

    m_View.OnIncoming(setup.callerNtv, name);
    m_nRings = 0;
    StartTimer(kTimerRing, kRingIntervalMs);
    const ICallView::EPrompt result = m_View.RunPrompt(text);
    StopTimer(kTimerRing);

    switch (result) {
        case ICallView::PROMPT_ACCEPT:
            m_strCallerName = name.empty() ? setup.callerNtv : name;
            m_Host.SendControl(BuildCallIdRecord(MSG_CALL_ACCEPT, setup.callId));
            break;
        case ICallView::PROMPT_REJECT:
            Refuse(record, kRefusedByUser);
            break;
        case ICallView::PROMPT_NO_ANSWER:
            Refuse(record, kRefusedNoAnswer);
            break;
        case ICallView::PROMPT_ABORTED:
            break;  // the caller has gone or the connection with it: nobody to answer
    }
    m_bIncomingPrompt = false;
}

void CCallControl::OnRingTick() {
    if (!m_bIncomingPrompt) {
        StopTimer(kTimerRing);
        return;
    }
    if (m_nRings < kMaxRings) {
        m_Host.PlaySound(IDR_WAVE_RING);
        ++m_nRings;
        m_View.OnPromptRing(m_nRings);
        return;
    }
    StopTimer(kTimerRing);
    m_View.ClosePrompt(ICallView::PROMPT_NO_ANSWER);
}

void CCallControl::OnCallAccepted() {
    // Only after this client accepted a call that has not been given up since.
    if (m_strCallerName.empty() || m_bCallShown)
        return;
    StartMedia();
    m_Host.SendControl(BuildShortRecord(MSG_CALL_CONNECTED));
    m_View.OnCallConnected();
}

void CCallControl::OnCallConnected() {
    if (m_strCalledNtv.empty() || !m_bCallShown || !m_bCallingMode)
        return;
    m_Media.StartCapture();
    SetCallingMode(false);
    StopTimer(kTimerAnswer);
    m_View.OnCallConnected();
}

void CCallControl::OnCallRefused(const uint8_t* data, size_t size) {
    SCallSetup setup;
    if (!ParseCallSetup(data, size, setup))
        return;
    // A late refusal is still told, but never ends a call that has begun since.
    if (!m_strCalledNtv.empty()) {
        if (setup.callId != m_nCallId)
            return;
    } else if (m_bCallShown || m_bIncomingPrompt || !m_strCallerName.empty()) {
        return;
    }
    StopTimer(kTimerAnswer);
    m_View.OnCallRefused(setup.reason);
    HangUp();
    m_View.ShowNotice(RefusalText(setup.reason));
}

void CCallControl::OnCallAbort() {
    m_View.OnCallAbort();
    m_strCallerName.clear();
    StopTimer(kTimerAnswer);
    // A set-up still waiting for its call id has ended too; nothing else would end it now.
    if (!m_bCallShown)
        m_strCalledNtv.clear();
    // The prompt's caller has gone.
    if (m_bIncomingPrompt)
        m_View.ClosePrompt(ICallView::PROMPT_ABORTED);
}

void CCallControl::OnRemoteHangup() {
    if (m_bCallShown)
        HangUp();
}

void CCallControl::OnAnswerTimeout() {
    StopTimer(kTimerAnswer);
    // Also before the call id: a late one must not open a call the user has given up.
    if (!m_bCallShown && m_strCalledNtv.empty())
        return;
    m_View.OnNoResponse();
    HangUp();
    m_View.ShowNotice(LoadString(IDS_NO_RESPONSE));
}

void CCallControl::HangUp() {
    if (m_bCallShown || !m_strCalledNtv.empty() || !m_strCallerName.empty())
        m_View.OnCallEnding();
    StopTimer(kTimerAnswer);
    SetCallingMode(false);
    EndVideo();
    m_View.HideCall();
    m_bCallShown = false;
    m_strCalledNtv.clear();
    m_strCallerName.clear();
    m_Host.SendControl(BuildShortRecord(MSG_HANGUP));
    m_Host.SendControl(BuildShortRecord(MSG_CALL_END));
    EndMedia();
    if (m_Host.IsDynamic())
        m_Host.EndProgram();
}

void CCallControl::OnConnectionLost() {
    StopTimer(kTimerAnswer);
    if (m_bIncomingPrompt)
        m_View.ClosePrompt(ICallView::PROMPT_ABORTED);
    const bool bHadCall = m_bCallShown || !m_strCalledNtv.empty() || !m_strCallerName.empty();
    SetCallingMode(false);
    EndVideo();
    if (m_bCallShown)
        m_View.HideCall();
    m_bCallShown = false;
    m_strCalledNtv.clear();
    m_strCallerName.clear();
    if (!bHadCall)
        return;
    m_View.OnCallEnding();
    m_Media.End();
    if (m_Host.IsDynamic())
        m_Host.EndProgram();
}

void CCallControl::StartMedia() {
    const int silence = std::clamp(m_Settings.GetSilence(), 0, kMaxSilence);
    m_Media.Start(m_View.GetNotifyWindow(), m_Settings.GetAudioIn(), m_Settings.GetAudioOut(), silence);
    m_View.SetSilenceSlider(silence);

    std::string title;
    if (!m_strCalledNtv.empty()) {
        const std::string nickname = m_Host.FindNickname(m_strCalledNtv);
        title = std::string(LoadString(IDS_CALLING_TO)) + (nickname.empty() ? m_strCalledNtv : nickname);
        SetCallingMode(true);
    }
    if (!m_strCallerName.empty()) {
        title = std::string(LoadString(IDS_CALLING_FROM)) + m_strCallerName;
        m_Media.StartCapture();
    }
    m_Host.StopPolling();
    m_Receiver.SetWindow(m_View.GetRemoteVideoWindow());
    m_Receiver.ResetCounts();
    m_View.SetFrameRateSlider(m_Settings.GetFrameRate());
    m_bCallShown = true;
    m_View.ShowCall(title);
}

void CCallControl::EndMedia() {
    m_Media.End();
    m_View.HideCall();
    m_strCalledNtv.clear();
    m_strCallerName.clear();
    m_Host.ResumePolling();
}

void CCallControl::SetCallingMode(bool bOn) {
    if (bOn) {
        m_nBrackets = 0;
        m_bCallingMode = true;
        m_View.SetCallingMode(true);
        m_View.SetCallingFrame(0);
        StartTimer(kTimerCalling, kCallingTickMs);
        return;
    }
    StopTimer(kTimerCalling);
    if (m_bCallingMode) {
        m_bCallingMode = false;
        m_View.SetCallingMode(false);
    }
}

void CCallControl::OnCallingTick() {
    if (!m_bCallingMode) {
        StopTimer(kTimerCalling);
        return;
    }
    // A growing frame of brackets; each full turn (2 s) rings back.
    if (++m_nBrackets > kMaxBrackets) {
        m_nBrackets = 0;
        m_Host.PlaySound(IDR_WAVE_RING);
    }
    m_View.SetCallingFrame(m_nBrackets);
}

void CCallControl::OnTextReceived() {
    std::string text;
    while (m_Media.ReceiveText(text)) {
        if (m_bCallShown && !text.empty())
            m_View.AppendChatLine(text, true);
    }
}

bool CCallControl::SendText(const std::string& text) {
    if (text.empty() || !m_bCallShown)
        return false;
    // A line the link refused (one above the frame limit) is not shown as said, and stays to be edited.
    if (!m_Media.SendText(text))
        return false;
    m_View.AppendChatLine(text, false);
    return true;
}

void CCallControl::SetSilenceThreshold(int value) {
    value = std::clamp(value, 0, kMaxSilence);
    m_Settings.SetSilence(value);
    if (!m_Host.IsDynamic())
        m_Settings.Save();
    m_Media.SetSilenceThreshold(value);
}

bool CCallControl::SetVideo(bool bOn) {
    if (!bOn) {
        if (m_bVideoOn) {
            m_bVideoOn = false;
            m_Media.StopVideo();
            m_View.SetLocalVideoShown(false);
        }
        return true;
    }
    if (m_bVideoOn)
        return true;
    if (m_bCallShown &&
        m_Media.StartVideo(m_View.GetLocalPreview(), m_Settings.GetVideoIn(), m_Settings.GetFrameRate())) {
        m_bVideoOn = true;
        m_View.SetLocalVideoShown(true);
        return true;
    }
    m_View.SetVideoChecked(false);
    if (m_bCallShown)
        m_View.ShowNotice(LoadString(IDS_VIDEO_FAILED));
    return false;
}

void CCallControl::SetFrameRate(int value) {
    if (value < 1 || value > 30)
        return;
    m_Settings.SetFrameRate(value);
    m_Media.SetFrameRate(value);
}

void CCallControl::OnCameraLost() {
    if (!m_bVideoOn)
        return;
    SetVideo(false);
    m_View.SetVideoChecked(false);
    m_View.ShowNotice(LoadString(IDS_VIDEO_FAILED));
}

void CCallControl::EndVideo() {
    if (m_bVideoOn) {
        m_bVideoOn = false;
        m_Media.StopVideo();
        m_View.SetLocalVideoShown(false);
        m_View.SetVideoChecked(false);
    }
    m_Receiver.OnVideoStop();
}

bool CCallControl::OnVideoMessage(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0)
        return false;
    switch (data[0]) {
        case MSG_VIDEO_FORMAT:
            if (m_bCallShown)
                m_Receiver.OnVideoFormat(data, size);
            return true;
        case MSG_VIDEO_STOP:
            m_Receiver.OnVideoStop();
            return true;
        case MSG_VIDEO_KEYFRAME:
            if (m_bVideoOn)
                m_Media.RequestKeyFrame();
            return true;
        default:
            return false;
    }
}

void CCallControl::OnVideoReceived() {
    CByteBuffer payload;
    while (m_Media.ReceivePicture(payload)) {
        if (m_bCallShown)
            m_Receiver.OnVideoPicture(payload.Data(), payload.Size());
    }
}
