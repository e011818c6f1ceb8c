// CCallControl: the life of a call — placing one, answering one, the signalling with the server, the
// answer timeout, the start and end of the media and the hang-up. It needs no display: what it needs
// from outside comes through three small interfaces, which the desktop client, the headless client
// and the tests implement each in their own way.
//
// Everything runs on the user-interface thread. The incoming prompt runs a nested message loop, so
// control messages keep arriving while it is open: a second request then finds the prompt open and is
// refused as busy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/SessionWindow.h"
#include "app/VideoReceiver.h"
#include "net/Protocol.h"
#include "platform/Messages.h"

class CByteBuffer;
class CSettings;
class IVideoPicture;

// The session around the call: connection, own identity, contacts, polling, sounds, program end.
class ICallHost {
public:
    virtual ~ICallHost() = default;
    // Queues a record on the control channel.
    virtual bool SendControl(const Bytes& record) = 0;
    virtual std::string GetOwnNtv() const = 0;
    // The display name of the user information; may be empty.
    virtual std::string GetDisplayName() const = 0;
    // The own status shows "Away".
    virtual bool IsAway() const = 0;
    // The nickname of the contact with that NTV; empty when there is none or it has no nickname.
    virtual std::string FindNickname(const std::string& ntv) const = 0;
    // Timer 0: stopped while a call runs; after a call the contacts are polled at once and it restarts.
    virtual void StopPolling() = 0;
    virtual void ResumePolling() = 0;
    virtual bool IsDynamic() const = 0;
    // Ends the program's main loop (dynamic mode, after its one call).
    virtual void EndProgram() = 0;
    virtual void PlaySound(UINT resource) = 0;
};

// The call's media: the audio service, the text channel (and the video service once it exists) and
// their registration with the transport.
class ICallMedia {
public:
    virtual ~ICallMedia() = default;
    // Readies sound for a call: the audio notifications go to `hWndNotify`, the devices open, the
    // silence threshold is set and sending is unmuted; then the channels join the transport. Whatever
    // an earlier call left in the channels or in the pending sound is dropped first.
    virtual void Start(HWND hWndNotify, const std::string& input, const std::string& output,
                       int silenceThreshold) = 0;
    // Microphone capture.
    virtual void StartCapture() = 0;
    // The channels leave the transport, notifications stop, capture then playback close.
    virtual void End() = 0;
    virtual void SetSilenceThreshold(int value) = 0;
    // Chat lines on the text channel.
    virtual bool SendText(const std::string& text) = 0;
    // The next received line; false when none waits.
    virtual bool ReceiveText(std::string& text) = 0;
    // Takes, decodes and plays what the audio channel received.
    virtual void ReceiveAudio() = 0;

    // Local video: the camera named (empty: the first) at `frameRate`, shown in `pPreview` (may be
    // null) and sent to the peer. False when no camera starts; a media without video has none.
    virtual bool StartVideo(IVideoPicture* /*pPreview*/, const std::string& /*camera*/, int /*frameRate*/) {
        return false;
    }
    // Ends sending and tells the peer; nothing when video is not running.
    virtual void StopVideo() {}
    virtual void SetFrameRate(int /*n*/) {}
    // The peer asked for a key frame.
    virtual void RequestKeyFrame() {}
    // The oldest received picture (a channel-4 payload); false when none waits.
    virtual bool ReceivePicture(CByteBuffer& /*payload*/) { return false; }
};

// The call window, the prompt of an incoming call and the notices.
class ICallView {
public:
    enum EPrompt { PROMPT_ACCEPT, PROMPT_REJECT, PROMPT_NO_ANSWER, PROMPT_ABORTED };

    virtual ~ICallView() = default;
    // The window that the audio service tells of silence and reception.
    virtual HWND GetNotifyWindow() const = 0;
    // Empties the chat list and the input field, sets the title and shows the window.
    virtual void ShowCall(const std::string& title) = 0;
    virtual void HideCall() = 0;
    // Calling mode: the media controls give way to the calling label.
    virtual void SetCallingMode(bool bOn) = 0;
    // The calling label framed by `brackets` pairs of brackets (0 to 7).
    virtual void SetCallingFrame(int brackets) = 0;
    virtual void SetSilenceSlider(int value) = 0;
    virtual void AppendChatLine(const std::string& text, bool bReceived) = 0;
    // A notice with OK only; returns when it is closed (a nested loop).
    virtual void ShowNotice(const std::string& text) = 0;
    // The accept prompt with OK and Cancel; returns when the user answers or ClosePrompt is called
    // (a nested loop). OK gives PROMPT_ACCEPT, Cancel PROMPT_REJECT.
    virtual EPrompt RunPrompt(const std::string& text) = 0;
    virtual void ClosePrompt(EPrompt result) = 0;
    // The prompt has rung `rings` times so far.
    virtual void OnPromptRing(int rings) { (void)rings; }

    // Events for observers (the headless client prints them).
    virtual void OnPlacing(const std::string& /*ntv*/) {}
    virtual void OnIncoming(const std::string& /*ntv*/, const std::string& /*name*/) {}
    // Sound flows both ways: the callee's media run (caller), the call is established (callee).
    virtual void OnCallConnected() {}
    virtual void OnCallRefused(uint8_t /*reason*/) {}
    virtual void OnNoResponse() {}
    virtual void OnCallAbort() {}
    // A call's media are about to end (hang-up from either side, timeout, refusal).
    virtual void OnCallEnding() {}

