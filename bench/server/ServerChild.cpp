#include "ServerChild.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

// From the scheduler's count of each thread's time on a CPU, in nanoseconds: /proc's stat counts in clock
// ticks of 10 ms, too coarse for what Redis spends on a few hundred calls.
double SchedulerSeconds(pid_t pid) {
    std::error_code ec;
    double seconds = 0;
    bool any = false;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        unsigned long long ns = 0;
        if (in >> ns) {
            seconds += static_cast<double>(ns) / 1e9;
            any = true;
        }
    }
    return any ? seconds : -1;
}

double StatSeconds(pid_t pid) {
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (f == nullptr)
        return 0;
    char buf[1024];
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    // The command name may hold spaces and parentheses: the fields start after the last ')'.
    const char* p = std::strrchr(buf, ')');
    unsigned long utime = 0, stime = 0;
    if (p == nullptr ||
        std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) {
        return 0;
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

double CpuSecondsOf(pid_t pid) {
    if (pid <= 0)
        return 0;
    double seconds = SchedulerSeconds(pid);
    return seconds >= 0 ? seconds : StatSeconds(pid);
}

pid_t FindChild(const std::string& comm) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        size_t open = line.find('('), close = line.rfind(')');
        int ppid = 0;
        if (open == std::string::npos || close == std::string::npos ||
            std::sscanf(line.c_str() + close + 2, "%*c %d", &ppid) != 1 || ppid != getpid()) {
            continue;
        }
        if (line.compare(open + 1, close - open - 1, comm) == 0)
            return static_cast<pid_t>(std::stoi(name));
    }
    return -1;
}

bool CServerChild::Start(const std::string& db, const std::string& address,
                         const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {std::string(VP_BINARY_DIR) + "/bin/velaphond",
                                     "serve",
                                     "--db",
                                     db,
                                     "--listen",
                                     address + ":0",
                                     "--http",
                                     address + ":0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    m_strAddress = address;
    if (!m_Process.Start(argv, vp::test::CChildProcess::kErr))
        return false;
    std::string line;
    if (!m_Process.WaitLine("listening ", vp::test::CChildProcess::EMatch::Substring, 30000, &line))
        return false;
    unsigned port = 0;
    const char* at = std::strstr(line.c_str(), "listening ");
    if (std::strchr(at, ':') != nullptr && std::sscanf(std::strchr(at, ':') + 1, "%u", &port) == 1)
        m_nPort = static_cast<uint16_t>(port);
    return m_nPort != 0;
}

bool CServerChild::WaitLog(const std::string& text, int timeoutMs) {
    return m_Process.WaitLine(text, vp::test::CChildProcess::EMatch::Substring, timeoutMs);
}
