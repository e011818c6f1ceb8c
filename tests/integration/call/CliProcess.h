// velaphon-cli as a process whose standard output is collected line by line, with the time each line
// arrived. Free of any test framework, so window tests can use it too.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace calltest {

using Clock = std::chrono::steady_clock;

inline std::string CliBinary() {
    return std::string(VP_BINARY_DIR) + "/bin/velaphon-cli";
}

// A running velaphon-cli; its standard output is collected line by line with arrival times.
class CCli {
public:
    CCli(const std::string& host, const std::string& ntv, const std::string& password,
         const std::vector<std::string>& extra = {}) {
        std::vector<std::string> all = {CliBinary(), "--host", host, "--ntv", ntv, "--password", password};
        all.insert(all.end(), extra.begin(), extra.end());
        Spawn(all);
    }
    ~CCli() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_reader.joinable())
            m_reader.join();
    }
    CCli(const CCli&) = delete;
    CCli& operator=(const CCli&) = delete;

    // Waits for a line equal to `line` (or, with `prefix`, beginning with it); gives the line.
    bool WaitLine(const std::string& line, int timeoutMs = 20000, bool prefix = false,
                  std::string* found = nullptr) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const auto& l : m_lines)
                if (prefix ? l.text.rfind(line, 0) == 0 : l.text == line) {
                    if (found != nullptr)
                        *found = l.text;
                    return true;
                }
            return false;
        });
    }
    // When the first line equal to `line` arrived; nullopt when it has not.
    std::optional<Clock::time_point> TimeOf(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& l : m_lines)
            if (l.text == line)
                return l.time;
        return std::nullopt;
    }
    int Count(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(
            std::count_if(m_lines.begin(), m_lines.end(), [&](const SLine& l) { return l.text == line; }));
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> out;
        for (const auto& l : m_lines)
            out.push_back(l.text);
        return out;
    }
    // The lines from the first equal to `from` on (those of one call, for instance).
    std::vector<std::string> LinesFrom(const std::string& from) {
        auto all = Lines();
        auto it = std::find(all.begin(), all.end(), from);
        return std::vector<std::string>(it, all.end());
    }
    // The number at the end of a line "NAME N"; -1 when there is none.
    long Number(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& l : m_lines)
            if (l.text.rfind(name + " ", 0) == 0)
                return std::atol(l.text.c_str() + name.size() + 1);
        return -1;
    }
    // Ends it with SIGTERM; its exit code (-1 when it did not end in time).
    int Stop(int timeoutMs = 15000) {
        if (m_pid <= 0)
            return -1;
        kill(m_pid, SIGTERM);
        return Wait(timeoutMs);
    }
    // Waits for its end; its exit code (-1 when it did not end in time).
    int Wait(int timeoutMs = 15000) {
        if (m_pid <= 0)
            return -1;
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                if (m_reader.joinable())
                    m_reader.join();
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    struct SLine {
        std::string text;
        Clock::time_point time;
    };
    void Spawn(std::vector<std::string> all) {
        int out[2];
        if (pipe(out) != 0)
            return;
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            dup2(out[1], 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            close_range(3, ~0U, 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_reader = std::thread([this, fd = out[0]] {
            std::string pending;
            char buf[1024];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0) {
                pending.append(buf, static_cast<size_t>(n));
                size_t nl;
                while ((nl = pending.find('\n')) != std::string::npos) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_lines.push_back({pending.substr(0, nl), Clock::now()});
                    pending.erase(0, nl + 1);
                    m_cv.notify_all();
                }
            }
            close(fd);
        });
    }

    pid_t m_pid = -1;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<SLine> m_lines;
};

}  // namespace calltest
