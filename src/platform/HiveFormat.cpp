#include "platform/HiveFormat.h"

#include <cstdio>

#include "platform/Ascii.h"

namespace {

using ascii::HexDigit;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// True when `key` lies strictly below `path`.
bool IsBelow(std::string_view key, std::string_view path) {
    if (path.empty())
        return !key.empty();
    return key.size() > path.size() && key[path.size()] == '\\' &&
           CHiveData::SameName(key.substr(0, path.size()), path);
}

const char kHex[] = "0123456789abcdef";

// Reads a quoted text at the start of `s`; on success `s` is left after the closing quote.
bool ReadQuoted(std::string_view& s, std::string& out) {
    if (s.empty() || s.front() != '"')
        return false;
    size_t i = 1;
    out.clear();
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 >= s.size())
            return false;
        char e = s[i + 1];
        switch (e) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                if (i + 3 >= s.size())
                    return false;
                int hi = HexDigit(s[i + 2]), lo = HexDigit(s[i + 3]);
                if (hi < 0 || lo < 0)
                    return false;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return false;
        }
        i += 2;
    }
    return false;
}

void WriteQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    out += "\\x";
                    out += kHex[u >> 4];
                    out += kHex[u & 15];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

// "bb,01,00,00" (blanks allowed around the commas); "" is no bytes.
bool ReadHexBytes(std::string_view s, std::vector<uint8_t>& out) {
    out.clear();
    s = Trim(s);
    if (s.empty())
        return true;
    while (true) {
        s = Trim(s);
        if (s.size() < 2)
            return false;
        int hi = HexDigit(s[0]), lo = HexDigit(s[1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
        s.remove_prefix(2);
        s = Trim(s);
        if (s.empty())
            return true;
        if (s.front() != ',')
            return false;
        s.remove_prefix(1);
    }
}

void WriteHexBytes(std::string& out, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += ',';
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 15];
    }
}

// Decimal (optionally negative, as 32-bit two's complement) or 0x-hex, within 32 bits.
bool ReadDword(std::string_view s, uint32_t& out) {
    s = Trim(s);
    bool negative = false;
    int base = 10;
    if (!s.empty() && s.front() == '-') {
        negative = true;
        s.remove_prefix(1);
    } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.size() > 10)
        return false;
    uint64_t v = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0 || d >= base)
            return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (negative) {
        if (v > 0x80000000ull)
            return false;
        out = static_cast<uint32_t>(0u - static_cast<uint32_t>(v));
        return true;
    }
    if (v > 0xffffffffull)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool IsTextData(const std::vector<uint8_t>& d) {
    return !d.empty() && d.back() == 0;
}

bool ParseValueLine(std::string_view line, SHiveValue& value, std::string& why) {
    if (!ReadQuoted(line, value.m_strName)) {
        why = "bad value name";
        return false;
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') {
        why = "missing '='";
        return false;
    }
    line = Trim(line.substr(1));
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        why = "missing type";
        return false;
    }
    std::string_view type = Trim(line.substr(0, colon));
    std::string_view payload = Trim(line.substr(colon + 1));
    value.m_data.clear();
    if (type == "text" || type == "expand") {
        std::string text;
        if (!ReadQuoted(payload, text) || !Trim(payload).empty()) {
            why = "bad text";
            return false;
        }
        value.m_nType = type == "text" ? REG_SZ : REG_EXPAND_SZ;
        value.m_data.assign(text.begin(), text.end());
        value.m_data.push_back(0);
        return true;
    }
    if (type == "binary") {
        value.m_nType = REG_BINARY;
        if (!ReadHexBytes(payload, value.m_data)) {
            why = "bad hex bytes";
            return false;
        }
        return true;
    }
    if (type == "dword") {
        uint32_t v = 0;
        if (!ReadDword(payload, v)) {
            why = "bad number";
            return false;
        }
        value.m_nType = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            value.m_data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return true;
    }
    if (type.size() > 5 && type.substr(0, 4) == "hex(" && type.back() == ')') {
        uint32_t t = 0;
        std::string_view digits = type.substr(4, type.size() - 5);
        if (digits.empty() || digits.front() == '-' || digits.substr(0, 2) == "0x" || !ReadDword(digits, t) ||
            !ReadHexBytes(payload, value.m_data)) {
            why = "bad hex value";
            return false;
        }
        value.m_nType = t;
        return true;
    }
    why = "unknown type";
    return false;
}

}  // namespace

std::string CHiveData::NormalizePath(std::string_view path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        size_t end = path.find('\\', i);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > i) {
            if (!out.empty())
                out += '\\';
            out.append(path.substr(i, end - i));
        }
        i = end + 1;
    }
    return out;
}

bool CHiveData::SameName(std::string_view a, std::string_view b) {
    return ascii::EqualNoCase(a, b);
}

