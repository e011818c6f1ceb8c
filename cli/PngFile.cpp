#include "cli/PngFile.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

bool WritePngRgb32(const std::string& path, const uint8_t* pixels, int width, int height) {
    if (pixels == nullptr || width <= 0 || height <= 0)
        return false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row(size_t(width) * 3);
    // libpng reports failures by jumping back here; nothing with a destructor is made after this point.
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t* src = pixels + size_t(y) * size_t(width) * 4;
        for (int x = 0; x < width; ++x) {
            row[size_t(x) * 3 + 0] = src[x * 4 + 2];
            row[size_t(x) * 3 + 1] = src[x * 4 + 1];
            row[size_t(x) * 3 + 2] = src[x * 4 + 0];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fflush(file.get()) == 0;
}
