// What the directory dialog does with a navigation its page starts: the page's links place calls and add
// contacts, its own pages are browsed in place, and other web pages go to the system's browser.
#pragma once

#include <string>
#include <string_view>

enum class EDirectoryLink {
    Follow,      // the embedded browser goes there
    Call,        // cancelled; a call to the NTV (none when it is empty), then the directory closes
    AddContact,  // cancelled; the NTV is offered as a new contact
    External,    // cancelled; the address opens in the system's web browser
    Refuse,      // cancelled, nothing else: an address no web browser should be handed from a page
};

struct SDirectoryLink {
    EDirectoryLink m_eAction = EDirectoryLink::Follow;
    std::string m_strNtv;
};

// An NTV added from the directory keeps this many characters of what its link holds.
inline constexpr size_t kDirectoryAddNtvLength = 12;

// `url` as the browser would request it; `directoryUrl` in the same form (empty: no directory is known,
// and every address counts as the directory's). "callto=" and "addntv=" count only after the first
// character. Only an address that begins with the directory's is browsed in place, since the pages
// shown there can place calls: one that merely mentions it elsewhere is an outside page.
SDirectoryLink ClassifyDirectoryLink(std::string_view url, std::string_view directoryUrl);
