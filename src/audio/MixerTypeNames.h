// Display names of line and control types for the fader diagnostics: each constant's name as text.
#pragma once

#include <cstdint>

// "MIXERLINE_COMPONENTTYPE_DST_SPEAKERS", "No source line" for the pseudo type, else
// "---- UNKNOWN LINE TYPE ----".
const char* MixerLineTypeName(uint32_t componentType);
// "MIXERCONTROL_CONTROLTYPE_VOLUME", else "---- UNKNOWN CONTROL TYPE ----".
const char* MixerControlTypeName(uint32_t controlType);
