// Scripted V4L2 cameras, for tests and fuzzing on machines without one: each answers the ioctls a USB
// camera answers (capabilities, formats and frame sizes, format negotiation, mmap streaming) and delivers
// the frames a test makes for the format in effect. Buffers end at an inaccessible page, so a reader that
// trusts a frame's claimed size faults at once. A camera can be unplugged while it is open.
#pragma once

#include <linux/videodev2.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "video/V4l2Device.h"

struct SV4l2ScriptedFrame {
    std::vector<uint8_t> bytes;         // copied into the buffer, cut at its length
    std::optional<uint32_t> bytesUsed;  // what the camera claims; the copied length when absent
    bool error = false;                 // delivered with V4L2_BUF_FLAG_ERROR
};

class CV4l2ScriptedCamera : public std::enable_shared_from_this<CV4l2ScriptedCamera> {
public:
    struct SPixelFormat {
        uint32_t fourcc;
        std::vector<std::pair<uint32_t, uint32_t>> sizes;  // width, height; the first is in effect at start
    };
    // Makes the frame delivered next for the format in effect (`sequence` counts the frames delivered), or
    // nothing when the camera has no frame ready.
    using FrameMaker = std::function<std::optional<SV4l2ScriptedFrame>(uint32_t fourcc, uint32_t width,
                                                                       uint32_t height, uint32_t sequence)>;

    // A capture node. `deviceCaps` may describe another kind of node (metadata).
    CV4l2ScriptedCamera(std::string card, std::vector<SPixelFormat> formats,
                        uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING);
    ~CV4l2ScriptedCamera();
    CV4l2ScriptedCamera(const CV4l2ScriptedCamera&) = delete;
    CV4l2ScriptedCamera& operator=(const CV4l2ScriptedCamera&) = delete;

    void SetFrameMaker(FrameMaker maker);
    // At most this many frames become ready each time the node is polled while streaming (one by default).
    void SetFramesPerPoll(int frames);
    void SetOpenFails(bool fails);
    // From now on every call fails as on a camera that was pulled out.
    void Unplug();

    // What a test checks afterwards.
    struct SState {
        int openHandles = 0;
        int liveMappings = 0;
        int buffers = 0;
        bool streaming = false;
        uint32_t fourcc = 0, width = 0, height = 0;  // the format in effect
        int longestPollMs = 0;                       // the longest wait a poll asked for
        int polls = 0;
    };
    SState State() const;

    // Opens one handle on this camera (the camera must be owned by a shared_ptr).
    std::unique_ptr<IV4l2Device> Open();

private:
    class CHandle;
    struct SBuffer;

    // Calls from handle `id`; the handle that asked for buffers owns the stream until it closes.
    int Ioctl(int id, unsigned long request, void* arg);
    int StreamIoctl(unsigned long request, void* arg);
    void* Map(size_t length, uint32_t offset);
    void Unmap(void* address);
    int Poll(int timeoutMs);
    void Close(int id);
    void TryFormat(v4l2_pix_format& pix) const;
    int RequestBuffers(v4l2_requestbuffers& r);
    void FreeBuffers();
    void FillReadyBuffers();

    mutable std::mutex m_lock;
    std::string m_strCard;
    std::vector<SPixelFormat> m_formats;
    uint32_t m_nDeviceCaps;
    FrameMaker m_maker;
    int m_nFramesPerPoll = 1;
    bool m_bOpenFails = false;
    bool m_bUnplugged = false;
    std::string m_strBusInfo;
    v4l2_pix_format m_format{};
    std::vector<std::unique_ptr<SBuffer>> m_buffers;
    std::deque<size_t> m_queued, m_done;
    int m_nNextHandle = 1;
    int m_nOwner = 0;
    uint32_t m_nSequence = 0;
    SState m_state;
};

// A folder of scripted nodes, named as in /dev ("video0" ...).
class CV4l2ScriptedFolder : public IV4l2DeviceFolder {
public:
    void Add(const std::string& entry, std::shared_ptr<CV4l2ScriptedCamera> camera);
    void Remove(const std::string& entry);

    std::vector<std::string> Entries() override;
    std::unique_ptr<IV4l2Device> Open(const std::string& entry) override;

private:
    std::mutex m_lock;
    std::map<std::string, std::shared_ptr<CV4l2ScriptedCamera>> m_nodes;
};
