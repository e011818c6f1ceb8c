// The hive parser on any bytes: never a crash, and whatever it accepts is written back in a form that
// reads the same again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/HiveFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    CHiveData hive;
    std::string error;
    if (!ParseHive(text, hive, &error)) {
        if (error.empty() || !hive.m_keys.empty())
            __builtin_trap();
        return 0;
    }
    std::string once = SerializeHive(hive);
    CHiveData again;
    if (!ParseHive(once, again, &error))
        __builtin_trap();
    if (SerializeHive(again) != once)
        __builtin_trap();
    for (const auto& key : hive.m_keys) {
        if (!hive.KeyExists(key.m_strPath))
            __builtin_trap();
        for (const auto& value : key.m_values)
            if (CHiveData::FindValue(key, value.m_strName) == nullptr)
                __builtin_trap();
    }
    return 0;
}
