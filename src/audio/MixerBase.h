// One control on one line of mixer device 0, found by the types of its destination line, source line
// and control, with a block for its per-channel values.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/MixerApi.h"

// Every binding failure hands a caption and a text here. Users never see them: by default they go to
// the trace; tests install their own hook. Returns the previous hook (nullptr restores the default).
using MixerDiagnosticHook = std::function<void(const std::string& caption, const std::string& text)>;
MixerDiagnosticHook SetMixerDiagnosticHook(MixerDiagnosticHook hook);
void MixerDiagnostic(const char* caption, const char* format, ...) __attribute__((format(printf, 2, 3)));

class CMixerBase {
public:
    CMixerBase() = default;
    virtual ~CMixerBase();
    CMixerBase(const CMixerBase&) = delete;
    CMixerBase& operator=(const CMixerBase&) = delete;

    // srcType MIXER_NO_SOURCE_LINE takes the control on the destination line itself. Changes of the
    // device's controls are posted to `hWndCallback` (none when it is null). 1 on success, 0 on failure.
    int Init(uint32_t dstType, uint32_t srcType, uint32_t controlType, HWND hWndCallback);
    // Read the control's values into the block, or write them from it.
    bool GetDetails();
    bool SetDetails();
    void Close();
    bool IsOpen() const { return m_hMixer != nullptr; }

    const std::string& GetLineName() const { return m_strLineName; }
    std::string GetControlName() const { return m_hMixer != nullptr ? m_Control.szName : std::string(); }

protected:
    std::string m_strLineName;
    std::string m_strDestName;
    std::string m_strLineShortName;
    HMIXER m_hMixer = nullptr;
    MIXERCONTROL m_Control{};
    uint32_t m_nChannels = 0;
    MIXERCONTROLDETAILS m_Details{};
    std::unique_ptr<uint32_t[]> m_pDetails;
};
