#include "app/ContactList.h"

#include <algorithm>

const SContactRecord* CContactList::Find(std::string_view ntv) const {
    auto it = std::find_if(m_Contacts.begin(), m_Contacts.end(),
                           [&](const SContactRecord& c) { return c.m_strNtv == ntv; });
    return it == m_Contacts.end() ? nullptr : &*it;
}

SContactRecord* CContactList::FindMutable(std::string_view ntv) {
    return const_cast<SContactRecord*>(Find(ntv));
}

bool CContactList::AddFromServer(std::string_view ntv, std::string_view nickname) {
    if (ntv.empty() || Find(ntv) != nullptr)
        return false;
    m_Contacts.push_back(SContactRecord{std::string(ntv), std::string(nickname), kDisconnected});
    return true;
}

bool CContactList::Add(std::string_view ntv, std::string_view nickname) {
    if (ntv.empty() || Find(ntv) != nullptr)
        return false;
    m_Contacts.push_back(SContactRecord{std::string(ntv), std::string(nickname), 0});
    return true;
}

bool CContactList::Remove(std::string_view ntv) {
    auto it = std::find_if(m_Contacts.begin(), m_Contacts.end(),
                           [&](const SContactRecord& c) { return c.m_strNtv == ntv; });
    if (it == m_Contacts.end())
        return false;
    m_Contacts.erase(it);
    return true;
}

bool CContactList::SetNickname(std::string_view ntv, std::string_view nickname) {
    SContactRecord* c = FindMutable(ntv);
    if (c == nullptr)
        return false;
    c->m_strNickname = nickname;
    return true;
}

EStatusChange CContactList::UpdateStatus(std::string_view ntv, char status, char* before) {
    SContactRecord* c = FindMutable(ntv);
    if (c == nullptr || c->m_cStatus == status)
        return EStatusChange::None;
    const char old = c->m_cStatus;
    if (before != nullptr)
        *before = old;
    c->m_cStatus = status;
    if (old == kDisconnected && status == kReady)
        return EStatusChange::BecameReady;
    if (old == kReady && status == kDisconnected)
        return EStatusChange::BecameDisconnected;
    return EStatusChange::Changed;
}
