// The audio service's two halves without a transport: the send pipeline's detectors, counter and packets
// (read back from the channel's send ring), and reception's start-up rule (fed through the receive ring).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "audio/AudioConditioner.h"
#include "audio/AudioService.h"
#include "audio/VirtualWave.h"
#include "audio/WavFile.h"
#include "net/Protocol.h"
#include "support/Process.h"

namespace {

struct SPosted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Vowel-like sound: a 150 Hz pulse train through a few formant-ish harmonics, at a given peak.
std::vector<int16_t> Voice(size_t count, double peak, size_t offset = 0) {
    std::vector<double> v(count);
    double top = 0;
    for (size_t i = 0; i < count; ++i) {
        const double t = double(i + offset) / 8000;
        double s = 0;
        for (int h = 1; h <= 20; ++h) {
            const double f = 150.0 * h;
            const double gain =
                1.0 / h *
                (1 + 2 * std::exp(-std::pow((f - 700) / 200, 2)) + std::exp(-std::pow((f - 1200) / 250, 2)));
            s += gain * std::sin(2 * std::numbers::pi * f * t);
        }
        v[i] = s;
    }
    for (size_t i = 0; i < 4000 && i < count; ++i)
        top = std::max(top, std::fabs(v[i]));
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<int16_t>(std::clamp(v[i] / top * peak, -32767.0, 32767.0));
    return out;
}

class AudioServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Virtual = std::make_shared<CVirtualWaveBackend>();
        m_Virtual->AddSilenceCapture("Mic", EWavePacing::Fast);
        m_Virtual->AddWavFilePlayback("Speaker", m_Dir.File("played.wav"), EWavePacing::Fast);
        SetWaveBackends({m_Virtual});
        // Process-wide sender and receiver state starts afresh for each test.
        CAudioConditioner::Release();
        g_nSpurtCounter = 0;
        g_bPlaybackStarted = 0;
        m_Service = std::make_unique<CAudioService>();
        m_Service->SetNotifyWindow(m_Recorder.GetSafeHwnd());
        ASSERT_TRUE(m_Service->Open("Mic", "Speaker"));
    }
    void TearDown() override {
        m_Service.reset();
        SetWaveBackends({});
    }

    // Feeds one buffer through the send pipeline; returns the packets it queued.
    std::vector<SAudioFrame> Feed(std::vector<int16_t> samples) {
        m_Service->OnData(samples.data(), static_cast<uint32_t>(samples.size() * 2));
        std::vector<SAudioFrame> frames;
        uint32_t tag = 1;
        while (m_Service->SendCount() > 0) {
            m_Packets.emplace_back();
            EXPECT_TRUE(m_Service->PopSend(tag, m_Packets.back()));
            EXPECT_EQ(tag, 0u);
            SAudioFrame f;
            EXPECT_TRUE(ParseAudio(m_Packets.back().Data(), m_Packets.back().Size(), f));
            frames.push_back(f);
        }
        return frames;
    }
    std::vector<SPosted> TakePosted() {
        DispatchPendingMessages();
        std::vector<SPosted> p;
        p.swap(m_Posted);
        return p;
    }
    // Silence first, so the voice detector has learnt the background.
    void Settle() {
        for (int i = 0; i < 10; ++i)
            EXPECT_TRUE(Feed(std::vector<int16_t>(800, 0)).empty());
        TakePosted();
    }

    vp::test::CTempDir m_Dir{"vp-audio"};
    std::shared_ptr<CVirtualWaveBackend> m_Virtual;
    std::vector<SPosted> m_Posted;
    CFunctionTarget m_Recorder{[this](UINT m, WPARAM w, LPARAM l) -> LRESULT {
        m_Posted.push_back({m, w, l});
        return 0;
    }};
    std::unique_ptr<CAudioService> m_Service;
    std::deque<CByteBuffer> m_Packets;
};

