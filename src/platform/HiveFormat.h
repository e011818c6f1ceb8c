// The text form of the settings hive: keys in brackets, one typed value a line. Humans and scripts may
// write it (the README shows an example); the client rewrites it whole on every save.
//
//   ; comment
//   [Software\Velaphon\Settings]
//   "UserNtv"=text:"5550001"
//   "Port"=binary:bb,01,00,00
//   "Frame rate"=dword:10
//
// Types: text (REG_SZ), expand (REG_EXPAND_SZ), binary (REG_BINARY, hex bytes), dword (REG_DWORD,
// decimal, negative or 0x-hex), hex(N) (any other type N, hex bytes). Quoted texts take the escapes
// \\ \" \n \r \t \xHH. Key paths are separated by backslashes; key and value names are matched without
// regard to ASCII letter case. A file that breaks any of these rules is rejected whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using DWORD = uint32_t;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

struct SHiveValue {
    std::string m_strName;
    DWORD m_nType = REG_NONE;
    std::vector<uint8_t> m_data;  // texts include their terminating zero, as the registry keeps them
    bool operator==(const SHiveValue&) const = default;
};

struct SHiveKey {
    std::string m_strPath;  // normalised: no leading, trailing or doubled backslashes
    std::vector<SHiveValue> m_values;
    bool operator==(const SHiveKey&) const = default;
};

class CHiveData {
public:
    static std::string NormalizePath(std::string_view path);
    static bool SameName(std::string_view a, std::string_view b);

    // A key exists when it was created or when a key below it exists; the root ("") always exists.
    bool KeyExists(std::string_view path) const;
    SHiveKey* FindKey(std::string_view path);
    const SHiveKey* FindKey(std::string_view path) const;
    SHiveKey& CreateKey(std::string_view path);

    static SHiveValue* FindValue(SHiveKey& key, std::string_view name);
    static const SHiveValue* FindValue(const SHiveKey& key, std::string_view name);
    // Replaces a value of the same name in place (its position is kept) or appends it.
    static void SetValue(SHiveKey& key, SHiveValue value);
    static bool DeleteValue(SHiveKey& key, std::string_view name);

    std::vector<SHiveKey> m_keys;  // in file order
};

// Fills `out` from `text`; false (with a short reason and the line number in `error`) when any line is
// malformed, in which case `out` is left empty.
bool ParseHive(std::string_view text, CHiveData& out, std::string* error = nullptr);
std::string SerializeHive(const CHiveData& data);
