#include "video/V4l2ScriptedDevice.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kMaxBuffers = 8;

bool IsCompressed(uint32_t fourcc) {
    return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG;
}

template <size_t N>
void CopyText(uint8_t (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

int Fail(int error) {
    errno = error;
    return -1;
}

}  // namespace

// Each buffer lives in pages of its own that end at an inaccessible page.
struct CV4l2ScriptedCamera::SBuffer {
    uint8_t* region = nullptr;
    size_t regionSize = 0;
    uint8_t* data = nullptr;
    size_t length = 0;
    uint32_t offset = 0;
    int mappings = 0;
    bool queued = false, done = false;
    uint32_t bytesUsed = 0, sequence = 0, flags = 0;

    SBuffer(size_t size, uint32_t mapOffset) : length(size), offset(mapOffset) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t pages = (size + page - 1) / page;
        regionSize = (pages + 1) * page;
        void* p = mmap(nullptr, regionSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            regionSize = 0;
            return;
        }
        region = static_cast<uint8_t*>(p);
        mprotect(region + pages * page, page, PROT_NONE);
        data = region + pages * page - size;
    }
    ~SBuffer() {
        if (region)
            munmap(region, regionSize);
    }
    SBuffer(const SBuffer&) = delete;
    SBuffer& operator=(const SBuffer&) = delete;
};

class CV4l2ScriptedCamera::CHandle : public IV4l2Device {
public:
    CHandle(std::shared_ptr<CV4l2ScriptedCamera> camera, int id) : m_camera(std::move(camera)), m_nId(id) {}
    ~CHandle() override { m_camera->Close(m_nId); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;

    int Fd() const override { return -1; }
    int Ioctl(unsigned long request, void* arg) override { return m_camera->Ioctl(m_nId, request, arg); }
    ssize_t Read(void*, size_t) override { return Fail(EINVAL); }
    void* Map(size_t length, uint32_t offset) override { return m_camera->Map(length, offset); }
    void Unmap(void* address, size_t) override { m_camera->Unmap(address); }
    int Poll(int timeoutMs) override { return m_camera->Poll(timeoutMs); }

private:
    std::shared_ptr<CV4l2ScriptedCamera> m_camera;
    int m_nId;
};

CV4l2ScriptedCamera::CV4l2ScriptedCamera(std::string card, std::vector<SPixelFormat> formats,
                                         uint32_t deviceCaps)
    : m_strCard(std::move(card)), m_formats(std::move(formats)), m_nDeviceCaps(deviceCaps) {
    static std::atomic<int> port{1};
    m_strBusInfo = "usb-0000:00:14.0-" + std::to_string(port.fetch_add(1));
    if (!m_formats.empty() && !m_formats[0].sizes.empty()) {
        m_format.pixelformat = m_formats[0].fourcc;
        m_format.width = m_formats[0].sizes[0].first;
        m_format.height = m_formats[0].sizes[0].second;
        TryFormat(m_format);
    }
}

CV4l2ScriptedCamera::~CV4l2ScriptedCamera() = default;

void CV4l2ScriptedCamera::SetFrameMaker(FrameMaker maker) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_maker = std::move(maker);
}

void CV4l2ScriptedCamera::SetFramesPerPoll(int frames) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nFramesPerPoll = frames;
}

void CV4l2ScriptedCamera::SetOpenFails(bool fails) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bOpenFails = fails;
}

void CV4l2ScriptedCamera::Unplug() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bUnplugged = true;
}

CV4l2ScriptedCamera::SState CV4l2ScriptedCamera::State() const {
    std::lock_guard<std::mutex> guard(m_lock);
    SState s = m_state;
    s.buffers = static_cast<int>(m_buffers.size());
    s.fourcc = m_format.pixelformat;
    s.width = m_format.width;
    s.height = m_format.height;
    return s;
}

std::unique_ptr<IV4l2Device> CV4l2ScriptedCamera::Open() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bOpenFails || m_bUnplugged) {
        errno = m_bUnplugged ? ENODEV : EACCES;
        return nullptr;
    }
    ++m_state.openHandles;
    return std::make_unique<CHandle>(shared_from_this(), m_nNextHandle++);
}

void CV4l2ScriptedCamera::Close(int id) {
    std::lock_guard<std::mutex> guard(m_lock);
    --m_state.openHandles;
    if (id != m_nOwner)
        return;
    // As the kernel does: the owner's stream stops; buffers still mapped outlive the handle.
    m_nOwner = 0;
    m_state.streaming = false;
    m_queued.clear();
    m_done.clear();
    if (m_state.liveMappings == 0)
        FreeBuffers();
}

