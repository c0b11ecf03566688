// What a peer's text can make of the engine's parsing: integers out of the range of int
// are refused instead of overflowing (tag numbers, lengths, integer fields), and a data
// field whose length field points outside the text, or not at a field separator, makes
// the message invalid instead of reading past its end. Inputs the fuzzers found.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "DataDictionary.h"
#include "FieldConvertors.h"
#include "Message.h"
#include "fix_engine/fix_engine_test_support.h"

namespace
{

TEST(IntConvertor, ValuesOutOfTheRangeOfIntAreNotNumbers)
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
        {"4999999999990", false, 0},
        {"99999999999999999999", false, 0},
        {"12a", false, 0},
        {"-", false, 0},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.text);
        int value = 0;
        EXPECT_EQ(c.converts, FIX::IntConvertor::convert(std::string(c.text), value));
        if (c.converts)
        {
            EXPECT_EQ(c.value, value);
        }
    }
}

// Text with "|" for the separator, a body length that is not checked, and no checksum check.
FIX::Message parse(std::string text, const FIX::DataDictionary &dictionary)
{
    for (char &c : text)
        if (c == '|')
            c = '\x01';
    return FIX::Message(text, dictionary, false);
}

TEST(MessageParse, DataFieldLengthMustEndAtASeparatorInsideTheText)
{
    FIX::DataDictionary dictionary(std::string(QEL_FIX_DATA_DICTIONARY_DIR) + "/FIX42.xml");
    const struct
    {
        const char *name;
        const char *text;
        bool valid;
        const char *rawData;
    } cases[] = {
        {"exact", "8=FIX.4.2|9=5|35=A|95=5|96=ab|cd|10=000|", true,
         "ab\x01"
         "cd"},
        {"past the end", "8=FIX.4.2|9=5|35=D|95=500|96=x|10=000|", false, ""},
        {"past the end by one", "8=FIX.4.2|9=5|35=A|95=3|96=ab|", false, ""},
        {"negative", "8=FIX.4.2|9=5|35=D|95=-5|96=xyz|10=000|", false, ""},
        {"not at a separator", "8=FIX.4.2|9=5|35=A|95=2|96=abcd|10=000|", false, ""},
        {"length out of range", "8=FIX.4.2|9=5|35=A|95=99999999999|96=ab|10=000|", false, ""},
        {"tag number out of range", "8=FIX.4.2|9=5|35=D|4999999999990=2|10=000|", false, ""},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        if (!c.valid)
        {
            EXPECT_THROW(parse(c.text, dictionary), FIX::InvalidMessage);
            continue;
        }
        FIX::Message message = parse(c.text, dictionary);
        EXPECT_EQ(std::string(c.rawData), message.getField(FIX::FIELD::RawData));
    }
}

} // namespace
