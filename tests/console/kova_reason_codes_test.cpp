// The reason texts against the simulated console's own table, written separately from
// the console's: every code from below the first range to above the last.
#include <gtest/gtest.h>

#include <string>

#include "console/kova_reason_codes.h"
#include "sim/console/console_protocol.h"

TEST(ReasonCodeText, EveryCodeAgreesWithTheSimulatedConsolesTable)
{
    int known = 0;
    for (int32_t code = 10900; code <= 13100; ++code)
    {
        std::string expected = sim_console::reason_text(static_cast<uint16_t>(code));
        EXPECT_EQ(std::string(ReasonCodeText(code)), expected) << code;
        known += expected.rfind("No description", 0) == 0 ? 0 : 1;
    }
    EXPECT_EQ(known, 46);
}

TEST(ReasonCodeText, GapsAndNeighboursOfTheRangesGetTheDefaultText)
{
    const int32_t codes[] = {12014, 10999, 11027, 12000, 12019, 13000, 13003, 0, -1, 70000};
    for (int32_t code : codes)
        EXPECT_EQ(std::string(ReasonCodeText(code)),
                  "No description for reason code [" + std::to_string(code) + "]");
    EXPECT_STREQ(ReasonCodeText(11011),
                 "Disconnected the user as contents of the \"message length\" field of the "
                 "received message are invalid");
    EXPECT_STREQ(ReasonCodeText(11009), "User has disconnected. ");
}

TEST(ReasonCodeText, UnknownCodesShareOneBuffer)
{
    const char *first = ReasonCodeText(20001);
    const char *second = ReasonCodeText(20002);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "No description for reason code [20002]");
    EXPECT_NE(ReasonCodeText(12010), first) << "known codes are constants";
}
