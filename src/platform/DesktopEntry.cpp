#include "platform/DesktopEntry.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/Trace.h"
#include "platform/UserFolders.h"

extern char** environ;

namespace {

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Undoes QuoteExecArgument for the first argument of an Exec value.
std::string FirstExecArgument(const std::string& exec) {
    std::string s;
    // Level 1: the string escapes of the key's value.
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\' && i + 1 < exec.size()) {
            char e = exec[++i];
            s += e == 's' ? ' ' : e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
        } else {
            s += exec[i];
        }
    }
    // Level 2: the quoting of arguments, and %% for a percent sign.
    std::string arg;
    size_t i = 0;
    if (i < s.size() && s[i] == '"') {
        for (++i; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] == '\\' && i + 1 < s.size())
                ++i;
            arg += s[i];
        }
    } else {
        while (i < s.size() && s[i] != ' ')
            arg += s[i++];
    }
    std::string out;
    for (size_t k = 0; k < arg.size(); ++k) {
        out += arg[k];
        if (arg[k] == '%' && k + 1 < arg.size() && arg[k + 1] == '%')
            ++k;
    }
    return out;
}

}  // namespace

std::string QuoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            return {};
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    // The Exec value is itself an escaped string: every backslash is doubled once more.
    std::string out;
    for (char c : quoted) {
        if (c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, unsigned mode) {
    if (!MakeFolders(FolderOf(path)))
        return false;
    std::string temp = path + ".tmp-" + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return false;
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string CAutostartEntry::Path() {
    std::string base = XdgConfigHome();
    return base.empty() ? std::string() : base + "/autostart/velaphon.desktop";
}

bool CAutostartEntry::Write(const std::string& programPath) {
    std::string exec = programPath.empty() ? std::string() : QuoteExecArgument(programPath);
    std::string path = Path();
    if (exec.empty() || path.empty())
        return false;
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Velaphon\n"
        "Comment=Videophone\n"
        "Comment[es]=Videoteléfono\n"
        "Exec=" +
        exec +
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    return WriteFileAtomically(path, text);
}

bool CAutostartEntry::Remove() {
    std::string path = Path();
    if (path.empty())
        return false;
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool CAutostartEntry::Exists() {
    std::string path = Path();
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

std::string CAutostartEntry::Program() {
    std::istringstream in(ReadFile(Path()));
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 5, "Exec=") == 0)
            return FirstExecArgument(line.substr(5));
    return {};
}

std::string CUrlSchemeHandler::DesktopFilePath() {
    std::string base = XdgDataHome();
    return base.empty() ? std::string() : base + "/applications/velaphon-url.desktop";
}

std::string CUrlSchemeHandler::LauncherPath() {
    std::string base = XdgDataHome();
    return base.empty() ? std::string() : base + "/velaphon/velaphon-VLPDINAMIC";
}

bool CUrlSchemeHandler::Install(const std::string& programPath, bool* changed) {
    if (changed != nullptr)
        *changed = false;
    std::string launcher = LauncherPath();
    std::string desktop = DesktopFilePath();
    std::string exec = QuoteExecArgument(launcher);
    if (programPath.empty() || launcher.empty() || desktop.empty() || exec.empty())
        return false;
    if (!MakeFolders(FolderOf(launcher)))
        return false;

    std::vector<char> target(4096);
    ssize_t n = readlink(launcher.c_str(), target.data(), target.size() - 1);
    if (n < 0 || std::string(target.data(), static_cast<size_t>(n)) != programPath) {
        std::string temp = launcher + ".tmp-" + std::to_string(getpid());
        unlink(temp.c_str());
        if (symlink(programPath.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), launcher.c_str()) != 0) {
            unlink(temp.c_str());
            return false;
        }
        if (changed != nullptr)
            *changed = true;
    }

    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Velaphon direct call\n"
        "Name[es]=Velaphon llamada directa\n"
        "Exec=" +
        exec +
        " %u\n"
        "MimeType=x-scheme-handler/velaphon;\n"
        "NoDisplay=true\n"
        "Terminal=false\n";
    if (ReadFile(desktop) != text) {
        if (!WriteFileAtomically(desktop, text))
            return false;
        if (changed != nullptr)
            *changed = true;
    }
    return true;
}

bool CUrlSchemeHandler::InstalledWithProgram(const std::string& programPath) {
    const size_t slash = programPath.find_last_of('/');
    if (programPath.empty() || slash == std::string::npos)
        return false;
    const std::string launcher = programPath.substr(0, slash) + "/../lib/velaphon/velaphon-VLPDINAMIC";
    char* target = realpath(launcher.c_str(), nullptr);
    char* program = realpath(programPath.c_str(), nullptr);
    const bool same = target != nullptr && program != nullptr && std::string(target) == program;
    std::free(target);
    std::free(program);
    return same;
}

void CUrlSchemeHandler::Remove() {
    for (const std::string& path : {DesktopFilePath(), LauncherPath()})
        if (!path.empty())
            unlink(path.c_str());
}

void CUrlSchemeHandler::RegisterAsDefault() {
    std::string desktop = DesktopFilePath();
    size_t slash = desktop.find_last_of('/');
    if (slash == std::string::npos)
        return;
    std::string name = desktop.substr(slash + 1);
    std::vector<std::string> args = {"xdg-mime", "default", name, "x-scheme-handler/velaphon"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "xdg-mime", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        Trace("%s:%d | xdg-mime no disponible\n", "DesktopEntry", __LINE__);
        return;
    }
    // Reaped in the background so start-up does not wait for the desktop's tools.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}
