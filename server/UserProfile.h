// A registered user as the server keeps it: the account's NTV and its public profile.
#pragma once

#include <string>

// The NTV every guest logs in with (also its password); never stored, never listed.
inline constexpr const char* kGuestNtv = "888888888888888";

// Longest texts the protocol can carry: NTV char[16], password char[51], name char[256].
inline constexpr size_t kMaxNtvLength = 15;
inline constexpr size_t kMaxPasswordLength = 50;
inline constexpr size_t kMaxNameLength = 255;
// Free-text profile fields are only shown in the directory; a bound keeps rows small.
inline constexpr size_t kMaxProfileTextLength = 255;

struct CUserProfile {
    std::string strNtv;
    std::string strName;
    std::string strCountry;  // two-letter code as the directory sends it ("ES", "UK"), or empty
    std::string strCity;
    std::string strGender;    // "M", "F" or empty
    std::string strLanguage;  // "ES", "EN" or empty
    std::string strKeywords;
};

// An NTV a user can be registered under: 1 to 15 digits, and not the guest NTV.
bool IsValidUserNtv(const std::string& ntv);
// A password a client can send: 1 to 50 bytes, no NUL.
bool IsValidPassword(const std::string& password);
// Checks and normalises the profile fields (upper-cases the codes). Empty text when valid, else the reason.
std::string NormaliseProfile(CUserProfile& profile);
