// The registry the settings store is written against, kept in hive files. HKEY_CURRENT_USER is this
// user's hive (CHiveFile::DefaultPath(), followed anew on every call so tests can move it); the other
// roots are accepted but hold no keys here. Each call reads or rewrites the hive; a CRegistryBatch
// groups the writes of a scope into one locked, atomic save.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/HiveFormat.h"

struct HKEY__;
using HKEY = HKEY__*;
using LONG = int32_t;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(uintptr_t{0x80000003});

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;

// Opens (or with `create` makes) the key; ERROR_SUCCESS when it exists afterwards.
LONG RegOpenKeyPath(HKEY root, const std::string& path, bool create);
LONG RegQueryValueData(HKEY root, const std::string& path, const std::string& name, DWORD* type,
                       std::vector<uint8_t>* data);
// The key must exist (see RegOpenKeyPath).
LONG RegSetValueData(HKEY root, const std::string& path, const std::string& name, DWORD type,
                     const std::vector<uint8_t>& data);
LONG RegDeleteValueName(HKEY root, const std::string& path, const std::string& name);
LONG RegQueryValueCount(HKEY root, const std::string& path, DWORD* count);
// Saves are always durable here; this only reports whether the key exists.
LONG RegFlushKeyPath(HKEY root, const std::string& path);

// While one exists on a thread, that thread's registry calls work on one copy of the current user's
// hive, read under the lock at construction and written once by Commit() (or the destructor). A batch
// made while another is active on the thread joins it.
class CRegistryBatch {
public:
    CRegistryBatch();
    ~CRegistryBatch();
    CRegistryBatch(const CRegistryBatch&) = delete;
    CRegistryBatch& operator=(const CRegistryBatch&) = delete;

    // Writes what changed and ends the batch. False when the hive could not be locked, read or written.
    bool Commit();

    struct SState;  // defined where the registry calls can see it

private:
    SState* m_pState = nullptr;  // null when this batch joined an outer one
    bool m_bOwner = false;
};
