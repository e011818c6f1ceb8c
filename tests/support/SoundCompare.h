// Measures of how alike two sounds are, for tests that send sound through lossy paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vp::test {

// RMS level of consecutive windows of `window` samples.
std::vector<double> Envelope(const std::vector<int16_t>& samples, size_t window = 160);

// Pearson correlation of two sequences over their common length (0 when either is flat).
double Correlation(const std::vector<double>& a, const std::vector<double>& b);

struct SAlignment {
    long lag = 0;            // windows by which `b` lags `a` (negative: leads it)
    double correlation = 0;  // envelope correlation at that lag
};

// The lag (-maxLag..maxLag windows) at which b's envelope best matches a's, and the correlation there;
// only lags at which at least 80% of the shorter envelope overlaps the other count.
SAlignment AlignEnvelopes(const std::vector<double>& a, const std::vector<double>& b, long maxLag);

// How alike heard sound is to spoken sound when the path may add pauses: where a playback device ran
// dry it played digital silence, and everything after it comes later. The heard envelope is cut at its
// runs of at least `minGap` silent windows; its first piece is aligned near the delay between the two
// onsets, each further piece at a delay from `-slack` to `maxDrift` windows more than the piece before
// it. The result is the correlation of the heard windows outside the pauses with the spoken windows they
// were aligned with; 0 when a fifth of the heard sound found no place.
double GapTolerantCorrelation(const std::vector<double>& spoken, const std::vector<double>& heard,
                              size_t minGap = 3, long maxDrift = 25, long slack = 2);

// The gap-tolerant correlation of the envelopes of two WAV files, spoken and heard; -1 when either
// cannot be read.
double HeardLikeSpoken(const std::string& spokenWav, const std::string& heardWav);

// Peak-to-peak amplitude of the samples.
int PeakToPeak(const std::vector<int16_t>& samples);

}  // namespace vp::test
