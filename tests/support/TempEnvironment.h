// A private home for one test: a fresh folder with the settings, XDG and runtime folders pointed into
// it, restored when the test ends.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/Environment.h"

class CTempEnvironment {
public:
    CTempEnvironment() {
        char pattern[] = "/tmp/vp-test-XXXXXX";
        m_root = mkdtemp(pattern);
        Set("VELAPHON_CONFIG_DIR", m_root + "/config/velaphon");
        Set("XDG_CONFIG_HOME", m_root + "/config");
        Set("XDG_DATA_HOME", m_root + "/data");
        Set("XDG_RUNTIME_DIR", m_root + "/run");
        std::filesystem::create_directories(m_root + "/run");
    }
    ~CTempEnvironment() {
        for (const auto& [name, value] : m_saved) {
            if (value.has_value)
                vp::test::SetEnv(name, value.text);
            else
                vp::test::UnsetEnv(name);
        }
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    CTempEnvironment(const CTempEnvironment&) = delete;
    CTempEnvironment& operator=(const CTempEnvironment&) = delete;

    // Sets (or with nullptr removes) a variable for the test's duration.
    void Set(const std::string& name, const std::string& value) {
        Remember(name), vp::test::SetEnv(name, value);
    }
    void Unset(const std::string& name) { Remember(name), vp::test::UnsetEnv(name); }

    const std::string& Root() const { return m_root; }
    std::string ConfigDir() const { return m_root + "/config/velaphon"; }
    std::string HivePath() const { return ConfigDir() + "/user.hive"; }

private:
    struct SSaved {
        bool has_value = false;
        std::string text;
    };
    void Remember(const std::string& name) {
        if (m_saved.count(name))
            return;
        const char* v = getenv(name.c_str());
        m_saved[name] = v ? SSaved{true, v} : SSaved{};
    }

    std::string m_root;
    std::map<std::string, SSaved> m_saved;
};
