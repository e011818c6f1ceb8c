#include "video/V4l2CameraDriver.h"

#include <libv4l-plugin.h>
#include <libv4lconvert.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include "video/V4l2FrameLayout.h"

namespace {

constexpr int kMaxSide = 4096;

// libv4lconvert reaches the camera through these, so the conversion always talks to our device.
int OpsIoctl(void* priv, int, unsigned long request, void* arg) {
    return static_cast<IV4l2Device*>(priv)->Ioctl(request, arg);
}
ssize_t OpsRead(void* priv, int, void* buffer, size_t n) {
    return static_cast<IV4l2Device*>(priv)->Read(buffer, n);
}
ssize_t OpsWrite(void*, int, const void*, size_t) {
    errno = EINVAL;
    return -1;
}
void* OpsInit(int) {
    return nullptr;
}
void OpsClose(void*) {}

const libv4l_dev_ops kDeviceOps = {OpsInit, OpsClose, OpsIoctl, OpsRead, OpsWrite, nullptr,
                                   nullptr, nullptr,  nullptr,  nullptr, nullptr,  nullptr};

bool IsI420Request(const SBitmapInfoHeader& h) {
    return (h.biCompression == kFourCCI420 || h.biCompression == kFourCCIYUV) && h.biBitCount == 12;
}

bool IsRgbRequest(const SBitmapInfoHeader& h) {
    return h.biCompression == 0 && h.biBitCount == 24 && h.biHeight > 0;
}

size_t ConvertedSize(const v4l2_format& f) {
    const size_t pixels = size_t(f.fmt.pix.width) * f.fmt.pix.height;
    return f.fmt.pix.pixelformat == V4L2_PIX_FMT_BGR24 ? pixels * 3 : pixels * 3 / 2;
}

v4l2_format CaptureFormat(uint32_t fourcc, uint32_t width, uint32_t height) {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.pixelformat = fourcc;
    f.fmt.pix.width = width;
    f.fmt.pix.height = height;
    f.fmt.pix.field = V4L2_FIELD_NONE;
    return f;
}

bool Lost(int error) {
    return error == ENODEV || error == EIO || error == ENXIO;
}

}  // namespace

CV4l2CameraDriver::CV4l2CameraDriver(std::unique_ptr<IV4l2Device> device) : m_pDevice(std::move(device)) {}

std::unique_ptr<CV4l2CameraDriver> CV4l2CameraDriver::Open(std::unique_ptr<IV4l2Device> device) {
    if (!device)
        return nullptr;
    std::unique_ptr<CV4l2CameraDriver> d(new CV4l2CameraDriver(std::move(device)));
    IV4l2Device* dev = d->m_pDevice.get();
    d->m_pConvert = v4lconvert_create_with_dev_ops(dev->Fd(), dev, &kDeviceOps);
    if (!d->m_pConvert)
        return nullptr;
    for (uint32_t i = 0;; ++i) {
        v4l2_fmtdesc desc{};
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (dev->Ioctl(VIDIOC_ENUM_FMT, &desc) != 0)
            break;
        if (desc.flags & V4L2_FMT_FLAG_COMPRESSED)
            d->m_compressedFourccs.push_back(desc.pixelformat);
    }
    // Until the caller chooses, the camera's current size as 24-bit RGB, or else the usual 320 x 240.
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    SCaptureFormat initial;
    initial.header.biSize = kBitmapInfoHeaderSize;
    initial.header.biPlanes = 1;
    initial.header.biBitCount = 24;
    initial.header.biWidth = 320;
    initial.header.biHeight = 240;
    if (dev->Ioctl(VIDIOC_G_FMT, &current) == 0 && current.fmt.pix.width <= kMaxSide &&
        current.fmt.pix.height <= kMaxSide) {
        initial.header.biWidth = static_cast<int32_t>(current.fmt.pix.width);
        initial.header.biHeight = static_cast<int32_t>(current.fmt.pix.height);
    }
    for (int attempt = 0; attempt < 2 && !d->m_bFormatValid; ++attempt) {
        if (d->MakePlan(initial.header, d->m_plan)) {
            d->m_Format = initial;
            d->m_Format.header.biSizeImage = static_cast<uint32_t>(BottomUpRowBytes(initial.header.biWidth) *
                                                                   size_t(initial.header.biHeight));
            d->m_bFormatValid = true;
        }
        initial.header.biWidth = 320;
        initial.header.biHeight = 240;
    }
    return d;
}

