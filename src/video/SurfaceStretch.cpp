#include <cmath>
#include <cstring>

#include "video/ColourRows.h"
#include "video/RowScratch.h"
#include "video/Surface.h"

namespace {

constexpr double kOne = 4294967296.0;  // 1.0 in 32.32 fixed point
constexpr double kFar = 1 << 30;       // beyond any picture: positions stay well inside 64 bits

// The destination pixels of one axis on the surface, the source position of the first and the step from
// one to the next, in 32.32 fixed point.
struct SAxis {
    int first = 0, last = -1;
    int64_t position = 0, step = 0;
};

// Destination pixels ceil(d - 0.5) on, floor(ceil(d - 0.5 + dSize) - (d - 0.5)) of them, cut to
// 0...limit - 1; pixel i samples the source at s + (i - d + 0.5) x step - 0.5 + 1/32.
bool SetUpAxis(double d, double dSize, double s, double sSize, int limit, SAxis& axis) {
    if (!(dSize > 0 && sSize > 0 && std::fabs(d) < kFar && dSize < kFar && std::fabs(s) < kFar &&
          sSize < kFar))
        return false;
    const double step = sSize / dSize;
    if (!(step < kFar))
        return false;
    const double first = std::ceil(d - 0.5);
    const double last = first + std::floor(std::ceil(d - 0.5 + dSize) - (d - 0.5)) - 1;
    const double lo = std::fmax(first, 0), hi = std::fmin(last, limit - 1);
    if (lo > hi)
        return false;
    const auto at = [&](double i) { return s + (i - d + 0.5) * step - 0.5 + 1.0 / 32; };
    if (!(std::fabs(at(lo)) < kFar && std::fabs(at(hi)) < kFar))
        return false;
    axis.first = int(lo), axis.last = int(hi);
    axis.step = int64_t(std::floor(step * kOne));
    axis.position = int64_t(std::floor(at(lo) * kOne));
    return true;
}

// The source pixel at or before a position and the top 4 bits of the position's fraction; a position
// before the first pixel, or whose next pixel lies past the last, takes that edge pixel alone (fraction 0).
struct STap {
    int index, fraction;
};
STap TapAt(int64_t position, int size) {
    if (position < 0)
        return {0, 0};
    const int64_t whole = position >> 32;
    if (whole + 1 > size - 1)
        return {size - 1, 0};
    return {int(whole), int(position >> 28) & 15};
}

}  // namespace

bool CSurface::StretchBilinear(double dx, double dy, double dw, double dh, const CSurface& src, double sx,
                               double sy, double sw, double sh) {
    if (m_nBitsPerPixel != 32 || src.m_nBitsPerPixel != 32 || src.m_nWidth < 1 || src.m_nHeight < 1)
        return false;
    SAxis xs, ys;
    if (!SetUpAxis(dx, dw, sx, sw, m_nWidth, xs) || !SetUpAxis(dy, dh, sy, sh, m_nHeight, ys))
        return false;
    const int count = xs.last - xs.first + 1;
    // A one-pixel-wide source is read through a two-pixel copy of each row, so that every tap has a pair.
    const int sourceWidth = src.m_nWidth < 2 ? 2 : src.m_nWidth;

    // Column taps, then two rows of horizontal sums (one per source row in use).
    thread_local CRowScratch scratch;
    const size_t rowBytes = size_t(count) * 8;
    uint8_t* memory = scratch.Get(size_t(count) * 4 + rowBytes + 2 * rowBytes + 32);
    if (!memory)
        return false;
    auto* columns = reinterpret_cast<int32_t*>(memory);
    uint8_t* weights = memory + (size_t(count) * 4 + 31) / 32 * 32;
    uint8_t* sums[2] = {weights + rowBytes, weights + 2 * rowBytes};
    int sumRow[2] = {-1, -1};

    int64_t position = xs.position;
    for (int i = 0; i < count; ++i, position += xs.step) {
        const STap tap = TapAt(position, sourceWidth);
        // The last pixel alone is the second of the last pair.
        const bool last = tap.index == sourceWidth - 1;
        columns[i] = last ? tap.index - 1 : tap.index;
        const auto w0 = uint8_t(last ? 0 : 16 - tap.fraction), w1 = uint8_t(last ? 16 : tap.fraction);
        const uint8_t w[8] = {w0, w1, w0, w1, w0, w1, 0, 0};
        std::memcpy(weights + 8 * i, w, 8);
    }

    const RowKernel across = SelectStretchColumns(), down = SelectStretchRows();
    uint8_t narrow[8];
    const auto sumsOf = [&](int row, int keep) -> const uint8_t* {
        for (int k = 0; k < 2; ++k)
            if (sumRow[k] == row)
                return sums[k];
        const int k = sumRow[0] == keep ? 1 : 0;  // never evict the other row this line needs
        SRowPlanes rows;
        rows.in[0] = src.m_pBits + row * src.m_nStride;
        if (src.m_nWidth < 2) {
            std::memcpy(narrow, rows.in[0], 4);
            std::memcpy(narrow + 4, rows.in[0], 4);
            rows.in[0] = narrow;
        }
        rows.in[1] = reinterpret_cast<const uint8_t*>(columns);
        rows.in[2] = weights;
        rows.out[0] = sums[k];
        across(rows, count);
        sumRow[k] = row;
        return sums[k];
    };

    position = ys.position;
    for (int j = ys.first; j <= ys.last; ++j, position += ys.step) {
        const STap tap = TapAt(position, src.m_nHeight);
        const int upper = tap.index, lower = tap.fraction ? tap.index + 1 : tap.index;
        SRowPlanes rows;
        rows.in[0] = sumsOf(upper, lower);
        rows.in[1] = sumsOf(lower, upper);
        rows.param = tap.fraction;
        rows.out[0] = m_pBits + j * m_nStride + 4L * xs.first;
        down(rows, count);
    }
    return true;
}
