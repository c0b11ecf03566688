// Hex text and bytes, for golden records written by hand: from_hex reads digits with any
// blanks between them (so a golden record can be spaced by field), to_hex writes lowercase
// digits without blanks. Header-only and C++14, so the FIX suites use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway/runtime/message.h"

namespace qel_test
{

// Throws std::invalid_argument on a character that is neither a hex digit nor a blank, and
// on an odd number of digits: a typing slip in a golden record fails the test.
inline std::vector<uint8_t> from_hex(const std::string &text)
{
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text)
    {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c == ' ' || c == '\n' || c == '\t')
            continue;
        else
            throw std::invalid_argument("not a hex digit in \"" + text + "\"");
        if (high < 0)
        {
            high = digit;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
        high = -1;
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits in \"" + text + "\"");
    return bytes;
}

inline std::string to_hex(const uint8_t *data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (size_t i = 0; i < length; ++i)
    {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

inline std::string to_hex(const std::vector<uint8_t> &bytes)
{
    return to_hex(bytes.data(), bytes.size());
}

// The record's data.
inline std::string to_hex(const message *record)
{
    return to_hex(record->data, record->data_length);
}

// A golden text as to_hex writes it: lowercase, no blanks.
inline std::string hex_digits(const std::string &text)
{
    return to_hex(from_hex(text));
}

} // namespace qel_test
