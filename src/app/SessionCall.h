// CSessionCall: the call side of a session. It owns the call's media (the audio service, the text
// channel and the video service) and the call control, and plugs them into the session
// controller's hooks. The desktop's main window and the headless client each own one, after their
// session controller, with their own view of the call.
#pragma once

#include <functional>
#include <string>

#include "app/CallControl.h"
#include "app/CallMedia.h"
#include "app/SessionHooks.h"
#include "audio/AudioService.h"
#include "net/ChannelText.h"
#include "video/VideoService.h"

class CSessionController;

class CSessionCall : public ISessionCallHooks, private ICallHost, private IVideoServiceHost {
public:
    // `endProgram` ends the main loop (dynamic mode, after its one call).
    CSessionCall(CSessionController& session, ICallView& view, std::function<void()> endProgram);
    // Leaves the session's hooks and ends a call still running.
    ~CSessionCall() override;
    CSessionCall(const CSessionCall&) = delete;
    CSessionCall& operator=(const CSessionCall&) = delete;

    CCallControl& Control() { return m_Control; }
    CAudioService& Audio() { return m_Audio; }
    CChannelText& Text() { return m_Text; }
    CVideoService& Video() { return m_Video; }

    // ISessionCallHooks
    void OnCallRecord(const uint8_t* data, size_t size) override;
    void OnVideoRecord(const uint8_t* data, size_t size) override;
    void OnChannelReceived(uint8_t channel) override;
    void OnCallTimeout() override;
    void PlaceCall(const std::string& ntv) override;
    void OnConnectionLost() override;

private:
    // ICallHost
    bool SendControl(const Bytes& record) override;
    std::string GetOwnNtv() const override;
    std::string GetDisplayName() const override;
    bool IsAway() const override;
    std::string FindNickname(const std::string& ntv) const override;
    void StopPolling() override;
    void ResumePolling() override;
    bool IsDynamic() const override;
    void EndProgram() override;
    void PlaySound(UINT resource) override;

    // IVideoServiceHost
    void SendVideoFormat(const SBitmapInfoHeader& header) override;
    void SendVideoStop() override;
    void OnCameraLost() override;

    CSessionController& m_Session;
    std::function<void()> m_endProgram;
    CAudioService m_Audio;
    CChannelText m_Text;
    CVideoService m_Video{*this};
    CCallMedia m_Media;
    CCallControl m_Control;
};
