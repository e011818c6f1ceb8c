#include "video/TestPatternCamera.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct SRgb {
    int r, g, b;
};

// Colour bars across the upper part, a ramp that drifts with the frame number below them, a square that
// moves across the picture, and the frame number in cells along the bottom edge.
struct SPattern {
    int width, height;
    uint32_t frame;
    int barsBottom, counterTop, cellWidth;
    int squareX, squareY, squareSize;

    SPattern(int w, int h, uint32_t n) : width(w), height(h), frame(n) {
        counterTop = h - std::max(2, std::min(16, h / 8));
        barsBottom = h * 2 / 5;
        cellWidth = std::max(1, w / kTestPatternCounterBits);
        squareSize = std::max(2, std::min(48, h / 5));
        const int travel = std::max(1, w - squareSize);
        const int step = static_cast<int>((n * 4u) % static_cast<uint32_t>(2 * travel));
        squareX = step < travel ? step : 2 * travel - step;  // back and forth
        squareY = h / 2 - squareSize / 2;
    }

    SRgb At(int x, int y) const {
        if (y >= counterTop) {
            const int bit = x / cellWidth;
            if (bit >= kTestPatternCounterBits)
                return {128, 128, 128};
            const bool on = (frame >> (kTestPatternCounterBits - 1 - bit)) & 1u;
            return on ? SRgb{255, 255, 255} : SRgb{0, 0, 0};
        }
        if (x >= squareX && x < squareX + squareSize && y >= squareY && y < squareY + squareSize) {
            const bool border = x < squareX + 3 || x >= squareX + squareSize - 3 || y < squareY + 3 ||
                                y >= squareY + squareSize - 3;
            return border ? SRgb{250, 250, 250} : SRgb{200, 40, 40};
        }
        if (y < barsBottom) {
            static const SRgb bars[8] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                         {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {24, 24, 24}};
            return bars[std::min(7, x * 8 / width)];
        }
        const int ramp = (x * 255 / std::max(1, width - 1) + static_cast<int>(frame)) % 512;
        const int v = ramp < 256 ? ramp : 511 - ramp;
        return {v, std::min(255, v / 2 + y / 4), 255 - v};
    }
};

uint8_t Clamp(double v) {
    v += 0.5;
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}
double Luma(const SRgb& c) {
    return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
}
double Cb(const SRgb& c) {
    return 128 - 0.1684 * c.r - 0.3316 * c.g + 0.5 * c.b;
}
double Cr(const SRgb& c) {
    return 128 + 0.5 * c.r - 0.4187 * c.g - 0.0813 * c.b;
}

bool IsI420(uint32_t compression) {
    return compression == kFourCCI420 || compression == kFourCCIYUV;
}

size_t RgbStride(int width, int bits) {
    return ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
}

class CTestPatternDriver : public ICaptureDriver {
public:
    explicit CTestPatternDriver(CTestPatternBackend& owner) : m_owner(owner) {
        m_Format.header.biSize = kBitmapInfoHeaderSize;
        m_Format.header.biWidth = 320;
        m_Format.header.biHeight = 240;
        m_Format.header.biPlanes = 1;
        m_Format.header.biBitCount = 24;
        m_Format.header.biSizeImage = static_cast<uint32_t>(TestPatternFrameSize(m_Format.header));
    }

    bool GetFormat(SCaptureFormat& format) override {
        format = m_Format;
        return true;
    }

    bool SetFormat(const SCaptureFormat& format) override {
        SCaptureFormat wanted = format;
        SBitmapInfoHeader& h = wanted.header;
        h.biSize = kBitmapInfoHeaderSize;
        h.biPlanes = 1;
        const size_t size = TestPatternFrameSize(h);
        if (size == 0)
            return false;
        h.biSizeImage = static_cast<uint32_t>(size);
        m_Format = wanted;
        return true;
    }

