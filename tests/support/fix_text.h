// FIX messages as the suites read them: the text with "|" standing for the field
// separator, and the value of one tag in it. Header-only and C++14, for the FIX suites.
#pragma once

#include <string>

namespace qel_test
{

// The value of the first field with the tag, empty when the text has none.
inline std::string fix_field(const std::string &text, int tag)
{
    const std::string key = "|" + std::to_string(tag) + "=";
    std::string::size_type at = text.find(key);
    if (at == std::string::npos)
        return "";
    at += key.size();
    return text.substr(at, text.find('|', at) - at);
}

inline bool fix_has_field(const std::string &text, int tag)
{
    return text.find("|" + std::to_string(tag) + "=") != std::string::npos;
}

} // namespace qel_test
