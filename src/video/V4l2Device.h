// What the V4L2 cameras are reached through: an open video node (ioctl, mmap, read, poll) and the folder
// that lists the nodes. The system's device nodes stand behind it in use, scripted cameras in tests.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One open video node; closed by its destructor.
class IV4l2Device {
public:
    virtual ~IV4l2Device() = default;
    // The file descriptor, for the conversion library's own look-ups (its quirk tables); -1 when none.
    virtual int Fd() const = 0;
    // As ioctl(2): -1 with errno on failure.
    virtual int Ioctl(unsigned long request, void* arg) = 0;
    // As read(2).
    virtual ssize_t Read(void* buffer, size_t size) = 0;
    // Maps the buffer at `offset` (what VIDIOC_QUERYBUF tells); null on failure.
    virtual void* Map(size_t length, uint32_t offset) = 0;
    virtual void Unmap(void* address, size_t length) = 0;
    // Waits at most timeoutMs for a frame. As poll(2) for this one node: the returned events (0 when the
    // time ran out), or -1 with errno.
    virtual int Poll(int timeoutMs) = 0;
};

class IV4l2DeviceFolder {
public:
    virtual ~IV4l2DeviceFolder() = default;
    // The names of the entries that may be video nodes ("video0" ...), in no particular order.
    virtual std::vector<std::string> Entries() = 0;
    // Opens an entry for capture, never blocking on it; null (with errno) when it cannot.
    virtual std::unique_ptr<IV4l2Device> Open(const std::string& entry) = 0;
};

// The system's video nodes in `folder` (plain open, ioctl, mmap and poll).
std::shared_ptr<IV4l2DeviceFolder> MakeV4l2SystemFolder(const std::string& folder = "/dev");
