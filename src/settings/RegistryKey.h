// CRegistryKey: the accessor every reader and writer of the settings uses. Each operation opens the
// key, does its work and closes it again; nothing is held open between calls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Registry.h"

class CRegistryKey {
public:
    CRegistryKey();

    // Accepts only the four classic roots.
    bool SetRoot(HKEY root);
    // Empty path: clears the key, true. Otherwise opens (or with `create` makes) the key and remembers it.
    bool SetKey(const std::string& path, bool create);

    // The stored type, 0 when absent or unreadable.
    DWORD ValueType(const std::string& name);
    // Number of values, -1 when the key cannot be opened.
    int ValueCount();
    // The text when the value is a text of at most 255 bytes (with its terminating zero), else `def`.
    std::string ReadString(const std::string& name, const std::string& def);
    // The first 4 bytes of the value (little-endian) whatever its type, else `def`. Flags too.
    int32_t ReadNumber(const std::string& name, int32_t def);
    // Writes texts shorter than 255 characters; a longer one is refused (false).
    bool WriteString(const std::string& name, const std::string& text);
    // Writes 4 bytes as REG_BINARY.
    bool WriteNumber(const std::string& name, int32_t value);
    bool DeleteValue(const std::string& name);

    static constexpr size_t kMaxText = 255;

    LONG m_nLastError = ERROR_SUCCESS;
    HKEY m_hRoot;
    bool m_bLazy = true;  // saves are durable here whatever this says; kept for callers that set it
    std::string m_strKey;

private:
    bool Flush();
};
