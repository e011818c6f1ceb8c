// Change detection between two captured frames: each picture is reduced to block means, and a frame
// counts as changed once enough blocks moved by more than a threshold.
#pragma once

#include <cstdint>

constexpr int kFrameChangeMaxBlocks = 8192;

// Pixel (x, y) is the `bytesPerPixel` bytes at (y * width + x) * bytesPerPixel of each buffer, which must
// both hold width * height * bytesPerPixel bytes. Blocks are (width / columns) x (height / rows); pixels
// beyond the last whole block are ignored. With one byte per pixel a block differs by the difference of
// its means; otherwise by the sum of the differences of the third, second and first byte's means.
// Pictures that cannot be cut into blocks (a block of no pixels, more than 8192 blocks) count as changed.
bool FrameChanged(const uint8_t* a, const uint8_t* b, int width, int height, int bytesPerPixel, int columns,
                  int rows, int threshold, int blocksNeeded);
