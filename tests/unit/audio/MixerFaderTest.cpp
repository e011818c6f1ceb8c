// Mixer faders over virtual mixers: the mixer interface's numbering and checks, every binding failure
// with its text, the slider arithmetic of each fader type, and changes made elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/AlsaMixer.h"
#include "audio/MixerFader.h"
#include "audio/MixerTypeNames.h"
#include "audio/VirtualMixer.h"

namespace {

class CFakeSlider : public IFaderSlider {
public:
    void SetRange(int minimum, int maximum, bool) override {
        m_nMin = minimum;
        m_nMax = maximum;
        m_nPos = std::clamp(m_nPos, m_nMin, m_nMax);
    }
    int GetRangeMin() const override { return m_nMin; }
    int GetRangeMax() const override { return m_nMax; }
    int GetPos() const override { return m_nPos; }
    void SetPos(int pos, bool) override { m_nPos = std::clamp(pos, m_nMin, m_nMax); }
    bool IsVertical() const override { return m_bVertical; }
    void Enable(bool enable) override { m_bEnabled = enable; }

    // What the user does: move the thumb and let the slider report it.
    void Move(CMixerFader& fader, int pos, UINT code = TB_THUMBTRACK) {
        SetPos(pos, true);
        fader.OnScroll(code);
    }

    int m_nMin = 0;
    int m_nMax = 100;
    int m_nPos = 0;
    bool m_bVertical = false;
    bool m_bEnabled = true;
};

struct SDiagnostic {
    std::string caption;
    std::string text;
};

// A sound card as a test lays it out: speakers with a volume, and a recording destination whose
// microphone line has a volume.
class MixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pBackend = std::make_shared<CVirtualMixerBackend>();
        SetMixerBackends({m_pBackend});
        SetMixerDiagnosticHook([this](const std::string& caption, const std::string& text) {
            m_Diagnostics.push_back({caption, text});
        });
    }
    void TearDown() override {
        SetMixerDiagnosticHook(nullptr);
        SetMixerBackends({});
    }

    // Speakers (channels as given) with a volume of `steps` over 0..maximum; recording with a mono
    // microphone volume.
    std::shared_ptr<CVirtualMixer> AddCard(uint32_t speakerChannels = 2, uint32_t maximum = 65535,
                                           uint32_t steps = 32, uint32_t flags = 0) {
        auto mixer = std::make_shared<CVirtualMixer>("card");
        const uint32_t speakers =
            mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, speakerChannels, "Speakers");
        m_nSpeaker = mixer->AddControl(speakers, -1, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, maximum, steps,
                                       flags, 0, "Master Volume");
        mixer->AddSource(speakers, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, "Wave");
        const uint32_t rec = mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 2, "Recording");
        mixer->AddSource(rec, MIXERLINE_COMPONENTTYPE_SRC_LINE, 2, "Line In");
        const uint32_t mic = mixer->AddSource(rec, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, "Microphone");
        m_nMic = mixer->AddControl(rec, static_cast<int>(mic), MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 65535, 32,
                                   0, 0, "Mic Volume");
        m_pBackend->Add(mixer);
        return mixer;
    }

    int BindSpeakers(CMixerFader& fader, int type = CMixerFader::kFaderMain) {
        return fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                          MIXERCONTROL_CONTROLTYPE_VOLUME, type);
    }

    std::string LastText() const { return m_Diagnostics.empty() ? std::string() : m_Diagnostics.back().text; }

    std::shared_ptr<CVirtualMixerBackend> m_pBackend;
    std::vector<SDiagnostic> m_Diagnostics;
    uint32_t m_nSpeaker = 0;
    uint32_t m_nMic = 0;
};

using Values = std::vector<uint32_t>;

