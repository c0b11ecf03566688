// Value checks of the FIX request handlers and the SenderCompID split.
#include "gateway/fix_network_handle/fix_field_checks.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

LogException fixInvalidValueException(int tag)
{
    char text[FIX_CHECK_TEXT_SIZE] = {0};
    snprintf(text, sizeof(text), "Invalid value for field id %d", tag);
    return LogException(text);
}

void fixValidateEqual(int value, int expected, int tag)
{
    if (value != expected)
        throw fixInvalidValueException(tag);
}

void fixValidateEqual(int64_t value, int64_t expected, int tag)
{
    if (value != expected)
        throw fixInvalidValueException(tag);
}

void fixValidateGreater(int value, int low, int tag)
{
    if (!(value > low))
        throw fixInvalidValueException(tag);
}

void fixValidateGreater(int64_t value, int64_t low, int tag)
{
    if (!(value > low))
        throw fixInvalidValueException(tag);
}

void fixValidateLess(int value, int bound, int tag)
{
    if (!(value < bound))
        throw fixInvalidValueException(tag);
}

void fixValidateLess(int64_t value, int64_t bound, int tag)
{
    if (!(value < bound))
        throw fixInvalidValueException(tag);
}

// Written as !(a < b) so that a NaN fails every check.
void fixValidateLess(double value, double bound, int tag)
{
    if (!(value < bound))
        throw fixInvalidValueException(tag);
}

void fixValidateLess(double value, int bound, int tag)
{
    fixValidateLess(value, static_cast<double>(bound), tag);
}

void fixValidateRange(int value, int low, int high, int tag)
{
    if (!(low < value && value < high))
        throw fixInvalidValueException(tag);
}

void fixValidateRange(double value, int low, int high, int tag)
{
    fixValidateRange(value, static_cast<double>(low), static_cast<double>(high), tag);
}

void fixValidateRange(double value, double low, double high, int tag)
{
    if (!(low < value && value < high))
        throw fixInvalidValueException(tag);
}

namespace
{

// Reads an optionally signed decimal number at *cursor as the C library's %ld would,
// saturating instead of overflowing. False (cursor unchanged) when no digit follows.
bool scanDecimal(const char **cursor, int64_t *value)
{
    const char *p = *cursor;
    while (isspace(static_cast<unsigned char>(*p)))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!isdigit(static_cast<unsigned char>(*p)))
        return false;
    // Accumulated negatively: the negative range is one larger.
    const int64_t lowest = std::numeric_limits<int64_t>::min();
    int64_t result = 0;
    bool saturated = false;
    for (; isdigit(static_cast<unsigned char>(*p)); p++)
    {
        const int digit = *p - '0';
        if (result < (lowest + digit) / 10)
            saturated = true;
        else
            result = result * 10 - digit;
    }
    if (saturated)
        *value = negative ? lowest : std::numeric_limits<int64_t>::max();
    else if (!negative && result == lowest)
        *value = std::numeric_limits<int64_t>::max();
    else
        *value = negative ? result : -result;
    *cursor = p;
    return true;
}

} // namespace

int64_t fixTextToInt64(const char *text)
{
    int64_t value = 0;
    if (text == nullptr || !scanDecimal(&text, &value))
        return 0;
    return value;
}

int32_t fixNarrowToInt32(int64_t value, int tag)
{
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw fixInvalidValueException(tag);
    return static_cast<int32_t>(value);
}

void fixTokenizeSenderCompId(const std::string &sender_comp_id, int32_t *trader_id, char member_id[5],
                             int16_t *branch_id)
{
    // The scan "%ld,%[^,],%hd", done by hand so that no part can overflow its variable.
    const char *cursor = sender_comp_id.c_str();
    int64_t trader = *trader_id;
    int64_t branch = *branch_id;
    std::string member;
    if (scanDecimal(&cursor, &trader) && *cursor == ',')
    {
        const char *member_start = ++cursor;
        while (*cursor != '\0' && *cursor != ',')
            cursor++;
        member.assign(member_start, cursor);
        if (!member.empty() && *cursor == ',')
        {
            cursor++;
            scanDecimal(&cursor, &branch);
        }
    }

    if (trader <= 0 || trader > std::numeric_limits<int32_t>::max())
        throw LogException("TraderID is Invalid");
    *trader_id = static_cast<int32_t>(trader);
    if (branch < 0 || branch > std::numeric_limits<int16_t>::max())
        throw LogException("BranchID is Invalid");
    *branch_id = static_cast<int16_t>(branch);
    if (member.empty() || member.size() > 5)
        throw LogException("MemberID is Invalid");
    memcpy(member_id, member.data(), member.size());
}
