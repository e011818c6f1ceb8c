#include "audio/WavFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr size_t kHeaderBytes = 44;
// Rates outside these are damaged files (and would make resampling unbounded).
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 384000;
// 4 GiB is the format's own limit; the data chunk's size field must stay representable.
constexpr size_t kMaxDataBytes = 0xFFFFFFFFu - kHeaderBytes;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void MakeHeader(uint8_t* h, uint32_t rate, uint16_t channels, uint32_t dataBytes) {
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, kFormatPcm);
    Put16(h + 22, channels);
    Put32(h + 24, rate);
    Put32(h + 28, rate * channels * 2);
    Put16(h + 32, static_cast<uint16_t>(channels * 2));
    Put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}

}  // namespace

bool ParseWav(const uint8_t* data, size_t size, SWavFormat& format, std::vector<int16_t>& samples) {
    samples.clear();
    if (data == nullptr || size < 12 || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WAVE", 4) != 0) {
        return false;
    }
    bool haveFormat = false;
    SWavFormat f;
    size_t pos = 12;
    while (size - pos >= 8) {
        const uint8_t* chunk = data + pos;
        const uint32_t length = Le32(chunk + 4);
        const size_t body = pos + 8;
        const size_t available = size - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || length > available)
                return false;
            const uint16_t tag = Le16(chunk + 8);
            f.nChannels = Le16(chunk + 10);
            f.nSamplesPerSec = Le32(chunk + 12);
            const uint16_t blockAlign = Le16(chunk + 20);
            f.wBitsPerSample = Le16(chunk + 22);
            uint16_t subTag = tag;
            if (tag == kFormatExtensible) {
                if (length < 40)
                    return false;
                subTag = Le16(chunk + 32);  // first two bytes of the sub-format GUID
            }
            if (subTag != kFormatPcm || f.nChannels == 0 || f.nChannels > 8 || f.nSamplesPerSec < kMinRate ||
                f.nSamplesPerSec > kMaxRate || (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) ||
                blockAlign != f.nChannels * (f.wBitsPerSample / 8)) {
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return false;
            // A writer that died before fixing its sizes leaves a length past the end: take what is there.
            const size_t bytes = std::min<size_t>(length, available);
            const size_t width = f.wBitsPerSample / 8;
            const size_t frameBytes = width * f.nChannels;
            const size_t count = bytes / frameBytes * f.nChannels;
            samples.resize(count);
            const uint8_t* p = data + body;
            for (size_t i = 0; i < count; ++i) {
                samples[i] = width == 2 ? static_cast<int16_t>(Le16(p + 2 * i))
                                        : static_cast<int16_t>((static_cast<int>(p[i]) - 128) << 8);
            }
            format = f;
            return true;
        }
        // Chunks are padded to an even length.
        const size_t skip = static_cast<size_t>(length) + (length & 1u);
        if (skip > available)
            return false;
        pos = body + skip;
    }
    return false;
}

bool ReadWavFile(const std::string& path, SWavFormat& format, std::vector<int16_t>& samples) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseWav(bytes.data(), bytes.size(), format, samples);
}

bool WriteWavFile(const std::string& path, uint32_t rate, uint16_t channels,
                  const std::vector<int16_t>& samples) {
    CWavWriter w;
    if (!w.Open(path, rate, channels))
        return false;
    const bool ok = w.Write(samples.data(), samples.size());
    w.Close();
    return ok;
}

std::vector<int16_t> ConvertPcm(const std::vector<int16_t>& samples, uint32_t fromRate, uint16_t fromChannels,
                                uint32_t toRate, uint16_t toChannels) {
    if (fromChannels == 0 || toChannels == 0 || fromRate == 0 || toRate == 0)
        return {};
    const size_t frames = samples.size() / fromChannels;
    std::vector<double> mono(frames);
    for (size_t i = 0; i < frames; ++i) {
        double sum = 0;
        for (uint16_t c = 0; c < fromChannels; ++c)
            sum += samples[i * fromChannels + c];
        mono[i] = sum / fromChannels;
    }
    std::vector<double> resampled;
    if (fromRate == toRate || frames == 0) {
        resampled = std::move(mono);
    } else {
        const size_t outFrames = static_cast<size_t>(static_cast<double>(frames) * toRate / fromRate);
        resampled.resize(outFrames);
        const double step = static_cast<double>(fromRate) / toRate;
        for (size_t i = 0; i < outFrames; ++i) {
            const double t = static_cast<double>(i) * step;
            const size_t k = std::min(static_cast<size_t>(t), frames - 1);
            const double frac = t - static_cast<double>(k);
            const double next = k + 1 < frames ? mono[k + 1] : mono[k];
            resampled[i] = mono[k] + (next - mono[k]) * frac;
        }
    }
    std::vector<int16_t> out(resampled.size() * toChannels);
    for (size_t i = 0; i < resampled.size(); ++i) {
        const auto v = static_cast<int16_t>(std::clamp(std::lround(resampled[i]), -32768L, 32767L));
        for (uint16_t c = 0; c < toChannels; ++c)
            out[i * toChannels + c] = v;
    }
    return out;
}

CWavWriter::~CWavWriter() {
    Close();
}

bool CWavWriter::Open(const std::string& path, uint32_t rate, uint16_t channels) {
    Close();
    if (channels == 0 || rate == 0)
        return false;
    m_pFile = std::fopen(path.c_str(), "wb+");
    if (m_pFile == nullptr)
        return false;
    m_nRate = rate;
    m_nChannels = channels;
    m_nSamples = 0;
    if (!WriteHeader()) {
        Close();
        return false;
    }
    return true;
}

bool CWavWriter::Write(const int16_t* samples, size_t count) {
    if (m_pFile == nullptr)
        return false;
    if ((m_nSamples + count) * 2 > kMaxDataBytes)
        return false;
    std::vector<uint8_t> bytes(count * 2);
    for (size_t i = 0; i < count; ++i)
        Put16(&bytes[2 * i], static_cast<uint16_t>(samples[i]));
    if (std::fseek(m_pFile, 0, SEEK_END) != 0)
        return false;
    if (count > 0 && std::fwrite(bytes.data(), 1, bytes.size(), m_pFile) != bytes.size())
        return false;
    m_nSamples += count;
    return WriteHeader();
}

void CWavWriter::Close() {
    if (m_pFile == nullptr)
        return;
    WriteHeader();
    std::fclose(m_pFile);
    m_pFile = nullptr;
}

bool CWavWriter::WriteHeader() {
    uint8_t header[kHeaderBytes];
    MakeHeader(header, m_nRate, m_nChannels, static_cast<uint32_t>(m_nSamples * 2));
    if (std::fseek(m_pFile, 0, SEEK_SET) != 0)
        return false;
    if (std::fwrite(header, 1, sizeof header, m_pFile) != sizeof header)
        return false;
    return std::fflush(m_pFile) == 0;
}