TEST(MixerTypeNames, ConstantsByNameAndUnknownsByTheirOwnText) {
    EXPECT_STREQ(MixerLineTypeName(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS),
                 "MIXERLINE_COMPONENTTYPE_DST_SPEAKERS");
    EXPECT_STREQ(MixerLineTypeName(0), "MIXERLINE_COMPONENTTYPE_DST_UNDEFINED");
    EXPECT_STREQ(MixerLineTypeName(0x1003), "MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE");
    EXPECT_STREQ(MixerLineTypeName(0x100A), "MIXERLINE_COMPONENTTYPE_SRC_ANALOG");
    EXPECT_STREQ(MixerLineTypeName(0x100B), "No source line");
    EXPECT_STREQ(MixerLineTypeName(9), "---- UNKNOWN LINE TYPE ----");
    EXPECT_STREQ(MixerLineTypeName(0x100C), "---- UNKNOWN LINE TYPE ----");
    EXPECT_STREQ(MixerControlTypeName(0x50030001), "MIXERCONTROL_CONTROLTYPE_VOLUME");
    EXPECT_STREQ(MixerControlTypeName(MIXERCONTROL_CONTROLTYPE_PEAKMETER),
                 "MIXERCONTROL_CONTROLTYPE_PEAKMETER");
    EXPECT_STREQ(MixerControlTypeName(MIXERCONTROL_CONTROLTYPE_MILLITIME),
                 "MIXERCONTROL_CONTROLTYPE_MILLITIME");
    EXPECT_STREQ(MixerControlTypeName(0), "MIXERCONTROL_CONTROLTYPE_CUSTOM");
    EXPECT_STREQ(MixerControlTypeName(MIXERCONTROL_CONTROLTYPE_EQUALIZER + 1),
                 "---- UNKNOWN CONTROL TYPE ----");
}

TEST(AlsaMixerElements, MainElementAndLineTypesFromNames) {
    EXPECT_EQ(ChooseAlsaMainElement({"PCM", "Master", "Mic"}, false), 1);
    EXPECT_EQ(ChooseAlsaMainElement({"Headphone", "Speaker"}, false), 1);
    EXPECT_EQ(ChooseAlsaMainElement({"Front", "Surround"}, false), 0);
    EXPECT_EQ(ChooseAlsaMainElement({"Digital", "Capture"}, true), 1);
    EXPECT_EQ(ChooseAlsaMainElement({}, true), -1);
    EXPECT_EQ(AlsaElementLineType("Mic"), MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_EQ(AlsaElementLineType("Front Mic Boost"), MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_EQ(AlsaElementLineType("Headphone"), MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED);
    EXPECT_EQ(AlsaElementLineType("Line"), MIXERLINE_COMPONENTTYPE_SRC_LINE);
    EXPECT_EQ(AlsaElementLineType("PCM"), MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    EXPECT_EQ(AlsaElementLineType("Capture"), MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED);
}

TEST_F(MixerTest, InterfaceNumbersLinesAndControlsAndChecksRequests) {
    auto mixer = AddCard();
    ASSERT_EQ(mixerGetNumDevs(), 1u);
    HMIXER h = nullptr;
    EXPECT_EQ(mixerOpen(&h, 1, nullptr, 0, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixerOpen(&h, 0, nullptr, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    ASSERT_EQ(mixerOpen(&h, 0, nullptr, 0, 0), MMSYSERR_NOERROR);

    MIXERCAPS caps{};
    ASSERT_EQ(mixerGetDevCaps(h, &caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "card");
    EXPECT_EQ(caps.cDestinations, 2u);

    MIXERLINE line{};
    line.dwDestination = 1;
    ASSERT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(line.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    EXPECT_EQ(line.cConnections, 2u);
    EXPECT_EQ(line.cControls, 0u);
    line.dwSource = 1;
    ASSERT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_EQ(line.szName, "Microphone");
    EXPECT_EQ(line.cChannels, 1u);
    const uint32_t micLine = line.dwLineID;
    line.dwSource = 2;
    EXPECT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_SOURCE), MIXERR_INVALLINE);
    line.dwDestination = 2;
    EXPECT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_DESTINATION), MIXERR_INVALLINE);
    line = MIXERLINE{};
    line.dwLineID = micLine;
    ASSERT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_LINEID), MMSYSERR_NOERROR);
    EXPECT_EQ(line.szName, "Microphone");
    EXPECT_EQ(line.dwDestination, 1u);
    line = MIXERLINE{};
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    ASSERT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_COMPONENTTYPE), MMSYSERR_NOERROR);
    EXPECT_EQ(line.szName, "Wave");

    MIXERCONTROL control{};
    MIXERLINECONTROLS lc{micLine, MIXERCONTROL_CONTROLTYPE_VOLUME, 1, &control};
    ASSERT_EQ(mixerGetLineControls(h, &lc, MIXER_GETLINECONTROLSF_ONEBYTYPE), MMSYSERR_NOERROR);
    EXPECT_EQ(control.dwControlID, m_nMic);
    EXPECT_EQ(control.Bounds.dwMaximum, 65535u);
    EXPECT_EQ(control.Metrics.cSteps, 32u);
    lc.dwControl = MIXERCONTROL_CONTROLTYPE_MUTE;
    EXPECT_EQ(mixerGetLineControls(h, &lc, MIXER_GETLINECONTROLSF_ONEBYTYPE), MIXERR_INVALCONTROL);
    lc.dwControl = m_nSpeaker;
    ASSERT_EQ(mixerGetLineControls(h, &lc, MIXER_GETLINECONTROLSF_ONEBYID), MMSYSERR_NOERROR);
    EXPECT_EQ(control.szName, "Master Volume");

    // Values: the block must match the control; out-of-bounds values change nothing.
    uint32_t values[2] = {100, 200};
    MIXERCONTROLDETAILS d{m_nSpeaker, 2, 0, 4, values};
    ASSERT_EQ(mixerSetControlDetails(h, &d, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{100, 200}));
    values[1] = 70000;
    EXPECT_EQ(mixerSetControlDetails(h, &d, 0), MIXERR_INVALVALUE);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{100, 200}));
    d.cChannels = 1;
    EXPECT_EQ(mixerGetControlDetails(h, &d, 0), MMSYSERR_INVALPARAM);
    d.cChannels = 2;
    d.cbDetails = 2;
    EXPECT_EQ(mixerGetControlDetails(h, &d, 0), MMSYSERR_INVALPARAM);
    d.cbDetails = 4;
    d.dwControlID = 999;
    EXPECT_EQ(mixerGetControlDetails(h, &d, 0), MIXERR_INVALCONTROL);
    d.dwControlID = m_nSpeaker;
    ASSERT_EQ(mixerGetControlDetails(h, &d, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(values[0], 100u);
    EXPECT_EQ(values[1], 200u);

    EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mixerGetDevCaps(h, &caps), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mixer->OpenCount(), 0);
}

