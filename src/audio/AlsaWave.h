// The ALSA back end of the wave devices: the PCM devices a user recognises from ALSA's device hints
// ("default", "pulse" and "pipewire" when a sound server runs, and each card's own devices), opened with
// ALSA's resampling so any of them delivers the format asked for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/WaveBackend.h"

std::shared_ptr<IWaveBackend> CreateAlsaWaveBackend();

// The hint names worth offering, in the order offered ("default" first); `ioid` is ALSA's "Input",
// "Output" or empty for both. Exposed for tests.
std::vector<std::string> SelectAlsaDeviceNames(const std::vector<std::pair<std::string, std::string>>& hints,
                                               bool capture);
