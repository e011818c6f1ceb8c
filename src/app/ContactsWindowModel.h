// CContactsWindowModel: what the contacts window shows and may do, without a display. Its lines mirror
// the session's contact list in order; the selection is held by NTV, so a list refilled by a new login
// never leaves an operation aimed at whichever contact now sits at the old position.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/ContactList.h"

class CSessionController;

// The status icons of the lists.
enum EContactIcon : int { kIconReady = 0, kIconDisconnected = 1, kIconBusy = 2 };
// 'C' ready; 'A' and 'B' busy; any other letter, or none yet, disconnected.
EContactIcon ContactIcon(char status);

// Whether `text` begins with `prefix`, ignoring letter case in ASCII and in the Latin-1 letters
// (so "án" finds "Ángela").
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 character: what a fixed wire field
// can carry whole.
std::string FitUtf8(std::string_view text, size_t maxBytes);

struct SContactLine {
    std::string m_strNtv;
    std::string m_strText;  // the nickname, or the NTV when it has none
    std::string m_strTip;   // message 145 with nickname and NTV
    EContactIcon m_nIcon = kIconDisconnected;
};

// What adding a contact from the contacts window or the directory came to.
enum class ENewContact { Added, EmptyNtv, Exists };
// An NTV already listed is refused before the session is asked (the window shows notice 140 for it).
ENewContact AddNewContact(CSessionController& session, const std::string& ntv, const std::string& nickname);

class CContactsWindowModel {
public:
    explicit CContactsWindowModel(CSessionController& session);

    // The lines again from the contact list; the selection stays on its NTV, or goes with it.
    void Rebuild();
    const std::vector<SContactLine>& Lines() const { return m_Lines; }

    // False, and nothing selected, when no line has that NTV.
    bool Select(const std::string& ntv);
    void ClearSelection() { m_strSelected.clear(); }
    const std::string& SelectedNtv() const { return m_strSelected; }
    // -1 when nothing is selected.
    int SelectedIndex() const;
    const SContactLine* Selected() const;
    // Delete and Edit want a selected line; Call also a ready contact and a live session.
    bool CanDelete() const;
    bool CanEdit() const { return CanDelete(); }
    bool CanCall() const;
    // Changes to the list need the server: without a session they would be lost at the next login.
    bool CanChangeList() const;

    // Selects the first line that begins with `text` (letter case ignored); -1, selection unchanged,
    // when the text is empty or no line begins with it.
    int Find(std::string_view text);

    // Operations on the selected contact. Call gives the NTV to call (empty when Call is not allowed).
    std::string CallTarget() const;
    bool DeleteSelected();
    bool RenameSelected(const std::string& nickname);

private:
    CSessionController& m_Session;
    std::vector<SContactLine> m_Lines;
    std::string m_strSelected;
};
