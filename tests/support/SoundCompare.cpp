#include "support/SoundCompare.h"

#include <algorithm>
#include <cmath>

#include "audio/WavFile.h"

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
        // A few windows that happen to match prove nothing: most of the shorter one must take part.
        const size_t overlap =
            std::min(a.size() - std::min(skipA, a.size()), b.size() - std::min(skipB, b.size()));
        if (overlap < 2 || overlap * 10 < std::min(a.size(), b.size()) * 8)
            continue;
        const std::vector<double> ta(a.begin() + static_cast<long>(skipA), a.end());
        const std::vector<double> tb(b.begin() + static_cast<long>(skipB), b.end());
        const double c = Correlation(ta, tb);
        if (c > best.correlation)
            best = {lag, c};
    }
    return best;
}

namespace {

struct SPiece {
    size_t begin = 0, end = 0;  // heard windows [begin, end)
};

// The stretches of heard sound between runs of at least minGap silent windows.
std::vector<SPiece> SoundPieces(const std::vector<double>& heard, size_t minGap) {
    std::vector<SPiece> pieces;
    size_t i = 0;
    while (i < heard.size()) {
        while (i < heard.size() && heard[i] == 0)
            ++i;
        if (i == heard.size())
            break;
        SPiece p{i, i};
        size_t zeros = 0;
        for (; i < heard.size(); ++i) {
            zeros = heard[i] == 0 ? zeros + 1 : 0;
            if (zeros >= minGap)
                break;
        }
        p.end = i - (zeros > 0 ? zeros : 0);
        pieces.push_back(p);
    }
    return pieces;
}

// Correlation of a heard piece with the spoken windows `lag` earlier; -2 when they do not overlap enough.
double PieceCorrelation(const std::vector<double>& spoken, const std::vector<double>& heard, const SPiece& p,
                        long lag, std::vector<double>* xs = nullptr, std::vector<double>* ys = nullptr) {
    std::vector<double> a, b;
    for (size_t i = p.begin; i < p.end; ++i) {
        const long j = static_cast<long>(i) - lag;
        if (j < 0 || j >= static_cast<long>(spoken.size()))
            continue;
        a.push_back(spoken[static_cast<size_t>(j)]);
        b.push_back(heard[i]);
    }
    if (a.size() * 10 < (p.end - p.begin) * 8)
        return -2;
    if (xs != nullptr) {
        xs->insert(xs->end(), a.begin(), a.end());
        ys->insert(ys->end(), b.begin(), b.end());
    }
    return a.size() < 2 ? 0 : Correlation(a, b);
}

// The first window louder than a tenth of the loudest; -1 when there is none.
long Onset(const std::vector<double>& e) {
    if (e.empty())
        return -1;
    const double threshold = *std::max_element(e.begin(), e.end()) / 10;
    for (size_t i = 0; i < e.size(); ++i)
        if (e[i] > threshold && e[i] > 0)
            return static_cast<long>(i);
    return -1;
}

}  // namespace

double GapTolerantCorrelation(const std::vector<double>& spoken, const std::vector<double>& heard,
                              size_t minGap, long maxDrift, long slack) {
    const auto pieces = SoundPieces(heard, std::max<size_t>(minGap, 1));
    const long spokenOnset = Onset(spoken), heardOnset = Onset(heard);
    if (pieces.empty() || spokenOnset < 0 || heardOnset < 0)
        return 0;
    // Both begin with their first sound: the first piece starts near the delay between the onsets.
    long lag = heardOnset - spokenOnset;
    long lo = lag - maxDrift, hi = lag + maxDrift;
    std::vector<double> xs, ys;
    size_t sound = 0;
    for (const auto& p : pieces) {
        sound += p.end - p.begin;
        double best = -2;
        long bestLag = lag;
        for (long l = lo; l <= hi; ++l) {
            const double c = PieceCorrelation(spoken, heard, p, l);
            if (c > best) {
                best = c;
                bestLag = l;
            }
        }
        if (best <= -2)
            continue;  // counts against the result: its windows are missing from the pairs
        PieceCorrelation(spoken, heard, p, bestLag, &xs, &ys);
        lag = bestLag;
        lo = lag - slack;
        hi = lag + maxDrift;
    }
    if (xs.size() * 10 < sound * 8)
        return 0;
    return Correlation(xs, ys);
}

int PeakToPeak(const std::vector<int16_t>& samples) {
    if (samples.empty())
        return 0;
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
    return static_cast<int>(*hi) - static_cast<int>(*lo);
}

double HeardLikeSpoken(const std::string& spokenWav, const std::string& heardWav) {
    SWavFormat format;
    std::vector<int16_t> a, b;
    if (!ReadWavFile(spokenWav, format, a) || !ReadWavFile(heardWav, format, b))
        return -1;
    return GapTolerantCorrelation(Envelope(a), Envelope(b));
}

}  // namespace vp::test
