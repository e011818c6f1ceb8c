// Speech for tests, spoken by espeak-ng and brought to 8000 Hz mono 16-bit by sox, with silence around it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vp::test {

// Writes the spoken text to `path`, with `leadSeconds` of silence before and `trailSeconds` after.
// False when espeak-ng or sox fails.
bool MakeSpeechWav(const std::string& text, const std::string& path, double leadSeconds = 0.5,
                   double trailSeconds = 0.5);
// The same, as samples at 8000 Hz.
bool MakeSpeech(const std::string& text, std::vector<int16_t>& samples, double leadSeconds = 0.5,
                double trailSeconds = 0.5);

}  // namespace vp::test
