// Mixer faders on ALSA for real: a private PulseAudio server whose volumes ALSA's "default" control
// device shows. The faders set volumes that the server reports, and follow volumes set with pactl.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "audio/AlsaMixer.h"
#include "audio/MixerFader.h"
#include "support/Process.h"
#include "support/PulseServer.h"

namespace {

class CFakeSlider : public IFaderSlider {
public:
    void SetRange(int minimum, int maximum, bool) override {
        m_nMin = minimum;
        m_nMax = maximum;
    }
    int GetRangeMin() const override { return m_nMin; }
    int GetRangeMax() const override { return m_nMax; }
    int GetPos() const override { return m_nPos; }
    void SetPos(int pos, bool) override { m_nPos = std::clamp(pos, m_nMin, m_nMax); }
    bool IsVertical() const override { return false; }
    void Enable(bool enable) override { m_bEnabled = enable; }

    void Move(CMixerFader& fader, int pos) {
        SetPos(pos, true);
        fader.OnScroll(TB_THUMBTRACK);
        fader.OnScroll(TB_ENDTRACK);
    }

    int m_nMin = 0;
    int m_nMax = 100;
    int m_nPos = 0;
    bool m_bEnabled = true;
};

class MixerAlsa : public ::testing::Test {
protected:
    void SetUp() override {
        // ALSA reads its configuration once per process; whether "default" means the sound server is
        // decided then, so make it read again now that the server runs (or does not).
        snd_config_update_free_global();
        SetMixerBackends({CreateAlsaMixerBackend()});
        SetMixerDiagnosticHook(
            [this](const std::string&, const std::string& text) { m_Texts.push_back(text); });
    }
    void TearDown() override {
        SetMixerDiagnosticHook(nullptr);
        SetMixerBackends({});
    }

    bool StartPulse() {
        std::string why;
        const bool ok = m_Pulse.Start(&why);
        EXPECT_TRUE(ok) << why;
        snd_config_update_free_global();
        return ok;
    }

    int Pactl(const std::vector<std::string>& args, std::string* output = nullptr) {
        std::vector<std::string> argv = {"pactl"};
        argv.insert(argv.end(), args.begin(), args.end());
        return vp::test::RunProgram(argv, m_Pulse.ClientEnvironment(), output);
    }

    // The raw volumes of each channel, as pactl prints them ("front-left: 40000 / 61% / ...").
    std::vector<uint32_t> Volumes(const char* what, const char* name) {
        std::string out;
        EXPECT_EQ(Pactl({what, name}, &out), 0);
        std::vector<uint32_t> volumes;
        static const std::regex channel(R"(([a-z-]+): (\d+) /)");
        for (auto it = std::sregex_iterator(out.begin(), out.end(), channel); it != std::sregex_iterator();
             ++it)
            volumes.push_back(static_cast<uint32_t>(std::stoul((*it)[2])));
        return volumes;
    }

    vp::test::CPulseServer m_Pulse;
    std::vector<std::string> m_Texts;
};

using Values = std::vector<uint32_t>;

TEST_F(MixerAlsa, SpeakerFaderAndTheSinkVolumeFollowEachOther) {
    ASSERT_TRUE(StartPulse());
    ASSERT_EQ(Pactl({"set-sink-volume", vp::test::CPulseServer::kSinkName, "50000"}), 0);
    CFakeSlider slider;
    CMixerFader fader;
    fader.Attach(&slider);
    ASSERT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                         MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain),
              1)
        << (m_Texts.empty() ? "" : m_Texts.back());
    EXPECT_TRUE(slider.m_bEnabled);
    // The server's volume runs 0 to 65536, every unit a step.
    EXPECT_EQ(fader.GetRange(), 65536u);
    EXPECT_EQ(fader.GetStep(), 1u);
    EXPECT_EQ(slider.m_nMax, 65536);
    EXPECT_EQ(slider.m_nPos, 50000);

    slider.Move(fader, 32768);
    EXPECT_EQ(Volumes("get-sink-volume", vp::test::CPulseServer::kSinkName), (Values{32768}));

    // Another program turns it down: the slider follows.
    ASSERT_EQ(Pactl({"set-sink-volume", vp::test::CPulseServer::kSinkName, "20000"}), 0);
    EXPECT_TRUE(PumpMessagesUntil([&] { return slider.m_nPos == 20000; }, 10000)) << slider.m_nPos;
    // And nothing of its own moves it back.
    PumpMessagesUntil([] { return false; }, 300);
    EXPECT_EQ(slider.m_nPos, 20000);
    EXPECT_EQ(Volumes("get-sink-volume", vp::test::CPulseServer::kSinkName), (Values{20000}));

    // The server goes away under a bound fader: moves and checks fail quietly.
    m_Pulse.Stop();
    PumpMessagesUntil([] { return false; }, 300);
    slider.Move(fader, 1000);
    PumpMessagesUntil([] { return false; }, 300);
    EXPECT_EQ(slider.m_nPos, 1000);
    EXPECT_TRUE(fader.IsBound());
}

