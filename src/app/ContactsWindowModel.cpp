#include "app/ContactsWindowModel.h"

#include <algorithm>

#include "app/ClientApp.h"
#include "app/SessionController.h"
#include "platform/StringTable.h"

EContactIcon ContactIcon(char status) {
    switch (status) {
        case CContactList::kReady:
            return kIconReady;
        case CContactList::kAway:
        case 'B':
            return kIconBusy;
        default:
            return kIconDisconnected;
    }
}

namespace {

// One character of UTF-8 folded to lower case where it is an ASCII or Latin-1 capital; `i` moves past it.
// Latin-1 letters and other bytes get values of their own, apart from ASCII.
unsigned FoldNext(std::string_view s, size_t& i) {
    const auto c = static_cast<unsigned char>(s[i++]);
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 0x20u : c;
    if (c == 0xC3 && i < s.size()) {
        // U+00C0..U+00DE are the capitals, less U+00D7 (the multiplication sign).
        const unsigned code = 0xC0u + (static_cast<unsigned char>(s[i++]) & 0x3Fu);
        return 0x100u + ((code <= 0xDE && code != 0xD7) ? code + 0x20u : code);
    }
    return 0x200u + c;
}

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    size_t i = 0, j = 0;
    while (j < prefix.size()) {
        if (i >= text.size() || FoldNext(text, i) != FoldNext(prefix, j))
            return false;
    }
    return true;
}

std::string FitUtf8(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return std::string(text);
    size_t end = maxBytes;
    // Step back over continuation bytes to the start of the character that would be cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

ENewContact AddNewContact(CSessionController& session, const std::string& ntv, const std::string& nickname) {
    if (ntv.empty())
        return ENewContact::EmptyNtv;
    if (session.App().Contacts().Find(ntv) != nullptr)
        return ENewContact::Exists;
    session.AddContact(ntv, nickname);
    return ENewContact::Added;
}

CContactsWindowModel::CContactsWindowModel(CSessionController& session) : m_Session(session) {
    Rebuild();
}

void CContactsWindowModel::Rebuild() {
    m_Lines.clear();
    bool selectionListed = false;
    for (const SContactRecord& c : m_Session.App().Contacts()) {
        m_Lines.push_back(SContactLine{c.m_strNtv, c.Shown(),
                                       FormatString(IDS_CONTACT_TIP, {c.m_strNickname, c.m_strNtv}),
                                       ContactIcon(c.m_cStatus)});
        selectionListed = selectionListed || c.m_strNtv == m_strSelected;
    }
    if (!selectionListed)
        m_strSelected.clear();
}

bool CContactsWindowModel::Select(const std::string& ntv) {
    m_strSelected.clear();
    for (const SContactLine& line : m_Lines) {
        if (line.m_strNtv == ntv) {
            m_strSelected = ntv;
            return true;
        }
    }
    return false;
}

int CContactsWindowModel::SelectedIndex() const {
    if (m_strSelected.empty())
        return -1;
    for (size_t i = 0; i < m_Lines.size(); ++i)
        if (m_Lines[i].m_strNtv == m_strSelected)
            return static_cast<int>(i);
    return -1;
}

const SContactLine* CContactsWindowModel::Selected() const {
    const int i = SelectedIndex();
    return i < 0 ? nullptr : &m_Lines[static_cast<size_t>(i)];
}

bool CContactsWindowModel::CanChangeList() const {
    return m_Session.IsConnected();
}

bool CContactsWindowModel::CanDelete() const {
    return Selected() != nullptr && CanChangeList();
}

bool CContactsWindowModel::CanCall() const {
    // The letter is read from the list itself: a status reply may have come since the last rebuild.
    if (Selected() == nullptr || !m_Session.IsConnected())
        return false;
    const SContactRecord* c = m_Session.App().Contacts().Find(m_strSelected);
    return c != nullptr && c->m_cStatus == CContactList::kReady;
}

int CContactsWindowModel::Find(std::string_view text) {
    if (text.empty())
        return -1;
    for (size_t i = 0; i < m_Lines.size(); ++i) {
        if (StartsWithNoCase(m_Lines[i].m_strText, text)) {
            m_strSelected = m_Lines[i].m_strNtv;
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string CContactsWindowModel::CallTarget() const {
    return CanCall() ? m_strSelected : std::string();
}

bool CContactsWindowModel::DeleteSelected() {
    if (!CanDelete())
        return false;
    const std::string ntv = m_strSelected;
    const bool removed = m_Session.RemoveContact(ntv);
    Rebuild();
    return removed;
}

bool CContactsWindowModel::RenameSelected(const std::string& nickname) {
    if (!CanEdit())
        return false;
    const bool renamed = m_Session.RenameContact(m_strSelected, nickname);
    Rebuild();
    return renamed;
}
