// Measures of how alike two sounds are, for tests that send sound through lossy paths.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The lag (-maxLag..maxLag windows) at which b's envelope best matches a's, and the correlation there.
SAlignment AlignEnvelopes(const std::vector<double>& a, const std::vector<double>& b, long maxLag);

// Peak-to-peak amplitude of the samples.
int PeakToPeak(const std::vector<int16_t>& samples);

}  // namespace vp::test