void CV4l2ScriptedCamera::TryFormat(v4l2_pix_format& pix) const {
    const SPixelFormat* chosen = &m_formats[0];
    for (const auto& f : m_formats)
        if (f.fourcc == pix.pixelformat)
            chosen = &f;
    // The frame size nearest to the one asked for, by the area the two do not share.
    uint64_t best = UINT64_MAX;
    std::pair<uint32_t, uint32_t> size = chosen->sizes.at(0);
    for (const auto& s : chosen->sizes) {
        const uint64_t common = uint64_t(std::min(s.first, pix.width)) * std::min(s.second, pix.height);
        const uint64_t d = uint64_t(s.first) * s.second + uint64_t(pix.width) * pix.height - 2 * common;
        if (d < best) {
            best = d;
            size = s;
        }
    }
    pix = v4l2_pix_format{};
    pix.pixelformat = chosen->fourcc;
    pix.width = size.first;
    pix.height = size.second;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = IsCompressed(chosen->fourcc) ? 0 : size.first * 2;
    pix.sizeimage = size.first * size.second * 2;
    pix.colorspace = V4L2_COLORSPACE_SRGB;
}

int CV4l2ScriptedCamera::Ioctl(int id, unsigned long request, void* arg) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bUnplugged)
        return Fail(ENODEV);
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto& cap = *static_cast<v4l2_capability*>(arg);
            cap = v4l2_capability{};
            CopyText(cap.driver, "uvcvideo");
            CopyText(cap.card, m_strCard);
            CopyText(cap.bus_info, m_strBusInfo);
            cap.version = 0x060100;
            // The whole device's abilities; the node's own are in device_caps.
            cap.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                               V4L2_CAP_EXT_PIX_FORMAT | V4L2_CAP_DEVICE_CAPS;
            cap.device_caps = m_nDeviceCaps;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto& f = *static_cast<v4l2_fmtdesc*>(arg);
            if (f.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || !(m_nDeviceCaps & V4L2_CAP_VIDEO_CAPTURE) ||
                f.index >= m_formats.size())
                return Fail(EINVAL);
            const uint32_t fourcc = m_formats[f.index].fourcc;
            const uint32_t index = f.index;
            f = v4l2_fmtdesc{};
            f.index = index;
            f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            f.pixelformat = fourcc;
            f.flags = IsCompressed(fourcc) ? V4L2_FMT_FLAG_COMPRESSED : 0;
            CopyText(f.description, IsCompressed(fourcc) ? "Motion-JPEG" : "YUYV 4:2:2");
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto& s = *static_cast<v4l2_frmsizeenum*>(arg);
            for (const auto& f : m_formats) {
                if (f.fourcc != s.pixel_format || s.index >= f.sizes.size())
                    continue;
                s.type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s.discrete.width = f.sizes[s.index].first;
                s.discrete.height = f.sizes[s.index].second;
                return 0;
            }
            return Fail(EINVAL);
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto& i = *static_cast<v4l2_frmivalenum*>(arg);
            if (i.index != 0)
                return Fail(EINVAL);
            i.type = V4L2_FRMIVAL_TYPE_DISCRETE;
            i.discrete = v4l2_fract{1, 30};
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto& f = *static_cast<v4l2_format*>(arg);
            if (f.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || m_formats.empty())
                return Fail(EINVAL);
            if (request == VIDIOC_G_FMT) {
                f.fmt.pix = m_format;
                return 0;
            }
            if (request == VIDIOC_S_FMT && ((m_nOwner != 0 && m_nOwner != id) || !m_buffers.empty()))
                return Fail(EBUSY);
            TryFormat(f.fmt.pix);
            if (request == VIDIOC_S_FMT)
                m_format = f.fmt.pix;
            return 0;
        }
        case VIDIOC_REQBUFS:
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_DQBUF:
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
            if (m_nOwner != 0 && m_nOwner != id)
                return Fail(EBUSY);
            if (request == VIDIOC_REQBUFS)
                m_nOwner = id;
            return StreamIoctl(request, arg);
        case VIDIOC_G_INPUT:
            *static_cast<int*>(arg) = 0;
            return 0;
        case VIDIOC_QUERYCTRL:
            return Fail(EINVAL);  // a camera without controls
        default:
            return Fail(ENOTTY);
    }
}

int CV4l2ScriptedCamera::RequestBuffers(v4l2_requestbuffers& r) {
    if (r.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r.memory != V4L2_MEMORY_MMAP)
        return Fail(EINVAL);
    if (m_state.liveMappings > 0)
        return Fail(EBUSY);
    m_state.streaming = false;
    m_queued.clear();
    m_done.clear();
    FreeBuffers();
    const size_t count = std::min<size_t>(r.count, kMaxBuffers);
    for (size_t i = 0; i < count; ++i) {
        auto b = std::make_unique<SBuffer>(m_format.sizeimage, static_cast<uint32_t>(i) << 16);
        if (!b->data) {
            FreeBuffers();
            return Fail(ENOMEM);
        }
        m_buffers.push_back(std::move(b));
    }
    r.count = static_cast<uint32_t>(count);
    return 0;
}

