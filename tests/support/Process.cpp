#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace vp::test {

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& x : extra)
            replaced = replaced || x.substr(0, x.find('=')) == name;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int outFd) {
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = MergedEnvironment(env);
    auto argp = Pointers(args);
    auto envp = Pointers(envs);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int err = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return err == 0 ? pid : -1;
}

// Forked by hand so the child can be told to end with this process: a test that dies must not leave a
// server running. Everything the child needs is prepared before the fork. Standard output and error go
// to the descriptors given (-1: /dev/null); no other descriptor of this process stays open in the child.
pid_t ForkChild(const std::vector<std::string>& argv, const std::vector<std::string>& env, int outFd,
                int errFd, int deathSignal) {
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = MergedEnvironment(env);
    auto argp = Pointers(args);
    auto envp = Pointers(envs);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, deathSignal);
    if (getppid() != parent)
        _exit(127);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0)
        dup2(null, 0);
    dup2(outFd >= 0 ? outFd : null, 1);
    dup2(errFd >= 0 ? errFd : null, 2);
    close_range(3, ~0U, 0);
    execvpe(argp[0], argp.data(), envp.data());
    _exit(127);
}

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string* output) {
    int fds[2] = {-1, -1};
    if (output != nullptr && pipe(fds) != 0)
        return -1;
    const pid_t pid = Spawn(argv, env, output != nullptr ? fds[1] : -1);
    if (output != nullptr) {
        close(fds[1]);
        char buf[4096];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0)
            output->append(buf, static_cast<size_t>(n));
        close(fds[0]);
    }
    if (pid < 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    return ForkChild(argv, env, -1, -1, SIGTERM);
}

void StopProgram(pid_t pid, int graceMs) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool CChildProcess::Start(const std::vector<std::string>& argv, unsigned streams, int deathSignal,
                          const std::vector<std::string>& env) {
    Kill();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
        m_text[0].clear();
        m_text[1].clear();
        m_bEnded = false;
    }
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    auto closeAll = [&] {
        for (int fd : {out[0], out[1], err[0], err[1]})
            if (fd >= 0)
                close(fd);
    };
    if (((streams & kOut) != 0 && pipe2(out, O_CLOEXEC) != 0) ||
        ((streams & kErr) != 0 && pipe2(err, O_CLOEXEC) != 0)) {
        closeAll();
        m_bEnded = true;
        return false;
    }
    m_pid = ForkChild(argv, env, out[1], err[1], deathSignal);
    for (int* fd : {&out[1], &err[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    if (m_pid < 0) {
        closeAll();
        m_bEnded = true;
        return false;
    }
    m_reader = std::thread([this, o = out[0], e = err[0]] { Read(o, e); });
    return true;
}

void CChildProcess::Read(int outFd, int errFd) {
    std::string pending[2];
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int s = 0; s < 2; ++s) {
            if (fds[s].fd < 0 || fds[s].revents == 0)
                continue;
            char buf[4096];
            const ssize_t n = read(fds[s].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[s].fd);
                fds[s].fd = -1;  // poll passes over negative descriptors
                continue;
            }
            pending[s].append(buf, static_cast<size_t>(n));
            std::lock_guard<std::mutex> lock(m_mutex);
            m_text[s].append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = pending[s].find('\n')) != std::string::npos) {
                m_lines.push_back({pending[s].substr(0, nl), Clock::now()});
                pending[s].erase(0, nl + 1);
            }
            m_cv.notify_all();
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnded = true;
    m_cv.notify_all();
}

bool CChildProcess::Matches(const std::string& line, const std::string& text, EMatch match) {
    switch (match) {
        case EMatch::Exact:
            return line == text;
        case EMatch::Prefix:
            return line.rfind(text, 0) == 0;
        case EMatch::Substring:
            return line.find(text) != std::string::npos;
    }
    return false;
}

bool CChildProcess::WaitLine(const std::string& text, EMatch match, int timeoutMs, std::string* found) {
    std::unique_lock<std::mutex> lock(m_mutex);
    bool seen = false;
    auto done = [&] {
        for (const auto& l : m_lines) {
            if (Matches(l.text, text, match)) {
                if (found != nullptr)
                    *found = l.text;
                seen = true;
                return true;
            }
        }
        return m_bEnded;  // nothing more can come
    };
    if (timeoutMs < 0) {
        m_cv.wait(lock, done);
    } else {
        m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }
    return seen;
}

int CChildProcess::Count(const std::string& text, EMatch match) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& l : m_lines)
        n += Matches(l.text, text, match) ? 1 : 0;
    return n;
}

std::optional<CChildProcess::Clock::time_point> CChildProcess::TimeOf(const std::string& text, EMatch match) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& l : m_lines)
        if (Matches(l.text, text, match))
            return l.time;
    return std::nullopt;
}

std::vector<CChildProcess::Clock::time_point> CChildProcess::TimesOf(const std::string& text, EMatch match) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Clock::time_point> out;
    for (const auto& l : m_lines)
        if (Matches(l.text, text, match))
            out.push_back(l.time);
    return out;
}

std::vector<std::string> CChildProcess::Lines() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> out;
    out.reserve(m_lines.size());
    for (const auto& l : m_lines)
        out.push_back(l.text);
    return out;
}

bool CChildProcess::StreamsEnded() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bEnded;
}

std::string CChildProcess::Text(EStream stream) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return stream == kErr ? m_text[1] : m_text[0];
}

void CChildProcess::Signal(int sig) {
    if (m_pid > 0)
        kill(m_pid, sig);
}

int CChildProcess::Stop(int sig, int timeoutMs) {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, sig);
    return Wait(timeoutMs);
}

int CChildProcess::Wait(int timeoutMs) {
    if (m_pid <= 0)
        return -1;
    int status = 0;
    if (timeoutMs < 0) {
        if (waitpid(m_pid, &status, 0) != m_pid)
            return -1;
    } else {
        for (int waited = 0;; waited += 10) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid)
                break;
            if (waited >= timeoutMs)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    m_pid = -1;
    JoinReader();
    return ExitCode(status);
}

void CChildProcess::Kill() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    JoinReader();
}

void CChildProcess::JoinReader() {
    if (m_reader.joinable())
        m_reader.join();
}

CTempDir::CTempDir(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr)
        m_strPath = pattern;
}

CTempDir::~CTempDir() {
    if (m_strPath.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

}  // namespace vp::test
