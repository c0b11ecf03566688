// The records the FIX side builds (golden bytes written from the exchange's record formats) and the
// conversions between FIX timestamps, exchange dates and exchange seconds, which must give
// the same results whatever the host's time zone.
#include "gateway/fix_network_handle/fix_request_records.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "gateway/fix_network_handle/fix_utility.h"
#include "gateway/runtime/message.h"
#include "support/hex.h"

namespace
{
using qel_test::to_hex;

std::string repeat(const char *byte_hex, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; i++)
        text += byte_hex;
    return text;
}

// Runs each test in a zone that is neither UTC nor UTC+05:30 and has daylight saving.
class HostZone : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char *old = getenv("TZ");
        m_saved = old != nullptr ? old : "";
        m_had = old != nullptr;
        setenv("TZ", "America/New_York", 1);
        tzset();
    }
    void TearDown() override
    {
        if (m_had)
            setenv("TZ", m_saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void use_zone(const char *zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }

  private:
    std::string m_saved;
    bool m_had = false;
};

TEST(FixRequestRecords, HeaderHasUserTranscodeLengthAndBlanks)
{
    uint8_t record[44];
    memset(record, 0xee, sizeof(record));
    set_tws_message_header_with_long(record, 0x01020304, 7000, 48, "9", 0xa1b2c3d4);
    // user id | zero | chars | transcode | error | 24 zero time bytes | length | u32
    EXPECT_EQ(to_hex(record, 44), "01020304"
                                  "00000000"
                                  "3900"
                                  "1b58"
                                  "0000" +
                                      repeat("00", 24) + "0030" + "a1b2c3d4");
    set_tws_message_header(record, 12, 1600, 44, nullptr);
    EXPECT_EQ(to_hex(record, 12), "0000000c0000000020200640");
}

TEST(FixRequestRecords, SignOnRequestMatchesTheLayout)
{
    message *msg = create_user_signon_request(12, "PASSWD01", nullptr, "AB   ", 12345, nullptr);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->tag, NORMAL_MESSAGE);
    EXPECT_EQ(msg->data_length, 214);
    EXPECT_EQ(msg->packing_weight, 1);
    EXPECT_EQ(msg->transcode, 2300);
    EXPECT_EQ(msg->user_type, 1);
    EXPECT_EQ(msg->user_id, 12u);
    const std::string expected = "0000000c" + repeat("00", 4) + "2020" + "08fc" + "0000" + repeat("00", 24) +
                                 "00d6"                          // header
                                 + "0000000c"                    // 40 user id
                                 + "5041535357443031"            // 44 password
                                 + repeat("00", 8)               // 52 no new password
                                 + repeat("20", 26)              // 60
                                 + "00000000"                    // 86
                                 + "4142202020"                  // 90 member id
                                 + "000000"                      // 95
                                 + "00003039"                    // 98 front-end version
                                 + "00000000"                    // 102
                                 + "20"                          // 106
                                 + repeat("20", 50)              // 107
                                 + "00" + "0000"                 // 157, 158
                                 + repeat("00", 8)               // 160
                                 + repeat("00", 14)              // 168
                                 + "20" + "20" + "0000" + "0000" // 182, 183, 184, 186
                                 + "20"                          // 188
                                 + repeat("20", 25);             // 189
    EXPECT_EQ(to_hex(msg->data, msg->data_length), expected);
    message_destroy(msg);

    msg = create_user_signon_request(12, "PASSWD01", "NEWPASS1", "ABCDE", 1, nullptr);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(to_hex(msg->data + 52, 8), "4e45575041535331");
    EXPECT_EQ(to_hex(msg->data + 90, 5), "4142434445");
    message_destroy(msg);
}

TEST(FixRequestRecords, SystemInformationRequestMatchesTheLayout)
{
    message *msg = create_system_info_request(0x00bc614e, nullptr);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->data_length, 44);
    EXPECT_EQ(msg->packing_weight, 1);
    EXPECT_EQ(msg->transcode, 1600);
    EXPECT_EQ(to_hex(msg->data, 44), "00bc614e" + repeat("00", 4) + "2020" + "0640" + "0000" +
                                         repeat("00", 24) + "002c" + "00000000");
    message_destroy(msg);
}

