#include "audio/MixerBase.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "audio/MixerTypeNames.h"
#include "platform/Trace.h"

namespace {

constexpr const char* kCaption = "CMixerBase::Init";

std::mutex g_hookMutex;
MixerDiagnosticHook g_hook;

}  // namespace

MixerDiagnosticHook SetMixerDiagnosticHook(MixerDiagnosticHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    std::swap(g_hook, hook);
    return hook;
}

void MixerDiagnostic(const char* caption, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);

    MixerDiagnosticHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook) {
        hook(caption, text.data());
    } else {
        Trace("%s:%d | %s: %s\n", "MixerBase", __LINE__, caption, text.data());
    }
}

CMixerBase::~CMixerBase() {
    Close();
}

int CMixerBase::Init(uint32_t dstType, uint32_t srcType, uint32_t controlType, HWND hWndCallback) {
    if (mixerGetNumDevs() == 0) {
        MixerDiagnostic(kCaption, "No mixer device present");
        return 0;
    }
    Close();
    if (mixerOpen(&m_hMixer, 0, hWndCallback, 0, hWndCallback != nullptr ? CALLBACK_WINDOW : 0) !=
        MMSYSERR_NOERROR) {
        m_hMixer = nullptr;
        MixerDiagnostic(kCaption, "Could not open mixer device");
        return 0;
    }

    MIXERCAPS caps{};
    MIXERLINE dest{};
    bool found = false;
    if (mixerGetDevCaps(m_hMixer, &caps) == MMSYSERR_NOERROR) {
        for (uint32_t d = 0; d < caps.cDestinations; ++d) {
            dest = MIXERLINE{};
            dest.dwDestination = d;
            if (mixerGetLineInfo(m_hMixer, &dest, MIXER_GETLINEINFOF_DESTINATION) != MMSYSERR_NOERROR)
                break;
            if (dest.dwComponentType == dstType) {
                found = true;
                break;
            }
        }
    }
    if (!found) {
        MixerDiagnostic(kCaption, "Warning: the destination line \n%s\nwas not found.",
                        MixerLineTypeName(dstType));
        Close();
        return 0;
    }
    m_strDestName = dest.szName;

    MIXERLINE line = dest;
    if (srcType != MIXER_NO_SOURCE_LINE) {
        found = false;
        for (uint32_t s = 0; s < dest.cConnections; ++s) {
            line = MIXERLINE{};
            line.dwDestination = dest.dwDestination;
            line.dwSource = s;
            if (mixerGetLineInfo(m_hMixer, &line, MIXER_GETLINEINFOF_SOURCE) != MMSYSERR_NOERROR)
                break;
            if (line.dwComponentType == srcType) {
                found = true;
                break;
            }
        }
        if (!found) {
            MixerDiagnostic(
                kCaption,
                "Warning: the source line \n%s\n not found.\n\n(Associated to Destination line \n%s)",
                MixerLineTypeName(srcType), MixerLineTypeName(dstType));
            Close();
            return 0;
        }
    }
    m_nChannels = line.cChannels;
    m_strLineName = line.szName;
    m_strLineShortName = line.szShortName;

    if (line.cControls == 0) {
        MixerDiagnostic(kCaption, "No controls available for this audio line: %s", m_strLineName.c_str());
        Close();
        return 0;
    }
    MIXERLINECONTROLS controls{};
    controls.dwLineID = line.dwLineID;
    controls.dwControl = controlType;
    controls.cControls = 1;
    controls.pamxctrl = &m_Control;
    if (mixerGetLineControls(m_hMixer, &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR) {
        MixerDiagnostic(
            kCaption,
            "Could not find specified mixer control. Associated Windows control will be disabled.\n"
            "Control type: %s,\n\nDest line type: %s,\nSrc  line type: %s\n",
            MixerControlTypeName(controlType), MixerLineTypeName(dstType), MixerLineTypeName(srcType));
        Close();
        return 0;
    }

    m_Details = MIXERCONTROLDETAILS{};
    m_Details.dwControlID = m_Control.dwControlID;
    m_Details.cChannels = (m_Control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : m_nChannels;
    m_Details.cMultipleItems = m_Control.cMultipleItems;
    m_Details.cbDetails = sizeof(uint32_t);
    switch (m_Control.dwControlType & MIXERCONTROL_CT_UNITS_MASK) {
        case MIXERCONTROL_CT_UNITS_BOOLEAN:
        case MIXERCONTROL_CT_UNITS_SIGNED:
        case MIXERCONTROL_CT_UNITS_UNSIGNED:
        case MIXERCONTROL_CT_UNITS_DECIBELS:
        case MIXERCONTROL_CT_UNITS_PERCENT:
            break;
        default:
            Close();
            return 0;
    }
    const size_t items =
        (m_Control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? m_Control.cMultipleItems : 1;
    const size_t count = static_cast<size_t>(m_Details.cChannels) * items;
    // A block of at least one value, so a control that reports no channels cannot be read past.
    m_pDetails = std::make_unique<uint32_t[]>(count > 0 ? count : 1);
    m_Details.paDetails = m_pDetails.get();
    return 1;
}

bool CMixerBase::GetDetails() {
    return m_hMixer != nullptr &&
           mixerGetControlDetails(m_hMixer, &m_Details, MIXER_GETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

bool CMixerBase::SetDetails() {
    return m_hMixer != nullptr &&
           mixerSetControlDetails(m_hMixer, &m_Details, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

void CMixerBase::Close() {
    if (m_hMixer != nullptr)
        mixerClose(m_hMixer);
    m_hMixer = nullptr;
    m_Details.paDetails = nullptr;
    m_pDetails.reset();
}
