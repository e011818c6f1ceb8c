#include "audio/AdaptiveFilter.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kStepFloor = 1.0 / 131072;  // 2^-17

}  // namespace

CAdaptiveFilter::CAdaptiveFilter(const SAdaptiveFilterParams& params)
    : m_p(params),
      m_W(static_cast<size_t>(params.nTaps), 0.0),
      m_X(params.nTaps + params.nBlock),
      m_Y(params.nTaps + params.nBlock),
      m_E(params.nBlock),
      m_G(params.nBlock),
      m_P(params.nTaps),
      m_Acc(static_cast<size_t>(params.nTaps), 0.0),
      m_MaxQueue(static_cast<size_t>(params.nTaps) + 1),
      m_dLr(params.dLevelFloor),
      m_dStep(params.dInitialStep),
      m_dSuppressRatio(std::pow(10.0, params.dThresholdDb / 10)) {}

double CAdaptiveFilter::Estimate() const {
    if (m_bWeightsZero)
        return 0.0;
    // Four partial sums let the loop run in parallel; the order of a sum is ours to choose.
    const float* x = m_X.Newest();
    const double* w = m_W.data();
    const int n = m_p.nTaps;
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += w[i] * x[i];
        s1 += w[i + 1] * x[i + 1];
        s2 += w[i + 2] * x[i + 2];
        s3 += w[i + 3] * x[i + 3];
    }
    for (; i < n; ++i)
        s0 += w[i] * x[i];
    return (s0 + s1) + (s2 + s3);
}

void CAdaptiveFilter::Adapt(double gain) {
    const int n = m_p.nTaps;
    const float* x = m_X.Newest();
    double* acc = m_Acc.data();
    std::fill(m_Acc.begin(), m_Acc.end(), 0.0);
    // acc[i] = sum over j of G[-j] * X[-i-j], summed in j order for every i.
    for (int j = 0; j < m_p.nBlock; ++j) {
        const double g = m_G[j];
        const float* xj = x + j;
        for (int i = 0; i < n; ++i)
            acc[i] += g * xj[i];
    }
    bool zero = true;
    for (int i = 0; i < n; ++i) {
        m_W[static_cast<size_t>(i)] += gain * acc[i];
        zero = zero && m_W[static_cast<size_t>(i)] == 0.0;
    }
    m_bWeightsZero = zero;
}

void CAdaptiveFilter::PushEnvelope(float value) {
    const size_t cap = m_MaxQueue.size();
    // Drop the entries no larger than the new one from the back, those older than N from the front.
    while (m_nMaxCount > 0 && m_MaxQueue[(m_nMaxHead + m_nMaxCount - 1) % cap].second <= value)
        --m_nMaxCount;
    m_MaxQueue[(m_nMaxHead + m_nMaxCount) % cap] = {m_n, value};
    ++m_nMaxCount;
    while (m_MaxQueue[m_nMaxHead].first + static_cast<uint64_t>(m_p.nTaps) <= m_n) {
        m_nMaxHead = (m_nMaxHead + 1) % cap;
        --m_nMaxCount;
    }
}

double CAdaptiveFilter::Process(double x, double y) {
    const auto& p = m_p;
    // 1. History.
    m_X.Push(static_cast<float>(x));
    m_Y.Push(static_cast<float>(y));
    // 2. Estimate and error, never larger than the input.
    const double estimate = Estimate();
    double e = m_Y[0] - estimate;
    if (std::fabs(e) > std::fabs(y))
        e = y;
    // 3. Error history.
    m_E.Push(static_cast<float>(e));
    m_G.Push(m_E[0]);
    // 4. Input level and reference envelope.
    m_dLi = p.dAttack * std::fabs(m_Y[0]) + (1 - p.dAttack) * m_dLi;
    const float envelope = static_cast<float>(p.dAttack * std::fabs(m_X[0]) + (1 - p.dDecay) * m_P[0]);
    m_P.Push(envelope);
    PushEnvelope(envelope);
    // 5. Normaliser from the previous sample's state.
    const double q = m_nHold > 0 ? 1.0 : m_dLr * m_dLr;
    // 6. Step size: decays after the start-up, down to a floor.
    if (m_dStartupEnd == 0) {
        m_dStep = p.dInitialStep;
    } else {
        const double t = static_cast<double>(m_n) / p.dSampleRate;
        if (static_cast<double>(m_n) > (m_dStartupEnd + 5) * p.dSampleRate) {
            // Once at the floor the decaying term only shrinks: no need to compute it again.
            if (!m_bStepFloored) {
                const double decayed =
                    p.dInitialStep * std::exp(-(t - 5 - m_dStartupEnd) / p.dStepTimeConstant);
                m_dStep = std::max(decayed, kStepFloor);
                m_bStepFloored = decayed <= kStepFloor;
            }
        }
    }
    // 7. Gain.
    const double gain = std::min(m_dStep / q, 1.0);
    // 8. Levels.
    m_dLe = p.dErrorSmoothing * std::fabs(m_E[0]) + (1 - p.dErrorSmoothing) * m_dLe;
    m_dLr = p.dReferenceSmoothing * std::fabs(m_X[0]) + (1 - p.dReferenceSmoothing) * m_dLr;
    if (m_dLr < p.dLevelFloor)
        m_dLr = p.dLevelFloor;
    // 9. Hold adaptation while the input is loud against the recent envelope.
    const double peak = std::max(0.0, static_cast<double>(m_MaxQueue[m_nMaxHead].second));
    if (0.2 * peak < m_dLi) {
        m_nHold = p.nHold;
    } else if (m_nHold > 0) {
        --m_nHold;
    }
    // 10. Block adaptation.
    if (m_nHold == 0 && m_n % static_cast<uint64_t>(p.nBlock) == 0)
        Adapt(gain);
    // 11. End of start-up once the error is far above the reference.
    if (m_bStartup && m_dLe > 0 && m_dLr / m_dLe < 1e-2) {
        m_bStartup = false;
        m_dStartupEnd = static_cast<double>(m_n) * 0.000125;
    }
    // 12. Residual attenuation.
    double out = e;
    if (m_nHold == 0) {
        const double r = m_dLe / m_dLr;
        if (r < m_dSuppressRatio && r > 0) {
            const double lr = std::log(r);
            if (10 * lr > -70)
                out = e * std::pow(10.0, 0.5 * lr + 1.2);
        }
    }
    // 13.
    ++m_n;
    return out;
}
