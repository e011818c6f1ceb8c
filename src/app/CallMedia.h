// CCallMedia: the call's media as the session owns them — the audio service (channel 2), the text
// channel (1) and the video channel (4, once video exists) — joined to and parted from the transport.
#pragma once

#include "app/CallControl.h"

class CAudioService;
class CChannel;
class CChannelText;
class CServiceTCP;
class CVideoService;

class CCallMedia : public ICallMedia {
public:
    CCallMedia(CServiceTCP& service, CAudioService& audio, CChannelText& text, CChannel* pVideo = nullptr);

    void Start(HWND hWndNotify, const std::string& input, const std::string& output,
               int silenceThreshold) override;
    void StartCapture() override;
    void End() override;
    void SetSilenceThreshold(int value) override;
    bool SendText(const std::string& text) override;
    bool ReceiveText(std::string& text) override;
    void ReceiveAudio() override;
    bool StartVideo(IVideoPicture* pPreview, const std::string& camera, int frameRate) override;
    void StopVideo() override;
    void SetFrameRate(int n) override;
    void RequestKeyFrame() override;
    bool ReceivePicture(CByteBuffer& payload) override;

    void SetVideoChannel(CChannel* pVideo) { m_pVideo = pVideo; }
    // The video service whose channel joins the call; null for a call without video.
    void SetVideoService(CVideoService* pVideo);

private:
    CServiceTCP& m_Service;
    CAudioService& m_Audio;
    CChannelText& m_Text;
    CChannel* m_pVideo;
    CVideoService* m_pVideoService = nullptr;
};
