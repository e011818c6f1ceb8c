// Writes the seed frames of fuzz_v4l2_frames: YUYV and MJPEG frames of a test picture (colour bars over
// a ramp), as USB cameras send them. Run from the repository's top folder:
//   g++ -std=c++20 -Itests tests/data/video/make_v4l2_seeds.cpp -ljpeg -o /tmp/make_v4l2_seeds
//   /tmp/make_v4l2_seeds tests/fuzz/corpus/fuzz_v4l2_frames
#include <cstdio>
#include <fstream>
#include <string>

#include "unit/video/V4l2TestFrames.h"

namespace {

// Top-down blue-green-red.
std::vector<uint8_t> Picture(int width, int height) {
    static const uint8_t bars[8][3] = {{191, 191, 191}, {0, 191, 191}, {191, 191, 0}, {0, 191, 0},
                                       {191, 0, 191},   {0, 0, 191},   {191, 0, 0},   {24, 24, 24}};
    std::vector<uint8_t> out(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &out[(size_t(y) * width + x) * 3];
            if (y < height / 2) {
                for (int c = 0; c < 3; ++c)
                    p[c] = bars[x * 8 / width][c];
            } else {
                p[0] = uint8_t(255 - x * 255 / width);
                p[1] = uint8_t(y * 255 / height);
                p[2] = uint8_t(x * 255 / width);
            }
        }
    return out;
}

void Write(const std::string& folder, const char* name, uint8_t choices, const std::vector<uint8_t>& frame) {
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.put(char(choices));
    out.write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const auto small = Picture(320, 240), large = Picture(640, 480);
    const auto yuyv = v4l2test::PackYuyv(small, 320, 240);
    Write(folder, "yuyv-i420", 0, yuyv);
    Write(folder, "yuyv-rgb-whole-buffer", 2 | 4, yuyv);
    Write(folder, "mjpeg-i420", 1, v4l2test::EncodeMjpeg(small, 320, 240, true, 75));
    Write(folder, "mjpeg-rgb-no-huffman", 1 | 2, v4l2test::EncodeMjpeg(small, 320, 240, false, 75));
    auto noEnd = v4l2test::EncodeMjpeg(small, 320, 240, false, 50);
    noEnd.resize(noEnd.size() - 2);
    Write(folder, "mjpeg-i420-no-end-claims-all", 1 | 8, noEnd);
    Write(folder, "mjpeg-640-halved-rgb", 1 | 2 | 16, v4l2test::EncodeMjpeg(large, 640, 480, false, 50));
    Write(folder, "mjpeg-640-halved-i420", 1 | 16, v4l2test::EncodeMjpeg(large, 640, 480, true, 50));
    return 0;
}
