// CContactList: the user's contacts as the server keeps them, mirrored in memory for this session. It is
// emptied at each login and refilled from the server's entries; status letters come from the replies to
// the periodic status queries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct SContactRecord {
    std::string m_strNtv;
    std::string m_strNickname;
    char m_cStatus = 0;  // 'C' ready, 'D' disconnected, 'A' away ('B' shown like 'A'), 0 not known yet

    // The name the user sees: the nickname, or the NTV when it has none.
    const std::string& Shown() const { return m_strNickname.empty() ? m_strNtv : m_strNickname; }
};

// What a status reply changed, for the pop-up notifier: only a change between 'D' and 'C' is announced.
enum class EStatusChange { None, Changed, BecameReady, BecameDisconnected };

class CContactList {
public:
    static constexpr char kReady = 'C';
    static constexpr char kDisconnected = 'D';
    static constexpr char kAway = 'A';

    void Clear() { m_Contacts.clear(); }
    size_t size() const { return m_Contacts.size(); }
    bool empty() const { return m_Contacts.empty(); }
    const SContactRecord& operator[](size_t i) const { return m_Contacts[i]; }
    auto begin() const { return m_Contacts.begin(); }
    auto end() const { return m_Contacts.end(); }

    // The first record with that NTV; null when none.
    const SContactRecord* Find(std::string_view ntv) const;

    // An entry of the server's list: appended with 'D' unless the NTV is listed already. True when added.
    bool AddFromServer(std::string_view ntv, std::string_view nickname);
    // A contact the user adds: appended with no letter. False for an empty NTV or one already listed.
    bool Add(std::string_view ntv, std::string_view nickname);
    // False when no record has that NTV.
    bool Remove(std::string_view ntv);
    // The record keeps its place and letter; false when no record has that NTV.
    bool SetNickname(std::string_view ntv, std::string_view nickname);
    // Stores the letter on the first record with that NTV. `before` receives the old letter.
    EStatusChange UpdateStatus(std::string_view ntv, char status, char* before = nullptr);

private:
    SContactRecord* FindMutable(std::string_view ntv);

    std::vector<SContactRecord> m_Contacts;
};