TEST_F(MixerTest, ChangesReachTheWindowOfEveryHandleUntilItCloses) {
    auto mixer = AddCard();
    std::vector<std::pair<WPARAM, LPARAM>> seen;
    CFunctionTarget window([&](UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == MM_MIXM_CONTROL_CHANGE)
            seen.emplace_back(w, l);
        return 0;
    });
    HMIXER a = nullptr;
    HMIXER b = nullptr;
    ASSERT_EQ(mixerOpen(&a, 0, window.GetSafeHwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    ASSERT_EQ(mixerOpen(&b, 0, window.GetSafeHwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    // Made elsewhere, from another thread as another program would.
    std::thread([&] { mixer->SetValues(m_nMic, {1234}); }).join();
    DispatchPendingMessages();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].second, static_cast<LPARAM>(m_nMic));
    EXPECT_NE(seen[0].first, seen[1].first);

    seen.clear();
    mixerClose(a);
    uint32_t v = 10;
    MIXERCONTROLDETAILS d{m_nMic, 1, 0, 4, &v};
    ASSERT_EQ(mixerSetControlDetails(b, &d, 0), MMSYSERR_NOERROR);
    DispatchPendingMessages();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, reinterpret_cast<WPARAM>(b));
    mixerClose(b);
}

TEST_F(MixerTest, BindingFailuresGiveTheirTextsAndLeaveTheSliderDisabled) {
    CFakeSlider slider;
    CMixerFader fader;
    // No slider at all.
    EXPECT_EQ(BindSpeakers(fader), 0);
    EXPECT_EQ(m_Diagnostics.back().caption, "CMixerFader::Init");
    EXPECT_EQ(LastText(), "No Window attached. Did you create or subclass one?");
    fader.Attach(&slider);

    EXPECT_EQ(BindSpeakers(fader), 0);
    EXPECT_FALSE(slider.m_bEnabled);
    EXPECT_EQ(m_Diagnostics.back().caption, "CMixerBase::Init");
    EXPECT_EQ(LastText(), "No mixer device present");

    auto mixer = AddCard();
    mixer->SetFailOpen(true);
    EXPECT_EQ(BindSpeakers(fader), 0);
    EXPECT_EQ(LastText(), "Could not open mixer device");
    mixer->SetFailOpen(false);

    EXPECT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_HEADPHONES, MIXER_NO_SOURCE_LINE,
                         MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain),
              0);
    EXPECT_EQ(LastText(),
              "Warning: the destination line \nMIXERLINE_COMPONENTTYPE_DST_HEADPHONES\nwas not found.");
    EXPECT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC,
                         MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain),
              0);
    EXPECT_EQ(LastText(),
              "Warning: the source line \nMIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC\n not found.\n\n"
              "(Associated to Destination line \nMIXERLINE_COMPONENTTYPE_DST_WAVEIN)");
    EXPECT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_LINE,
                         MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain),
              0);
    EXPECT_EQ(LastText(), "No controls available for this audio line: Line In");
    EXPECT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                         MIXERCONTROL_CONTROLTYPE_BASS, CMixerFader::kFaderMain),
              0);
    EXPECT_EQ(LastText(),
              "Could not find specified mixer control. Associated Windows control will be disabled.\n"
              "Control type: MIXERCONTROL_CONTROLTYPE_BASS,\n\nDest line type: "
              "MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,\nSrc  line type: No source line\n");
    EXPECT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                         MIXERCONTROL_CONTROLTYPE_MUTE, CMixerFader::kFaderMain),
              0);
    EXPECT_EQ(m_Diagnostics.back().caption, "CMixerFader::Init");
    EXPECT_EQ(LastText(), "Wrong control type for a fader control: MIXERCONTROL_CONTROLTYPE_MUTE");
    EXPECT_EQ(BindSpeakers(fader, 4), 0);
    EXPECT_EQ(LastText(), "Wrong sub-type for a fader control: 4");
    EXPECT_EQ(BindSpeakers(fader, -1), 0);
    EXPECT_EQ(LastText(), "Wrong sub-type for a fader control: -1");

    EXPECT_FALSE(fader.IsBound());
    EXPECT_FALSE(slider.m_bEnabled);
    EXPECT_EQ(mixer->OpenCount(), 0);
    // No box, no output: the user meets none of this.
    EXPECT_EQ(m_Diagnostics.size(), 10u);
}

