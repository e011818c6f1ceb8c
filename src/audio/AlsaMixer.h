// The ALSA back end of the mixer: ALSA's simple mixer seen as mixer devices. Device 0 is ALSA's
// "default" control device (the sound server's volumes when one runs), then each card. A device has
// a speakers destination carrying the main playback volume, with the other playback volumes as its
// sources, and a recording destination carrying the main capture volume, whose sources are the capture
// volumes; the microphone's is the "Mic" capture volume, or the main capture volume when the card (or
// the sound server) has no separate one. Values run from 0 to the element's range; ALSA's own minimum
// is added on the way out. Changes are looked for on the opening thread ten times a second.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/MixerBackend.h"

std::shared_ptr<IMixerBackend> CreateAlsaMixerBackend();

// Which of the elements carrying a playback (or capture) volume is the main one; -1 when there are none.
int ChooseAlsaMainElement(const std::vector<std::string>& names, bool capture);
// The line type an element's name suggests (MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED when it suggests none).
uint32_t AlsaElementLineType(const std::string& name);
