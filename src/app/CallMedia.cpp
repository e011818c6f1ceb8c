#include "app/CallMedia.h"

#include "audio/AudioService.h"
#include "net/ChannelText.h"
#include "net/ServiceTCP.h"
#include "video/VideoService.h"

CCallMedia::CCallMedia(CServiceTCP& service, CAudioService& audio, CChannelText& text, CChannel* pVideo)
    : m_Service(service), m_Audio(audio), m_Text(text), m_pVideo(pVideo) {}

void CCallMedia::Start(HWND hWndNotify, const std::string& input, const std::string& output,
                       int silenceThreshold) {
    // Nothing of an earlier call may reach this one. The channels are not registered yet, so no
    // transport thread fills them meanwhile.
    m_Audio.ResetCall();
    m_Text.Reset();
    if (m_pVideo != nullptr)
        m_pVideo->Reset();

    m_Audio.SetNotifyWindow(hWndNotify);
    m_Audio.Open(input.empty() ? nullptr : input.c_str(), output.empty() ? nullptr : output.c_str());
    m_Audio.SetSilenceThreshold(static_cast<uint32_t>(silenceThreshold));
    m_Audio.SetMuted(false);

    m_Service.AddChannel(&m_Audio);
    m_Service.AddChannel(&m_Text);
    if (m_pVideo != nullptr)
        m_Service.AddChannel(m_pVideo);
}

void CCallMedia::StartCapture() {
    m_Audio.Start();
}

void CCallMedia::End() {
    StopVideo();
    if (m_pVideo != nullptr)
        m_Service.RemoveChannel(m_pVideo);
    m_Service.RemoveChannel(&m_Audio);
    m_Service.RemoveChannel(&m_Text);
    m_Audio.SetNotifyWindow(nullptr);
    m_Audio.Close();
}

void CCallMedia::SetSilenceThreshold(int value) {
    m_Audio.SetSilenceThreshold(static_cast<uint32_t>(value < 0 ? 0 : value));
}

bool CCallMedia::SendText(const std::string& text) {
    return m_Text.SendText(text);
}

bool CCallMedia::ReceiveText(std::string& text) {
    if (m_Text.ReceivedCount() < 1)
        return false;
    text = m_Text.ReceiveText();
    return true;
}

void CCallMedia::ReceiveAudio() {
    m_Audio.Receive();
}

void CCallMedia::SetVideoService(CVideoService* pVideo) {
    m_pVideoService = pVideo;
    m_pVideo = pVideo != nullptr ? &pVideo->Channel() : nullptr;
}

bool CCallMedia::StartVideo(IVideoPicture* pPreview, const std::string& camera, int frameRate) {
    if (m_pVideoService == nullptr)
        return false;
    m_pVideoService->SetPreview(pPreview);
    return m_pVideoService->StartVideo(camera, frameRate);
}

void CCallMedia::StopVideo() {
    if (m_pVideoService != nullptr)
        m_pVideoService->StopVideo();
}

void CCallMedia::SetFrameRate(int n) {
    if (m_pVideoService != nullptr)
        m_pVideoService->SetFrameRate(n);
}

void CCallMedia::RequestKeyFrame() {
    if (m_pVideoService != nullptr)
        m_pVideoService->RequestKeyFrame();
}

bool CCallMedia::ReceivePicture(CByteBuffer& payload) {
    return m_pVideoService != nullptr && m_pVideoService->ReceivePicture(payload);
}
