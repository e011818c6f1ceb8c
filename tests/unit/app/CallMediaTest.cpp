// The session's media as a call starts and ends them: a real audio service on virtual devices, a real
// text channel and a transport that is not connected (registration alone is what matters here).
#include <gtest/gtest.h>

#include <cmath>

#include "app/CallMedia.h"
#include "audio/AudioConditioner.h"
#include "audio/AudioService.h"
#include "audio/SpeexCodec.h"
#include "audio/VirtualWave.h"
#include "net/ChannelText.h"
#include "net/ServiceTCP.h"

namespace {

class CallMediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Virtual = std::make_shared<CVirtualWaveBackend>();
        m_Virtual->AddSilenceCapture("Mic", EWavePacing::Fast);
        m_Virtual->AddWavFilePlayback("Speaker", "", EWavePacing::Fast);
        SetWaveBackends({m_Virtual});
        CAudioConditioner::Release();
        g_nSpurtCounter = 0;
        g_bPlaybackStarted = 0;
    }
    void TearDown() override {
        m_Media.End();
        SetWaveBackends({});
    }

    // One encoded 100 ms buffer of a talk spurt that has not reached its start: it stays pending.
    Bytes PendingPacket() {
        CSpeexCodec codec;
        codec.OpenEncoder(CAudioService::kAbrBitRate);
        CByteBuffer pcm, out;
        std::vector<int16_t> tone(800);
        for (size_t i = 0; i < tone.size(); ++i)
            tone[i] = static_cast<int16_t>(8000 * std::sin(i * 0.3));
        pcm.Append(tone.data(), tone.size() * 2);
        const int n = codec.Encode(pcm, out);
        EXPECT_GT(n, 0);
        return BuildAudio(1, out.Data(), static_cast<uint32_t>(n), 1600);
    }

    std::shared_ptr<CVirtualWaveBackend> m_Virtual;
    CServiceTCP m_Service;
    CAudioService m_Audio;
    CChannelText m_Text;
    CCallMedia m_Media{m_Service, m_Audio, m_Text};
    CFunctionTarget m_Window{nullptr};
};

TEST_F(CallMediaTest, StartOpensSoundAndRegistersTheChannelsEndUndoesIt) {
    m_Media.Start(m_Window.GetSafeHwnd(), "Mic", "Speaker", 1500);
    EXPECT_TRUE(m_Audio.CWaveInDevice::IsOpen());
    EXPECT_TRUE(m_Audio.Player().IsOpen());
    EXPECT_EQ(m_Audio.GetNotifyWindow(), m_Window.GetSafeHwnd());
    EXPECT_EQ(m_Audio.GetSilenceThreshold(), 1500u);
    EXPECT_FALSE(m_Audio.IsMuted());
    EXPECT_EQ(m_Service.GetChannelIds(), (std::vector<uint8_t>{kChannelAudio, kChannelText}));

    m_Media.SetSilenceThreshold(900);
    EXPECT_EQ(m_Audio.GetSilenceThreshold(), 900u);

    m_Media.End();
    EXPECT_TRUE(m_Service.GetChannelIds().empty());
    EXPECT_FALSE(m_Audio.CWaveInDevice::IsOpen());
    EXPECT_FALSE(m_Audio.Player().IsOpen());
    EXPECT_EQ(m_Audio.GetNotifyWindow(), nullptr);
}

TEST_F(CallMediaTest, UnknownDeviceNamesFallBackToTheFirstDevices) {
    m_Media.Start(m_Window.GetSafeHwnd(), "", "Gone", 100);
    EXPECT_EQ(m_Audio.CWaveInDevice::GetName(), "Mic");
    EXPECT_TRUE(m_Audio.Player().IsOpen());
}

TEST_F(CallMediaTest, NothingOfTheLastCallReachesTheNext) {
    m_Media.Start(m_Window.GetSafeHwnd(), "Mic", "Speaker", 100);
    const Bytes packet = PendingPacket();
    ASSERT_TRUE(m_Audio.PushReceived(0, packet.data(), packet.size()));
    m_Audio.Receive();
    ASSERT_GT(m_Audio.PendingBytes(), 0u);
    m_Media.End();

    // What arrived after the end, or was never taken, is as stale as the pending sound.
    const Bytes line = BuildText("from the last call");
    ASSERT_TRUE(m_Text.PushReceived(0, line.data(), line.size()));
    ASSERT_TRUE(m_Audio.PushReceived(0, packet.data(), packet.size()));
    ASSERT_TRUE(m_Text.SendText("unsent"));
    g_nSpurtCounter = 5;
    g_bPlaybackStarted = 1;

    m_Media.Start(m_Window.GetSafeHwnd(), "Mic", "Speaker", 100);
    EXPECT_EQ(m_Audio.PendingBytes(), 0u);
    EXPECT_EQ(m_Audio.ReceivedCount(), 0);
    EXPECT_EQ(m_Text.ReceivedCount(), 0);
    EXPECT_EQ(m_Text.SendCount(), 0);
    EXPECT_EQ(g_nSpurtCounter, 0u);
    EXPECT_EQ(g_bPlaybackStarted, 0);
    EXPECT_EQ(m_Audio.ReceivedPackets(), 0u);
    std::string text;
    EXPECT_FALSE(m_Media.ReceiveText(text));
}

TEST_F(CallMediaTest, ChatLinesGoOutAndComeInOnTheTextChannel) {
    m_Media.Start(m_Window.GetSafeHwnd(), "Mic", "Speaker", 100);
    EXPECT_TRUE(m_Media.SendText("hola"));
    uint32_t tag = 9;
    CByteBuffer sent;
    ASSERT_TRUE(m_Text.PopSend(tag, sent));
    EXPECT_EQ(Bytes(sent.Data(), sent.Data() + sent.Size()), BuildText("hola"));

    const Bytes line = BuildText("adiós");
    m_Text.PushReceived(0, line.data(), line.size());
    std::string text;
    ASSERT_TRUE(m_Media.ReceiveText(text));
    EXPECT_EQ(text, "adiós");
    EXPECT_FALSE(m_Media.ReceiveText(text));
}

}  // namespace
