// Addresses a directory page asks its browser to go to. The first line of the input is taken as the
// directory's address, the rest as the address of the navigation.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/DirectoryLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\n');
    std::string_view directory = cut == std::string_view::npos ? std::string_view() : input.substr(0, cut);
    std::string_view url = cut == std::string_view::npos ? input : input.substr(cut + 1);

    SDirectoryLink link = ClassifyDirectoryLink(url, directory);
    switch (link.m_eAction) {
        case EDirectoryLink::Call:
            // The NTV is the tail of the address after a mark that is not at its start.
            if (url.size() < link.m_strNtv.size() + 8 || !url.ends_with(link.m_strNtv))
                __builtin_trap();
            break;
        case EDirectoryLink::AddContact:
            if (link.m_strNtv.size() > kDirectoryAddNtvLength ||
                url.find("addntv=" + link.m_strNtv, 1) == std::string_view::npos)
                __builtin_trap();
            if (url.find("callto=", 1) != std::string_view::npos)
                __builtin_trap();
            break;
        case EDirectoryLink::Follow:
            if (!url.starts_with(directory))
                __builtin_trap();
            [[fallthrough]];
        default:
            if (!link.m_strNtv.empty())
                __builtin_trap();
    }
    return 0;
}
