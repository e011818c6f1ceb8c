// Changes tests make to the process environment. A Qt test runs a watchdog thread that reads the
// environment while a test's set-up changes it; Qt guards its own reads and writes with one lock, so a
// Qt test routes the changes through Qt (see tests/gui/support/OffscreenClient.h) and they take that lock.
#pragma once

#include <stdlib.h>

#include <string>

namespace vp::test {

struct SEnvironmentWriter {
    void (*set)(const char* name, const char* value);
    void (*unset)(const char* name);
};

inline SEnvironmentWriter& EnvironmentWriter() {
    static SEnvironmentWriter writer{[](const char* name, const char* value) { setenv(name, value, 1); },
                                     [](const char* name) { unsetenv(name); }};
    return writer;
}

inline void SetEnv(const std::string& name, const std::string& value) {
    EnvironmentWriter().set(name.c_str(), value.c_str());
}

inline void UnsetEnv(const std::string& name) {
    EnvironmentWriter().unset(name.c_str());
}

}  // namespace vp::test
