#include "audio/MixerFader.h"

#include <algorithm>
#include <climits>

#include "audio/MixerTypeNames.h"

namespace {

constexpr const char* kCaption = "CMixerFader::Init";

}  // namespace

CMixerFader::~CMixerFader() {
    m_Value = nullptr;
    Close();
}

uint32_t CMixerFader::ValueChannels() const {
    return std::min(m_nChannels, m_Details.cChannels);
}

int CMixerFader::Init(uint32_t dstType, uint32_t srcType, uint32_t controlType, int faderType) {
    // A value pointer into a block that a new binding replaces must not outlive it.
    m_Value = nullptr;
    if (m_pSlider == nullptr) {
        MixerDiagnostic(kCaption, "No Window attached. Did you create or subclass one?");
        return 0;
    }
    m_pSlider->Enable(false);
    if (faderType == kFaderBalance)
        m_pSlider->SetPos((m_pSlider->GetRangeMin() + m_pSlider->GetRangeMax()) / 2, true);
    if ((controlType & MIXERCONTROL_CT_CLASS_MASK) != MIXERCONTROL_CT_CLASS_FADER) {
        MixerDiagnostic(kCaption, "Wrong control type for a fader control: %s",
                        MixerControlTypeName(controlType));
        return 0;
    }
    if (faderType < kFaderFirst || faderType > kFaderBalance) {
        MixerDiagnostic(kCaption, "Wrong sub-type for a fader control: %d", faderType);
        return 0;
    }
    m_nType = faderType;
    if (!CMixerBase::Init(dstType, srcType, controlType, GetSafeHwnd()))
        return 0;

    const uint32_t minimum = m_Control.Bounds.dwMinimum;
    const uint32_t maximum = m_Control.Bounds.dwMaximum;
    const uint32_t steps = m_Control.Metrics.cSteps;
    // A control with more steps than units would make a step of 0, and a slider cannot hold more
    // positions than an int: neither can be shown.
    if (maximum < minimum || steps == 0 || (maximum - minimum) / steps == 0 || steps > INT_MAX) {
        MixerDiagnostic(kCaption, "Control %s cannot be shown on a slider: %u steps for %u units.",
                        m_Control.szName.c_str(), steps, maximum >= minimum ? maximum - minimum : 0);
        Close();
        return 0;
    }
    m_nRange = maximum - minimum;
    m_nStep = m_nRange / steps;
    m_nMax = static_cast<int>(steps);
    m_pSlider->SetRange(0, m_nMax, false);

    if (ValueChannels() < 2 && m_nType != kFaderMain) {
        MixerDiagnostic(kCaption,
                        "Only one channel available on this line. Use Fader type MAIN only.\n"
                        "Windows control will be disabled.\n\nItem: %s.\n\n( Line: %s )",
                        m_Control.szName.c_str(), m_strLineName.c_str());
        if (m_nType == kFaderBalance)
            m_pSlider->SetPos(m_nMax / 2, true);
        Close();
        return 0;
    }
    m_Value = m_pDetails.get();
    if (m_Value == nullptr) {
        MixerDiagnostic(kCaption, "m_Value NULL.");
        Close();
        return 0;
    }
    if (GetDetails()) {
        m_pSlider->Enable(true);
        ShowValue();
    }
    return 1;
}

void CMixerFader::ShowValue() {
    if (m_Value == nullptr || m_pSlider == nullptr)
        return;
    const bool stereo = ValueChannels() >= 2;
    const uint32_t first = m_Value[0];
    const uint32_t second = stereo ? m_Value[1] : first;
    const uint32_t v = stereo ? std::max(first, second) : first;
    // At silence the balance cannot be seen: the last one is kept.
    if (stereo && v > 0)
        m_dBalance = (static_cast<double>(second) - static_cast<double>(first)) / v;

    long long pos = 0;
    switch (m_nType) {
        case kFaderMain:
            pos = v / m_nStep;
            break;
        case kFaderFirst:
            pos = first / m_nStep;
            break;
        case kFaderSecond:
            pos = second / m_nStep;
            break;
        case kFaderBalance:
            pos = static_cast<long long>((m_dBalance + 1.0) * m_nMax * 0.5);
            break;
    }
    // A range that is no whole number of steps leaves values above the top step.
    pos = std::clamp<long long>(pos, 0, m_nMax);
    if (m_pSlider->IsVertical())
        pos = m_nMax - pos;
    m_pSlider->SetPos(static_cast<int>(pos), true);
}

void CMixerFader::SetValue() {
    long long p = std::clamp(m_pSlider->GetPos(), 0, m_nMax);
    if (m_pSlider->IsVertical())
        p = m_nMax - p;
    const uint32_t x = static_cast<uint32_t>(p) * m_nStep;
    const bool stereo = ValueChannels() >= 2;
    const uint32_t before[2] = {m_Value[0], stereo ? m_Value[1] : 0};

    switch (m_nType) {
        case kFaderMain:
            if (!stereo) {
                m_Value[0] = x;
            } else if (m_dBalance <= 0) {
                m_Value[0] = x;
                m_Value[1] = static_cast<uint32_t>(x * (1.0 + m_dBalance));
            } else {
                m_Value[1] = x;
                m_Value[0] = static_cast<uint32_t>(x * (1.0 - m_dBalance));
            }
            break;
        case kFaderFirst:
            m_Value[0] = x;
            break;
        case kFaderSecond:
            m_Value[1] = x;
            break;
        case kFaderBalance: {
            const uint32_t m = std::max(m_Value[0], m_Value[1]);
            // In floating point: twice a value times another overflows any integer word.
            const double share = static_cast<double>(x) / m_nRange;
            if (x > m_nRange / 2) {
                m_Value[1] = m;
                m_Value[0] = static_cast<uint32_t>((1.0 - share) * 2.0 * m);
            } else {
                m_Value[0] = m;
                m_Value[1] = static_cast<uint32_t>(std::min(2.0 * share * m, static_cast<double>(m)));
            }
            break;
        }
    }
    // A refused write leaves the control as it was; keep the block in step with it.
    if (!SetDetails()) {
        m_Value[0] = before[0];
        if (stereo)
            m_Value[1] = before[1];
    }
}

void CMixerFader::OnScroll(UINT code) {
    if (m_Value == nullptr || m_pSlider == nullptr)
        return;
    switch (code) {
        case TB_PAGEUP:
        case TB_PAGEDOWN:
        case TB_THUMBTRACK:
        case TB_ENDTRACK:
            SetValue();
            break;
        default:
            break;
    }
}

void CMixerFader::OnDestroy() {
    m_Value = nullptr;
    Close();
    m_pSlider = nullptr;
}

LRESULT CMixerFader::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == MM_MIXM_CONTROL_CHANGE && m_Value != nullptr &&
        wParam == reinterpret_cast<WPARAM>(m_hMixer) &&
        static_cast<uint32_t>(lParam) == m_Control.dwControlID && GetDetails())
        ShowValue();
    return 0;
}