    bool Grab(ICaptureFrameSink& sink) override {
        const SBitmapInfoHeader& h = m_Format.header;
        m_Frame.resize(TestPatternFrameSize(h));
        const uint32_t n = m_owner.TakeFrameNumber();
        if (!RenderTestPattern(h, n, m_Frame.data()))
            return false;
        sink.OnCaptureFrame(m_Frame.data(), m_Frame.size());
        return true;
    }

private:
    CTestPatternBackend& m_owner;
    SCaptureFormat m_Format;
    std::vector<uint8_t> m_Frame;
};

}  // namespace

size_t TestPatternFrameSize(const SBitmapInfoHeader& h) {
    const int w = h.biWidth, height = h.biHeight;
    if (w <= 0 || height <= 0 || (w & 1) || (height & 1) || w > 4096 || height > 4096)
        return 0;
    if (IsI420(h.biCompression))
        return h.biBitCount == 12 ? size_t(w) * height * 3 / 2 : 0;
    if (h.biCompression == 0 && (h.biBitCount == 24 || h.biBitCount == 32))
        return RgbStride(w, h.biBitCount) * height;
    return 0;
}

bool RenderTestPattern(const SBitmapInfoHeader& h, uint32_t frameNumber, uint8_t* out) {
    if (TestPatternFrameSize(h) == 0 || !out)
        return false;
    const int w = h.biWidth, height = h.biHeight;
    const SPattern pattern(w, height, frameNumber);
    if (IsI420(h.biCompression)) {
        uint8_t* y = out;
        uint8_t* u = out + size_t(w) * height;
        uint8_t* v = u + size_t(w / 2) * (height / 2);
        for (int row = 0; row < height; row += 2) {
            for (int col = 0; col < w; col += 2) {
                double cb = 0, cr = 0;
                for (int k = 0; k < 4; ++k) {
                    const SRgb c = pattern.At(col + (k & 1), row + (k >> 1));
                    y[size_t(row + (k >> 1)) * w + col + (k & 1)] = Clamp(Luma(c));
                    cb += Cb(c);
                    cr += Cr(c);
                }
                u[size_t(row / 2) * (w / 2) + col / 2] = Clamp(cb / 4);
                v[size_t(row / 2) * (w / 2) + col / 2] = Clamp(cr / 4);
            }
        }
        return true;
    }
    const int bytes = h.biBitCount / 8;
    const size_t stride = RgbStride(w, h.biBitCount);
    for (int row = 0; row < height; ++row) {
        uint8_t* line = out + stride * size_t(height - 1 - row);  // bottom-up
        std::memset(line, 0, stride);
        for (int col = 0; col < w; ++col) {
            const SRgb c = pattern.At(col, row);
            uint8_t* p = line + size_t(col) * bytes;
            p[0] = static_cast<uint8_t>(c.b);
            p[1] = static_cast<uint8_t>(c.g);
            p[2] = static_cast<uint8_t>(c.r);
        }
    }
    return true;
}

long ReadTestPatternNumber(const uint8_t* i420, int width, int height) {
    if (!i420 || width < kTestPatternCounterBits || height < 8)
        return -1;
    const SPattern pattern(width, height, 0);
    const int top = pattern.counterTop, cell = pattern.cellWidth;
    long number = 0;
    for (int bit = 0; bit < kTestPatternCounterBits; ++bit) {
        // The middle of the cell, away from edges that the codec blurs.
        const int x0 = bit * cell + cell / 4, x1 = bit * cell + cell - cell / 4;
        const int y0 = top + (height - top) / 4, y1 = height - (height - top) / 4;
        long sum = 0, count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++count)
                sum += i420[size_t(y) * width + x];
        if (count == 0)
            return -1;
        const long mean = sum / count;
        if (mean > 160)
            number = number << 1 | 1;
        else if (mean < 96)
            number <<= 1;
        else
            return -1;
    }
    return number;
}

std::unique_ptr<ICaptureDriver> CTestPatternBackend::Connect(int index) {
    if (index != 0)
        return nullptr;
    return std::make_unique<CTestPatternDriver>(*this);
}
