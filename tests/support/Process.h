// Child processes for tests: run a program to its end, keep one running and stop it later, or keep one
// running while its output is collected line by line.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vp::test {

// What the starters of the tests' servers do when one fails to start: undo what was done, record why
// (when the caller asked) and give false.
template <class FStop>
bool Failed(std::string* error, const std::string& why, FStop stop) {
    if (error != nullptr)
        *error = why;
    stop();
    return false;
}

// Runs argv[0] (searched in PATH) with the extra environment entries ("NAME=value") and waits for it.
// Returns its exit status, -1 when it could not run. Output goes to /dev/null unless `output` is given.
int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               std::string* output = nullptr);

// Starts argv[0] in the background; returns its pid, -1 on failure.
pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Ends a program started with StartProgram (SIGTERM, then SIGKILL after `graceMs`) and reaps it.
void StopProgram(pid_t pid, int graceMs = 2000);

// A program running beside the test with its standard output and/or error collected line by line, each
// line with the time it arrived; streams not collected go to /dev/null. The child is sent `deathSignal`
// when this process dies, so a failed test never leaves a server behind or a pipe open. Free of any test
// framework, so window tests and benchmarks can use it too.
class CChildProcess {
public:
    using Clock = std::chrono::steady_clock;
    enum EStream : unsigned { kNone = 0, kOut = 1, kErr = 2 };
    enum class EMatch { Exact, Prefix, Substring };

    CChildProcess() = default;
    ~CChildProcess() { Kill(); }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts argv[0] (a path, or a name searched in PATH) after ending any earlier run and forgetting
    // its lines. `streams` says which outputs are collected; `env` adds or replaces "NAME=value" entries.
    bool Start(const std::vector<std::string>& argv, unsigned streams = kOut, int deathSignal = SIGKILL,
               const std::vector<std::string>& env = {});
    pid_t Pid() const { return m_pid; }

    // Waits for a collected line that matches `text`; gives the first such line. False when none came in
    // time or when every collected stream ended without one. A negative timeout waits without end.
    bool WaitLine(const std::string& text, EMatch match = EMatch::Exact, int timeoutMs = 20000,
                  std::string* found = nullptr);
    // How many matching lines have come (no waiting).
    int Count(const std::string& text, EMatch match = EMatch::Exact);
    // When the first matching line arrived; nullopt when none has.
    std::optional<Clock::time_point> TimeOf(const std::string& text, EMatch match = EMatch::Exact);
    // When each matching line arrived, in order.
    std::vector<Clock::time_point> TimesOf(const std::string& text, EMatch match = EMatch::Exact);
    std::vector<std::string> Lines();
    // Whether every collected stream has ended (the program has ended, or closed them).
    bool StreamsEnded();
    // All that has come on one stream so far, as it came (a last line without its end included).
    std::string Text(EStream stream);

    void Signal(int sig);
    // Sends the signal and waits for the end; the exit code as Wait gives it.
    int Stop(int sig = SIGTERM, int timeoutMs = 15000);
    // Waits for the end: the exit code, 128 + the signal when one ended it, -1 when it did not end in
    // time (or was never started). A negative timeout waits without end.
    int Wait(int timeoutMs = 15000);
    // Ends it at once (SIGKILL) and reaps it.
    void Kill();

private:
    struct SLine {
        std::string text;
        Clock::time_point time;
    };
    static bool Matches(const std::string& line, const std::string& text, EMatch match);
    void Read(int outFd, int errFd);
    void JoinReader();

    pid_t m_pid = -1;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<SLine> m_lines;
    std::string m_text[2];  // standard output, standard error
    bool m_bEnded = true;   // every collected stream has ended
};

// A fresh directory under /tmp that is removed with everything in it when the object goes.
class CTempDir {
public:
    explicit CTempDir(const char* prefix = "vp-test");
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::string& Path() const { return m_strPath; }
    std::string File(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

}  // namespace vp::test