TEST_F(HostZone, FixTimestampsAreReadAsUtc)
{
    EXPECT_EQ(fix_time_to_unix("20081127-14:30:00"), 1227796200u);
    // Milliseconds are cut off, not rounded.
    EXPECT_EQ(fix_time_to_unix("20081127-14:30:00.999"), 1227796200u);
    EXPECT_EQ(fix_time_to_exchange_time_shifted("20081127-14:30:45.500"), 59787394744320LL);
    EXPECT_EQ(fix_time_to_unix("20080229-00:00:00") + 86400, fix_time_to_unix("20080301-00:00:00"));
    EXPECT_EQ(fix_time_to_unix("21000228-00:00:00") + 86400, fix_time_to_unix("21000301-00:00:00"));
    // A summer date, where the host zone would shift by another hour.
    EXPECT_EQ(fix_time_to_unix("20260701-12:00:00"), 1782907200u);
    use_zone("Asia/Kolkata");
    EXPECT_EQ(fix_time_to_unix("20081127-14:30:00"), 1227796200u);
}

TEST(FixRequestRecords, MissingTimestampsGiveNoTime)
{
    struct tm parsed;
    const char *none[] = {nullptr, "", "20081127-14:30", "00000000-00:00:00", "                 "};
    for (const char *text : none)
    {
        EXPECT_EQ(fix_time_parse(text, &parsed), 0) << (text != nullptr ? text : "null");
        EXPECT_EQ(fix_time_to_unix(text), 0u);
    }
    EXPECT_EQ(fix_time_to_exchange_time_shifted("00000000-00:00:00"), -20677459968000LL);
    ASSERT_EQ(fix_time_parse("20081127-14:30:45", &parsed), 1);
    EXPECT_EQ(parsed.tm_year, 108);
    EXPECT_EQ(parsed.tm_mon, 10);
    EXPECT_EQ(parsed.tm_mday, 27);
    EXPECT_EQ(parsed.tm_hour, 14);
    EXPECT_EQ(parsed.tm_min, 30);
    EXPECT_EQ(parsed.tm_sec, 45);
    EXPECT_EQ(parsed.tm_isdst, -1);
}

TEST_F(HostZone, ExchangeDatesAreCalendarValuesAtTheExchangeOffset)
{
    struct
    {
        const char *date;
        const char *time;
        int32_t seconds;
        int16_t hour, minute, second;
    } cases[] = {
        {"20081127", "14:30:00", 912263400, 14, 30, 0},  {"20081127", "14:30", 912263400, 14, 30, 0},
        {"20081127", "14:30:45", 912263445, 14, 30, 45}, {"19800101", nullptr, 0, 0, 0, 0},
        {"20000101", " ", 631152000, 0, 0, 0},           {"20080229", "", 888710400, 0, 0, 0},
    };
    for (const auto &c : cases)
    {
        exchange_date date = {0, 0, 0};
        exchange_time_of_day time = {0, 0, 0};
        EXPECT_EQ(exchange_date_from_ymd(&date, c.date, &time, c.time), c.seconds) << c.date;
        EXPECT_EQ(time.hour, c.hour);
        EXPECT_EQ(time.minute, c.minute);
        EXPECT_EQ(time.second, c.second);
    }
    exchange_date date = {0, 0, 0};
    exchange_date_from_ymd(&date, "20081127", nullptr, nullptr);
    EXPECT_EQ(date.year, 2008);
    EXPECT_EQ(date.month, 11);
    EXPECT_EQ(date.day, 27);
    // Leap years by the Gregorian rule.
    const auto day_after = [](const char *a, const char *b)
    {
        return exchange_date_from_ymd(nullptr, b, nullptr, nullptr) -
               exchange_date_from_ymd(nullptr, a, nullptr, nullptr);
    };
    EXPECT_EQ(day_after("20080229", "20080301"), 86400);
    EXPECT_EQ(day_after("20000228", "20000301"), 2 * 86400);
    // Beyond the 32-bit range (after 2048) the result stops at its limit instead of wrapping.
    EXPECT_EQ(exchange_date_from_ymd(nullptr, "21000301", nullptr, nullptr), INT32_MAX);
    EXPECT_EQ(day_after("20071231", "20080101"), 86400);
    EXPECT_EQ(day_after("20080101", "20090101"), 366 * 86400);
    // A time of day alone counts from the calendar's start; a short text reads no further.
    EXPECT_EQ(exchange_date_from_ymd(nullptr, "19800101", nullptr, "1"), 3600);
    // A month beyond 12 does not read past the month table.
    EXPECT_EQ(exchange_date_from_ymd(nullptr, "20081399", nullptr, nullptr),
              exchange_date_from_ymd(nullptr, "20090101", nullptr, nullptr) + 98 * 86400);
}

