// The settings hive on disk. Reads need no lock: every save writes a new file beside the hive, flushes
// it and renames it over the hive, so a reader (or a process killed during a save) meets either the old
// or the new file, never a mix. Writers take an advisory lock between processes and re-read the file
// under it, so two processes writing at once keep each other's values.
//
// A file that cannot be read or parsed counts as absent; before anything is written over it, it is
// moved aside to "<hive>.damaged-<time>" so the user can recover it.
#pragma once

#include <functional>
#include <string>

#include "platform/HiveFormat.h"

class CHiveFile {
public:
    enum class EState { Absent, Ok, Damaged };

    // The hive of the current user: "user.hive" in ConfigFolder().
    static std::string DefaultPath();
    // Larger files are taken for damaged: no hive of this program comes near.
    static constexpr size_t kMaxSize = 1 << 20;

    explicit CHiveFile(std::string path);
    ~CHiveFile();
    CHiveFile(const CHiveFile&) = delete;
    CHiveFile& operator=(const CHiveFile&) = delete;

    const std::string& Path() const { return m_strPath; }

    // Reads the hive as it stands. Absent and Damaged leave `out` empty.
    EState Read(CHiveData& out, std::string* error = nullptr) const;

    // The write cycle: Lock, LoadForEdit, change, Write, Unlock. Lock waits up to `timeoutMs` for
    // another process to finish its save.
    bool Lock(int timeoutMs = 5000);
    void Unlock();
    bool IsLocked() const { return m_nLockFd >= 0; }
    // Under the lock: reads the hive, moving a damaged one aside. False when it cannot be read and
    // cannot be moved aside either (then nothing may be written over it).
    bool LoadForEdit(CHiveData& out);
    // Under the lock: replaces the hive atomically and durably.
    bool Write(const CHiveData& data);

    // Lock, load, let `edit` change the data (it returns whether it changed anything), write, unlock.
    bool Update(const std::function<bool(CHiveData&)>& edit);

    // The path the last damaged hive was moved to by this object ("" when none).
    const std::string& SetAsidePath() const { return m_strSetAside; }

private:
    void RemoveStaleTemporaries() const;
    bool SetAside();

    std::string m_strPath;
    std::string m_strSetAside;
    int m_nLockFd = -1;
};