TEST_F(AudioServiceTest, SilenceIsDroppedAndPostsNothingAtTheStartOfACall) {
    m_Service->SetMuted(false);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(Feed(std::vector<int16_t>(800, 0)).empty());
    EXPECT_TRUE(TakePosted().empty());
    EXPECT_EQ(g_nSpurtCounter, 0u);
    EXPECT_TRUE(m_Service->IsSilentState());
}

TEST_F(AudioServiceTest, MutedBuffersProduceNothing) {
    ASSERT_TRUE(m_Service->IsMuted());  // as constructed
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(Feed(Voice(800, 20000, size_t(i) * 800)).empty());
    EXPECT_TRUE(TakePosted().empty());
    EXPECT_FALSE(CAudioConditioner::Exists());  // nothing was processed at all
}

TEST_F(AudioServiceTest, ALoudSpurtIsSentWithARisingCounterAndEndsWithZero) {
    m_Service->SetMuted(false);
    m_Service->SetSilenceThreshold(2500);
    Settle();
    // The first loud buffer: (0, 0) after the first detector, then a packet with counter 2.
    auto sent = Feed(Voice(800, 20000));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].counter, 2u);
    EXPECT_EQ(sent[0].rawLength, 1600u);
    auto posted = TakePosted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_AUDIO_SILENCE);
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, 0);

    sent = Feed(Voice(800, 20000, 800));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].counter, 4u);
    EXPECT_TRUE(TakePosted().empty());  // no change, no message

    // Silence after the spurt: the tail of the sound (the denoiser's overlap, the voice detector's
    // hangover) still goes out for a few buffers; the last packet carries counter 0, then nothing is sent.
    std::vector<uint32_t> counters;
    int lastPacket = -1;
    for (int i = 0; i < 30; ++i) {
        for (const auto& f : Feed(std::vector<int16_t>(800, 0))) {
            counters.push_back(f.counter);
            lastPacket = i;
        }
    }
    ASSERT_FALSE(counters.empty());
    EXPECT_EQ(counters.back(), 0u);
    EXPECT_LT(lastPacket, 20);
    EXPECT_EQ(g_nSpurtCounter, 0u);
    EXPECT_TRUE(m_Service->IsSilentState());
    posted = TakePosted();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back().wParam, 1u);
}

TEST_F(AudioServiceTest, APacketHoldsFiveLengthPrefixedFramesOfItsBuffer) {
    m_Service->SetMuted(false);
    Settle();
    auto sent = Feed(Voice(800, 20000));
    ASSERT_EQ(sent.size(), 1u);
    const auto& packet = m_Packets.back();
    EXPECT_EQ(packet.Size(), 12 + sent[0].encodedLength);
    // Header bytes: counter, encoded length, raw length, little-endian.
    const uint8_t* p = packet.Data();
    EXPECT_EQ(p[0], 2);
    EXPECT_EQ(p[4] | (p[5] << 8), static_cast<int>(sent[0].encodedLength));
    EXPECT_EQ(p[8], 0x40);
    EXPECT_EQ(p[9], 0x06);  // 1600
    size_t pos = 0;
    int frames = 0;
    while (pos < sent[0].encodedLength) {
        pos += 1 + sent[0].encoded[pos];
        ++frames;
    }
    EXPECT_EQ(pos, sent[0].encodedLength);
    EXPECT_EQ(frames, 5);
}

TEST_F(AudioServiceTest, QuietSpeechIsSentWithCounterZeroAndTheIndicatorAlternates) {
    m_Service->SetMuted(false);
    m_Service->SetSilenceThreshold(32000);  // the top of the slider: this voice stays below it
    Settle();
    for (int i = 0; i < 4; ++i) {
        auto sent = Feed(Voice(800, 12000, size_t(i) * 800));
        ASSERT_EQ(sent.size(), 1u) << i;
        EXPECT_EQ(sent[0].counter, 0u);
        auto posted = TakePosted();
        ASSERT_EQ(posted.size(), 2u) << i;
        EXPECT_EQ(posted[0].wParam, 0u);  // sound after the voice detector
        EXPECT_EQ(posted[1].wParam, 1u);  // silence after the amplitude detector
    }
}

