#include "video/FrameChange.h"

#include <cstdlib>
#include <vector>

namespace {

struct SMeans {
    int m[3];
};

// Means per block, blocks row by row.
void BlockMeans(const uint8_t* p, int width, int bytesPerPixel, int columns, int rows, int blockWidth,
                int blockHeight, std::vector<SMeans>& out) {
    out.assign(static_cast<size_t>(columns) * rows, SMeans{{0, 0, 0}});
    std::vector<long> sums(static_cast<size_t>(columns) * 3);
    const long area = long(blockWidth) * blockHeight;
    for (int by = 0; by < rows; ++by) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int y = by * blockHeight; y < (by + 1) * blockHeight; ++y) {
            const uint8_t* row = p + size_t(y) * width * bytesPerPixel;
            for (int bx = 0; bx < columns; ++bx) {
                const uint8_t* px = row + size_t(bx) * blockWidth * bytesPerPixel;
                long* s = &sums[size_t(bx) * 3];
                if (bytesPerPixel == 1) {
                    for (int x = 0; x < blockWidth; ++x)
                        s[0] += px[x];
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
            SMeans& m = out[size_t(by) * columns + bx];
            for (int k = 0; k < 3; ++k)
                m.m[k] = static_cast<int>(sums[size_t(bx) * 3 + k] / area);
        }
    }
}

}  // namespace

bool FrameChanged(const uint8_t* a, const uint8_t* b, int width, int height, int bytesPerPixel, int columns,
                  int rows, int threshold, int blocksNeeded) {
    if (!a || !b || width <= 0 || height <= 0 || bytesPerPixel <= 0 || columns <= 0 || rows <= 0)
        return true;
    const int blockWidth = width / columns, blockHeight = height / rows;
    if (blockWidth == 0 || blockHeight == 0 || long(columns) * rows > kFrameChangeMaxBlocks)
        return true;
    // Kept between calls: capture compares every grabbed frame.
    thread_local std::vector<SMeans> meansA, meansB;
    BlockMeans(a, width, bytesPerPixel, columns, rows, blockWidth, blockHeight, meansA);
    BlockMeans(b, width, bytesPerPixel, columns, rows, blockWidth, blockHeight, meansB);
    int counted = 0;
    for (size_t i = 0; i < meansA.size(); ++i) {
        int d = std::abs(meansA[i].m[0] - meansB[i].m[0]);
        if (bytesPerPixel != 1)
            d += std::abs(meansA[i].m[1] - meansB[i].m[1]) + std::abs(meansA[i].m[2] - meansB[i].m[2]);
        if (d > threshold && ++counted >= blocksNeeded)
            return true;
    }
    return false;
}
