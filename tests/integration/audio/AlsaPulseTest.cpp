// The ALSA back end for real: a private PulseAudio server with a null sink; sound played to ALSA's
// "default" device is recorded back from the sink's monitor through ALSA's capture side.
#include <gtest/gtest.h>

#include <algorithm>

#include "audio/AlsaWave.h"
#include "audio/VirtualWave.h"
#include "audio/WaveDevice.h"
#include "audio/WaveMessageWindow.h"
#include "support/PulseServer.h"
#include "support/SoundCompare.h"
#include "support/Speech.h"

namespace {

class CRecordingInput : public CWaveInDevice {
public:
    bool OnData(void* pData, uint32_t nBytes) override {
        const auto* p = static_cast<const int16_t*>(pData);
        m_Samples.insert(m_Samples.end(), p, p + nBytes / 2);
        m_Sizes.push_back(nBytes);
        return true;
    }
    std::vector<int16_t> m_Samples;
    std::vector<uint32_t> m_Sizes;
};

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(AlsaDevices, HintSelectionKeepsWhatAUserRecognisesWithDefaultFirst) {
    const std::vector<std::pair<std::string, std::string>> hints = {{"null", ""},
                                                                    {"lavrate", ""},
                                                                    {"pulse", ""},
                                                                    {"default", ""},
                                                                    {"hw:CARD=PCH,DEV=0", ""},
                                                                    {"sysdefault:CARD=PCH", ""},
                                                                    {"front:CARD=PCH,DEV=0", "Output"},
                                                                    {"dsnoop:CARD=PCH,DEV=0", "Input"},
                                                                    {"plughw:CARD=USB,DEV=0", "Input"}};
    EXPECT_EQ(SelectAlsaDeviceNames(hints, false),
              (std::vector<std::string>{"default", "pulse", "plughw:CARD=PCH,DEV=0", "sysdefault:CARD=PCH"}));
    EXPECT_EQ(SelectAlsaDeviceNames(hints, true),
              (std::vector<std::string>{"default", "pulse", "plughw:CARD=PCH,DEV=0", "sysdefault:CARD=PCH",
                                        "plughw:CARD=USB,DEV=0"}));
}

TEST(AlsaDevices, WithoutASoundServerNothingOpens) {
    // Point the sound clients at a server that does not exist.
    setenv("PULSE_SERVER", "unix:/nonexistent/vp-pulse/native", 1);
    SetWaveBackends({CreateAlsaWaveBackend()});
    CWaveMessageWindow window;
    ASSERT_TRUE(window.Create());
    CWaveOutDevice out;
    out.SetNotifyWindow(&window);
    for (const char* name : {"default", "pulse"})
        EXPECT_FALSE(out.Open(name)) << name;
    SetWaveBackends({});
    unsetenv("PULSE_SERVER");
}

TEST(AlsaDevices, SpeechPlayedToTheSinkComesBackFromItsMonitor) {
    vp::test::CPulseServer pulse;
    std::string why;
    ASSERT_TRUE(pulse.Start(&why)) << why;
    std::vector<int16_t> speech;
    ASSERT_TRUE(vp::test::MakeSpeech("one two three", speech, 0.3, 0.3));

    SetWaveBackends({CreateAlsaWaveBackend(), GetVirtualWaveBackend()});
    const auto inputs = CWaveInDevice::GetDeviceNames();
    const auto outputs = CWaveOutDevice::GetDeviceNames();
    EXPECT_TRUE(Contains(outputs, "default"));
    EXPECT_TRUE(Contains(outputs, "pulse"));
    EXPECT_TRUE(Contains(inputs, "default"));
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(outputs.front(), "default");

    CWaveMessageWindow window;
    ASSERT_TRUE(window.Create());
    CWaveOutDevice out;
    CRecordingInput in;
    out.SetNotifyWindow(&window);
    in.SetNotifyWindow(&window);
    ASSERT_TRUE(out.Open("pulse"));
    ASSERT_TRUE(in.Open("default"));
    ASSERT_TRUE(in.Start());
    // A little capture first, so the recording surely covers the whole sound.
    ASSERT_TRUE(PumpMessagesUntil([&] { return in.m_Samples.size() >= 1600; }, 10000));
    // Arbitrary block sizes, written in order.
    for (size_t pos = 0; pos < speech.size();) {
        const size_t n = std::min<size_t>(speech.size() - pos, 1000 + pos % 777);
        ASSERT_EQ(out.Write(&speech[pos], static_cast<uint32_t>(n * 2)), n * 2);
        pos += n;
    }
    const size_t wanted = in.m_Samples.size() + speech.size() + 8000;
    ASSERT_TRUE(PumpMessagesUntil([&] { return in.m_Samples.size() >= wanted; }, 20000));
    ASSERT_TRUE(PumpMessagesUntil([&] { return window.OutstandingHeaders() == 0; }, 10000));
    in.Close();
    out.Close();
    SetWaveBackends({});

    for (uint32_t size : in.m_Sizes)
        EXPECT_EQ(size, 1600u);
    const auto sent = vp::test::Envelope(speech);
    const auto heard = vp::test::Envelope(in.m_Samples);
    const auto match = vp::test::AlignEnvelopes(sent, heard, static_cast<long>(heard.size()));
    EXPECT_GT(match.correlation, 0.9) << "lag " << match.lag;
    EXPECT_GT(vp::test::PeakToPeak(in.m_Samples), vp::test::PeakToPeak(speech) / 2);
}

}  // namespace