TEST_F(MixerTest, ControlsWithUnusableUnitsOrStepsDoNotBind) {
    auto mixer = std::make_shared<CVirtualMixer>("odd");
    const uint32_t d = mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 1, "Speakers");
    mixer->AddControl(d, -1, MIXERCONTROL_CONTROLTYPE_CUSTOM, 0, 10, 10);
    mixer->AddControl(d, -1, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 50, 100);
    mixer->AddControl(d, -1, MIXERCONTROL_CONTROLTYPE_TREBLE, 0, 50, 0);
    mixer->AddControl(d, -1, MIXERCONTROL_CONTROLTYPE_BASS, 0, 100, 100);
    m_pBackend->Add(mixer);

    // Custom units cannot be read as numbers: refused without a word.
    CMixerBase base;
    EXPECT_EQ(base.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                        MIXERCONTROL_CONTROLTYPE_CUSTOM, nullptr),
              0);
    EXPECT_TRUE(m_Diagnostics.empty());
    EXPECT_FALSE(base.IsOpen());

    // More steps than units (a step of 0), or no steps at all: no division by zero, no binding.
    CFakeSlider slider;
    CMixerFader fader;
    fader.Attach(&slider);
    EXPECT_EQ(BindSpeakers(fader), 0);
    EXPECT_EQ(LastText(), "Control Volume cannot be shown on a slider: 100 steps for 50 units.");
    EXPECT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                         MIXERCONTROL_CONTROLTYPE_TREBLE, CMixerFader::kFaderMain),
              0);
    EXPECT_EQ(LastText(), "Control Volume cannot be shown on a slider: 0 steps for 50 units.");
    EXPECT_FALSE(fader.IsBound());
    EXPECT_FALSE(slider.m_bEnabled);
    fader.OnScroll(TB_ENDTRACK);
    EXPECT_EQ(mixer->WriteCount(), 0);

    // As many steps as units is a step of 1.
    ASSERT_EQ(fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                         MIXERCONTROL_CONTROLTYPE_BASS, CMixerFader::kFaderMain),
              1);
    EXPECT_EQ(fader.GetStep(), 1u);
    EXPECT_EQ(fader.GetMax(), 100);
    EXPECT_EQ(mixer->OpenCount(), 1);
}

