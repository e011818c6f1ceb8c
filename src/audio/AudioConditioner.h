// CAudioConditioner: the process's one conditioner of captured sound: two adaptive filters in a row, then
// SpeexDSP's preprocessor, whose denoiser cleans each 20 ms frame and whose voice detector is the first
// of the sender's two silence detectors. The filters are the process's; what the preprocessor learns of
// the background belongs to one call.
#pragma once

#include <cstddef>
#include <cstdint>

#include <speex/speex_preprocess.h>

class CAdaptiveFilter;

class CAudioConditioner {
public:
    static constexpr int kFrameSamples = 160;

    // The process's conditioner, made on first use.
    static CAudioConditioner& Instance();
    static bool Exists();
    // Frees it (the next Instance() makes a fresh one); for the end of the process and for tests.
    static void Release();

    ~CAudioConditioner();
    CAudioConditioner(const CAudioConditioner&) = delete;
    CAudioConditioner& operator=(const CAudioConditioner&) = delete;

    // Forgets the background the preprocessor learnt: a steady sound it came to take for noise in one call
    // would otherwise never start a talk spurt in the next. The adaptive filters keep their state.
    void ResetPreprocessor();

    // Both adaptive filters over the samples, in place.
    void Condition(int16_t* samples, size_t count);
    // Denoises the samples in place, frame by frame (a short last frame padded with silence), and tells
    // whether any frame held speech.
    bool DetectSpeech(int16_t* samples, size_t count);

    SpeexPreprocessState* State() const { return m_pState; }

private:
    CAudioConditioner();
    void MakePreprocessor();

    SpeexPreprocessState* m_pState = nullptr;
};

// A filter result as a sample: scaled to 16 bits and saturated to +-32767, truncated toward zero.
int16_t FilterToSample(double r);
// The sample scale of the conditioner: 1/32767.
constexpr double kSampleScale = 3.0518509e-5;
