#include "audio/AudioService.h"

#include <cstring>

#include "audio/AudioConditioner.h"
#include "net/Protocol.h"
#include "platform/Trace.h"

uint32_t g_nSpurtCounter = 0;
uint8_t g_bPlaybackStarted = 0;

namespace {

// Each message taken from the channel (used on the user-interface thread only).
CByteBuffer g_Received;

}  // namespace

CAudioService::CAudioService() : CChannel(kChannelAudio, true) {
    m_Codec.OpenEncoder(kAbrBitRate);
    m_Codec.OpenDecoder();
}

CAudioService::~CAudioService() {
    Close();
    // The window goes before the devices' bases: it must not reach back into them.
    CWaveInDevice::SetNotifyWindow(nullptr);
    m_Player.SetNotifyWindow(nullptr);
}

void CAudioService::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_hWndNotify != nullptr)
        PostMessage(m_hWndNotify, message, wParam, lParam);
}

bool CAudioService::Open(const char* inputName, const char* outputName) {
    if (m_Window.GetSafeHwnd() == nullptr && !m_Window.Create())
        return false;
    // No device of a kind means no fallback, rather than a name that does not exist.
    const auto& inputs = CWaveInDevice::GetDeviceNames();
    const auto& outputs = CWaveOutDevice::GetDeviceNames();
    const std::string firstInput = inputs.empty() ? std::string() : inputs.front();
    const std::string firstOutput = outputs.empty() ? std::string() : outputs.front();
    const bool haveInput = !inputs.empty();
    const bool haveOutput = !outputs.empty();

    m_bSilent = 1;
    CWaveInDevice::SetNotifyWindow(&m_Window);
    m_Player.SetNotifyWindow(&m_Window);
    m_Window.SetCapture(this);

    const bool played = (outputName != nullptr && m_Player.Open(outputName)) ||
                        (haveOutput && m_Player.Open(firstOutput.c_str()));
    if (played) {
        if ((inputName != nullptr && CWaveInDevice::Open(inputName)) ||
            (haveInput && CWaveInDevice::Open(firstInput.c_str()))) {
            return true;
        }
    }
    Close();
    return false;
}

void CAudioService::ResetCall() {
    CChannel::Reset();
    m_Pending.SetSize(0);
    m_bReceiving = 0;
    m_bSilent = 1;
    g_nSpurtCounter = 0;
    g_bPlaybackStarted = 0;
    m_nSentPackets = 0;
    m_nDroppedPackets = 0;
    m_nReceivedPackets = 0;
    // Made at the first processed buffer: until then there is nothing to forget.
    if (CAudioConditioner::Exists())
        CAudioConditioner::Instance().ResetPreprocessor();
}

bool CAudioService::Close() {
    CWaveInDevice::Close();
    m_Player.Close();
    return true;
}

bool CAudioService::Decide(bool bSilent, uint16_t nPeakToPeak) {
    if (bSilent) {
        if (m_bSilent == 0) {
            m_bSilent = 1;
            Post(WM_AUDIO_SILENCE, 1, 0);
        }
        if (g_nSpurtCounter == 0)
            return false;
        g_nSpurtCounter = 0;  // this buffer ends the spurt
        return true;
    }
    if (m_bSilent == 1) {
        m_bSilent = 0;
        Post(WM_AUDIO_SILENCE, 0, static_cast<LPARAM>(nPeakToPeak));
    }
    ++g_nSpurtCounter;
    return true;
}

bool CAudioService::OnData(void* pData, uint32_t nBytes) {
    if (m_bMuted || pData == nullptr)
        return true;
    auto& conditioner = CAudioConditioner::Instance();
    const size_t count = nBytes / 2;
    m_Work.resize(count);
    std::memcpy(m_Work.data(), pData, count * sizeof(int16_t));

    conditioner.Condition(m_Work.data(), count);
    const bool speech = conditioner.DetectSpeech(m_Work.data(), count);
    if (!Decide(!speech, 0))
        return true;

    uint16_t peak = 0;
    const bool silent = IsSilent(m_Work.data(), static_cast<uint32_t>(count * 2), &peak);
    if (!Decide(silent, peak))
        return true;

    Send(m_Work.data(), nBytes);
    return true;
}

void CAudioService::Send(const int16_t* samples, uint32_t nBytes) {
    m_PcmIn.SetSize(0);
    m_PcmIn.Append(samples, (nBytes / 2) * 2);
    const int n = m_Codec.Encode(m_PcmIn, m_Encoded);
    if (n < 0)
        return;  // no encoder: the buffer is dropped
    const Bytes packet = BuildAudio(g_nSpurtCounter, m_Encoded.Data(), static_cast<uint32_t>(n), nBytes);
    // This runs on the user-interface thread, which never waits for the link: late sound is worth
    // nothing anyway.
    if (!PushSend(0, packet.data(), packet.size())) {
        if (m_nDroppedPackets++ % 50 == 0)
            Trace("%s:%d | canal de audio lleno, se descartan paquetes (%u)\n", "AudioService", __LINE__,
                  m_nDroppedPackets);
        return;
    }
    ++m_nSentPackets;
}

void CAudioService::Receive() {
    const int n = ReceivedCount();
    if (n < 1)
        return;
    // Sound that reached the bound without a start is played before more is taken (see below).
    if (m_Pending.Size() >= kMaxPendingBytes)
        Flush();
    bool taken = false;
    bool parsed = false;
    SAudioFrame last;
    for (int i = 0; i < n; ++i) {
        // Enough waits: what else came stays on the channel for the next notification.
        if (m_Pending.Size() >= kMaxPendingBytes)
            break;
        uint32_t tag = 0;
        if (!PopReceived(tag, g_Received))
            break;
        taken = true;
        ++m_nReceivedPackets;
        SAudioFrame frame;
        if (!ParseAudio(g_Received.Data(), g_Received.Size(), frame))
            break;  // shorter than a header: end the batch
        last = frame;
        parsed = true;
        m_DecodeIn.Reserve(frame.encodedLength);
        m_DecodeIn.SetSize(0);
        m_DecodeIn.Append(frame.encoded, frame.encodedLength);
        const int b = m_Codec.Decode(m_DecodeIn, m_DecodeOut, kMaxPendingBytes - m_Pending.Size());
        if (b <= 0)
            break;
        m_Pending.Append(m_DecodeOut.Data(), static_cast<size_t>(b));
    }
    if (!taken || !parsed)
        return;
    // The start-up rule, with the last record taken (also when its decoding failed).
    const size_t k = last.rawLength == 0 ? 0 : m_Pending.Size() / last.rawLength;
    if (last.counter == 0) {
        g_bPlaybackStarted = 0;
        Flush();
    } else if (k >= kStartBuffers || g_bPlaybackStarted == 1 || m_Pending.Size() >= kMaxPendingBytes) {
        Flush();
        g_bPlaybackStarted = 1;
    }
}

void CAudioService::Flush() {
    if (m_Pending.Size() > 0) {
        if (m_Window.OutstandingBytes() + m_Pending.Size() <= kMaxQueuedBytes) {
            m_Player.Write(m_Pending.Data(), static_cast<uint32_t>(m_Pending.Size()));
        } else {
            Trace("%s:%d | demasiado sonido en cola, se descarta un bloque\n", "AudioService", __LINE__);
        }
        m_Pending.SetSize(0);
        if (m_bReceiving == 0) {
            m_bReceiving = 1;
            Post(WM_AUDIO_RECEIVED, 1, 0);
        }
    } else if (m_bReceiving == 1) {
        m_bReceiving = 0;
        Post(WM_AUDIO_RECEIVED, 0, 0);
    }
}
