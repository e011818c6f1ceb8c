#include "support/Speech.h"

#include "audio/WavFile.h"
#include "support/Process.h"

namespace vp::test {

bool MakeSpeechWav(const std::string& text, const std::string& path, double leadSeconds,
                   double trailSeconds) {
    CTempDir dir("vp-speech");
    const std::string raw = dir.File("espeak.wav");
    if (RunProgram({"espeak-ng", "-v", "en", "-s", "150", "-w", raw, text}) != 0)
        return false;
    return RunProgram({"sox", raw, "-r", "8000", "-c", "1", "-b", "16", "-e", "signed-integer", path, "pad",
                       std::to_string(leadSeconds), std::to_string(trailSeconds)}) == 0;
}

bool MakeSpeech(const std::string& text, std::vector<int16_t>& samples, double leadSeconds,
                double trailSeconds) {
    CTempDir dir("vp-speech");
    const std::string path = dir.File("speech.wav");
    if (!MakeSpeechWav(text, path, leadSeconds, trailSeconds))
        return false;
    SWavFormat format;
    return ReadWavFile(path, format, samples) && format.nSamplesPerSec == 8000 && format.nChannels == 1;
}

}  // namespace vp::test
