// Child processes for tests: run a program to its end, or keep one running and stop it later.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vp::test {

// Runs argv[0] (searched in PATH) with the extra environment entries ("NAME=value") and waits for it.
// Returns its exit status, -1 when it could not run. Output goes to /dev/null unless `output` is given.
int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               std::string* output = nullptr);

// Starts argv[0] in the background; returns its pid, -1 on failure.
pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Ends a program started with StartProgram (SIGTERM, then SIGKILL after `graceMs`) and reaps it.
void StopProgram(pid_t pid, int graceMs = 2000);

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
