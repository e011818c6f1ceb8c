// CAdaptiveFilter: a block-updated normalised least-mean-squares canceller with a hold on adaptation while
// the input is loud, and an attenuator for the residual once the canceller has converged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SAdaptiveFilterParams {
    int nTaps = 256;                         // N
    int nBlock = 16;                         // B
    double dInitialStep = 1.0 / 8192;        // mu0 = 2^-13
    double dReferenceSmoothing = 1.0 / 128;  // aR
    double dErrorSmoothing = 1.0 / 128;      // aE
    double dAttack = 1.0 / 32;               // aA
    double dDecay = 1.0 / 32;                // aD
    double dLevelFloor = 1.0 / 32768;        // F
    int nHold = 600;                         // H, samples
    double dThresholdDb = -12.0;             // T
    double dStepTimeConstant = 1.0;          // tau, seconds
    double dSampleRate = 8000;
};

class CAdaptiveFilter {
public:
    explicit CAdaptiveFilter(const SAdaptiveFilterParams& params = {});

    // One sample: reference x and input y, both in -1..1. Returns the output sample.
    double Process(double x, double y);

    uint64_t SampleCount() const { return m_n; }
    double Step() const { return m_dStep; }
    int HoldCounter() const { return m_nHold; }
    bool StartupDone() const { return !m_bStartup; }
    const std::vector<double>& Weights() const { return m_W; }

private:
    // A ring whose newest entry is at the lowest address of a mirrored window: entry -k is m_data[pos + k].
    struct SRing {
        explicit SRing(int length) : n(length), data(2 * static_cast<size_t>(length), 0.0f) {}
        void Push(float v) {
            pos = (pos == 0 ? n : pos) - 1;
            data[pos] = v;
            data[pos + n] = v;
        }
        const float* Newest() const { return &data[pos]; }
        float operator[](int k) const { return data[pos + k]; }  // entry written k samples ago
        int n;
        int pos = 0;
        std::vector<float> data;
    };

    double Estimate() const;
    void Adapt(double gain);
    // Largest of the newest N envelope entries, kept as the window slides.
    void PushEnvelope(float value);

    SAdaptiveFilterParams m_p;
    std::vector<double> m_W;
    bool m_bWeightsZero = true;  // the estimate is exactly 0 until the weights move
    uint64_t m_n = 0;
    SRing m_X, m_Y, m_E, m_G, m_P;
    std::vector<double> m_Acc;
    // Sliding maximum of P: (sample number, value) pairs with decreasing values.
    std::vector<std::pair<uint64_t, float>> m_MaxQueue;
    size_t m_nMaxHead = 0;
    size_t m_nMaxCount = 0;
    double m_dLr;
    double m_dLe = 0;
    double m_dLi = 0;
    int m_nHold = 0;
    double m_dStep;
    bool m_bStepFloored = false;
    bool m_bStartup = true;
    double m_dStartupEnd = 0;
    double m_dSuppressRatio;
};
