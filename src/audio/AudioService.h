// CAudioService: the sound of a call in both directions. It is channel 2 of the transport and the capture
// device at once; it owns the playback device, the "wnd.message" window, the Speex codec and the work
// buffers. Sending: each captured 100 ms buffer is conditioned, judged by two silence detectors, encoded
// and queued as one audio message; silence is not sent. Receiving: queued messages are decoded into one
// pending block, played once three buffers' worth wait or the sender ends its talk spurt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/SpeexCodec.h"
#include "audio/WaveDevice.h"
#include "audio/WaveMessageWindow.h"
#include "net/Channel.h"
#include "platform/ByteBuffer.h"
#include "platform/Messages.h"

// wParam 1: the sender went silent, 0: sound began (lParam: its peak-to-peak amplitude).
inline const UINT WM_AUDIO_SILENCE = RegisterWindowMessage("WM_AUDIO_SILENCE");
// wParam 1: received sound is being played, 0: a flush found nothing to play.
inline const UINT WM_AUDIO_RECEIVED = RegisterWindowMessage("WM_AUDIO_RECEIVED");

// Buffers of the current talk spurt, written into every audio message; 0 ends a spurt.
extern uint32_t g_nSpurtCounter;
// Playback of the peer's current talk spurt has begun.
extern uint8_t g_bPlaybackStarted;

class CAudioService : public CChannel, public CWaveInDevice {
public:
    static constexpr int kAbrBitRate = 9000;
    // Pending buffers' worth of sound that start the playback of a talk spurt.
    static constexpr uint32_t kStartBuffers = 3;
    // Ten seconds of sound. A spurt that never starts is played once this much waits, and sound beyond
    // this much already queued for playing is dropped: a peer sending faster than real time must not
    // grow memory without end.
    static constexpr size_t kMaxPendingBytes = 160000;
    static constexpr size_t kMaxQueuedBytes = 160000;

    CAudioService();
    ~CAudioService() override;

    // The window told of silence and reception; null at the end of a call.
    void SetNotifyWindow(HWND hWnd) { m_hWndNotify = hWnd; }
    void SetNotifyWindow(std::nullptr_t) { m_hWndNotify = nullptr; }
    HWND GetNotifyWindow() const { return m_hWndNotify; }
    // Opens playback, then capture, each by its name or else by the first name of its list. True when
    // capture opened (playback at least must have).
    bool Open(const char* inputName, const char* outputName);
    // Closes capture, then playback.
    bool Close() override;
    void SetMuted(bool bMuted) { m_bMuted = bMuted ? 1 : 0; }
    // Forgets what an earlier call left behind: both rings, the sound waiting to be played, the talk-spurt
    // state of both directions, the packet counts and the background the conditioner learnt. Called
    // before the channel joins a new call.
    void ResetCall();
    bool IsMuted() const { return m_bMuted != 0; }

    // The send pipeline for one captured buffer (on the window's thread).
    bool OnData(void* pData, uint32_t nBytes) override;
    // Takes, decodes and plays what the channel received (on the user-interface thread).
    void Receive();

    CWaveOutDevice& Player() { return m_Player; }
    CWaveMessageWindow& MessageWindow() { return m_Window; }
    bool IsSilentState() const { return m_bSilent != 0; }
    size_t PendingBytes() const { return m_Pending.Size(); }
    // Audio messages queued for sending and taken from the channel since the last ResetCall.
    uint32_t SentPackets() const { return m_nSentPackets; }
    // Packets dropped because the send ring was full (a stalled link): sound is never waited for.
    uint32_t DroppedPackets() const { return m_nDroppedPackets; }
    uint32_t ReceivedPackets() const { return m_nReceivedPackets; }

private:
    // The devices' completion window is the service's own "wnd.message".
    using CWaveInDevice::SetNotifyWindow;
    // One detector's verdict; false when the buffer is to be dropped.
    bool Decide(bool bSilent, uint16_t nPeakToPeak);
    void Send(const int16_t* samples, uint32_t nBytes);
    void Flush();
    void Post(UINT message, WPARAM wParam, LPARAM lParam);

    uint8_t m_bMuted = 1;
    uint8_t m_bSilent = 1;
    uint8_t m_bReceiving = 0;
    CWaveMessageWindow m_Window;
    HWND m_hWndNotify = nullptr;
    CSpeexCodec m_Codec;
    CByteBuffer m_PcmIn;
    CByteBuffer m_Encoded;
    std::vector<int16_t> m_Work;  // the captured buffer as aligned samples
    CWaveOutDevice m_Player;
    CByteBuffer m_Pending;
    CByteBuffer m_DecodeIn;
    CByteBuffer m_DecodeOut;
    uint32_t m_nSentPackets = 0;
    uint32_t m_nDroppedPackets = 0;
    uint32_t m_nReceivedPackets = 0;
};
