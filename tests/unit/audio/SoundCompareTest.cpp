// The sound measures the call tests rely on: a measure that passes bad sound or fails good sound would
// make those tests meaningless.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "support/SoundCompare.h"

namespace {

// An envelope shaped like speech: words of 5 to 20 loud-ish windows with pauses of silence between them.
std::vector<double> SpeechLike(unsigned seed, size_t words = 12) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> length(5, 20), pause(3, 8);
    std::uniform_real_distribution<double> level(200, 3000);
    std::vector<double> e(25, 0.0);
    for (size_t w = 0; w < words; ++w) {
        for (int i = length(rng); i > 0; --i)
            e.push_back(level(rng));
        e.insert(e.end(), static_cast<size_t>(pause(rng)), 0.0);
    }
    e.insert(e.end(), 25, 0.0);
    return e;
}

// What a receiver records: no leading silence, a little level change, and `gap` silent windows added
// at window `at` of the sound where its playback ran dry.
std::vector<double> Heard(const std::vector<double>& spoken, size_t at, size_t gap) {
    std::vector<double> h;
    size_t i = 0;
    while (i < spoken.size() && spoken[i] == 0)
        ++i;
    for (size_t n = 0; i < spoken.size(); ++i, ++n) {
        if (n == at)
            h.insert(h.end(), gap, 0.0);
        h.push_back(spoken[i] == 0 ? 0 : spoken[i] * 0.8 + 20);  // pauses stay digital silence
    }
    return h;
}

TEST(SoundCompare, PausesAddedOnTheWayDoNotHideTheSpeech) {
    const auto spoken = SpeechLike(1);
    const auto clean = Heard(spoken, 0, 0);
    EXPECT_GT(vp::test::GapTolerantCorrelation(spoken, clean), 0.95);
    for (size_t gap : {5, 10, 25}) {
        const auto late = Heard(spoken, 60, gap);
        EXPECT_GT(vp::test::GapTolerantCorrelation(spoken, late), 0.95) << gap;
        // A single alignment of the whole would be thrown off by it.
        EXPECT_LT(vp::test::AlignEnvelopes(spoken, late, 100).correlation, 0.9) << gap;
    }
    const auto twice = Heard(Heard(spoken, 40, 10), 120, 20);
    EXPECT_GT(vp::test::GapTolerantCorrelation(spoken, twice), 0.95);
}

TEST(SoundCompare, OtherSpeechOrNoSoundIsNotAlike) {
    const auto spoken = SpeechLike(1);
    for (unsigned seed : {2u, 3u, 4u, 5u})
        EXPECT_LT(vp::test::GapTolerantCorrelation(spoken, Heard(SpeechLike(seed), 50, 10)), 0.7) << seed;
    // A longer speech: the other words cannot all find a place near where they were said.
    EXPECT_LT(vp::test::GapTolerantCorrelation(SpeechLike(1, 40), Heard(SpeechLike(7, 40), 90, 15)), 0.7);
    // Lining up only the edges of two envelopes is no match.
    const std::vector<double> rising = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
                              falling = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_LT(vp::test::AlignEnvelopes(rising, falling, 9).correlation, 0);
    // Nothing to compare.
    EXPECT_EQ(vp::test::GapTolerantCorrelation(spoken, {}), 0);
    EXPECT_EQ(vp::test::GapTolerantCorrelation({}, Heard(spoken, 0, 0)), 0);
    EXPECT_EQ(vp::test::GapTolerantCorrelation(spoken, std::vector<double>(100, 0.0)), 0);
}

}  // namespace
