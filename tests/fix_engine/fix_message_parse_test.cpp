// The engine's message parser with the gateway's changes, on texts a client may send: a
// tag or integer too large for its type is refused instead of overflowing into another
// number, and a data field whose length field points outside the message is refused
// instead of being cut from memory beyond it. The texts come from the fuzz findings.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "DataDictionary.h"
#include "FieldConvertors.h"
#include "Message.h"

namespace
{

// A FIX 4.2 text with the given body ('|' for SOH), body length and checksum made right.
std::string fixText(const std::string &fields)
{
    std::string body;
    for (char c : fields)
        body += c == '|' ? '\x01' : c;
    std::string text = "8=FIX.4.2\x01"
                       "9=" +
                       std::to_string(body.size()) + "\x01" + body;
    unsigned sum = 0;
    for (char c : text)
        sum += static_cast<unsigned char>(c);
    char trailer[16];
    snprintf(trailer, sizeof trailer, "10=%03u\x01", sum % 256);
    return text + trailer;
}

// Parses as a session does, with the engine's FIX 4.2 dictionary (which tells the data
// fields); the reason it was refused, or "" when it parsed.
std::string refusal(const std::string &fields)
{
    static const FIX::DataDictionary dictionary(std::string(QEL_FIX_DATA_DICTIONARY_DIR) + "/FIX42.xml");
    try
    {
        FIX::Message message(fixText(fields), dictionary, true);
        return "";
    }
    catch (FIX::Exception &e)
    {
        return e.what();
    }
}

} // namespace

TEST(FixIntegerText, ValuesOfTheTypeConvertAndLargerOnesAreRefused)
{
    const struct
    {
        const char *text;
        bool converts;
        int value;
    } cases[] = {
        {"0", true, 0},
        {"2147483647", true, INT_MAX},
        {"-2147483648", true, INT_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"20021474836485", false, 0},
        {"99999999999", false, 0},
        {"12a", false, 0},
        {"-", false, 0},
    };
    for (const auto &c : cases)
    {
        int value = -7;
        EXPECT_EQ(FIX::IntConvertor::convert(std::string(c.text), value), c.converts) << c.text;
        if (c.converts)
        {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(FixMessageParse, ATagTooLargeForAnIntIsRefusedNotTakenForAnother)
{
    // 20021474836485 would wrap to a small tag number (the fuzzer's first finding).
    EXPECT_EQ(refusal("35=D|49=C|56=QEL|34=2|52=20261209-04:15:30|20021474836485=31|11=8|"),
              "Invalid message: Field tag is invalid: 20021474836485");
    EXPECT_EQ(refusal("35=D|49=C|56=QEL|34=2|52=20261209-04:15:30|11=8|"), "");
}

TEST(FixMessageParse, ADataFieldMustEndInsideTheMessage)
{
    const std::string head = "35=D|49=C|56=QEL|34=2|52=20261209-04:15:30|11=1|";
    // The length says exactly the data: parsed, SOH inside the data kept.
    EXPECT_EQ(refusal(head + "95=3|96=a\x01"
                             "c|"),
              "");
    // Past the end of the message, or negative: refused, nothing read outside it.
    EXPECT_NE(refusal(head + "95=900|96=abc|").find("out of range for data field 96"), std::string::npos);
    EXPECT_NE(refusal(head + "95=-9|96=abc|").find("out of range for data field 96"), std::string::npos);
    EXPECT_NE(refusal(head + "95=2147483647|96=abc|").find("out of range for data field 96"),
              std::string::npos);
}
