// The single-instance test: a lock file named after the program, held for the life of the object.
// Every running copy holds a shared lock on it; a new copy finds out whether any other holds one by
// asking for the lock exclusively. Copies started under another file name use another lock file and
// do not see each other.
#pragma once

#include <string>

class CInstanceLock {
public:
    CInstanceLock() = default;
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // The folder of the lock files: beside the hive when VELAPHON_CONFIG_DIR is set (clients side by
    // side do not meet), else $XDG_RUNTIME_DIR, else a private folder under the temporary directory.
    static std::string Folder();

    // Takes the lock named `name` (the program's file name without folder and extension). Returns true
    // when another holder already existed. A lock that cannot be made counts as no other instance.
    bool Acquire(const std::string& name);
    void Release();
    bool IsHeld() const { return m_nFd >= 0; }
    const std::string& Path() const { return m_strPath; }

private:
    int m_nFd = -1;
    std::string m_strPath;
};