TEST_F(MixerTest, MainFaderShowsTheLouderChannelAndKeepsTheBalance) {
    auto mixer = AddCard();
    mixer->SetValues(m_nSpeaker, {40000, 20000});
    CFakeSlider slider;
    CMixerFader fader;
    fader.Attach(&slider);
    ASSERT_EQ(BindSpeakers(fader), 1);
    EXPECT_TRUE(slider.m_bEnabled);
    EXPECT_EQ(fader.GetRange(), 65535u);
    EXPECT_EQ(fader.GetStep(), 2047u);
    EXPECT_EQ(fader.GetMax(), 32);
    EXPECT_EQ(slider.m_nMin, 0);
    EXPECT_EQ(slider.m_nMax, 32);
    EXPECT_EQ(slider.m_nPos, 40000 / 2047);
    EXPECT_DOUBLE_EQ(fader.GetBalance(), -0.5);
    EXPECT_EQ(fader.GetLineName(), "Speakers");
    EXPECT_EQ(fader.GetControlName(), "Master Volume");

    slider.Move(fader, 10);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{20470, 10235}));
    // Down to silence and up again: the balance survives.
    slider.Move(fader, 0);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{0, 0}));
    DispatchPendingMessages();
    slider.Move(fader, 20, TB_ENDTRACK);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{40940, 20470}));

    // Leaning the other way.
    mixer->SetValues(m_nSpeaker, {10000, 40000});
    DispatchPendingMessages();
    EXPECT_DOUBLE_EQ(fader.GetBalance(), 0.75);
    EXPECT_EQ(slider.m_nPos, 19);
    slider.Move(fader, 16, TB_PAGEUP);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{8188, 32752}));
}

TEST_F(MixerTest, OnlyPagesDraggingAndTheEndOfAMoveWrite) {
    auto mixer = AddCard();
    CFakeSlider slider;
    CMixerFader fader;
    fader.Attach(&slider);
    ASSERT_EQ(BindSpeakers(fader), 1);
    for (UINT code : {TB_LINEUP, TB_LINEDOWN, TB_THUMBPOSITION, TB_TOP, TB_BOTTOM, 9u, 1000u})
        slider.Move(fader, 5, code);
    EXPECT_EQ(mixer->WriteCount(), 0);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{0, 0}));
    for (UINT code : {TB_PAGEUP, TB_PAGEDOWN, TB_THUMBTRACK, TB_ENDTRACK})
        slider.Move(fader, 5, code);
    EXPECT_EQ(mixer->WriteCount(), 4);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{10235, 10235}));
}

