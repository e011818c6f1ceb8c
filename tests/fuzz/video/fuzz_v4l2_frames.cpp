// Arbitrary bytes as the frame a USB camera sends, through a grab and libv4lconvert: no crash and no read
// beyond the camera's buffer, whatever the camera claims about the frame's length.
//
// Input: one byte of choices, then the frame.
//   bit 0: an MJPEG camera (else YUYV)          bit 1: 24-bit RGB asked for (else I420)
//   bit 4: the camera offers only 640 x 480, which is halved (else 320 x 240)
//   bits 2-3, what the camera claims as the frame's length: 0 the bytes given, 1 its whole buffer,
//             2 0xFFFFFFFF, 3 the four bytes after the choices (little-endian; the frame follows them)
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "video/V4l2Capture.h"
#include "video/V4l2ScriptedDevice.h"

namespace {

class CNullSink : public ICaptureFrameSink {
public:
    void OnCaptureFrame(const uint8_t* data, size_t size) override {
        // Touch the first and last byte, so a short frame shows under the sanitizer.
        if (size)
            m_nSum += data[0] + data[size - 1];
    }
    unsigned m_nSum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t choices = data[0];
    ++data;
    --size;
    const bool mjpeg = choices & 1, rgb = choices & 2, doubled = choices & 16;
    const int claim = (choices >> 2) & 3;

    SV4l2ScriptedFrame frame;
    if (claim == 3) {
        if (size < 4)
            return 0;
        uint32_t used;
        std::memcpy(&used, data, 4);
        frame.bytesUsed = used;
        data += 4;
        size -= 4;
    }
    frame.bytes.assign(data, data + size);
    const uint32_t fourcc = mjpeg ? V4L2_PIX_FMT_MJPEG : V4L2_PIX_FMT_YUYV;
    const uint32_t w = doubled ? 640 : 320, h = doubled ? 480 : 240;
    if (claim == 1)
        frame.bytesUsed = w * h * 2;  // the buffer's length as the scripted camera sizes it
    if (claim == 2)
        frame.bytesUsed = 0xFFFFFFFFu;

    auto camera = std::make_shared<CV4l2ScriptedCamera>(
        "Fuzz", std::vector<CV4l2ScriptedCamera::SPixelFormat>{{fourcc, {{w, h}}}});
    bool sent = false;
    camera->SetFrameMaker([&](uint32_t, uint32_t, uint32_t, uint32_t) -> std::optional<SV4l2ScriptedFrame> {
        if (sent)
            return std::nullopt;
        sent = true;
        return frame;
    });
    auto folder = std::make_shared<CV4l2ScriptedFolder>();
    folder->Add("video0", camera);
    auto driver = MakeV4l2CaptureBackend(folder)->Connect(0);
    if (!driver)
        __builtin_trap();
    SCaptureFormat format;
    format.header.biWidth = 320;
    format.header.biHeight = 240;
    format.header.biBitCount = rgb ? 24 : 12;
    format.header.biCompression = rgb ? 0 : kFourCCI420;
    if (!driver->SetFormat(format))
        __builtin_trap();
    CNullSink sink;
    driver->Grab(sink);
    return 0;
}