    // Video. The "Video" box follows the local video: unchecked when it cannot start or stops by itself.
    virtual void SetVideoChecked(bool /*bChecked*/) {}
    // The local video runs: the window shows (or hides again) its preview.
    virtual void SetLocalVideoShown(bool /*bShown*/) {}
    virtual void SetFrameRateSlider(int /*value*/) {}
    // Where the local picture is shown; null for nowhere.
    virtual IVideoPicture* GetLocalPreview() { return nullptr; }
    // The remote video window, created hidden with the call window; null for none (the peer's video is
    // then not decoded).
    virtual IRemoteVideoWindow* GetRemoteVideoWindow() { return nullptr; }
};

class CCallControl {
public:
    static constexpr uintptr_t kTimerAnswer = 3;
    static constexpr UINT kAnswerTimeoutMs = 12000;
    static constexpr uintptr_t kTimerRing = 4;
    static constexpr UINT kRingIntervalMs = 2000;
    static constexpr int kMaxRings = 10;
    static constexpr uintptr_t kTimerCalling = 5;
    static constexpr UINT kCallingTickMs = 250;
    static constexpr int kMaxBrackets = 7;

    // Lives on the user-interface thread; its timers are its own.
    CCallControl(ICallHost& host, ICallMedia& media, ICallView& view, CSettings& settings);
    ~CCallControl();
    CCallControl(const CCallControl&) = delete;
    CCallControl& operator=(const CCallControl&) = delete;

    // Places a call; nothing for an empty NTV or while a call is being placed, prompted or held.
    void PlaceCall(const std::string& ntv);
    // The user closed the call window.
    void HangUp();
    // A control record of the call signalling (MSG_CALL_ID, MSG_CALL_ACCEPTED, MSG_CALL_ABORT,
    // MSG_HANGUP, MSG_CALL_SETUP, MSG_CALL_REFUSED, MSG_CALL_CONNECTED); false for any other record.
    bool OnControlMessage(const uint8_t* data, size_t size);
    // The connection has gone: the call ends here without a word to the server.
    void OnConnectionLost();
    // Channel 1 has something: lines are shown during a call and dropped otherwise.
    void OnTextReceived();
    // Channel 2 has something.
    void OnAudioReceived() { m_Media.ReceiveAudio(); }
    // The Send button: false (nothing sent) for an empty text or one the connection refused.
    bool SendText(const std::string& text);
    // The call window's silence slider: stored at once (saved except in dynamic mode), given to capture.
    void SetSilenceThreshold(int value);

    // The "Video" box: starts or stops the local video during a call. False when it could not start (the
    // box is then unchecked and notice 147 shown) or no call is shown.
    bool SetVideo(bool bOn);
    bool IsVideoOn() const { return m_bVideoOn; }
    // The frame-rate slider, when released: stored (not saved) and given to capture and encoder.
    void SetFrameRate(int value);
    // The camera stopped delivering: video ends as if unchecked, and the user is told.
    void OnCameraLost();
    // MSG_VIDEO_FORMAT, MSG_VIDEO_STOP or MSG_VIDEO_KEYFRAME; false for any other record.
    bool OnVideoMessage(const uint8_t* data, size_t size);
    // Channel 4 has something: pictures are decoded during a call and dropped otherwise.
    void OnVideoReceived();
    CVideoReceiver& Receiver() { return m_Receiver; }
    // Delivered by the timer window (public for tests that drive time).
    void OnTimer(uintptr_t id);

    bool IsCallShown() const { return m_bCallShown; }
    bool IsPromptOpen() const { return m_bIncomingPrompt; }
    bool IsCallingMode() const { return m_bCallingMode; }
    bool IsBusy() const;
    const std::string& GetCalledNtv() const { return m_strCalledNtv; }
    const std::string& GetCallerName() const { return m_strCallerName; }
    uint32_t GetCallId() const { return m_nCallId; }
    int GetRings() const { return m_nRings; }
    bool IsAnswerTimerRunning() const { return m_bAnswerTimer; }
    HWND GetTimerWindow() const { return m_Timers.GetSafeHwnd(); }

private:
    class CTimerWindow : public CMessageTarget {
    public:
        explicit CTimerWindow(CCallControl& owner) : m_owner(owner) {}
        LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    private:
        CCallControl& m_owner;
    };

    void OnCallId(const uint8_t* data, size_t size);
    void OnCallSetup(const uint8_t* data, size_t size);
    void OnCallAccepted();
    void OnCallConnected();
    void OnCallRefused(const uint8_t* data, size_t size);
    void OnCallAbort();
    void OnRemoteHangup();
    void OnAnswerTimeout();
    void OnRingTick();
    void OnCallingTick();

    void Refuse(const Bytes& setup, uint8_t reason);
    // Local and remote video end with the call or its window.
    void EndVideo();
    void StartMedia();
    void EndMedia();
    void SetCallingMode(bool bOn);
    void StartTimer(uintptr_t id, UINT ms);
    void StopTimer(uintptr_t id);

    ICallHost& m_Host;
    ICallMedia& m_Media;
    ICallView& m_View;
    CSettings& m_Settings;
    CTimerWindow m_Timers{*this};
    CVideoReceiver m_Receiver;

    std::string m_strCalledNtv;
    std::string m_strCallerName;
    uint32_t m_nCallId = 0;
    bool m_bIncomingPrompt = false;
    bool m_bCallShown = false;
    bool m_bCallingMode = false;
    bool m_bAnswerTimer = false;
    int m_nRings = 0;
    int m_nBrackets = 0;
    bool m_bVideoOn = false;
};
