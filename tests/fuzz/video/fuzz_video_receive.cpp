// The receiving side of video under hostile input: the bytes are cut into records, each either a
// MSG_VIDEO_FORMAT record, a stop or a channel-4 payload, fed in order to one receiver. Nothing may
// read or write past a buffer, and a shown picture always holds its format's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/VideoReceiver.h"
#include "video/VideoPicture.h"

namespace {

struct SWindow : IRemoteVideoWindow, IVideoPicture {
    void ShowVideo(int, int) override {}
    void HideVideo() override {}
    IVideoPicture& Picture() override { return *this; }
    void SetPicture(const CDataBuffer& rgb32, const CImageFormat& f) override {
        if (rgb32.Size() < long(f.Width()) * f.Height() * 4)
            std::abort();
    }
    void ClearPicture() override {}
};

}  // namespace

// Each record: a kind byte (0 format, 1 stop, else picture), a 16-bit length, then that many bytes (cut
// at the end of the input).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SWindow window;
    CVideoReceiver receiver([] {});
    receiver.SetWindow(&window);
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t kind = data[at];
        size_t length = size_t(data[at + 1]) | size_t(data[at + 2]) << 8;
        at += 3;
        if (length > size - at)
            length = size - at;
        const uint8_t* record = data + at;
        if (kind == 0)
            receiver.OnVideoFormat(record, length);
        else if (kind == 1)
            receiver.OnVideoStop();
        else
            receiver.OnVideoPicture(record, length);
        at += length;
    }
    return 0;
}
