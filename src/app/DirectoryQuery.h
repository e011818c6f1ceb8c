// The directory search: what its fields hold and the query they make for the directory's address.
#pragma once

#include <array>
#include <string>

// Items of the Genre and Language boxes. They are the directory's own words, the same in every language;
// the first of each means "any".
inline constexpr std::array<const char*, 3> kGenderItems{"--- Indistinto ---", "Masculino", "Femenino"};
inline constexpr std::array<const char*, 3> kLanguageItems{"--- Todos ---", "Español", "English"};

struct SDirectorySearch {
    int m_nCountry = 0;  // item of the Country box: 0 every country, i row i - 1 of the country table
    std::string m_strCity;
    int m_nGender = 0;    // item of kGenderItems
    int m_nLanguage = 0;  // item of kLanguageItems
    std::string m_strKeywords;
};

// "?soft=1&Pais=..&Ciudad=..&Sexo=..&Idioma=..&Pal_Clave=..". The typed texts go in as they stand: the
// directory reads them that way. An item out of range counts as item 0.
std::string BuildDirectoryQuery(const SDirectorySearch& search);
