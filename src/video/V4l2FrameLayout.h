// Lays a converted camera frame out as the capture format wants it: 24-bit RGB rows bottom-up and padded
// to 4 bytes, and a 2:1 reduction for cameras that only offer twice the size asked for.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of one bottom-up 24-bit row.
size_t BottomUpRowBytes(int width);

// `top` holds packed blue-green-red rows top-down; `out` receives BottomUpRowBytes(width) x height bytes.
void CopyBgrBottomUp(const uint8_t* top, int width, int height, uint8_t* out);
// As CopyBgrBottomUp from a picture of twice the width and height, each output pixel the mean of four.
void HalveBgrBottomUp(const uint8_t* top, int width, int height, uint8_t* out);
// An I420 picture of 2*width x 2*height reduced to width x height (both even), each sample the mean of four.
void HalveI420(const uint8_t* source, int width, int height, uint8_t* out);
