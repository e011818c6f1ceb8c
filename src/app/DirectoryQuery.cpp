#include "app/DirectoryQuery.h"

#include "app/CountryTable.h"

namespace {

const char* CountryCode(int item) {
    if (item < 1 || item > static_cast<int>(kCountryCount))
        return "";
    return CountryTable()[static_cast<size_t>(item - 1)].m_szCode;
}

// The directory wants the first letter of the Genre item ("M", "F").
std::string GenderCode(int item) {
    if (item < 1 || item >= static_cast<int>(kGenderItems.size()))
        return {};
    return std::string(1, kGenderItems[static_cast<size_t>(item)][0]);
}

const char* LanguageCode(int item) {
    switch (item) {
        case 1:
            return "ES";
        case 2:
            return "EN";
        default:
            return "";
    }
}

}  // namespace

std::string BuildDirectoryQuery(const SDirectorySearch& search) {
    std::string q = "?soft=1&Pais=";
    q += CountryCode(search.m_nCountry);
    q += "&Ciudad=";
    q += search.m_strCity;
    q += "&Sexo=";
    q += GenderCode(search.m_nGender);
    q += "&Idioma=";
    q += LanguageCode(search.m_nLanguage);
    q += "&Pal_Clave=";
    q += search.m_strKeywords;
    return q;
}
