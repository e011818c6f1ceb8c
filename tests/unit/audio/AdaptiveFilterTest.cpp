// The adaptive filter against a literal, slow reading of its thirteen steps, and the conditioner's
// conversions around it.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>

#include "audio/AdaptiveFilter.h"
#include "audio/AudioConditioner.h"

namespace {

// The steps as written, with plain rings indexed back in time; no shortcuts.
class CLiteralFilter {
public:
    explicit CLiteralFilter(const SAdaptiveFilterParams& p)
        : p(p),
          W(size_t(p.nTaps), 0.0),
          X(size_t(p.nTaps + p.nBlock), 0.f),
          Y(X),
          E(size_t(p.nBlock), 0.f),
          G(E),
          P(size_t(p.nTaps), 0.f),
          Lr(p.dLevelFloor),
          mu(p.dInitialStep) {}

    double Process(double x, double y) {
        Push(X, xp, float(x));
        Push(Y, yp, float(y));
        double est = 0;
        for (int i = 0; i < p.nTaps; ++i)
            est += W[size_t(i)] * At(X, xp, i);
        double e = At(Y, yp, 0) - est;
        if (std::fabs(e) > std::fabs(y))
            e = y;
        Push(E, ep, float(e));
        Push(G, gp, At(E, ep, 0));
        Li = p.dAttack * std::fabs(At(Y, yp, 0)) + (1 - p.dAttack) * Li;
        const float prevP = At(P, pp, 0);
        Push(P, pp, float(p.dAttack * std::fabs(At(X, xp, 0)) + (1 - p.dDecay) * prevP));
        double q = Lr * Lr;
        if (h > 0)
            q = 1;
        if (t0 == 0) {
            mu = p.dInitialStep;
        } else {
            const double t = double(n) / 8000;
            if (double(n) > (t0 + 5) * 8000)
                mu = std::max(p.dInitialStep * std::exp(-(t - 5 - t0) / p.dStepTimeConstant), 1.0 / 131072);
        }
        const double g = std::min(mu / q, 1.0);
        Le = p.dErrorSmoothing * std::fabs(At(E, ep, 0)) + (1 - p.dErrorSmoothing) * Le;
        Lr = p.dReferenceSmoothing * std::fabs(At(X, xp, 0)) + (1 - p.dReferenceSmoothing) * Lr;
        if (Lr < p.dLevelFloor)
            Lr = p.dLevelFloor;
        double M = 0;
        for (int k = 0; k < p.nTaps; ++k)
            M = std::max(M, double(At(P, pp, k)));
        if (0.2 * M < Li) {
            h = p.nHold;
        } else if (h > 0) {
            --h;
        }
        if (h == 0 && n % uint64_t(p.nBlock) == 0) {
            for (int i = 0; i < p.nTaps; ++i) {
                double s = 0;
                for (int j = 0; j < p.nBlock; ++j)
                    s += At(G, gp, j) * At(X, xp, i + j);
                W[size_t(i)] += g * s;
            }
        }
        if (s1 && Lr / Le < 1e-2) {
            s1 = false;
            t0 = double(n) * 0.000125;
        }
        double out = e;
        const double r = Le / Lr;
        if (h == 0 && r < std::pow(10.0, p.dThresholdDb / 10) && 10 * std::log(r) > -70) {
            out = e * std::pow(10.0, 0.5 * std::log(r) + 1.2);
        }
        ++n;
        return out;
    }

private:
    static void Push(std::vector<float>& ring, size_t& pos, float v) {
        pos = (pos + 1) % ring.size();
        ring[pos] = v;
    }
    static float At(const std::vector<float>& ring, size_t pos, int k) {
        return ring[(pos + ring.size() * 4 - size_t(k)) % ring.size()];
    }

