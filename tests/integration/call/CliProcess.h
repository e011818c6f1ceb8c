// velaphon-cli as a process whose standard output is collected line by line, with the time each line
// arrived. Free of any test framework, so window tests can use it too.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/Process.h"

namespace calltest {

using Clock = vp::test::CChildProcess::Clock;
using EMatch = vp::test::CChildProcess::EMatch;

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
        m_Process.Start(all);
    }
    // velaphon-cli with exactly these arguments.
    explicit CCli(std::vector<std::string> args) {
        args.insert(args.begin(), CliBinary());
        m_Process.Start(args);
    }

    // Waits for a line equal to `line` (or, with `prefix`, beginning with it); gives the line.
    bool WaitLine(const std::string& line, int timeoutMs = 20000, bool prefix = false,
                  std::string* found = nullptr) {
        return m_Process.WaitLine(line, prefix ? EMatch::Prefix : EMatch::Exact, timeoutMs, found);
    }
    // When the first line equal to `line` arrived; nullopt when it has not.
    std::optional<Clock::time_point> TimeOf(const std::string& line) { return m_Process.TimeOf(line); }
    int Count(const std::string& line) { return m_Process.Count(line); }
    std::vector<std::string> Lines() { return m_Process.Lines(); }
    // The lines from the first equal to `from` on (those of one call, for instance).
    std::vector<std::string> LinesFrom(const std::string& from) {
        auto all = Lines();
        auto it = std::find(all.begin(), all.end(), from);
        return std::vector<std::string>(it, all.end());
    }
    // The number at the end of a line "NAME N"; -1 when there is none.
    long Number(const std::string& name) {
        std::string line;
        if (!m_Process.WaitLine(name + " ", EMatch::Prefix, 0, &line))
            return -1;
        return std::atol(line.c_str() + name.size() + 1);
    }
    void Signal(int sig) { m_Process.Signal(sig); }
    // Ends it with SIGTERM; its exit code (-1 when it did not end in time).
    int Stop(int timeoutMs = 15000) { return m_Process.Stop(SIGTERM, timeoutMs); }
    // Waits for its end; its exit code (-1 when it did not end in time).
    int Wait(int timeoutMs = 15000) { return m_Process.Wait(timeoutMs); }

private:
    vp::test::CChildProcess m_Process;
};

// The pictures a client read back: its "video-frame N PSNR" lines, and the worst PSNR among them.
struct SFrames {
    int count = 0;
    double worstPsnr = 1e9;
};

inline SFrames Frames(CCli& cli) {
    SFrames f;
    for (const std::string& line : cli.Lines()) {
        long number = 0;
        double psnr = 0;
        if (std::sscanf(line.c_str(), "video-frame %ld %lf", &number, &psnr) != 2)
            continue;
        ++f.count;
        f.worstPsnr = std::min(f.worstPsnr, psnr);
    }
    return f;
}

}  // namespace calltest
