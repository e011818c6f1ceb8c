#include "server/UserProfile.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool HasControlBytes(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

}  // namespace

bool IsValidUserNtv(const std::string& ntv) {
    if (ntv.empty() || ntv.size() > kMaxNtvLength || ntv == kGuestNtv)
        return false;
    return std::all_of(ntv.begin(), ntv.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool IsValidPassword(const std::string& password) {
    return !password.empty() && password.size() <= kMaxPasswordLength &&
           password.find('\0') == std::string::npos;
}

std::string NormaliseProfile(CUserProfile& profile) {
    if (!IsValidUserNtv(profile.strNtv)) {
        return profile.strNtv == kGuestNtv ? "the guest NTV cannot be registered"
                                           : "an NTV is 1 to 15 digits";
    }
    if (profile.strName.size() > kMaxNameLength || HasControlBytes(profile.strName)) {
        return "a name is at most 255 bytes without control characters";
    }
    profile.strCountry = Upper(profile.strCountry);
    if (!profile.strCountry.empty() &&
        (profile.strCountry.size() != 2 || !std::isalpha(static_cast<unsigned char>(profile.strCountry[0])) ||
         !std::isalpha(static_cast<unsigned char>(profile.strCountry[1])))) {
        return "a country is a two-letter code";
    }
    profile.strGender = Upper(profile.strGender);
    if (!profile.strGender.empty() && profile.strGender != "M" && profile.strGender != "F") {
        return "a gender is M or F";
    }
    profile.strLanguage = Upper(profile.strLanguage);
    if (!profile.strLanguage.empty() && profile.strLanguage != "ES" && profile.strLanguage != "EN") {
        return "a language is ES or EN";
    }
    for (const std::string* text : {&profile.strCity, &profile.strKeywords}) {
        if (text->size() > kMaxProfileTextLength || HasControlBytes(*text)) {
            return "city and keywords are at most 255 bytes without control characters";
        }
    }
    return {};
}
