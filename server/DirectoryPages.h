// The web pages the server names in the user information: the user directory and a short help page.
// Pure functions, so the markup and the search rules can be tested without a listener.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "server/UserProfile.h"

// What the directory's search fields ask for; empty fields do not restrict.
struct CDirectoryQuery {
    std::string strCountry;   // Pais
    std::string strCity;      // Ciudad
    std::string strGender;    // Sexo
    std::string strLanguage;  // Idioma
    std::string strKeywords;  // Pal_Clave
};

// Country, gender and language compare whole codes; the city matches as a part of the stored city;
// every keyword must occur in the user's keywords or name. All comparisons ignore ASCII letter case.
bool MatchesDirectoryQuery(const CUserProfile& profile, const CDirectoryQuery& query);

enum class EPageLanguage { English, Spanish };

// Spanish when the browser's first preferred language is Spanish, else English.
EPageLanguage PageLanguageFor(const std::string& acceptLanguage);

struct CDirectoryEntry {
    CUserProfile profile;
    char cStatus = 'D';  // 'C' connected, 'A' away, 'D' disconnected
};

// Pages show at most this many users; the rest are counted.
inline constexpr size_t kMaxDirectoryRows = 200;

// The directory page: one row per entry with a link ending in "callto=NTV" and one ending in "addntv=NTV".
// `notice` is an already translated line shown above the list (empty for none).
std::string BuildDirectoryPage(const std::vector<CDirectoryEntry>& entries, size_t totalMatches,
                               const CDirectoryQuery& query, const std::string& notice, EPageLanguage lang);
// The line shown when a plain browser follows a call or add link, which only the client acts on.
std::string LinkNotice(bool bCall, const std::string& ntv, EPageLanguage lang);
std::string BuildHelpPage(EPageLanguage lang);

std::string HtmlEscape(const std::string& text);
