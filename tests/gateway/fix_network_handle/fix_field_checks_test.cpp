// The value checks of the FIX request handlers, with the bounds and tags the handlers
// use, and the SenderCompID split of the Logon.
#include "gateway/fix_network_handle/fix_field_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{

// The text of the LogException a check throws, or "" when it passes.
std::string outcome(const std::function<void()> &check)
{
    try
    {
        check();
    }
    catch (const LogException &e)
    {
        return e.what();
    }
    return "";
}

struct check_case
{
    const char *what;
    std::function<void()> check;
    const char *expected; // "" = passes
};

// The handlers' uses: tag, validator, bounds; each bound tried on both sides.
const std::vector<check_case> &handler_cases()
{
    static const std::vector<check_case> cases = {
        {"HeartBtInt 30", [] { fixValidateEqual(30, 30, 108); }, ""},
        {"HeartBtInt 29", [] { fixValidateEqual(29, 30, 108); }, "Invalid value for field id 108"},
        {"HeartBtInt 31", [] { fixValidateEqual(31, 30, 108); }, "Invalid value for field id 108"},
        {"EncryptMethod 0", [] { fixValidateEqual(0, 0, 98); }, ""},
        {"EncryptMethod 1", [] { fixValidateEqual(1, 0, 98); }, "Invalid value for field id 98"},
        {"RawDataLength 4", [] { fixValidateRange(4, 4, 8, 95); }, "Invalid value for field id 95"},
        {"RawDataLength 5", [] { fixValidateRange(5, 4, 8, 95); }, ""},
        {"RawDataLength 6", [] { fixValidateRange(6, 4, 8, 95); }, ""},
        {"RawDataLength 7", [] { fixValidateRange(7, 4, 8, 95); }, ""},
        {"RawDataLength 8", [] { fixValidateRange(8, 4, 8, 95); }, "Invalid value for field id 95"},
        {"SecurityID 1", [] { fixValidateGreater(1, 0, 48); }, ""},
        {"SecurityID 0", [] { fixValidateGreater(0, 0, 48); }, "Invalid value for field id 48"},
        {"LegSecurityID -1", [] { fixValidateGreater(-1, 0, 602); }, "Invalid value for field id 602"},
        {"ClOrdID 2000000000", [] { fixValidateLess(2000000000, 2000000001, 11); }, ""},
        {"ClOrdID 2000000001", [] { fixValidateLess(2000000001, 2000000001, 11); },
         "Invalid value for field id 11"},
        {"PosReqID 2000000001", [] { fixValidateLess(2000000001, 2000000001, 710); },
         "Invalid value for field id 710"},
        {"StrikePrice 9999999", [] { fixValidateLess(9999999 * 100.0, 999999999.0, 202); }, ""},
        {"StrikePrice 10000000", [] { fixValidateLess(10000000 * 100.0, 999999999.0, 202); },
         "Invalid value for field id 202"},
        {"LegStrikePrice 9999999.99", [] { fixValidateLess(999999999.0, 999999999.0, 612); },
         "Invalid value for field id 612"},
        {"negative LegPrice", [] { fixValidateLess(-150.0 * 100.0, 999999999.0, 566); }, ""},
        {"StopPx 9999999.98", [] { fixValidateLess(999999998.0, 999999999.0, 99); }, ""},
        {"MaxFloor at bound", [] { fixValidateLess(999999999.0, 999999999, 111); },
         "Invalid value for field id 111"},
        {"CumQty below bound", [] { fixValidateLess(999999998.5, 999999999, 14); }, ""},
        {"LegCumQty at bound", [] { fixValidateLess(999999999.0, 999999999, 6011); },
         "Invalid value for field id 6011"},
        {"OrderQty 0", [] { fixValidateRange(0.0, 0, 999999999, 38); }, "Invalid value for field id 38"},
        {"OrderQty 999999999", [] { fixValidateRange(999999999.0, 0, 999999999, 38); },
         "Invalid value for field id 38"},
        {"OrderQty 999999998", [] { fixValidateRange(999999998.0, 0, 999999999, 38); }, ""},
        {"Shares 0.5", [] { fixValidateRange(0.5, 0, 999999999, 53); }, ""},
        {"LegOrderQty -1", [] { fixValidateRange(-1.0, 0, 999999999, 685); },
         "Invalid value for field id 685"},
        {"Price 0", [] { fixValidateRange(0.0, 0.0, 999999999.0, 44); }, "Invalid value for field id 44"},
        {"Price 0.01", [] { fixValidateRange(1.0, 0.0, 999999999.0, 44); }, ""},
        {"Price NaN", [] { fixValidateRange(std::nan(""), 0.0, 999999999.0, 44); },
         "Invalid value for field id 44"},
        {"second leg price 0", [] { fixValidateEqual(int64_t{0}, int64_t{0}, 566); }, ""},
        {"second leg price 1", [] { fixValidateEqual(int64_t{1}, int64_t{0}, 566); },
         "Invalid value for field id 566"},
    };
    return cases;
}