TEST_F(MixerAlsa, MicrophoneFaderSetsTheRecordingVolume) {
    ASSERT_TRUE(StartPulse());
    const std::string source = std::string(vp::test::CPulseServer::kSinkName) + ".monitor";
    CFakeSlider slider;
    CMixerFader fader;
    fader.Attach(&slider);
    ASSERT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                         MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain),
              1)
        << (m_Texts.empty() ? "" : m_Texts.back());
    EXPECT_EQ(fader.GetLineName(), "Capture");
    EXPECT_EQ(slider.m_nPos, 65536);

    slider.Move(fader, 30000);
    EXPECT_EQ(Volumes("get-source-volume", source.c_str()), (Values{30000}));
    ASSERT_EQ(Pactl({"set-source-volume", source, "45000"}), 0);
    EXPECT_TRUE(PumpMessagesUntil([&] { return slider.m_nPos == 45000; }, 10000)) << slider.m_nPos;
}

TEST_F(MixerAlsa, StereoOutputKeepsItsBalance) {
    ASSERT_TRUE(StartPulse());
    ASSERT_EQ(Pactl({"load-module", "module-null-sink", "sink_name=vp_stereo", "channels=2", "rate=8000"}),
              0);
    ASSERT_EQ(Pactl({"set-default-sink", "vp_stereo"}), 0);
    ASSERT_EQ(Pactl({"set-sink-volume", "vp_stereo", "40000", "20000"}), 0);

    CFakeSlider main;
    CFakeSlider balance;
    CMixerFader mainFader;
    CMixerFader balanceFader;
    mainFader.Attach(&main);
    balanceFader.Attach(&balance);
    ASSERT_EQ(mainFader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                             MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain),
              1);
    ASSERT_EQ(balanceFader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                                MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderBalance),
              1);
    EXPECT_EQ(main.m_nPos, 40000);
    EXPECT_DOUBLE_EQ(mainFader.GetBalance(), -0.5);
    EXPECT_EQ(balance.m_nPos, 16384);

    main.Move(mainFader, 60000);
    EXPECT_EQ(Volumes("get-sink-volume", "vp_stereo"), (Values{60000, 30000}));

    ASSERT_EQ(Pactl({"set-sink-volume", "vp_stereo", "50000", "50000"}), 0);
    EXPECT_TRUE(PumpMessagesUntil([&] { return main.m_nPos == 50000 && balance.m_nPos == 32768; }, 10000))
        << main.m_nPos << " " << balance.m_nPos;
    EXPECT_DOUBLE_EQ(mainFader.GetBalance(), 0.0);
}

TEST_F(MixerAlsa, WithoutAnySoundDeviceTheFaderStaysDisabled) {
    int card = -1;
    if (snd_card_next(&card) == 0 && card >= 0)
        GTEST_SKIP() << "this machine has a sound card";
    // A sound server that does not exist: ALSA's "default" has nothing behind it.
    const char* old = std::getenv("PULSE_SERVER");
    const std::string saved = old != nullptr ? old : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/vp-pulse/native", 1);
    snd_config_update_free_global();

    CFakeSlider slider;
    CMixerFader fader;
    fader.Attach(&slider);
    EXPECT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                         MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain),
              0);
    EXPECT_FALSE(slider.m_bEnabled);
    EXPECT_FALSE(fader.IsBound());
    ASSERT_FALSE(m_Texts.empty());
    EXPECT_EQ(m_Texts.back(), "No mixer device present");

    if (old != nullptr) {
        setenv("PULSE_SERVER", saved.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
}

}  // namespace
