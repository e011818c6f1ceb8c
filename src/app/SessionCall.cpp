#include "app/SessionCall.h"

#include "app/ClientApp.h"
#include "app/SessionController.h"

CSessionCall::CSessionCall(CSessionController& session, ICallView& view, std::function<void()> endProgram)
    : m_Session(session),
      m_endProgram(std::move(endProgram)),
      m_Media(session.Service(), m_Audio, m_Text),
      m_Control(*this, m_Media, view, session.App().Settings()) {
    m_Media.SetVideoService(&m_Video);
    m_Session.SetCallHooks(this);
}

CSessionCall::~CSessionCall() {
    m_Session.SetCallHooks(nullptr);
    m_Media.End();
}

void CSessionCall::OnCallRecord(const uint8_t* data, size_t size) {
    m_Control.OnControlMessage(data, size);
}

void CSessionCall::OnVideoRecord(const uint8_t* data, size_t size) {
    m_Control.OnVideoMessage(data, size);
}

void CSessionCall::OnChannelReceived(uint8_t channel) {
    if (channel == kChannelText)
        m_Control.OnTextReceived();
    else if (channel == kChannelAudio)
        m_Control.OnAudioReceived();
    else if (channel == kChannelVideo)
        m_Control.OnVideoReceived();
}

void CSessionCall::OnCallTimeout() {
    // The answer timeout runs on call control's own timer; the session's timer 3 is never started.
    m_Session.StopCallTimeout();
}

void CSessionCall::PlaceCall(const std::string& ntv) {
    m_Control.PlaceCall(ntv);
}

void CSessionCall::OnConnectionLost() {
    m_Control.OnConnectionLost();
}

bool CSessionCall::SendControl(const Bytes& record) {
    return m_Session.Control().SendRecord(record);
}

std::string CSessionCall::GetOwnNtv() const {
    return m_Session.App().Settings().GetNtv();
}

std::string CSessionCall::GetDisplayName() const {
    return m_Session.App().m_strDisplayName;
}

bool CSessionCall::IsAway() const {
    return m_Session.IsAway();
}

std::string CSessionCall::FindNickname(const std::string& ntv) const {
    const SContactRecord* contact = m_Session.App().Contacts().Find(ntv);
    return contact != nullptr ? contact->m_strNickname : std::string();
}

void CSessionCall::StopPolling() {
    m_Session.StopContactPoll();
}

void CSessionCall::ResumePolling() {
    m_Session.RestartContactPoll();
}

bool CSessionCall::IsDynamic() const {
    return m_Session.App().IsDynamic();
}

void CSessionCall::EndProgram() {
    if (m_endProgram)
        m_endProgram();
}

void CSessionCall::PlaySound(UINT resource) {
    m_Session.Window().PlaySound(resource);
}

void CSessionCall::SendVideoFormat(const SBitmapInfoHeader& header) {
    m_Session.Control().SendVideoFormat(header);
}

void CSessionCall::SendVideoStop() {
    m_Session.Control().SendVideoStop();
}

void CSessionCall::OnCameraLost() {
    m_Control.OnCameraLost();
}
