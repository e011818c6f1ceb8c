// Received pictures: any bytes, alone or after a sound key frame, whole or cut at each picture start,
// decode without writing past the caller's picture area and never claim more bytes than they were given.
// The first byte chooses: bit 0 decodes a key frame of the right size first, bit 1 cuts the rest into
// pictures.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/I420Format.h"
#include "video/TestPatternCamera.h"
#include "video/VideoCodecXvid.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr size_t kGuard = 4096;
constexpr uint8_t kGuardByte = 0x5A;

const std::vector<uint8_t>& KeyFrame() {
    static const std::vector<uint8_t> key = [] {
        CVideoCodecXvid encoder;
        encoder.SetInputFormat(I420FormatOfSize(kWidth, kHeight));
        std::vector<uint8_t> picture(static_cast<size_t>(I420PictureSize(kWidth, kHeight)));
        std::vector<uint8_t> out(static_cast<size_t>(MaxEncodedPictureSize(kWidth, kHeight)));
        if (!encoder.Create(true) ||
            !RenderTestPattern(I420FormatOfSize(kWidth, kHeight).m_Header.header, 1, picture.data()))
            __builtin_trap();
        const int n =
            encoder.Encode(picture.data(), long(picture.size()), out.data(), long(out.size()), true);
        if (n <= 0)
            __builtin_trap();
        out.resize(static_cast<size_t>(n));
        return out;
    }();
    return key;
}

bool IsPictureStart(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xB6;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    CVideoCodecXvid decoder;
    decoder.SetInputFormat(I420FormatOfSize(kWidth, kHeight));
    if (!decoder.Create(false))
        __builtin_trap();
    const long pictureSize = I420PictureSize(kWidth, kHeight);
    std::vector<uint8_t> picture(static_cast<size_t>(pictureSize) + kGuard, kGuardByte);
    auto decode = [&](const uint8_t* p, size_t n) {
        if (n == 0)
            return;
        // An exact copy, so the sanitizer sees any read of ours past the bytes given.
        const std::vector<uint8_t> bytes(p, p + n);
        const int r = decoder.Decode(bytes.data(), long(n), picture.data(), pictureSize, false);
        if (r < -1 || r > long(n))
            __builtin_trap();
        for (size_t i = static_cast<size_t>(pictureSize); i < picture.size(); ++i)
            if (picture[i] != kGuardByte)
                __builtin_trap();
    };

    const uint8_t mode = data[0];
    ++data;
    --size;
    if (mode & 1)
        decode(KeyFrame().data(), KeyFrame().size());
    if (!(mode & 2)) {
        decode(data, size);
        return 0;
    }
    // Each piece runs from one picture start to the next; the first also holds any stream headers.
    size_t begin = 0;
    bool seenPicture = false;
    for (size_t i = 0; i + 4 <= size; ++i) {
        if (!IsPictureStart(data + i))
            continue;
        if (seenPicture) {
            decode(data + begin, i - begin);
            begin = i;
        }
        seenPicture = true;
    }
    decode(data + begin, size - begin);
    return 0;
}
