#include "app/DirectoryLink.h"

#include <cctype>

namespace {

constexpr std::string_view kCallTo = "callto=";
constexpr std::string_view kAddNtv = "addntv=";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

}  // namespace

SDirectoryLink ClassifyDirectoryLink(std::string_view url, std::string_view directoryUrl) {
    if (size_t at = url.find(kCallTo, 1); at != std::string_view::npos)
        return {EDirectoryLink::Call, std::string(url.substr(at + kCallTo.size()))};
    if (size_t at = url.find(kAddNtv, 1); at != std::string_view::npos)
        return {EDirectoryLink::AddContact,
                std::string(url.substr(at + kAddNtv.size(), kDirectoryAddNtvLength))};
    if (url.starts_with(directoryUrl))
        return {EDirectoryLink::Follow, {}};
    // Other schemes would reach whatever handler the desktop has for them (files, programs).
    if (StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"))
        return {EDirectoryLink::External, {}};
    return {EDirectoryLink::Refuse, {}};
}
