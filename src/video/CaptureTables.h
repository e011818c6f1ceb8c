// The fixed capture formats: sizes, FourCC codes, bit counts, and the presets that combine them.
#pragma once

#include <cstdint>

struct SCaptureSize {
    int width, height;
};
struct SCapturePreset {
    int fourccIndex, sizeIndex, bitsIndex;
};

constexpr int kCaptureSizeCount = 6;
constexpr int kCaptureFourCCCount = 4;
constexpr int kCaptureBitsCount = 4;
constexpr int kCapturePresetCount = 8;

extern const SCaptureSize kCaptureSizes[kCaptureSizeCount];
extern const uint32_t kCaptureFourCCs[kCaptureFourCCCount];
extern const int kCaptureBits[kCaptureBitsCount];
extern const SCapturePreset kCapturePresets[kCapturePresetCount];

// The presets tried, in order, by everything that starts a camera: I420, IYUV, then 24-bit RGB, 320 x 240.
constexpr int kCapturePresetOrder[] = {3, 2, 5};
