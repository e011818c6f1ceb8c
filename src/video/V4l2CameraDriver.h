// One V4L2 camera as a capture driver: negotiates I420 or bottom-up 24-bit RGB at the size asked for,
// converting whatever the camera sends (YUYV, MJPEG ...) with libv4lconvert, streams through mmap
// buffers, and grabs the newest frame with a bounded wait.
#pragma once

#include <linux/videodev2.h>

#include <memory>
#include <vector>

#include "video/CaptureBackend.h"
#include "video/V4l2Device.h"

struct v4lconvert_data;

class CV4l2CameraDriver : public ICaptureDriver {
public:
    // The longest a grab waits for a frame.
    static constexpr int kGrabWaitMs = 1000;
    static constexpr uint32_t kStreamBuffers = 4;

    // Null when the conversion library cannot work with the device.
    static std::unique_ptr<CV4l2CameraDriver> Open(std::unique_ptr<IV4l2Device> device);
    ~CV4l2CameraDriver() override;
    CV4l2CameraDriver(const CV4l2CameraDriver&) = delete;
    CV4l2CameraDriver& operator=(const CV4l2CameraDriver&) = delete;

    bool GetFormat(SCaptureFormat& format) override;
    // Streams at once, so a camera that another program holds is refused here.
    bool SetFormat(const SCaptureFormat& format) override;
    bool Grab(ICaptureFrameSink& sink) override;

private:
    // How a capture format is reached: what the camera sends, what libv4lconvert makes of it, and whether
    // that is halved afterwards.
    struct SPlan {
        v4l2_format source{};
        v4l2_format converted{};
        bool halve = false;
        bool rgb = false;
    };
    struct SMapping {
        void* address = nullptr;
        size_t length = 0;
    };

    explicit CV4l2CameraDriver(std::unique_ptr<IV4l2Device> device);
    bool MakePlan(const SBitmapInfoHeader& header, SPlan& plan);
    bool StartStream();
    void StopStream();
    bool Requeue(uint32_t index);
    bool Convert(const v4l2_buffer& buffer);
    // Notes a failure that means the camera is gone.
    void NoteError(int error);

    std::unique_ptr<IV4l2Device> m_pDevice;
    v4lconvert_data* m_pConvert = nullptr;
    std::vector<uint32_t> m_compressedFourccs;
    SCaptureFormat m_Format;
    bool m_bFormatValid = false;
    SPlan m_plan;
    bool m_bStreaming = false;
    bool m_bBuffersRequested = false;
    bool m_bGone = false;
    std::vector<SMapping> m_mappings;
    std::vector<uint8_t> m_converted;  // libv4lconvert's output, when it is not the frame itself
    std::vector<uint8_t> m_frame;      // the frame handed to the sink
};
