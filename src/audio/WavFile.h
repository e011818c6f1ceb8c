// RIFF/WAVE files of PCM sound: reading (8- or 16-bit, any rate and channel count), writing 16-bit files
// as they grow, and the conversion the virtual devices need to deliver any file in the format asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct SWavFormat {
    uint16_t nChannels = 1;
    uint32_t nSamplesPerSec = 8000;
    uint16_t wBitsPerSample = 16;
};

// Parses a whole file image. Samples come back as signed 16-bit, interleaved. False (with nothing
// trusted from the image) for anything that is not a well-formed PCM file.
bool ParseWav(const uint8_t* data, size_t size, SWavFormat& format, std::vector<int16_t>& samples);
bool ReadWavFile(const std::string& path, SWavFormat& format, std::vector<int16_t>& samples);
// Writes 16-bit samples in one go.
bool WriteWavFile(const std::string& path, uint32_t rate, uint16_t channels,
                  const std::vector<int16_t>& samples);

// Interleaved 16-bit samples to another rate and channel count (channels averaged, linear interpolation).
std::vector<int16_t> ConvertPcm(const std::vector<int16_t>& samples, uint32_t fromRate, uint16_t fromChannels,
                                uint32_t toRate, uint16_t toChannels);

// A 16-bit file written as sound arrives; its header always describes what was written so far.
class CWavWriter {
public:
    CWavWriter() = default;
    ~CWavWriter();
    CWavWriter(const CWavWriter&) = delete;
    CWavWriter& operator=(const CWavWriter&) = delete;

    bool Open(const std::string& path, uint32_t rate, uint16_t channels);
    bool Write(const int16_t* samples, size_t count);
    void Close();
    bool IsOpen() const { return m_pFile != nullptr; }
    size_t SamplesWritten() const { return m_nSamples; }

private:
    bool WriteHeader();

    std::FILE* m_pFile = nullptr;
    uint32_t m_nRate = 8000;
    uint16_t m_nChannels = 1;
    size_t m_nSamples = 0;
};
