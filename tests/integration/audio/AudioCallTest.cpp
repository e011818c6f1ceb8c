// A call's sound end to end: speech from a WAV file goes through one audio service's send pipeline, over
// a connected transport pair on loopback, into a second service's reception and out to a WAV file.
#include <gtest/gtest.h>

#include "audio/AudioConditioner.h"
#include "audio/AudioService.h"
#include "audio/VirtualWave.h"
#include "audio/WavFile.h"
#include "net/ServiceTCP.h"
#include "net/SocketThreadConnectTCP.h"
#include "support/Process.h"
#include "support/SoundCompare.h"
#include "support/Speech.h"

namespace {

bool MakeConnectedPair(CSocketTCP& client, CSocketTCP& server, const std::string& address) {
    CSocketTCP listener;
    if (!listener.Create() || !listener.Bind(0, address) || !listener.Listen(1))
        return false;
    const bool ok = CreateConnectionSocket(client) && client.Connect(address, listener.GetLocalPort()) &&
                    listener.Accept(server);
    listener.Close();
    return ok;
}

class AudioCall : public ::testing::Test {
protected:
    void SetUp() override {
        m_Virtual = std::make_shared<CVirtualWaveBackend>();
        SetWaveBackends({m_Virtual});
        CAudioConditioner::Release();
        g_nSpurtCounter = 0;
        g_bPlaybackStarted = 0;
        CSocketTCP a, b;
        ASSERT_TRUE(MakeConnectedPair(a, b, m_strAddress));
        ASSERT_TRUE(m_SenderLink.Open(m_SenderWindow.GetSafeHwnd(), a));
        ASSERT_TRUE(m_ReceiverLink.Open(m_ReceiverWindow.GetSafeHwnd(), b));
    }
    void TearDown() override {
        m_SenderLink.RemoveChannel(&m_Sender);
        m_ReceiverLink.RemoveChannel(&m_Receiver);
        m_Sender.Close();
        m_Receiver.Close();
        m_SenderLink.Stop();
        m_ReceiverLink.Stop();
        SetWaveBackends({});
    }

    // The call control's order on both sides, then capture starts at the sender.
    void StartCall() {
        m_Sender.SetNotifyWindow(m_SenderWindow.GetSafeHwnd());
        ASSERT_TRUE(m_Sender.Open("Microphone", "Nowhere"));
        m_Sender.SetSilenceThreshold(500);
        m_Sender.SetMuted(false);
        m_Receiver.SetNotifyWindow(m_ReceiverWindow.GetSafeHwnd());
        ASSERT_TRUE(m_Receiver.Open("Quiet", "Speaker"));
        m_SenderLink.AddChannel(&m_Sender);
        m_ReceiverLink.AddChannel(&m_Receiver);
        ASSERT_TRUE(m_Sender.Start());
    }

    const std::string m_strAddress = "127.0.0.41";
    vp::test::CTempDir m_Dir{"vp-call"};
    std::shared_ptr<CVirtualWaveBackend> m_Virtual;
    int m_nAudioFrames = 0;
    int m_nSilenceChanges = 0;
    CAudioService m_Sender;
    CAudioService m_Receiver;
    CFunctionTarget m_SenderWindow{[this](UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_AUDIO_SILENCE)
            ++m_nSilenceChanges;
        return 0;
    }};
    CFunctionTarget m_ReceiverWindow{[this](UINT m, WPARAM w, LPARAM) -> LRESULT {
        if (m == WM_TRANSPORT_RECV && w == 2) {
            ++m_nAudioFrames;
            m_Receiver.Receive();
        }
        return 0;
    }};
    CServiceTCP m_SenderLink;
    CServiceTCP m_ReceiverLink;
};

TEST_F(AudioCall, SilenceSendsNoPackets) {
    m_Virtual->AddSilenceCapture("Microphone", EWavePacing::Fast);
    m_Virtual->AddSilenceCapture("Quiet", EWavePacing::Fast);
    m_Virtual->AddWavFilePlayback("Nowhere", "", EWavePacing::Fast);
    m_Virtual->AddWavFilePlayback("Speaker", m_Dir.File("heard.wav"), EWavePacing::Fast);
    StartCall();
    // A second of silence as fast as the pipeline takes it: many buffers, no packet.
    PumpMessagesUntil([] { return false; }, 1000);
    EXPECT_TRUE(CAudioConditioner::Exists());  // the buffers did go through the pipeline
    EXPECT_EQ(m_nAudioFrames, 0);
    EXPECT_EQ(m_nSilenceChanges, 0);
    EXPECT_EQ(g_nSpurtCounter, 0u);
}

TEST_F(AudioCall, SpeechArrivesRecognisably) {
    const std::string speech = m_Dir.File("speech.wav");
    ASSERT_TRUE(vp::test::MakeSpeechWav("please call me back tomorrow", speech, 0.6, 0.8));
    m_Virtual->AddWavFileCapture("Microphone", speech, EWavePacing::RealTime);
    m_Virtual->AddSilenceCapture("Quiet", EWavePacing::RealTime);
    m_Virtual->AddWavFilePlayback("Nowhere", "", EWavePacing::RealTime);
    m_Virtual->AddWavFilePlayback("Speaker", m_Dir.File("heard.wav"), EWavePacing::RealTime);
    SWavFormat format;
    std::vector<int16_t> sent;
    ASSERT_TRUE(ReadWavFile(speech, format, sent));

    StartCall();
    const auto start = std::chrono::steady_clock::now();
    const auto length = std::chrono::milliseconds(sent.size() / 8 + 600);
    PumpMessagesUntil([&] { return std::chrono::steady_clock::now() - start > length; }, 30000);
    m_Sender.Close();
    PumpMessagesUntil([&] { return m_Receiver.MessageWindow().OutstandingHeaders() == 0; }, 5000);
    m_Receiver.Close();

    std::vector<int16_t> heard;
    ASSERT_TRUE(ReadWavFile(m_Dir.File("heard.wav"), format, heard));
    // Leading silence was not sent: fewer packets than buffers of sound.
    EXPECT_GT(m_nAudioFrames, 5);
    EXPECT_LT(static_cast<size_t>(m_nAudioFrames), sent.size() / 800 - 4);
    // The measure: envelopes (RMS of 20 ms windows) correlate above 0.8 once aligned, pauses that a busy
    // machine adds to the playback aside.
    EXPECT_GT(vp::test::GapTolerantCorrelation(vp::test::Envelope(sent), vp::test::Envelope(heard)), 0.8);
}

}  // namespace