TEST_F(HostZone, ExchangeSecondsSplitAtTheExchangeOffset)
{
    struct
    {
        int64_t seconds;
        uint16_t full_year, year, month, day, hour, minute, second;
        const char *year_month, *day_text;
    } cases[] = {
        {0, 1980, 80, 1, 1, 0, 0, 0, "198001", "01"},
        {-5, 1980, 80, 1, 1, 0, 0, 0, "198001", "01"},
        {631151999, 1999, 99, 12, 31, 23, 59, 59, "199912", "31"},
        {631152000, 2000, 0, 1, 1, 0, 0, 0, "200001", "01"},
        {1481242200, 2026, 26, 12, 9, 0, 10, 0, "202612", "09"},
        {888710400, 2008, 8, 2, 29, 0, 0, 0, "200802", "29"},
        {1831990447, 2038, 38, 1, 19, 14, 14, 7, "203801", "19"},
    };
    for (const auto &c : cases)
    {
        uint16_t full_year = 0;
        uint16_t date[3] = {0, 0, 0};
        uint16_t time[4] = {9, 9, 9, 9};
        exchange_time_split(c.seconds, &full_year, date, time);
        EXPECT_EQ(full_year, c.full_year) << c.seconds;
        EXPECT_EQ(date[0], c.year) << c.seconds;
        EXPECT_EQ(date[1], c.month) << c.seconds;
        EXPECT_EQ(date[2], c.day) << c.seconds;
        EXPECT_EQ(time[0], c.hour) << c.seconds;
        EXPECT_EQ(time[1], c.minute) << c.seconds;
        EXPECT_EQ(time[2], c.second) << c.seconds;
        EXPECT_EQ(time[3], 0) << c.seconds;
        char year_month[8] = {0};
        char day[3] = {0};
        exchange_time_to_ymd_strings(c.seconds, year_month, day);
        EXPECT_STREQ(year_month, c.year_month);
        EXPECT_STREQ(day, c.day_text);
    }
    exchange_time_to_ymd_strings(0, nullptr, nullptr);
}

TEST(FixRequestRecords, StringFieldsAreCopiedWithinTheirLength)
{
    char destination[11] = "##########";
    fix_copy_string_field(FIX::StringField(1, "ABCDE"), destination, 10, 1);
    EXPECT_STREQ(destination, "ABCDE#####");
    fix_copy_string_field(FIX::StringField(1, "0123456789"), destination, 10, 1);
    EXPECT_STREQ(destination, "0123456789");

    const auto text_of = [&](const char *value, size_t length, bool exact) -> std::string
    {
        try
        {
            if (exact)
                fix_copy_string_field_exact(FIX::StringField(440, value), destination, length, 440);
            else
                fix_copy_string_field(FIX::StringField(440, value), destination, length, 440);
        }
        catch (const LogException &e)
        {
            return e.what();
        }
        return "";
    };
    strcpy(destination, "##########");
    EXPECT_EQ(text_of("", 10, false), "Invalid Length for field id 440");
    EXPECT_EQ(text_of("01234567890", 10, false), "Invalid Length for field id 440");
    EXPECT_EQ(text_of("ABCD", 5, true), "Invalid Length for field id 440");
    EXPECT_EQ(text_of("ABCDEF", 5, true), "Invalid Length for field id 440");
    EXPECT_STREQ(destination, "##########");
    EXPECT_EQ(text_of("ABCDE", 5, true), "");
    EXPECT_STREQ(destination, "ABCDE#####");
}

} // namespace