CV4l2CameraDriver::~CV4l2CameraDriver() {
    StopStream();
    if (m_pConvert)
        v4lconvert_destroy(m_pConvert);
}

bool CV4l2CameraDriver::GetFormat(SCaptureFormat& format) {
    if (!m_bFormatValid)
        return false;
    format = m_Format;
    return true;
}

bool CV4l2CameraDriver::MakePlan(const SBitmapInfoHeader& h, SPlan& plan) {
    if (h.biWidth <= 0 || h.biHeight <= 0 || h.biWidth > kMaxSide || h.biHeight > kMaxSide ||
        (h.biWidth & 1) || (h.biHeight & 1))
        return false;
    const bool rgb = IsRgbRequest(h);
    if (!rgb && !IsI420Request(h))
        return false;
    const uint32_t fourcc = rgb ? V4L2_PIX_FMT_BGR24 : V4L2_PIX_FMT_YUV420;
    const uint32_t w = static_cast<uint32_t>(h.biWidth), height = static_cast<uint32_t>(h.biHeight);
    // The exact size, else a camera that offers exactly twice it, halved here; any other size would
    // show the user a cut or stretched picture, so the caller is told to try its next format.
    for (uint32_t scale = 1; scale <= 2; ++scale) {
        v4l2_format converted = CaptureFormat(fourcc, w * scale, height * scale);
        v4l2_format source{};
        if (v4lconvert_try_format(m_pConvert, &converted, &source) != 0)
            continue;
        if (converted.fmt.pix.pixelformat != fourcc || converted.fmt.pix.width != w * scale ||
            converted.fmt.pix.height != height * scale || source.fmt.pix.width == 0 ||
            source.fmt.pix.height == 0)
            continue;
        plan.source = source;
        plan.converted = converted;
        plan.halve = scale == 2;
        plan.rgb = rgb;
        return true;
    }
    return false;
}

bool CV4l2CameraDriver::SetFormat(const SCaptureFormat& format) {
    SPlan plan;
    if (m_bGone || !MakePlan(format.header, plan))
        return false;  // whatever streams now goes on
    StopStream();
    m_plan = plan;
    m_Format = format;
    SBitmapInfoHeader& h = m_Format.header;
    h.biSize = kBitmapInfoHeaderSize;
    h.biPlanes = 1;
    const size_t pixels = size_t(h.biWidth) * size_t(h.biHeight);
    h.biSizeImage =
        static_cast<uint32_t>(plan.rgb ? BottomUpRowBytes(h.biWidth) * size_t(h.biHeight) : pixels * 3 / 2);
    m_bFormatValid = StartStream();
    if (!m_bFormatValid)
        StopStream();
    return m_bFormatValid;
}

bool CV4l2CameraDriver::StartStream() {
    IV4l2Device& dev = *m_pDevice;
    v4l2_format set = m_plan.source;
    if (dev.Ioctl(VIDIOC_S_FMT, &set) != 0) {
        NoteError(errno);
        return false;
    }
    // A driver that adjusts the format would feed the conversion frames it does not expect.
    if (set.fmt.pix.pixelformat != m_plan.source.fmt.pix.pixelformat ||
        set.fmt.pix.width != m_plan.source.fmt.pix.width ||
        set.fmt.pix.height != m_plan.source.fmt.pix.height)
        return false;
    m_plan.source = set;

    v4l2_requestbuffers request{};
    request.count = kStreamBuffers;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    m_bBuffersRequested = true;
    if (dev.Ioctl(VIDIOC_REQBUFS, &request) != 0 || request.count == 0) {
        NoteError(errno);
        return false;
    }
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer b{};
        b.index = i;
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (dev.Ioctl(VIDIOC_QUERYBUF, &b) != 0) {
            NoteError(errno);
            return false;
        }
        void* p = dev.Map(b.length, b.m.offset);
        if (!p)
            return false;
        m_mappings.push_back({p, b.length});
    }
    for (uint32_t i = 0; i < request.count; ++i)
        if (!Requeue(i))
            return false;
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (dev.Ioctl(VIDIOC_STREAMON, &type) != 0) {
        NoteError(errno);
        return false;
    }
    m_bStreaming = true;
    const size_t frame = m_Format.header.biSizeImage;
    const bool direct = !m_plan.rgb && !m_plan.halve;
    m_frame.resize(direct ? std::max(frame, size_t(m_plan.converted.fmt.pix.sizeimage)) : frame);
    if (!direct)
        m_converted.resize(
            std::max(ConvertedSize(m_plan.converted), size_t(m_plan.converted.fmt.pix.sizeimage)));
    return true;
}

