#include "video/FrameChange.h"

#include <algorithm>
#include <cstdlib>

bool ComputeBlockMeans(const uint8_t* p, int width, int height, int bytesPerPixel, int columns, int rows,
                       std::vector<SBlockMeans>& out) {
    if (!p || width <= 0 || height <= 0 || bytesPerPixel <= 0 || columns <= 0 || rows <= 0)
        return false;
    const int blockWidth = width / columns, blockHeight = height / rows;
    if (blockWidth == 0 || blockHeight == 0 || long(columns) * rows > kFrameChangeMaxBlocks)
        return false;
    out.assign(static_cast<size_t>(columns) * rows, SBlockMeans{{0, 0, 0}});
    // Kept between calls: capture reduces every grabbed frame.
    thread_local std::vector<long> sums;
    sums.resize(static_cast<size_t>(columns) * 3);
    const long area = long(blockWidth) * blockHeight;
    for (int by = 0; by < rows; ++by) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int y = by * blockHeight; y < (by + 1) * blockHeight; ++y) {
            const uint8_t* row = p + size_t(y) * width * bytesPerPixel;
            for (int bx = 0; bx < columns; ++bx) {
                const uint8_t* px = row + size_t(bx) * blockWidth * bytesPerPixel;
                long* s = &sums[size_t(bx) * 3];
                if (bytesPerPixel == 1) {
                    unsigned sum = 0;
                    for (int x = 0; x < blockWidth; ++x)
                        sum += px[x];
                    s[0] += sum;
                } else {
                    for (int x = 0; x < blockWidth; ++x, px += bytesPerPixel) {
                        s[0] += px[2];
                        s[1] += px[1];
                        s[2] += px[0];
                    }
                }
            }
        }
        for (int bx = 0; bx < columns; ++bx) {
            SBlockMeans& m = out[size_t(by) * columns + bx];
            for (int k = 0; k < 3; ++k)
                m.m[k] = static_cast<int>(sums[size_t(bx) * 3 + k] / area);
            if (bytesPerPixel == 1)
                m.m[1] = m.m[2] = m.m[0];
        }
    }
    return true;
}

bool BlockMeansDiffer(const std::vector<SBlockMeans>& a, const std::vector<SBlockMeans>& b, int bytesPerPixel,
                      int threshold, int blocksNeeded) {
    if (a.size() != b.size())
        return true;
    int counted = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int d = std::abs(a[i].m[0] - b[i].m[0]);
        if (bytesPerPixel != 1)
            d += std::abs(a[i].m[1] - b[i].m[1]) + std::abs(a[i].m[2] - b[i].m[2]);
        if (d > threshold && ++counted >= blocksNeeded)
            return true;
    }
    return false;
}

bool FrameChanged(const uint8_t* a, const uint8_t* b, int width, int height, int bytesPerPixel, int columns,
                  int rows, int threshold, int blocksNeeded) {
    thread_local std::vector<SBlockMeans> meansA, meansB;
    if (!ComputeBlockMeans(a, width, height, bytesPerPixel, columns, rows, meansA) ||
        !ComputeBlockMeans(b, width, height, bytesPerPixel, columns, rows, meansB))
        return true;
    return BlockMeansDiffer(meansA, meansB, bytesPerPixel, threshold, blocksNeeded);
}
