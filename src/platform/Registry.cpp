#include "platform/Registry.h"

#include <functional>
#include <memory>

#include "platform/HiveFile.h"
#include "platform/Trace.h"

struct CRegistryBatch::SState {
    std::unique_ptr<CHiveFile> file;
    CHiveData data;
    bool ok = false;
    bool dirty = false;
    bool done = false;
};

namespace {

thread_local CRegistryBatch::SState* t_pBatch = nullptr;

bool IsKnownRoot(HKEY root) {
    return root == HKEY_CLASSES_ROOT || root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE ||
           root == HKEY_USERS;
}

// Key names that the text form of the hive can carry.
bool IsValidKeyPath(const std::string& path) {
    if (path.size() > 4096)
        return false;
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '[' || c == ']')
            return false;
    return true;
}

LONG ReadHive(HKEY root, CHiveData& data) {
    if (!IsKnownRoot(root))
        return ERROR_INVALID_HANDLE;
    if (root != HKEY_CURRENT_USER)
        return ERROR_FILE_NOT_FOUND;
    if (t_pBatch != nullptr) {
        if (!t_pBatch->ok)
            return ERROR_REGISTRY_IO_FAILED;
        data = t_pBatch->data;
        return ERROR_SUCCESS;
    }
    CHiveFile file(CHiveFile::DefaultPath());
    std::string why;
    if (file.Read(data, &why) == CHiveFile::EState::Damaged)
        Trace("%s:%d | hive ilegible, se toma por vacío (%s)\n", "Registry", __LINE__, why.c_str());
    return ERROR_SUCCESS;
}

// Runs `edit` on the hive of `root` and saves when it reports a change. `result` is what edit decided.
LONG EditHive(HKEY root, const std::function<LONG(CHiveData&, bool& changed)>& edit) {
    if (!IsKnownRoot(root))
        return ERROR_INVALID_HANDLE;
    if (root != HKEY_CURRENT_USER)
        return ERROR_ACCESS_DENIED;
    if (t_pBatch != nullptr) {
        if (!t_pBatch->ok)
            return ERROR_REGISTRY_IO_FAILED;
        bool changed = false;
        LONG r = edit(t_pBatch->data, changed);
        t_pBatch->dirty = t_pBatch->dirty || changed;
        return r;
    }
    CHiveFile file(CHiveFile::DefaultPath());
    LONG result = ERROR_SUCCESS;
    bool saved = file.Update([&](CHiveData& data) {
        bool changed = false;
        result = edit(data, changed);
        return changed;
    });
    return saved ? result : ERROR_REGISTRY_IO_FAILED;
}

}  // namespace

LONG RegOpenKeyPath(HKEY root, const std::string& path, bool create) {
    if (!IsValidKeyPath(path))
        return ERROR_INVALID_PARAMETER;
    CHiveData data;
    LONG r = ReadHive(root, data);
    if (r != ERROR_SUCCESS)
        return (r == ERROR_FILE_NOT_FOUND && create) ? ERROR_ACCESS_DENIED : r;
    if (data.KeyExists(path))
        return ERROR_SUCCESS;
    if (!create)
        return ERROR_FILE_NOT_FOUND;
    return EditHive(root, [&](CHiveData& d, bool& changed) {
        if (!d.KeyExists(path)) {
            d.CreateKey(path);
            changed = true;
        }
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueData(HKEY root, const std::string& path, const std::string& name, DWORD* type,
                       std::vector<uint8_t>* data) {
    CHiveData hive;
    LONG r = ReadHive(root, hive);
    if (r != ERROR_SUCCESS)
        return r;
    if (!hive.KeyExists(path))
        return ERROR_FILE_NOT_FOUND;
    const SHiveKey* key = hive.FindKey(path);
    const SHiveValue* value = key != nullptr ? CHiveData::FindValue(*key, name) : nullptr;
    if (value == nullptr)
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = value->m_nType;
    if (data != nullptr)
        *data = value->m_data;
    return ERROR_SUCCESS;
}

LONG RegSetValueData(HKEY root, const std::string& path, const std::string& name, DWORD type,
                     const std::vector<uint8_t>& data) {
    if (!IsValidKeyPath(path))
        return ERROR_INVALID_PARAMETER;
    return EditHive(root, [&](CHiveData& d, bool& changed) {
        // Another process may have removed the key since it was opened: a write then fails, as it
        // would on an open handle to a deleted key.
        if (!d.KeyExists(path))
            return ERROR_FILE_NOT_FOUND;
        SHiveKey& key = d.CreateKey(path);
        const SHiveValue* old = CHiveData::FindValue(key, name);
        if (old != nullptr && old->m_nType == type && old->m_data == data)
            return ERROR_SUCCESS;
        CHiveData::SetValue(key, SHiveValue{name, type, data});
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueName(HKEY root, const std::string& path, const std::string& name) {
    return EditHive(root, [&](CHiveData& d, bool& changed) {
        SHiveKey* key = d.FindKey(path);
        if (key == nullptr || !CHiveData::DeleteValue(*key, name))
            return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueCount(HKEY root, const std::string& path, DWORD* count) {
    CHiveData hive;
    LONG r = ReadHive(root, hive);
    if (r != ERROR_SUCCESS)
        return r;
    if (!hive.KeyExists(path))
        return ERROR_FILE_NOT_FOUND;
    const SHiveKey* key = hive.FindKey(path);
    if (count != nullptr)
        *count = key != nullptr ? static_cast<DWORD>(key->m_values.size()) : 0;
    return ERROR_SUCCESS;
}

LONG RegFlushKeyPath(HKEY root, const std::string& path) {
    return RegOpenKeyPath(root, path, false);
}

CRegistryBatch::CRegistryBatch() {
    if (t_pBatch != nullptr)
        return;
    m_pState = new SState;
    m_bOwner = true;
    m_pState->file = std::make_unique<CHiveFile>(CHiveFile::DefaultPath());
    m_pState->ok = m_pState->file->Lock() && m_pState->file->LoadForEdit(m_pState->data);
    t_pBatch = m_pState;
}

CRegistryBatch::~CRegistryBatch() {
    Commit();
    delete m_pState;
}

bool CRegistryBatch::Commit() {
    if (!m_bOwner || m_pState == nullptr)
        return true;
    if (m_pState->done)
        return m_pState->ok;
    m_pState->done = true;
    t_pBatch = nullptr;
    if (m_pState->ok && m_pState->dirty)
        m_pState->ok = m_pState->file->Write(m_pState->data);
    m_pState->file->Unlock();
    return m_pState->ok;
}
