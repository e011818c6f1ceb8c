// Change detection between two captured frames: each picture is reduced to block means, and a frame
// counts as changed once enough blocks moved by more than a threshold.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kFrameChangeMaxBlocks = 8192;

// The three means of one block: of the byte of a one-byte pixel (all three alike), or of the third,
// second and first byte of a wider pixel.
struct SBlockMeans {
    int m[3];
};

// Pixel (x, y) is the `bytesPerPixel` bytes at (y * width + x) * bytesPerPixel of the picture, which must
// hold width * height * bytesPerPixel bytes. Blocks are (width / columns) x (height / rows), row by row;
// pixels beyond the last whole block are ignored. False (nothing computed) when the picture cannot be
// cut into blocks: a block of no pixels, or more than 8192 blocks.
bool ComputeBlockMeans(const uint8_t* picture, int width, int height, int bytesPerPixel, int columns,
                       int rows, std::vector<SBlockMeans>& out);
// With one byte per pixel a block differs by the difference of its means, otherwise by the sum of the
// three differences; changed once `blocksNeeded` blocks differ by more than `threshold`.
bool BlockMeansDiffer(const std::vector<SBlockMeans>& a, const std::vector<SBlockMeans>& b, int bytesPerPixel,
                      int threshold, int blocksNeeded);
// Both steps on two pictures; pictures that cannot be cut into blocks count as changed.
bool FrameChanged(const uint8_t* a, const uint8_t* b, int width, int height, int bytesPerPixel, int columns,
                  int rows, int threshold, int blocksNeeded);
