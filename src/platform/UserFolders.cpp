#include "platform/UserFolders.h"

#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty())
        return home;
    // A session without HOME (some service managers) still has a passwd entry.
    struct passwd pw {};
    struct passwd* result = nullptr;
    std::vector<char> buf(4096);
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr)
        return result->pw_dir;
    return {};
}

// XDG says relative values are invalid and must be ignored.
std::string XdgFolder(const char* variable, const char* fallbackBelowHome) {
    std::string v = Env(variable);
    if (!v.empty() && v[0] == '/')
        return v;
    std::string home = HomeFolder();
    if (home.empty())
        return {};
    return home + "/" + fallbackBelowHome;
}

}  // namespace

std::string XdgConfigHome() {
    return XdgFolder("XDG_CONFIG_HOME", ".config");
}
std::string XdgDataHome() {
    return XdgFolder("XDG_DATA_HOME", ".local/share");
}

std::string ConfigFolder() {
    std::string dir = Env("VELAPHON_CONFIG_DIR");
    if (!dir.empty())
        return dir;
    std::string base = XdgConfigHome();
    return base.empty() ? std::string() : base + "/velaphon";
}

bool MakeFolders(const std::string& path) {
    if (path.empty())
        return false;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        std::string parent = path.substr(0, slash);
        if (stat(parent.c_str(), &st) != 0) {
            // Parents get the usual mode; only the folder asked for is private.
            if (!MakeFolders(parent))
                return false;
            chmod(parent.c_str(), 0755);
        }
    }
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakePrivateFolder(const std::string& path) {
    if (path.empty())
        return false;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 0077) == 0;
}

std::string ProgramFilePath() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return {};
    return std::string(buf.data(), static_cast<size_t>(n));
}

std::string ProgramBaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}
