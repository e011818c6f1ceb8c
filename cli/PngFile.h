// A PNG writer for 32-bit bottom-up pictures (what views hold), through libpng.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height pixels (blue, green, red, unused; bottom row first) as an RGB PNG. False when the
// file cannot be written.
bool WritePngRgb32(const std::string& path, const uint8_t* pixels, int width, int height);
