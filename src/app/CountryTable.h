// The countries the directory search offers: Spanish names in capitals, in the order users see them,
// and the two-letter code the directory is sent for each.
#pragma once

#include <array>
#include <cstddef>

struct SCountry {
    const char* m_szName;  // UTF-8
    const char* m_szCode;
};

inline constexpr size_t kCountryCount = 234;

// Row i of the table is item i + 1 of the Country box (item 0 stands for every country).
const std::array<SCountry, kCountryCount>& CountryTable();
