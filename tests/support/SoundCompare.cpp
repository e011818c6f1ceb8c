#include "support/SoundCompare.h"

#include <algorithm>
#include <cmath>

namespace vp::test {

std::vector<double> Envelope(const std::vector<int16_t>& samples, size_t window) {
    std::vector<double> env;
    for (size_t pos = 0; pos + window <= samples.size(); pos += window) {
        double sum = 0;
        for (size_t i = pos; i < pos + window; ++i)
            sum += static_cast<double>(samples[i]) * samples[i];
        env.push_back(std::sqrt(sum / static_cast<double>(window)));
    }
    return env;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const size_t n = std::min(a.size(), b.size());
    if (n < 2)
        return 0;
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= static_cast<double>(n);
    mb /= static_cast<double>(n);
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    if (saa <= 0 || sbb <= 0)
        return 0;
    return sab / std::sqrt(saa * sbb);
}

SAlignment AlignEnvelopes(const std::vector<double>& a, const std::vector<double>& b, long maxLag) {
    SAlignment best;
    best.correlation = -2;
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        // Positive: b lags a (drop b's first entries); negative: b leads (drop a's first entries).
        const size_t skipA = lag < 0 ? static_cast<size_t>(-lag) : 0;
        const size_t skipB = lag > 0 ? static_cast<size_t>(lag) : 0;
        if (skipA >= a.size() || skipB >= b.size())
            continue;
        const std::vector<double> ta(a.begin() + static_cast<long>(skipA), a.end());
        const std::vector<double> tb(b.begin() + static_cast<long>(skipB), b.end());
        const double c = Correlation(ta, tb);
        if (c > best.correlation)
            best = {lag, c};
    }
    return best;
}

int PeakToPeak(const std::vector<int16_t>& samples) {
    if (samples.empty())
        return 0;
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
    return static_cast<int>(*hi) - static_cast<int>(*lo);
}

}  // namespace vp::test