TEST_F(AudioServiceTest, AShortBufferIsPaddedAndAFullRingGivesUpInsteadOfHanging) {
    m_Service->SetMuted(false);
    Settle();
    // 250 samples: one frame and a padded one, read from an exact-size allocation.
    auto sent = Feed(Voice(250, 20000));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].rawLength, 500u);
    // Nobody drains the send ring: 32 packets fit, the next are given up after the bounded wait.
    std::vector<int16_t> voice = Voice(800, 20000);
    for (int i = 0; i < CChannel::kSlots + 2; ++i)
        m_Service->OnData(voice.data(), 1600);
    EXPECT_EQ(m_Service->SendCount(), CChannel::kSlots);
}

// A steady tone, as a tone device gives it from its opening: the denoiser comes to take it for the
// background within two seconds, and only the spurt it started keeps it going out. What it learnt in one
// call must not keep the next from starting.
TEST_F(AudioServiceTest, EveryCallStartsItsSpurtAsTheFirstDidWhatTheDenoiserLearntIsForgotten) {
    auto tone = [](size_t offset) {
        std::vector<int16_t> s(800);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<int16_t>(
                std::lround(9830 * std::sin(2 * std::numbers::pi * 440 * double(offset + i) / 8000)));
        return s;
    };
    m_Service->SetMuted(false);
    m_Service->SetSilenceThreshold(2500);
    // A long first call: the tone flows throughout, also once the voice detector calls it noise.
    for (size_t i = 0; i < 40; ++i)
        ASSERT_EQ(Feed(tone(i * 800)).size(), 1u) << i;
    EXPECT_EQ(m_Service->SentPackets(), 40u);
    for (int call = 2; call <= 4; ++call) {
        m_Service->Close();
        m_Service->ResetCall();
        ASSERT_TRUE(m_Service->Open("Mic", "Speaker"));
        auto sent = Feed(tone(0));
        ASSERT_EQ(sent.size(), 1u) << "call " << call;
        EXPECT_EQ(sent[0].counter, 2u);  // a new spurt, as in the first call
        for (size_t i = 1; i < 10; ++i)
            Feed(tone(i * 800));
        EXPECT_EQ(m_Service->SentPackets(), 10u) << "call " << call;
    }
}

// ---- reception ------------------------------------------------------------------------------------

class AudioReceiveTest : public AudioServiceTest {
protected:
    void SetUp() override {
        AudioServiceTest::SetUp();
        ASSERT_TRUE(m_Encoder.OpenEncoder(CAudioService::kAbrBitRate));
    }
    // A packet of one 100 ms buffer, made by a real encoder.
    Bytes Packet(uint32_t counter) {
        CByteBuffer pcm, encoded;
        auto voice = Voice(800, 15000, m_nOffset);
        m_nOffset += 800;
        pcm.SetSize(0);
        pcm.Append(voice.data(), 1600);
        const int n = m_Encoder.Encode(pcm, encoded);
        return BuildAudio(counter, encoded.Data(), static_cast<uint32_t>(n), 1600);
    }
    void Arrive(const Bytes& packet) {
        ASSERT_TRUE(m_Service->PushReceived(0, packet.data(), packet.size()));
    }
    // Blocks written to the player since the last dispatch of completions.
    size_t Written() { return m_Service->MessageWindow().OutstandingHeaders(); }
    size_t PlayedSamples() {
        PumpMessagesUntil([&] { return Written() == 0; }, 5000);
        SWavFormat f;
        std::vector<int16_t> s;
        ReadWavFile(m_Dir.File("played.wav"), f, s);
        return s.size();
    }
    std::vector<WPARAM> Received() {
        std::vector<WPARAM> w;
        for (const auto& p : TakePosted()) {
            if (p.message == WM_AUDIO_RECEIVED)
                w.push_back(p.wParam);
        }
        return w;
    }

