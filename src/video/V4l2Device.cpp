#include "video/V4l2Device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace {

class CSystemDevice : public IV4l2Device {
public:
    explicit CSystemDevice(int fd) : m_nFd(fd) {}
    ~CSystemDevice() override { ::close(m_nFd); }
    CSystemDevice(const CSystemDevice&) = delete;
    CSystemDevice& operator=(const CSystemDevice&) = delete;

    int Fd() const override { return m_nFd; }

    int Ioctl(unsigned long request, void* arg) override {
        int result;
        do {
            result = ::ioctl(m_nFd, request, arg);
        } while (result == -1 && errno == EINTR);
        return result;
    }

    ssize_t Read(void* buffer, size_t size) override { return ::read(m_nFd, buffer, size); }

    void* Map(size_t length, uint32_t offset) override {
        void* p =
            ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, m_nFd, static_cast<off_t>(offset));
        return p == MAP_FAILED ? nullptr : p;
    }

    void Unmap(void* address, size_t length) override { ::munmap(address, length); }

    int Poll(int timeoutMs) override {
        pollfd p{m_nFd, POLLIN, 0};
        const int n = ::poll(&p, 1, timeoutMs);
        return n <= 0 ? n : p.revents;
    }

private:
    int m_nFd;
};

class CSystemFolder : public IV4l2DeviceFolder {
public:
    explicit CSystemFolder(std::string folder) : m_strFolder(std::move(folder)) {}

    std::vector<std::string> Entries() override {
        std::vector<std::string> names;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(m_strFolder, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.rfind("video", 0) == 0)
                names.push_back(std::move(name));
        }
        return names;
    }

    std::unique_ptr<IV4l2Device> Open(const std::string& entry) override {
        // Non-blocking: a frame that is not ready must never hold a grab.
        const int fd = ::open((m_strFolder + "/" + entry).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        return std::make_unique<CSystemDevice>(fd);
    }

private:
    std::string m_strFolder;
};

}  // namespace

std::shared_ptr<IV4l2DeviceFolder> MakeV4l2SystemFolder(const std::string& folder) {
    return std::make_shared<CSystemFolder>(folder);
}