TEST_F(MixerTest, OneChannelLinesTakeOnlyTheMainFader) {
    auto mixer = AddCard(1);
    mixer->SetValues(m_nSpeaker, {30000});
    CFakeSlider slider;
    slider.m_nPos = 3;
    CMixerFader fader;
    fader.Attach(&slider);
    for (int type : {CMixerFader::kFaderFirst, CMixerFader::kFaderSecond, CMixerFader::kFaderBalance}) {
        EXPECT_EQ(BindSpeakers(fader, type), 0) << type;
        EXPECT_EQ(LastText(),
                  "Only one channel available on this line. Use Fader type MAIN only.\n"
                  "Windows control will be disabled.\n\nItem: Master Volume.\n\n( Line: Speakers )");
        EXPECT_FALSE(slider.m_bEnabled);
        EXPECT_FALSE(fader.IsBound());
    }
    // The balance slider is left in the middle.
    EXPECT_EQ(slider.m_nPos, 16);
    EXPECT_EQ(mixer->OpenCount(), 0);

    ASSERT_EQ(BindSpeakers(fader), 1);
    EXPECT_EQ(slider.m_nPos, 30000 / 2047);
    slider.Move(fader, 32);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{65504}));

    // A control that keeps one value for both channels of a stereo line is one channel too: its block
    // holds a single value.
    m_pBackend->Clear();
    auto uniform = AddCard(2, 65535, 32, MIXERCONTROL_CONTROLF_UNIFORM);
    uniform->SetValues(m_nSpeaker, {4094});
    EXPECT_EQ(BindSpeakers(fader, CMixerFader::kFaderBalance), 0);
    ASSERT_EQ(BindSpeakers(fader), 1);
    EXPECT_EQ(slider.m_nPos, 2);
    slider.Move(fader, 4);
    EXPECT_EQ(uniform->Values(m_nSpeaker), (Values{8188}));
}

TEST_F(MixerTest, SingleChannelAndBalanceFaders) {
    auto mixer = AddCard();
    mixer->SetValues(m_nSpeaker, {40000, 20000});
    CFakeSlider left;
    CFakeSlider right;
    CFakeSlider balance;
    CMixerFader leftFader;
    CMixerFader rightFader;
    CMixerFader balanceFader;
    leftFader.Attach(&left);
    rightFader.Attach(&right);
    balanceFader.Attach(&balance);
    ASSERT_EQ(BindSpeakers(leftFader, CMixerFader::kFaderFirst), 1);
    ASSERT_EQ(BindSpeakers(rightFader, CMixerFader::kFaderSecond), 1);
    ASSERT_EQ(BindSpeakers(balanceFader, CMixerFader::kFaderBalance), 1);
    EXPECT_EQ(left.m_nPos, 19);
    EXPECT_EQ(right.m_nPos, 9);
    EXPECT_EQ(balance.m_nPos, 8);  // (-0.5 + 1) * 32 / 2

    right.Move(rightFader, 12);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{40000, 24564}));
    DispatchPendingMessages();
    EXPECT_EQ(left.m_nPos, 19);
    // To the right of the middle: the right channel keeps the louder value, the left one fades.
    balance.Move(balanceFader, 24);
    auto v = mixer->Values(m_nSpeaker);
    EXPECT_EQ(v[1], 40000u);
    EXPECT_NEAR(v[0], (1.0 - 24.0 * 2047 / 65535) * 80000, 1.0);
    DispatchPendingMessages();
    EXPECT_EQ(balance.m_nPos, 23);  // truncated on the way back
    // To the left: the left channel keeps it.
    balance.Move(balanceFader, 4);
    v = mixer->Values(m_nSpeaker);
    EXPECT_EQ(v[0], 40000u);
    EXPECT_NEAR(v[1], 2.0 * 4 * 2047 * 40000 / 65535, 1.0);
}

TEST_F(MixerTest, BalanceArithmeticHoldsAtTheTopOfA32BitRange) {
    auto mixer = std::make_shared<CVirtualMixer>("wide");
    const uint32_t d = mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2, "Speakers");
    const uint32_t id = mixer->AddControl(d, -1, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0xFFFFFFFF, 16);
    m_pBackend->Add(mixer);
    mixer->SetValues(id, {0xF0000000, 0xF0000000});
    CFakeSlider slider;
    CMixerFader fader;
    fader.Attach(&slider);
    ASSERT_EQ(BindSpeakers(fader, CMixerFader::kFaderBalance), 1);
    EXPECT_EQ(slider.m_nPos, 8);
    slider.Move(fader, 4);
    const auto v = mixer->Values(id);
    EXPECT_EQ(v[0], 0xF0000000u);
    EXPECT_NEAR(v[1], 0x78000000, 64.0);
}