void CV4l2CameraDriver::StopStream() {
    IV4l2Device& dev = *m_pDevice;
    if (m_bStreaming) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        dev.Ioctl(VIDIOC_STREAMOFF, &type);
        m_bStreaming = false;
    }
    for (const SMapping& m : m_mappings)
        dev.Unmap(m.address, m.length);
    m_mappings.clear();
    if (m_bBuffersRequested) {
        // Frees the buffers, so the next format can be set.
        v4l2_requestbuffers none{};
        none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        none.memory = V4L2_MEMORY_MMAP;
        dev.Ioctl(VIDIOC_REQBUFS, &none);
        m_bBuffersRequested = false;
    }
}

bool CV4l2CameraDriver::Requeue(uint32_t index) {
    v4l2_buffer b{};
    b.index = index;
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    if (m_pDevice->Ioctl(VIDIOC_QBUF, &b) == 0)
        return true;
    NoteError(errno);
    return false;
}

void CV4l2CameraDriver::NoteError(int error) {
    if (Lost(error))
        m_bGone = true;
}

bool CV4l2CameraDriver::Convert(const v4l2_buffer& buffer) {
    if (buffer.index >= m_mappings.size() || (buffer.flags & V4L2_BUF_FLAG_ERROR))
        return false;
    const SMapping& m = m_mappings[buffer.index];
    // The camera's count is believed only within the buffer.
    const size_t size = std::min<size_t>({buffer.bytesused, m.length, size_t(INT_MAX)});
    const v4l2_pix_format& source = m_plan.source.fmt.pix;
    const bool compressed = std::find(m_compressedFourccs.begin(), m_compressedFourccs.end(),
                                      source.pixelformat) != m_compressedFourccs.end();
    const size_t whole = std::max<size_t>(source.sizeimage, size_t(source.bytesperline) * source.height);
    if (size == 0 || (!compressed && size < whole))
        return false;
    const bool direct = !m_plan.rgb && !m_plan.halve;
    std::vector<uint8_t>& out = direct ? m_frame : m_converted;
    const int made = v4lconvert_convert(m_pConvert, &m_plan.source, &m_plan.converted,
                                        static_cast<unsigned char*>(m.address), static_cast<int>(size),
                                        out.data(), static_cast<int>(out.size()));
    if (made < 0 || size_t(made) != ConvertedSize(m_plan.converted))
        return false;
    const int w = m_Format.header.biWidth, h = m_Format.header.biHeight;
    if (m_plan.rgb && m_plan.halve)
        HalveBgrBottomUp(m_converted.data(), w, h, m_frame.data());
    else if (m_plan.rgb)
        CopyBgrBottomUp(m_converted.data(), w, h, m_frame.data());
    else if (m_plan.halve)
        HalveI420(m_converted.data(), w, h, m_frame.data());
    return true;
}

bool CV4l2CameraDriver::Grab(ICaptureFrameSink& sink) {
    if (m_bGone || !m_bFormatValid)
        return false;
    if (!m_bStreaming && !StartStream()) {
        StopStream();
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kGrabWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        const int events = m_pDevice->Poll(static_cast<int>(left.count()));
        if (events < 0 && errno == EINTR)
            continue;
        if (events == 0)
            return false;  // no frame in time; the camera may come back
        if (events < 0 || (events & (POLLERR | POLLHUP | POLLNVAL))) {
            m_bGone = true;
            return false;
        }
        // Take every frame that is ready and keep the newest, so a slow caller sees no stale picture.
        v4l2_buffer newest{};
        bool have = false;
        for (;;) {
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            if (m_pDevice->Ioctl(VIDIOC_DQBUF, &b) == 0) {
                if (have && !Requeue(newest.index))
                    return false;
                newest = b;
                have = true;
                continue;
            }
            const int error = errno;
            if (error == EINTR)
                continue;
            if (error == EAGAIN)
                break;
            NoteError(error);
            if (have)
                Requeue(newest.index);
            return false;
        }
        if (!have)
            continue;
        const bool converted = Convert(newest);
        Requeue(newest.index);
        if (converted) {
            sink.OnCaptureFrame(m_frame.data(), m_Format.header.biSizeImage);
            return true;
        }
        if (m_bGone)
            return false;
        // A damaged frame: wait for the next one.
    }
}
