#include "platform/HiveFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/Trace.h"
#include "platform/UserFolders.h"

namespace {

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads a whole regular file of at most `limit` bytes. ENOENT in errno when it does not exist.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& out) {
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > limit) {
        close(fd);
        errno = EINVAL;
        return false;
    }
    char buf[8192];
    while (true) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int e = errno;
            close(fd);
            errno = e;
            return false;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > limit) {
            close(fd);
            errno = EINVAL;
            return false;
        }
    }
    close(fd);
    return true;
}

const char kTempInfix[] = ".tmp-";

}  // namespace

std::string CHiveFile::DefaultPath() {
    std::string folder = ConfigFolder();
    return folder.empty() ? std::string() : folder + "/user.hive";
}

CHiveFile::CHiveFile(std::string path) : m_strPath(std::move(path)) {}

CHiveFile::~CHiveFile() {
    Unlock();
}

CHiveFile::EState CHiveFile::Read(CHiveData& out, std::string* error) const {
    out.m_keys.clear();
    if (m_strPath.empty())
        return EState::Absent;
    std::string text;
    if (!ReadSmallFile(m_strPath, kMaxSize, text)) {
        if (errno == ENOENT || errno == ENOTDIR)
            return EState::Absent;
        if (error != nullptr)
            *error = "cannot read the file";
        return EState::Damaged;
    }
    std::string why;
    if (!ParseHive(text, out, &why)) {
        if (error != nullptr)
            *error = why;
        return EState::Damaged;
    }
    return EState::Ok;
}

bool CHiveFile::Lock(int timeoutMs) {
    if (m_nLockFd >= 0)
        return true;
    std::string folder = FolderOf(m_strPath);
    if (m_strPath.empty() || !MakeFolders(folder))
        return false;
    int fd = open((m_strPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Polled so that a process stuck while holding the lock cannot hang this one.
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_nLockFd = fd;
    return true;
}

void CHiveFile::Unlock() {
    if (m_nLockFd < 0)
        return;
    flock(m_nLockFd, LOCK_UN);
    close(m_nLockFd);
    m_nLockFd = -1;
}

bool CHiveFile::SetAside() {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    for (int n = 0; n < 100; ++n) {
        // Built by appending: GCC 12 at -O3 reports a false overlap in `"-" + std::to_string(n)`.
        std::string target = m_strPath;
        target.append(".damaged-").append(stamp);
        if (n > 0)
            target.append("-").append(std::to_string(n));
        if (renameat2(AT_FDCWD, m_strPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            m_strSetAside = target;
            Trace("%s:%d | hive dañado apartado en %s\n", "HiveFile", __LINE__, target.c_str());
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool CHiveFile::LoadForEdit(CHiveData& out) {
    if (m_nLockFd < 0)
        return false;
    RemoveStaleTemporaries();
    std::string why;
    switch (Read(out, &why)) {
        case EState::Ok:
        case EState::Absent:
            return true;
        case EState::Damaged:
            Trace("%s:%d | hive ilegible (%s): %s\n", "HiveFile", __LINE__, why.c_str(), m_strPath.c_str());
            return SetAside();
    }
    return false;
}

void CHiveFile::RemoveStaleTemporaries() const {
    // Only a writer holding the lock makes temporaries, so any found now belong to a killed writer.
    std::string folder = FolderOf(m_strPath);
    std::string prefix = NameOf(m_strPath) + kTempInfix;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0)
            unlink((folder + "/" + name).c_str());
    }
    closedir(dir);
}

bool CHiveFile::Write(const CHiveData& data) {
    if (m_nLockFd < 0)
        return false;
    static std::atomic<unsigned> s_counter{0};
    std::string temp = m_strPath + kTempInfix + std::to_string(getpid()) + "-" + std::to_string(++s_counter);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, SerializeHive(data)) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(temp.c_str(), m_strPath.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself must reach the disk, or a power cut could bring the old hive back.
    int dirFd = open(FolderOf(m_strPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

bool CHiveFile::Update(const std::function<bool(CHiveData&)>& edit) {
    bool wasLocked = IsLocked();
    if (!Lock())
        return false;
    CHiveData data;
    bool ok = LoadForEdit(data);
    if (ok && edit(data))
        ok = Write(data);
    if (!wasLocked)
        Unlock();
    return ok;
}