TEST_F(MixerTest, VerticalSlidersHaveTheLoudestAtTheTop) {
    auto mixer = AddCard();
    mixer->SetValues(m_nSpeaker, {8188, 8188});
    CFakeSlider slider;
    slider.m_bVertical = true;
    CMixerFader fader;
    fader.Attach(&slider);
    ASSERT_EQ(BindSpeakers(fader), 1);
    EXPECT_EQ(slider.m_nPos, 32 - 4);
    slider.Move(fader, 0);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{65504, 65504}));
    slider.Move(fader, 32);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{0, 0}));
}

TEST_F(MixerTest, AChangeMadeElsewhereMovesTheSlider) {
    auto mixer = AddCard();
    CFakeSlider speaker;
    CFakeSlider mic;
    CMixerFader speakerFader;
    CMixerFader micFader;
    speakerFader.Attach(&speaker);
    micFader.Attach(&mic);
    ASSERT_EQ(BindSpeakers(speakerFader), 1);
    ASSERT_EQ(micFader.Init(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                            MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain),
              1);
    EXPECT_EQ(micFader.GetLineName(), "Microphone");

    std::thread([&] { mixer->SetValues(m_nSpeaker, {30000, 60000}); }).join();
    EXPECT_EQ(speaker.m_nPos, 0);  // only once the message arrives
    ASSERT_TRUE(PumpMessagesUntil([&] { return speaker.m_nPos == 60000 / 2047; }, 5000));
    EXPECT_DOUBLE_EQ(speakerFader.GetBalance(), 0.5);
    EXPECT_EQ(mic.m_nPos, 0);

    // One fader's move reaches the other only when it concerns its control.
    speaker.Move(speakerFader, 3);
    mixer->SetValues(m_nMic, {65535});
    DispatchPendingMessages();
    EXPECT_EQ(mic.m_nPos, 32);
    EXPECT_EQ(speaker.m_nPos, 3);

    // A message naming another handle is not this fader's.
    speakerFader.WindowProc(MM_MIXM_CONTROL_CHANGE, 12345, static_cast<LPARAM>(m_nSpeaker));
    EXPECT_EQ(speaker.m_nPos, 3);

    // Once its slider is gone, the fader closes and changes reach nobody.
    speakerFader.OnDestroy();
    EXPECT_EQ(mixer->OpenCount(), 1);
    mixer->SetValues(m_nSpeaker, {0, 0});
    DispatchPendingMessages();
    EXPECT_EQ(speaker.m_nPos, 3);
    speakerFader.OnScroll(TB_ENDTRACK);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{0, 0}));
}

TEST_F(MixerTest, ReadAndWriteFailuresLeaveSliderAndControlAsTheyWere) {
    auto mixer = AddCard();
    mixer->SetValues(m_nSpeaker, {20470, 20470});
    mixer->SetFailReads(true);
    CFakeSlider slider;
    slider.m_nPos = 7;
    CMixerFader fader;
    fader.Attach(&slider);
    // Bound, but the first read failed: the slider stays disabled where it was.
    ASSERT_EQ(BindSpeakers(fader), 1);
    EXPECT_TRUE(fader.IsBound());
    EXPECT_FALSE(slider.m_bEnabled);
    EXPECT_EQ(slider.m_nPos, 7);
    mixer->SetValues(m_nSpeaker, {40000, 40000});
    DispatchPendingMessages();
    EXPECT_EQ(slider.m_nPos, 7);

    // Rebinding on the same fader replaces the block safely.
    mixer->SetFailReads(false);
    mixer->SetValues(m_nSpeaker, {40000, 20000});
    ASSERT_EQ(BindSpeakers(fader), 1);
    EXPECT_TRUE(slider.m_bEnabled);
    EXPECT_EQ(slider.m_nPos, 19);

    mixer->SetFailWrites(true);
    slider.Move(fader, 30);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{40000, 20000}));
    EXPECT_EQ(slider.m_nPos, 30);
    // The balance still comes from what the control holds.
    mixer->SetFailWrites(false);
    slider.Move(fader, 10);
    EXPECT_EQ(mixer->Values(m_nSpeaker), (Values{20470, 10235}));
}

}  // namespace
