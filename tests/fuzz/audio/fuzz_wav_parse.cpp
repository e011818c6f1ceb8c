// WAV images from disk: any bytes give a clean refusal or samples inside the image.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SWavFormat format;
    std::vector<int16_t> samples;
    if (ParseWav(data, size, format, samples)) {
        // What the virtual capture device does with a file it accepted.
        ConvertPcm(samples, format.nSamplesPerSec, format.nChannels, 8000, 1);
    }
    return 0;
}