TEST(FixFieldChecks, HandlerBoundsPassAndFailWithTheTag)
{
    for (const check_case &c : handler_cases())
        EXPECT_EQ(outcome(c.check), c.expected) << c.what;
}

TEST(FixFieldChecks, TheExceptionIsAFixException)
{
    try
    {
        fixValidateGreater(0, 0, 48);
        FAIL() << "no exception";
    }
    catch (const FIX::Exception &e)
    {
        EXPECT_STREQ(e.what(), "Invalid value for field id 48");
    }
}

TEST(FixFieldChecks, IdentifiersAreReadAsAtolReadsThem)
{
    struct
    {
        const char *text;
        int64_t value;
    } cases[] = {
        {"12345", 12345},
        {"  42abc", 42},
        {"-7", -7},
        {"ABC", 0},
        {"", 0},
        {"+9", 9},
        {"2000000001", 2000000001},
        {"5000000000", 5000000000LL},
        {"99999999999999999999", INT64_MAX},
        {"-99999999999999999999", INT64_MIN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(fixTextToInt64(c.text), c.value) << c.text;
    EXPECT_EQ(fixTextToInt64(nullptr), 0);
}

// A ClOrdID of 2^32 + 1 would pass a 32-bit check as 1; checked at 64 bits it fails.
TEST(FixFieldChecks, WideIdentifiersFailBeforeNarrowing)
{
    const int64_t wide = fixTextToInt64("4294967297");
    EXPECT_EQ(outcome([&] { fixValidateLess(wide, int64_t{2000000001}, 11); }),
              "Invalid value for field id 11");
    EXPECT_EQ(outcome([&] { fixNarrowToInt32(wide, 48); }), "Invalid value for field id 48");
    EXPECT_EQ(fixNarrowToInt32(fixTextToInt64("2147483647"), 48), 2147483647);
    EXPECT_EQ(outcome([] { fixNarrowToInt32(int64_t{2147483648LL}, 48); }), "Invalid value for field id 48");
    // Letters convert to 0 and pass the ClOrdID bound.
    EXPECT_EQ(outcome([] { fixValidateLess(fixTextToInt64("ORDER"), int64_t{2000000001}, 11); }), "");
}

struct sender_case
{
    const char *text;
    const char *expected; // "" = accepted
    int32_t trader;
    const char *member;
    int16_t branch;
};

TEST(FixSenderCompId, SplitsTraderMemberAndBranchOrRefusesInOrder)
{
    const sender_case cases[] = {
        {"12,AB,0", "", 12, "AB", 0},
        {"7,ABCDE,32767", "", 7, "ABCDE", 32767},
        {"12,AB", "BranchID is Invalid", 12, "", -1},
        {"12,,0", "BranchID is Invalid", 12, "", -1},
        {"12,AB,-1", "BranchID is Invalid", 12, "", -1},
        {"12,AB,x", "BranchID is Invalid", 12, "", -1},
        {"12,AB,32768", "BranchID is Invalid", 12, "", -1},
        {"12,ABCDEF,0", "MemberID is Invalid", 12, "", 0},
        {"0,AB,0", "TraderID is Invalid", -1, "", -1},
        {"0,,", "TraderID is Invalid", -1, "", -1},
        {"-5,AB,0", "TraderID is Invalid", -1, "", -1},
        {"abc", "TraderID is Invalid", -1, "", -1},
        {"", "TraderID is Invalid", -1, "", -1},
        {"2147483648,AB,0", "TraderID is Invalid", -1, "", -1},
        {"000,000000,0", "TraderID is Invalid", -1, "", -1},
        {"12,A VERY LONG MEMBER PART THAT WOULD OVERRUN A SCAN BUFFER,0", "MemberID is Invalid", 12, "", 0},
    };
    for (const sender_case &c : cases)
    {
        int32_t trader = -1;
        int16_t branch = -1;
        char member[6] = "#####";
        const std::string result =
            outcome([&] { fixTokenizeSenderCompId(c.text, &trader, member, &branch); });
        EXPECT_EQ(result, c.expected) << c.text;
        EXPECT_EQ(trader, c.trader) << c.text;
        EXPECT_EQ(branch, c.branch) << c.text;
        // The member id is written without a terminator over the caller's bytes.
        const std::string written(c.member);
        EXPECT_EQ(std::string(member, written.size()), written) << c.text;
        if (written.empty())
            EXPECT_STREQ(member, "#####") << c.text;
        else
            EXPECT_EQ(std::string(member + written.size()), std::string(5 - written.size(), '#')) << c.text;
    }
}

} // namespace
