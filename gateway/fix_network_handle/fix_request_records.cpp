// The VRX records the FIX side builds, the exchange time conversions and the string
// field copies. Calendar arithmetic is done here rather than through the C library's
// local-time functions, which would follow the host's zone and daylight saving.
#include "gateway/fix_network_handle/fix_request_records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/fix_network_handle/fix_utility.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"

namespace
{

const uint16_t FIX_USER_TYPE = 1;

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1..12).
int64_t days_from_civil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

void civil_from_days(int64_t days, int64_t *year, int64_t *month, int64_t *day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t shifted_month = (5 * day_of_year + 2) / 153;
    *day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    *month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    *year = year_of_era + era * 400 + (*month <= 2 ? 1 : 0);
}

int64_t floor_div(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Seconds since 1970 of broken-down calendar fields, normalising out-of-range months,
// days and times the way timegm does.
int64_t seconds_from_fields(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                            int64_t second)
{
    const int64_t months = year * 12 + (month - 1);
    const int64_t normal_year = floor_div(months, 12);
    const int64_t normal_month = months - normal_year * 12 + 1;
    const int64_t days = days_from_civil(normal_year, normal_month, 1) + (day - 1);
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

// The decimal number in text[from, from + count), as atoi reads it.
int read_number(const char *text, size_t from, size_t count)
{
    char part[16] = {0};
    memcpy(part, text + from, count);
    return atoi(part);
}

bool is_blank_text(const char *text)
{
    return text == nullptr || text[0] == ' ' || text[0] == '\0';
}

int64_t fix_time_to_unix64(const char *text)
{
    struct tm parsed;
    if (fix_time_parse(text, &parsed) == 0)
        return 0;
    return seconds_from_fields(parsed.tm_year + 1900, parsed.tm_mon + 1, parsed.tm_mday, parsed.tm_hour,
                               parsed.tm_min, parsed.tm_sec);
}

std::string invalid_length_text(int tag)
{
    char text[2048] = {0};
    snprintf(text, sizeof(text), "Invalid Length for field id %d", tag);
    return text;
}

} // namespace

void set_tws_message_header(uint8_t *header, uint32_t user_id, uint16_t transcode, uint16_t length,
                            const char *header_chars)
{
    memset(header, 0, VRX_HEADER_SIZE);
    put_u32_be(header, VRX_INTERNAL_USER_ID, user_id);
    memcpy(header + VRX_INTERNAL_CHARS, header_chars != nullptr ? header_chars : "  ", 2);
    put_u16_be(header, VRX_INTERNAL_TRANSCODE, transcode);
    put_u16_be(header, VRX_INTERNAL_LENGTH, length);
}

void set_tws_message_header_with_long(uint8_t *record, uint32_t user_id, uint16_t transcode, uint16_t length,
                                      const char *header_chars, uint32_t value)
{
    set_tws_message_header(record, user_id, transcode, length, header_chars);
    put_u32_be(record, VRX_HEADER_SIZE, value);
}

message *create_user_signon_request(uint32_t user_id, const char *password, const char *new_password,
                                    const char *member_id, uint32_t front_end_version, logger_object *logger)
{
    message *msg = message_create(SIGNON_REQUEST_LENGTH, NORMAL_MESSAGE);
    if (msg == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed");
        return nullptr;
    }
    msg->packing_weight = 1;
    msg->transcode = TRANSCODE_SIGN_ON_REQUEST;
    msg->user_type = FIX_USER_TYPE;
    msg->user_id = user_id;

    uint8_t *record = msg->data;
    memset(record, 0, SIGNON_REQUEST_LENGTH);
    set_tws_message_header(record, user_id, TRANSCODE_SIGN_ON_REQUEST, SIGNON_REQUEST_LENGTH, nullptr);
    put_u32_be(record, SIGNON_USER_ID, user_id);
    memcpy(record + SIGNON_PASSWORD, password, SIGNON_PASSWORD_SIZE);
    if (new_password != nullptr)
        memcpy(record + SIGNON_NEW_PASSWORD, new_password, SIGNON_PASSWORD_SIZE);
    memset(record + SIGNON_BLANK_26, ' ', 26);
    memcpy(record + SIGNON_MEMBER_ID, member_id, SIGNON_MEMBER_ID_SIZE);
    put_u32_be(record, SIGNON_VERSION, front_end_version);
    record[SIGNON_BLANK_106] = ' ';
    memset(record + SIGNON_BLANK_50, ' ', 50);
    record[SIGNON_BLANK_182] = ' ';
    record[SIGNON_BLANK_183] = ' ';
    record[SIGNON_BLANK_188] = ' ';
    memset(record + SIGNON_BLANK_25, ' ', 25);
    return msg;
}

message *create_system_info_request(uint32_t user_id, logger_object *logger)
{
    message *msg = message_create(SYSTEM_INFO_REQUEST_LENGTH, NORMAL_MESSAGE);
    if (msg == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed");
        return nullptr;
    }
    msg->packing_weight = 1;
    msg->transcode = TRANSCODE_SYSTEM_INFORMATION_IN;
    set_tws_message_header_with_long(msg->data, user_id, TRANSCODE_SYSTEM_INFORMATION_IN,
                                     SYSTEM_INFO_REQUEST_LENGTH, nullptr, 0);
    return msg;
}

int fix_time_parse(const char *text, struct tm *out)
{
    if (text == nullptr || strlen(text) < 17 || strncmp(text, "00000000-00:00:00", 17) == 0 ||
        strncmp(text, "                 ", 17) == 0)
        return 0;
    memset(out, 0, sizeof(*out));
    out->tm_year = read_number(text, 0, 4) - 1900;
    out->tm_mon = read_number(text, 4, 2) - 1;
    out->tm_mday = read_number(text, 6, 2);
    out->tm_hour = read_number(text, 9, 2);
    out->tm_min = read_number(text, 12, 2);
    out->tm_sec = read_number(text, 15, 2);
    out->tm_isdst = -1;
    return 1;
}

uint32_t fix_time_to_unix(const char *text)
{
    const int64_t seconds = fix_time_to_unix64(text);
    if (seconds < 0 || seconds > std::numeric_limits<uint32_t>::max())
        return 0;
    return static_cast<uint32_t>(seconds);
}

int64_t fix_time_to_exchange_time_shifted(const char *text)
{
    return (fix_time_to_unix64(text) - EXCHANGE_EPOCH_UNIX_SECONDS) * (int64_t{1} << EXCHANGE_TIME_SHIFT);
}

int32_t exchange_date_from_ymd(exchange_date *date, const char *date_text, exchange_time_of_day *time,
                               const char *time_text)
{
    int64_t year = 0;
    int64_t month = 0;
    int64_t day = 0;
    if (!is_blank_text(date_text))
    {
        char digits[9] = {0};
        strncpy(digits, date_text, 8);
        const int64_t number = atol(digits);
        year = number / 10000;
        month = number / 100 - 100 * year;
        day = number - 10000 * year - 100 * month;
        if (date != nullptr)
        {
            date->year = static_cast<int16_t>(year);
            date->month = static_cast<int16_t>(month);
            date->day = static_cast<int16_t>(day);
        }
    }

    int64_t seconds_of_day = 0;
    if (!is_blank_text(time_text))
    {
        // Positions beyond a short text read as 0 instead of past its end.
        const size_t length = strlen(time_text);
        const int hour = length >= 2 ? read_number(time_text, 0, 2) : read_number(time_text, 0, length);
        const int minute = length >= 5 ? read_number(time_text, 3, 2) : 0;
        const int second = length == 8 ? read_number(time_text, 6, 2) : 0;
        if (time != nullptr)
        {
            time->hour = static_cast<int16_t>(hour);
            time->minute = static_cast<int16_t>(minute);
            time->second = static_cast<int16_t>(second);
        }
        seconds_of_day = 3600 * hour + 60 * minute + second;
    }

    // Calendar values without any zone: the date and time are exchange local time.
    static const int64_t month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const auto is_leap = [](int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    int64_t days = 365 * (year - 1970);
    for (int64_t y = 1970; y < year; y++)
        days += is_leap(y) ? 1 : 0;
    // A month outside 1..12 counts at most the twelve months of its year.
    for (int64_t m = 1; m < month && m <= 12; m++)
        days += month_days[m - 1] + (m == 2 && is_leap(year) ? 1 : 0);
    days += day - 1;
    const int64_t seconds = seconds_of_day + 86400 * days - 315532800;
    if (seconds < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (seconds > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(seconds);
}

void exchange_time_split(int64_t exchange_seconds, uint16_t *full_year, uint16_t date[3], uint16_t time[4])
{
    const uint16_t base = exchange_seconds < EXCHANGE_SECONDS_2000 ? 1900 : 2000;
    if (exchange_seconds < 0)
        exchange_seconds = 0;
    // Exchange local time is UTC+05:30: the calendar of (exchange seconds + 1980 epoch).
    const int64_t local = exchange_seconds + EXCHANGE_EPOCH_UNIX_SECONDS + EXCHANGE_UTC_OFFSET_SECONDS;
    const int64_t days = floor_div(local, 86400);
    const int64_t second_of_day = local - days * 86400;
    int64_t year = 0;
    int64_t month = 0;
    int64_t day = 0;
    civil_from_days(days, &year, &month, &day);
    int64_t two_digit_year = year - 1900;
    if (two_digit_year > 99)
        two_digit_year -= 100;
    *full_year = static_cast<uint16_t>(base + two_digit_year);
    date[0] = static_cast<uint16_t>(two_digit_year);
    date[1] = static_cast<uint16_t>(month);
    date[2] = static_cast<uint16_t>(day);
    time[0] = static_cast<uint16_t>(second_of_day / 3600);
    time[1] = static_cast<uint16_t>(second_of_day / 60 % 60);
    time[2] = static_cast<uint16_t>(second_of_day % 60);
    time[3] = 0;
}

void exchange_time_to_ymd_strings(int64_t exchange_seconds, char *year_month, char *day)
{
    uint16_t full_year = 0;
    uint16_t date[3] = {0, 0, 0};
    uint16_t time[4] = {0, 0, 0, 0};
    exchange_time_split(exchange_seconds, &full_year, date, time);
    if (year_month != nullptr)
        snprintf(year_month, 8, "%04d%02d", static_cast<int>(full_year) % 10000, date[1] % 100);
    if (day != nullptr)
        snprintf(day, 3, "%02d", date[2] % 100);
}

void fix_copy_string_field(const FIX::FieldBase &field, char *destination, size_t max_length, int tag)
{
    const std::string &value = field.getString();
    if (value.empty() || value.size() > max_length)
        throw LogException(invalid_length_text(tag));
    memcpy(destination, value.data(), value.size());
}

void fix_copy_string_field_exact(const FIX::FieldBase &field, char *destination, size_t length, int tag)
{
    const std::string &value = field.getString();
    if (value.size() != length)
        throw LogException(invalid_length_text(tag));
    memcpy(destination, value.data(), value.size());
}
