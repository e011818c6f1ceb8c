#include "settings/RegistryKey.h"

#include <vector>

CRegistryKey::CRegistryKey() : m_hRoot(HKEY_CURRENT_USER) {}

bool CRegistryKey::SetRoot(HKEY root) {
    if (root != HKEY_CLASSES_ROOT && root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE &&
        root != HKEY_USERS)
        return false;
    m_hRoot = root;
    return true;
}

bool CRegistryKey::Flush() {
    if (m_bLazy)
        return true;
    return RegFlushKeyPath(m_hRoot, m_strKey) == ERROR_SUCCESS;
}

bool CRegistryKey::SetKey(const std::string& path, bool create) {
    if (path.empty()) {
        m_strKey.clear();
        return true;
    }
    m_nLastError = RegOpenKeyPath(m_hRoot, path, create);
    if (m_nLastError != ERROR_SUCCESS)
        return false;
    m_strKey = path;
    Flush();
    return true;
}

DWORD CRegistryKey::ValueType(const std::string& name) {
    DWORD type = REG_NONE;
    m_nLastError = RegQueryValueData(m_hRoot, m_strKey, name, &type, nullptr);
    return m_nLastError == ERROR_SUCCESS ? type : 0;
}

int CRegistryKey::ValueCount() {
    DWORD count = 0;
    m_nLastError = RegQueryValueCount(m_hRoot, m_strKey, &count);
    return m_nLastError == ERROR_SUCCESS ? static_cast<int>(count) : -1;
}

std::string CRegistryKey::ReadString(const std::string& name, const std::string& def) {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    m_nLastError = RegQueryValueData(m_hRoot, m_strKey, name, &type, &data);
    if (m_nLastError != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || data.size() > kMaxText)
        return def;
    // The text ends at its first zero; a value stored without one still reads whole.
    size_t n = 0;
    while (n < data.size() && data[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(data.data()), n);
}

int32_t CRegistryKey::ReadNumber(const std::string& name, int32_t def) {
    std::vector<uint8_t> data;
    m_nLastError = RegQueryValueData(m_hRoot, m_strKey, name, nullptr, &data);
    if (m_nLastError != ERROR_SUCCESS || data.size() < 4)
        return def;
    uint32_t v = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                 static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    return static_cast<int32_t>(v);
}

bool CRegistryKey::WriteString(const std::string& name, const std::string& text) {
    if (text.size() >= kMaxText)
        return false;
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    m_nLastError = RegSetValueData(m_hRoot, m_strKey, name, REG_SZ, data);
    return m_nLastError == ERROR_SUCCESS && Flush();
}

bool CRegistryKey::WriteNumber(const std::string& name, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    std::vector<uint8_t> data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                 static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    m_nLastError = RegSetValueData(m_hRoot, m_strKey, name, REG_BINARY, data);
    return m_nLastError == ERROR_SUCCESS && Flush();
}

bool CRegistryKey::DeleteValue(const std::string& name) {
    m_nLastError = RegDeleteValueName(m_hRoot, m_strKey, name);
    return m_nLastError == ERROR_SUCCESS && Flush();
}