    CSpeexCodec m_Encoder;
    size_t m_nOffset = 0;
};

TEST_F(AudioReceiveTest, PlaybackStartsWithTheThirdPacketInOneBlock) {
    Arrive(Packet(2));
    m_Service->Receive();
    EXPECT_EQ(m_Service->PendingBytes(), 1600u);
    EXPECT_EQ(Written(), 0u);
    Arrive(Packet(4));
    m_Service->Receive();
    EXPECT_EQ(Written(), 0u);
    Arrive(Packet(6));
    m_Service->Receive();
    EXPECT_EQ(Written(), 1u);  // 4800 bytes in one block
    EXPECT_EQ(m_Service->PendingBytes(), 0u);
    EXPECT_EQ(g_bPlaybackStarted, 1);
    EXPECT_EQ(PlayedSamples(), 2400u);
    EXPECT_EQ(Received(), (std::vector<WPARAM>{1}));

    // Once started, a single packet is written on arrival.
    Arrive(Packet(8));
    m_Service->Receive();
    EXPECT_EQ(Written(), 1u);
    EXPECT_EQ(PlayedSamples(), 3200u);
}

TEST_F(AudioReceiveTest, TheEndOfASpurtFlushesWhatIsPending) {
    Arrive(Packet(2));
    m_Service->Receive();
    Arrive(Packet(4));
    m_Service->Receive();
    Arrive(Packet(0));
    m_Service->Receive();
    EXPECT_EQ(Written(), 1u);
    EXPECT_EQ(g_bPlaybackStarted, 0);
    EXPECT_EQ(PlayedSamples(), 2400u);
    // A flush with nothing pending turns the indicator off.
    Arrive(BuildAudio(0, nullptr, 0, 1600));
    m_Service->Receive();
    EXPECT_EQ(Received(), (std::vector<WPARAM>{1, 0}));
}

TEST_F(AudioReceiveTest, PacketsOfOneBatchAreDecodedInOrderAndWrittenTogether) {
    Arrive(Packet(2));
    Arrive(Packet(4));
    Arrive(Packet(6));
    m_Service->Receive();
    EXPECT_EQ(Written(), 1u);
    EXPECT_EQ(m_Service->ReceivedCount(), 0);
    // The decoded sound follows the encoded voice: compare with a decoder fed the same packets.
    EXPECT_EQ(PlayedSamples(), 2400u);
}

TEST_F(AudioReceiveTest, AFailedDecodeEndsTheBatchButStillAppliesTheRule) {
    Arrive(Packet(2));
    m_Service->Receive();
    Arrive(Packet(4));
    m_Service->Receive();
    EXPECT_EQ(m_Service->PendingBytes(), 3200u);
    // A packet whose only frame runs past its end decodes to nothing; its counter 0 still flushes.
    const uint8_t broken[] = {50, 1, 2, 3};
    Arrive(BuildAudio(0, broken, sizeof broken, 1600));
    Arrive(Packet(2));  // waits for the next notification
    m_Service->Receive();
    EXPECT_EQ(Written(), 1u);
    EXPECT_EQ(PlayedSamples(), 1600u);
    EXPECT_EQ(m_Service->ReceivedCount(), 1);
    m_Service->Receive();
    EXPECT_EQ(m_Service->PendingBytes(), 1600u);
}