    SAdaptiveFilterParams p;
    std::vector<double> W;
    std::vector<float> X, Y, E, G, P;
    size_t xp = 0, yp = 0, ep = 0, gp = 0, pp = 0;
    double Lr, Le = 0, Li = 0, mu, t0 = 0;
    int h = 0;
    bool s1 = true;
    uint64_t n = 0;
};

void ExpectSameAsLiteral(const std::vector<std::pair<double, double>>& input,
                         const SAdaptiveFilterParams& p = {}) {
    CAdaptiveFilter fast(p);
    CLiteralFilter slow(p);
    for (size_t i = 0; i < input.size(); ++i) {
        const double a = fast.Process(input[i].first, input[i].second);
        const double b = slow.Process(input[i].first, input[i].second);
        ASSERT_NEAR(a, b, 1e-9 + 1e-9 * std::fabs(b)) << "sample " << i;
    }
}

TEST(AdaptiveFilter, MatchesTheStepsWhenReferenceAndInputDiffer) {
    // An echo-like input: the reference delayed and scaled plus noise, with quiet stretches so that the
    // hold runs out and the weights adapt.
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 0.05);
    std::vector<double> ref(12000);
    for (size_t i = 0; i < ref.size(); ++i)
        ref[i] = ((i / 1000) % 2 ? 0.3 : 0.02) * std::sin(0.05 * double(i)) + noise(rng) * 0.1;
    std::vector<std::pair<double, double>> input;
    for (size_t i = 0; i < ref.size(); ++i) {
        const double echo = i >= 20 ? 0.5 * ref[i - 20] : 0;
        input.emplace_back(ref[i], echo + noise(rng) * 0.01);
    }
    ExpectSameAsLiteral(input);
    CAdaptiveFilter f;
    for (auto [x, y] : input)
        f.Process(x, y);
    double weight = 0;
    for (double w : f.Weights())
        weight = std::max(weight, std::fabs(w));
    EXPECT_GT(weight, 0.0);  // the adaptation did run
}

TEST(AdaptiveFilter, MatchesTheStepsThroughStartUpAndStepDecay) {
    // A loud input against a faint reference ends the start-up once the input begins (an end at sample 0
    // would leave the step alone for good); the step then decays after 5 s.
    SAdaptiveFilterParams p;
    p.dStepTimeConstant = 0.05;
    std::vector<std::pair<double, double>> input;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < 8000 * 6; ++i)
        input.emplace_back(1e-6 * u(rng), i < 100 ? 0.0 : 0.5 * u(rng));
    ExpectSameAsLiteral(input, p);
    CAdaptiveFilter f(p);
    for (auto [x, y] : input)
        f.Process(x, y);
    EXPECT_TRUE(f.StartupDone());
    EXPECT_DOUBLE_EQ(f.Step(), 1.0 / 131072);
}

TEST(AdaptiveFilter, SameInputAndReferenceNeverGrowsASample) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    CAdaptiveFilter f;
    std::vector<std::pair<double, double>> input;
    for (int i = 0; i < 20000; ++i) {
        const double x = ((i / 800) % 3 == 0 ? 0.001 : 0.6) * u(rng);
        input.emplace_back(x, x);
        EXPECT_LE(std::fabs(f.Process(x, x)), std::fabs(x) + 1e-12);
    }
    ExpectSameAsLiteral(input);
}

TEST(AudioConditioner, SamplesSaturateAtPlusMinus32767AndTruncate) {
    EXPECT_EQ(FilterToSample(2.0), 32767);
    EXPECT_EQ(FilterToSample(-2.0), -32767);
    EXPECT_EQ(FilterToSample(-32768.0 / 32767), -32767);
    EXPECT_EQ(FilterToSample(100.9 / 32767), 100);
    EXPECT_EQ(FilterToSample(-100.9 / 32767), -100);
}

TEST(AudioConditioner, SpeechDetectionPadsAShortLastFrame) {
    CAudioConditioner::Release();
    auto& c = CAudioConditioner::Instance();
    EXPECT_TRUE(CAudioConditioner::Exists());
    // 250 samples: one whole frame and a short one, in an exact-size allocation ASan watches.
    std::vector<int16_t> samples(250, 0);
    c.DetectSpeech(samples.data(), samples.size());
    c.Condition(samples.data(), samples.size());
    for (int16_t s : samples)
        EXPECT_EQ(s, 0);
    CAudioConditioner::Release();
    EXPECT_FALSE(CAudioConditioner::Exists());
}

}  // namespace
