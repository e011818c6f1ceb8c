// Where the planes of an I420 picture lie: Y of width x height bytes, then U and V of (width / 2) x
// (height / 2) bytes each, rows top first and not padded.
#pragma once

#include <cstdint>

// The largest side the conversions accept.
constexpr int kI420MaxSide = 4096;

template <typename Byte>
struct TI420Layout {
    TI420Layout(Byte* data, int width, int height)
        : y(data),
          u(data + long(width) * height),
          v(u + long(width / 2) * (height / 2)),
          chromaWidth(width / 2) {}
    Byte* y;
    Byte* u;
    Byte* v;
    int chromaWidth;
};
using SI420Layout = TI420Layout<uint8_t>;
using SConstI420Layout = TI420Layout<const uint8_t>;
