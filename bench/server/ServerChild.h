// velaphond as a child process of a benchmark, and the CPU time of any process from /proc.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/Process.h"

// CPU seconds the process's live threads have used so far (user and system); 0 when it is gone.
double CpuSecondsOf(pid_t pid);

// The first child of this process whose command name is `comm` (as /proc/PID/comm gives it); -1 when none.
pid_t FindChild(const std::string& comm);

// A velaphond serving on `address` (ports the system picks), its log collected so it never blocks on a
// full pipe.
class CServerChild {
public:
    bool Start(const std::string& db, const std::string& address, const std::vector<std::string>& extra = {});
    ~CServerChild() { m_Process.Stop(SIGTERM, -1); }
    // Waits for a log line holding `text`.
    bool WaitLog(const std::string& text, int timeoutMs);
    double CpuSeconds() const { return CpuSecondsOf(m_Process.Pid()); }
    uint16_t Port() const { return m_nPort; }
    const std::string& Address() const { return m_strAddress; }

private:
    vp::test::CChildProcess m_Process;
    std::string m_strAddress;
    uint16_t m_nPort = 0;
};
