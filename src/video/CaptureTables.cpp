#include "video/CaptureTables.h"

#include "video/ImageFormat.h"

const SCaptureSize kCaptureSizes[kCaptureSizeCount] = {{0, 0},     {160, 120}, {176, 144},
                                                       {320, 240}, {352, 288}, {640, 480}};
const uint32_t kCaptureFourCCs[kCaptureFourCCCount] = {0, 0, kFourCCI420, kFourCCIYUV};
const int kCaptureBits[kCaptureBitsCount] = {0, 12, 24, 0};
const SCapturePreset kCapturePresets[kCapturePresetCount] = {
    {0, 0, 0}, {3, 1, 1}, {3, 3, 1}, {2, 3, 1}, {1, 1, 2}, {1, 3, 2}, {1, 4, 2}, {1, 5, 2},
};