TEST_F(AudioReceiveTest, AnEncodedLengthIsTrustedOnlyAsFarAsTheRecordReaches) {
    Arrive(Packet(2));
    m_Service->Receive();
    // A record claiming far more than it carries: its whole frames are decoded, and its counter 0 still
    // ends the spurt.
    Bytes whole = Packet(0);
    whole[4] = 0xFF;
    whole[5] = 0xFF;
    const size_t firstFrame = 12 + 1 + whole[12];
    Arrive(Bytes(whole.begin(), whole.begin() + static_cast<long>(firstFrame) + 2));
    m_Service->Receive();
    EXPECT_EQ(Written(), 1u);
    EXPECT_EQ(PlayedSamples(), 800u + 160u);
    EXPECT_EQ(g_bPlaybackStarted, 0);
}

TEST_F(AudioReceiveTest, ARawLengthOfZeroNeverStartsByCountAndGarbageIsHarmless) {
    for (int i = 0; i < 5; ++i) {
        Bytes p = Packet(2);
        p[8] = p[9] = p[10] = p[11] = 0;
        Arrive(p);
        m_Service->Receive();
    }
    EXPECT_EQ(Written(), 0u);
    EXPECT_EQ(m_Service->PendingBytes(), 8000u);
    // Records too short for a header, or claiming more than they hold, are taken and ignored.
    const uint8_t tiny[] = {1, 2, 3};
    Arrive(Bytes(tiny, tiny + 3));
    Bytes longer = BuildAudio(2, tiny, 3, 1600);
    longer[4] = 200;
    Arrive(longer);
    m_Service->Receive();
    m_Service->Receive();
    EXPECT_EQ(m_Service->ReceivedCount(), 0);
}

TEST_F(AudioReceiveTest, APeerFloodingSoundCannotGrowMemoryWithoutEnd) {
    // One-byte frames (each 320 bytes of sound) in records that never start playback by count.
    std::vector<uint8_t> frames;
    for (int i = 0; i < 200; ++i) {
        frames.push_back(1);
        frames.push_back(0);
    }
    const Bytes flood = BuildAudio(2, frames.data(), static_cast<uint32_t>(frames.size()), 0);
    size_t most = 0;
    for (int round = 0; round < 20; ++round) {
        while (m_Service->FreeReceiveSlots() > 0)
            Arrive(flood);
        m_Service->Receive();
        most = std::max(most, m_Service->PendingBytes());
        // Completions are not dispatched: everything written stays queued for playing.
        EXPECT_LE(m_Service->MessageWindow().OutstandingBytes(), CAudioService::kMaxQueuedBytes);
    }
    EXPECT_LE(most, CAudioService::kMaxPendingBytes);
    EXPECT_GT(m_Service->MessageWindow().OutstandingBytes(), 0u);  // bounded sound was still played
    EXPECT_GT(m_Service->ReceivedCount(), 0);                      // the rest waits for the next notification
}

}  // namespace

namespace {

TEST(AudioServiceOpen, FallsBackToTheFirstNameAndFailsWhenAKindHasNoDevice) {
    auto devices = std::make_shared<CVirtualWaveBackend>();
    SetWaveBackends({devices});
    {
        CAudioService service;
        EXPECT_FALSE(service.Open("Mic", "Speaker"));  // no device of either kind
        devices->AddWavFilePlayback("Speaker", "", EWavePacing::Fast);
        EXPECT_FALSE(service.Open("Mic", "Speaker"));  // playback alone is not enough
        EXPECT_FALSE(service.Player().IsOpen());
        EXPECT_FALSE(service.IsOpen());

        // A device that fails to open is replaced by the first of the list.
        devices->AddSilenceCapture("Mic", EWavePacing::Fast);
        devices->AddWavFileCapture("Broken", "/nonexistent/file.wav", EWavePacing::Fast);
        ASSERT_TRUE(service.Open("Broken", "Speaker"));
        EXPECT_EQ(service.GetName(), "Mic");
        EXPECT_TRUE(service.Player().IsOpen());
        EXPECT_TRUE(service.IsSilentState());
        service.Close();
        EXPECT_FALSE(service.IsOpen());
        EXPECT_FALSE(service.Player().IsOpen());
    }
    SetWaveBackends({});
}

}  // namespace
