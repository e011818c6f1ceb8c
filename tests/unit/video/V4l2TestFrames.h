// Frames as USB cameras send them, made from a picture: YUYV (4:2:2 packed) and MJPEG (4:2:2, with or
// without the Huffman tables that many cameras leave out). Shared by the V4L2 tests and the generator of
// the fuzz seeds.
#pragma once

#include <jpeglib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace v4l2test {

inline uint8_t ClampByte(double v) {
    v += 0.5;
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// `bgr`: width x height pixels, blue-green-red, rows top-down and packed. Full-range (JPEG) YCbCr.
inline std::vector<uint8_t> PackYuyv(const std::vector<uint8_t>& bgr, int width, int height) {
    std::vector<uint8_t> out(size_t(width) * height * 2);
    for (size_t p = 0; p + 1 < size_t(width) * height; p += 2) {
        double cb = 0, cr = 0;
        for (size_t k = 0; k < 2; ++k) {
            const uint8_t* c = &bgr[(p + k) * 3];
            const double b = c[0], g = c[1], r = c[2];
            out[p * 2 + k * 2] = ClampByte(0.299 * r + 0.587 * g + 0.114 * b);
            cb += 128 - 0.168736 * r - 0.331264 * g + 0.5 * b;
            cr += 128 + 0.5 * r - 0.418688 * g - 0.081312 * b;
        }
        out[p * 2 + 1] = ClampByte(cb / 2);
        out[p * 2 + 3] = ClampByte(cr / 2);
    }
    return out;
}

// Baseline JPEG with 4:2:2 chroma as USB cameras code it; `huffmanTables` false drops the DHT segments.
inline std::vector<uint8_t> EncodeMjpeg(const std::vector<uint8_t>& bgr, int width, int height,
                                        bool huffmanTables = true, int quality = 90) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long memSize = 0;
    jpeg_mem_dest(&cinfo, &mem, &memSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.write_JFIF_header = FALSE;
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 1;
    cinfo.comp_info[1].h_samp_factor = cinfo.comp_info[2].h_samp_factor = 1;
    cinfo.comp_info[1].v_samp_factor = cinfo.comp_info[2].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* src = &bgr[size_t(cinfo.next_scanline) * width * 3];
        for (int x = 0; x < width; ++x) {
            row[size_t(x) * 3] = src[x * 3 + 2];
            row[size_t(x) * 3 + 1] = src[x * 3 + 1];
            row[size_t(x) * 3 + 2] = src[x * 3];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> out(mem, mem + memSize);
    std::free(mem);
    if (huffmanTables)
        return out;
    // Markers up to the scan: copy all but the DHT segments.
    std::vector<uint8_t> stripped(out.begin(), out.begin() + 2);
    size_t i = 2;
    while (i + 4 <= out.size() && out[i] == 0xFF) {
        const uint8_t marker = out[i + 1];
        const size_t length = size_t(out[i + 2]) << 8 | out[i + 3];
        if (marker == 0xDA)
            break;
        if (marker != 0xC4)
            stripped.insert(stripped.end(), out.begin() + long(i), out.begin() + long(i + 2 + length));
        i += 2 + length;
    }
    stripped.insert(stripped.end(), out.begin() + long(i), out.end());
    return stripped;
}

// Peak signal-to-noise ratio of two byte runs, in dB (99 when equal).
inline double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

}  // namespace v4l2test
