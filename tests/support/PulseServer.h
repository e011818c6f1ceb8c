// A private PulseAudio server for tests of the ALSA back end: a null sink "vp_sink" at 8000 Hz mono, in a
// runtime folder of its own, so tests running side by side never meet. Started, this process's sound
// clients (and through them ALSA's "default" and "pulse") play to the sink and record its monitor.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"

namespace vp::test {

class CPulseServer {
public:
    static constexpr const char* kSinkName = "vp_sink";

    CPulseServer() = default;
    ~CPulseServer();
    CPulseServer(const CPulseServer&) = delete;
    CPulseServer& operator=(const CPulseServer&) = delete;

    // Starts the server, waits until it answers, and sets PULSE_SERVER, PULSE_SINK, PULSE_SOURCE,
    // PULSE_COOKIE and XDG_RUNTIME_DIR for this process. False (with a reason) when it cannot run.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool IsRunning() const { return m_pid > 0; }
    // The environment entries a child sound client needs to reach this server.
    std::vector<std::string> ClientEnvironment() const;

private:
    std::unique_ptr<CTempDir> m_pDir;
    pid_t m_pid = -1;
    std::vector<std::pair<std::string, std::string>> m_SavedEnv;
};

}  // namespace vp::test
