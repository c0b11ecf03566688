// The VRX records that the FIX side builds in place of a workstation (the 40-byte header,
// the user sign-on request 2300 and the system information request 1600), the
// conversions between FIX timestamps, exchange dates and exchange seconds, and the copies
// of FIX string fields into fixed-width record fields with their length checks.
//
// Exchange time counts seconds from 1980-01-01 00:00 at UTC+05:30, the exchange's fixed
// offset. Every conversion here uses that offset and never the host's time zone, so the
// gateway gives the same records on any host.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "Field.h"

struct logger_object;
struct message;

enum : uint32_t
{
    // Unix seconds = exchange seconds + this (1980-01-01 00:00 UTC less 5 h 30 min).
    EXCHANGE_EPOCH_UNIX_SECONDS = 315513000,
    EXCHANGE_UTC_OFFSET_SECONDS = 19800,
    // Journal and exchange time stamps count 1/65536 s.
    EXCHANGE_TIME_SHIFT = 16,
    // 2000-01-01 00:00 exchange time, where two-digit years change their century.
    EXCHANGE_SECONDS_2000 = 631152000,
};

// vrx_signon_request_record, 214 bytes, internal order.
enum : uint32_t
{
    SIGNON_REQUEST_LENGTH = 214,
    SIGNON_USER_ID = 40,
    SIGNON_PASSWORD = 44,
    SIGNON_NEW_PASSWORD = 52,
    SIGNON_BLANK_26 = 60,
    SIGNON_ZERO_86 = 86,
    SIGNON_MEMBER_ID = 90,
    SIGNON_VERSION = 98,
    SIGNON_ZERO_102 = 102,
    SIGNON_BLANK_106 = 106,
    SIGNON_BLANK_50 = 107,
    SIGNON_BLANK_182 = 182,
    SIGNON_BLANK_183 = 183,
    SIGNON_ZERO_186 = 186,
    SIGNON_BLANK_188 = 188,
    SIGNON_BLANK_25 = 189,
    SIGNON_PASSWORD_SIZE = 8,
    SIGNON_MEMBER_ID_SIZE = 5,

    SYSTEM_INFO_REQUEST_LENGTH = 44,
    SYSTEM_INFO_REQUEST_VALUE = 40,
};

struct exchange_date
{
    int16_t year;
    int16_t month;
    int16_t day;
};

struct exchange_time_of_day
{
    int16_t hour;
    int16_t minute;
    int16_t second;
};

// The 40-byte header: user id, two header characters (two blanks when null), transcode,
// error code 0, zero time fields, record length.
void set_tws_message_header(uint8_t *header, uint32_t user_id, uint16_t transcode, uint16_t length,
                            const char *header_chars);
// The same header followed by a u32 at offset 40 (44 bytes).
void set_tws_message_header_with_long(uint8_t *record, uint32_t user_id, uint16_t transcode, uint16_t length,
                                      const char *header_chars, uint32_t value);

// Sign-on request 2300 of a FIX user: password and member id are fixed-width (8 and 5
// bytes); new_password is 8 bytes or null. Null (logged) when no record can be made.
message *create_user_signon_request(uint32_t user_id, const char *password, const char *new_password,
                                    const char *member_id, uint32_t front_end_version, logger_object *logger);
// System information request 1600. Null (logged) when no record can be made.
message *create_system_info_request(uint32_t user_id, logger_object *logger);

// "YYYYMMDD-HH:MM:SS" (anything after the 17th character, such as milliseconds, is
// ignored). 1 with the fields in *out, 0 for no time (null, short, all zeros or blank).
int fix_time_parse(const char *text, struct tm *out);
// The timestamp read as UTC, in Unix seconds; 0 for no time. Times outside the 32-bit
// unsigned range give 0 too.
uint32_t fix_time_to_unix(const char *text);
// (Unix seconds - 315513000) x 65536 of the timestamp, computed at 64 bits.
int64_t fix_time_to_exchange_time_shifted(const char *text);

// Exchange seconds of a calendar date ("YYYYMMDD") and time of day ("HH:MM:SS" or
// "HH:MM") read as exchange local time; either text may be null or blank (0 then).
// The parts read are stored in *date and *time when given.
int32_t exchange_date_from_ymd(exchange_date *date, const char *date_text, exchange_time_of_day *time,
                               const char *time_text);
// Exchange seconds broken down at UTC+05:30: full year, date[0..2] = two-digit year,
// month, day; time[0..3] = hour, minute, second, 0. Negative seconds count as 0.
void exchange_time_split(int64_t exchange_seconds, uint16_t *full_year, uint16_t date[3], uint16_t time[4]);
// "%04d%02d" (year, month) into year_month (8 bytes) and "%02d" (day) into day (3
// bytes), each only when not null.
void exchange_time_to_ymd_strings(int64_t exchange_seconds, char *year_month, char *day);

// Copies the field's text (1 to max_length bytes) into destination without a terminator;
// the rest of the destination keeps its bytes. LogException "Invalid Length for field
// id <tag>" for an empty or longer text.
void fix_copy_string_field(const FIX::FieldBase &field, char *destination, size_t max_length, int tag);
// The same for a text of exactly `length` bytes.
void fix_copy_string_field_exact(const FIX::FieldBase &field, char *destination, size_t length, int tag);