int CV4l2ScriptedCamera::StreamIoctl(unsigned long request, void* arg) {
    if (request == VIDIOC_REQBUFS)
        return RequestBuffers(*static_cast<v4l2_requestbuffers*>(arg));
    if (request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
        if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return Fail(EINVAL);
        if (request == VIDIOC_STREAMON) {
            if (m_buffers.empty())
                return Fail(EINVAL);
            m_state.streaming = true;
            return 0;
        }
        m_state.streaming = false;
        for (auto& b : m_buffers)
            b->queued = b->done = false;
        m_queued.clear();
        m_done.clear();
        return 0;
    }
    auto& buf = *static_cast<v4l2_buffer*>(arg);
    if (buf.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buf.memory != V4L2_MEMORY_MMAP)
        return Fail(EINVAL);
    if (request == VIDIOC_DQBUF) {
        if (m_done.empty())
            return Fail(EAGAIN);
        buf.index = static_cast<uint32_t>(m_done.front());
        m_done.pop_front();
        SBuffer& b = *m_buffers[buf.index];
        b.done = false;
        buf.bytesused = b.bytesUsed;
        buf.flags = b.flags | V4L2_BUF_FLAG_MAPPED;
        buf.sequence = b.sequence;
        buf.field = V4L2_FIELD_NONE;
        buf.length = static_cast<uint32_t>(b.length);
        buf.m.offset = b.offset;
        return 0;
    }
    if (buf.index >= m_buffers.size())
        return Fail(EINVAL);
    SBuffer& b = *m_buffers[buf.index];
    if (request == VIDIOC_QBUF) {
        if (b.queued || b.done)
            return Fail(EINVAL);
        b.queued = true;
        m_queued.push_back(buf.index);
        return 0;
    }
    buf.length = static_cast<uint32_t>(b.length);
    buf.m.offset = b.offset;
    buf.flags = (b.queued ? V4L2_BUF_FLAG_QUEUED : 0) | (b.done ? V4L2_BUF_FLAG_DONE : 0) |
                (b.mappings ? V4L2_BUF_FLAG_MAPPED : 0);
    buf.bytesused = b.bytesUsed;
    return 0;
}

void* CV4l2ScriptedCamera::Map(size_t length, uint32_t offset) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bUnplugged) {
        errno = ENODEV;
        return nullptr;
    }
    for (auto& b : m_buffers) {
        if (b->offset == offset && length <= b->length) {
            ++b->mappings;
            ++m_state.liveMappings;
            return b->data;
        }
    }
    errno = EINVAL;
    return nullptr;
}

void CV4l2ScriptedCamera::Unmap(void* address) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& b : m_buffers) {
        if (b->data == address && b->mappings > 0) {
            --b->mappings;
            --m_state.liveMappings;
            break;
        }
    }
    if (m_nOwner == 0 && m_state.liveMappings == 0)
        FreeBuffers();
}

void CV4l2ScriptedCamera::FreeBuffers() {
    m_buffers.clear();
}

void CV4l2ScriptedCamera::FillReadyBuffers() {
    for (int n = 0; n < m_nFramesPerPoll && !m_queued.empty(); ++n) {
        if (!m_maker)
            return;
        const auto made = m_maker(m_format.pixelformat, m_format.width, m_format.height, m_nSequence);
        if (!made)
            return;
        const SV4l2ScriptedFrame& frame = *made;
        const size_t index = m_queued.front();
        m_queued.pop_front();
        SBuffer& b = *m_buffers[index];
        const size_t copied = std::min(frame.bytes.size(), b.length);
        if (copied)
            std::memcpy(b.data, frame.bytes.data(), copied);
        b.bytesUsed = frame.bytesUsed ? *frame.bytesUsed : static_cast<uint32_t>(copied);
        b.flags = frame.error ? V4L2_BUF_FLAG_ERROR : 0;
        b.sequence = m_nSequence++;
        b.queued = false;
        b.done = true;
        m_done.push_back(index);
    }
}

int CV4l2ScriptedCamera::Poll(int timeoutMs) {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_state.polls;
    m_state.longestPollMs = std::max(m_state.longestPollMs, timeoutMs);
    if (m_bUnplugged || !m_state.streaming)
        return POLLERR | (m_bUnplugged ? POLLHUP : 0);
    FillReadyBuffers();
    return m_done.empty() ? 0 : POLLIN | POLLRDNORM;
}

void CV4l2ScriptedFolder::Add(const std::string& entry, std::shared_ptr<CV4l2ScriptedCamera> camera) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nodes[entry] = std::move(camera);
}

void CV4l2ScriptedFolder::Remove(const std::string& entry) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nodes.erase(entry);
}

std::vector<std::string> CV4l2ScriptedFolder::Entries() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> names;
    for (const auto& node : m_nodes)
        names.push_back(node.first);
    return names;
}

std::unique_ptr<IV4l2Device> CV4l2ScriptedFolder::Open(const std::string& entry) {
    std::shared_ptr<CV4l2ScriptedCamera> camera;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto it = m_nodes.find(entry);
        if (it != m_nodes.end())
            camera = it->second;
    }
    if (!camera) {
        errno = ENOENT;
        return nullptr;
    }
    return camera->Open();
}
