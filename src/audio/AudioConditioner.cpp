#include "audio/AudioConditioner.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "audio/AdaptiveFilter.h"

namespace {

std::unique_ptr<CAudioConditioner> g_pConditioner;
// Made once per process and kept, whatever happens to the conditioner.
bool g_bFiltersMade = false;
std::unique_ptr<CAdaptiveFilter> g_pFilter1;
std::unique_ptr<CAdaptiveFilter> g_pFilter2;

void MakeFilters() {
    if (g_bFiltersMade)
        return;
    g_bFiltersMade = true;
    const SAdaptiveFilterParams params;  // N 256, B 16, mu0 2^-13, ... as the defaults say
    g_pFilter1 = std::make_unique<CAdaptiveFilter>(params);
    g_pFilter2 = std::make_unique<CAdaptiveFilter>(params);
}

}  // namespace

int16_t FilterToSample(double r) {
    const double v = r * 32767;
    if (v > 32767)
        return 32767;
    if (v < -32767)
        return -32767;
    return static_cast<int16_t>(v);  // truncates toward zero
}

CAudioConditioner& CAudioConditioner::Instance() {
    if (!g_pConditioner)
        g_pConditioner.reset(new CAudioConditioner);
    return *g_pConditioner;
}

bool CAudioConditioner::Exists() {
    return g_pConditioner != nullptr;
}

void CAudioConditioner::Release() {
    g_pConditioner.reset();
}

CAudioConditioner::CAudioConditioner() {
    MakeFilters();
    MakePreprocessor();
}

CAudioConditioner::~CAudioConditioner() {
    if (m_pState != nullptr)
        speex_preprocess_state_destroy(m_pState);
}

void CAudioConditioner::ResetPreprocessor() {
    // The library has no reset of its own: a fresh state with the same settings.
    if (m_pState != nullptr)
        speex_preprocess_state_destroy(m_pState);
    MakePreprocessor();
}

void CAudioConditioner::MakePreprocessor() {
    m_pState = speex_preprocess_state_init(kFrameSamples, 8000);
    spx_int32_t on = 1;
    spx_int32_t off = 0;
    float agcLevel = 8000.0f;
    float decay = 0.4f;
    float level = 0.3f;
    speex_preprocess_ctl(m_pState, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(m_pState, SPEEX_PREPROCESS_SET_VAD, &on);
    speex_preprocess_ctl(m_pState, SPEEX_PREPROCESS_SET_AGC, &off);
    speex_preprocess_ctl(m_pState, SPEEX_PREPROCESS_SET_AGC_LEVEL, &agcLevel);
    speex_preprocess_ctl(m_pState, SPEEX_PREPROCESS_SET_DEREVERB, &off);
    speex_preprocess_ctl(m_pState, SPEEX_PREPROCESS_SET_DEREVERB_DECAY, &decay);
    speex_preprocess_ctl(m_pState, SPEEX_PREPROCESS_SET_DEREVERB_LEVEL, &level);
}

void CAudioConditioner::Condition(int16_t* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const double x = samples[i] * kSampleScale;
        const int16_t first = FilterToSample(g_pFilter1->Process(x, x));
        const double x2 = first * kSampleScale;
        samples[i] = FilterToSample(g_pFilter2->Process(x2, x2));
    }
}

bool CAudioConditioner::DetectSpeech(int16_t* samples, size_t count) {
    bool speech = false;
    for (size_t pos = 0; pos < count; pos += kFrameSamples) {
        const size_t n = std::min<size_t>(kFrameSamples, count - pos);
        if (n == kFrameSamples) {
            speech |= speex_preprocess_run(m_pState, samples + pos) != 0;
        } else {
            spx_int16_t frame[kFrameSamples] = {};
            std::memcpy(frame, samples + pos, n * sizeof(int16_t));
            speech |= speex_preprocess_run(m_pState, frame) != 0;
            std::memcpy(samples + pos, frame, n * sizeof(int16_t));
        }
    }
    return speech;
}