bool CHiveData::KeyExists(std::string_view path) const {
    std::string p = NormalizePath(path);
    if (p.empty())
        return true;
    for (const auto& k : m_keys)
        if (SameName(k.m_strPath, p) || IsBelow(k.m_strPath, p))
            return true;
    return false;
}

SHiveKey* CHiveData::FindKey(std::string_view path) {
    std::string p = NormalizePath(path);
    for (auto& k : m_keys)
        if (SameName(k.m_strPath, p))
            return &k;
    return nullptr;
}

const SHiveKey* CHiveData::FindKey(std::string_view path) const {
    return const_cast<CHiveData*>(this)->FindKey(path);
}

SHiveKey& CHiveData::CreateKey(std::string_view path) {
    if (SHiveKey* k = FindKey(path))
        return *k;
    m_keys.push_back(SHiveKey{NormalizePath(path), {}});
    return m_keys.back();
}

SHiveValue* CHiveData::FindValue(SHiveKey& key, std::string_view name) {
    for (auto& v : key.m_values)
        if (SameName(v.m_strName, name))
            return &v;
    return nullptr;
}

const SHiveValue* CHiveData::FindValue(const SHiveKey& key, std::string_view name) {
    return FindValue(const_cast<SHiveKey&>(key), name);
}

void CHiveData::SetValue(SHiveKey& key, SHiveValue value) {
    if (SHiveValue* v = FindValue(key, value.m_strName)) {
        // The stored spelling of the name stays, as the registry keeps it.
        v->m_nType = value.m_nType;
        v->m_data = std::move(value.m_data);
        return;
    }
    key.m_values.push_back(std::move(value));
}

bool CHiveData::DeleteValue(SHiveKey& key, std::string_view name) {
    for (auto it = key.m_values.begin(); it != key.m_values.end(); ++it) {
        if (SameName(it->m_strName, name)) {
            key.m_values.erase(it);
            return true;
        }
    }
    return false;
}

bool ParseHive(std::string_view text, CHiveData& out, std::string* error) {
    out.m_keys.clear();
    CHiveData data;
    SHiveKey* current = nullptr;
    size_t lineNo = 0;
    auto fail = [&](const std::string& why) {
        if (error != nullptr)
            *error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    // A byte-order mark from an editor is not part of the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    while (!text.empty()) {
        ++lineNo;
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return fail("unclosed key");
            std::string_view path = line.substr(1, line.size() - 2);
            for (char c : path)
                if (static_cast<unsigned char>(c) < 0x20 || c == '[' || c == ']' || c == 0x7f)
                    return fail("bad key name");
            // Keys made by pointers into data: re-find after each creation, the vector may move.
            std::string norm = CHiveData::NormalizePath(path);
            data.CreateKey(norm);
            current = data.FindKey(norm);
            continue;
        }
        if (line.front() != '"')
            return fail("unexpected text");
        if (current == nullptr)
            return fail("value outside a key");
        SHiveValue value;
        std::string why;
        if (!ParseValueLine(line, value, why))
            return fail(why);
        CHiveData::SetValue(*current, std::move(value));
    }
    out = std::move(data);
    return true;
}

std::string SerializeHive(const CHiveData& data) {
    std::string out =
        "; Velaphon settings. Types: text:\"...\", binary:hex bytes, dword:number (see README).\n"
        "; The client rewrites this file on every save; edit it while the client is closed.\n";
    for (const auto& key : data.m_keys) {
        if (key.m_values.empty()) {
            // An empty key is kept only when nothing below it shows that it exists.
            bool hasChild = false;
            for (const auto& other : data.m_keys)
                if (IsBelow(other.m_strPath, key.m_strPath))
                    hasChild = true;
            if (hasChild)
                continue;
        }
        out += '\n';
        out += '[';
        out += key.m_strPath;
        out += "]\n";
        for (const auto& v : key.m_values) {
            WriteQuoted(out, v.m_strName);
            out += '=';
            if ((v.m_nType == REG_SZ || v.m_nType == REG_EXPAND_SZ) && IsTextData(v.m_data)) {
                out += v.m_nType == REG_SZ ? "text:" : "expand:";
                WriteQuoted(out, std::string_view(reinterpret_cast<const char*>(v.m_data.data()),
                                                  v.m_data.size() - 1));
            } else if (v.m_nType == REG_BINARY) {
                out += "binary:";
                WriteHexBytes(out, v.m_data);
            } else if (v.m_nType == REG_DWORD && v.m_data.size() == 4) {
                uint32_t n = static_cast<uint32_t>(v.m_data[0]) | static_cast<uint32_t>(v.m_data[1]) << 8 |
                             static_cast<uint32_t>(v.m_data[2]) << 16 |
                             static_cast<uint32_t>(v.m_data[3]) << 24;
                out += "dword:" + std::to_string(n);
            } else {
                out += "hex(" + std::to_string(v.m_nType) + "):";
                WriteHexBytes(out, v.m_data);
            }
            out += '\n';
        }
    }
    return out;
}
