#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Trace.h"
#include "platform/UserFolders.h"

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

bool FlockRetrying(int fd, int op) {
    while (flock(fd, op) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

}  // namespace

CInstanceLock::~CInstanceLock() {
    Release();
}

std::string CInstanceLock::Folder() {
    std::string config = Env("VELAPHON_CONFIG_DIR");
    if (!config.empty())
        return MakeFolders(config) ? config : std::string();
    std::string runtime = Env("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime[0] == '/')
        return runtime;
    std::string tmp = Env("TMPDIR");
    if (tmp.empty() || tmp[0] != '/')
        tmp = "/tmp";
    std::string folder = tmp + "/velaphon-" + std::to_string(getuid());
    // A folder someone else planted under that name is not used.
    return MakePrivateFolder(folder) ? folder : std::string();
}

bool CInstanceLock::Acquire(const std::string& name) {
    Release();
    std::string folder = Folder();
    if (folder.empty() || name.empty() || name.find('/') != std::string::npos) {
        Trace("%s:%d | sin carpeta para el cerrojo de instancia\n", "InstanceLock", __LINE__);
        return false;
    }
    m_strPath = folder + "/" + name + ".lock";
    int fd = open(m_strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        Trace("%s:%d | no se puede abrir %s\n", "InstanceLock", __LINE__, m_strPath.c_str());
        return false;
    }
    bool another = false;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Alone: keep a shared lock, so that later copies see this one and each other.
        FlockRetrying(fd, LOCK_SH);
    } else if (errno == EWOULDBLOCK) {
        another = true;
        // Others hold shared locks; an exclusive one is only ever held for a moment by a starting copy.
        FlockRetrying(fd, LOCK_SH);
    } else {
        Trace("%s:%d | el cerrojo de instancia no funciona en %s\n", "InstanceLock", __LINE__,
              m_strPath.c_str());
        close(fd);
        return false;
    }
    m_nFd = fd;
    return another;
}

void CInstanceLock::Release() {
    if (m_nFd < 0)
        return;
    close(m_nFd);  // closing drops the lock
    m_nFd = -1;
}
