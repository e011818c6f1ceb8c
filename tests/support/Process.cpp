#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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
    // Forked by hand so the child can be told to end with this process: a test that dies must not leave
    // a server running. Everything the child needs is prepared before the fork.
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = MergedEnvironment(env);
    auto argp = Pointers(args);
    auto envp = Pointers(envs);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
    }
    execvpe(argp[0], argp.data(), envp.data());
    _exit(127);
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
