// Exchange broadcasts turned into FIX News: each broadcast record is built from its layout,
// converted, and its Headline, single line of text and header fields compared; a FIX
// client's engine with the client dictionary takes each one.
#include <gtest/gtest.h>

#include <string>

#include "gateway/fix_network_handle/fix_reply_test_support.h"

using namespace fix_reply_test;

namespace
{
// A 319-byte broadcast (6501 to 6571) or a 289-byte control message (5295) of user 1001.
RecordBytes broadcast(int16_t transcode, const std::string &prefix, const std::string &text, uint16_t length)
{
    const bool control = transcode == 5295;
    RecordBytes r(control ? 289 : 319);
    r.at(0, "000003e9").at(22, "00003b9aca648000").at(37, "03");
    r.bytes[10] = static_cast<uint8_t>(static_cast<uint16_t>(transcode) >> 8);
    r.bytes[11] = static_cast<uint8_t>(transcode);
    r.bytes[38] = static_cast<uint8_t>(r.bytes.size() >> 8);
    r.bytes[39] = static_cast<uint8_t>(r.bytes.size());
    const uint32_t lengthOffset = control ? 48 : 78;
    r.bytes[lengthOffset] = static_cast<uint8_t>(length >> 8);
    r.bytes[lengthOffset + 1] = static_cast<uint8_t>(length);
    r.text(control ? 44 : 47, prefix).text(control ? 50 : 80, text);
    return r;
}

// Text up to the end of the record: 239 characters behind either text offset.
const std::string LONG_TEXT(239, 'Z');

class NewsReplies : public HostOutsideExchangeZone
{
};
} // namespace

TEST_F(NewsReplies, EachBroadcastBecomesNewsWithItsHeadlineAndOneLine)
{
    const struct
    {
        const char *name;
        int16_t transcode;
        std::string prefix;
        std::string text;
        uint16_t length;
        const char *headline;
        std::string line;
    } cases[] = {
        {"market open", 6511, "", "NORMAL MARKET", 13, "Market Open", "MKT - NORMAL MARKET"},
        {"market closed", 6521, "", "CLOSED", 6, "Market Closed", "MKT - CLOSED"},
        {"preopen begins", 6531, "", "", 0, "Preopen Begins", "MKT - "},
        {"preopen ends", 6571, "", "NOW", 3, "Preopen Ends", "MKT - NOW"},
        {"general broadcast", 6501, "ABC", "HELLO", 5, "General Broadcast", "ABC - HELLO"},
        {"market state ignores the record's prefix bytes", 6511, "ABC", "X", 1, "Market Open", "MKT - X"},
        {"message from control", 5295, "CTL", "TRADING HALTED IN ZORAX", 23, "Message from Control",
         "CTL - TRADING HALTED IN ZORAX"},
        {"text shorter than its length field", 6501, "ABC", "HI", 10, "General Broadcast", "ABC - HI"},
        {"zero byte inside the text", 6501, "ABC", std::string("HEL\0LO", 6), 6, "General Broadcast",
         "ABC - HEL"},
        {"SOH inside the text", 6501, "ABC", "HEL\x01LO", 6, "General Broadcast", "ABC - HEL"},
        {"length beyond the line is cut to 233", 6501, "ABC", LONG_TEXT, 500, "General Broadcast",
         "ABC - " + std::string(233, 'Z')},
        {"control text cut to 233", 5295, "CTL", LONG_TEXT, 65535, "Message from Control",
         "CTL - " + std::string(233, 'Z')},
        {"zero byte in the prefix ends the prefix only", 6501, std::string("A\0C", 3), "HELLO", 5,
         "General Broadcast", "A - HELLO"},
        {"empty prefix", 5295, std::string("\0\0\0", 3), "HELLO", 5, "Message from Control", " - HELLO"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        Converted out = convert(broadcast(c.transcode, c.prefix, c.text, c.length), c.transcode, 0);
        ASSERT_EQ(out.status, EA_SUCCESS) << out.log;
        EXPECT_EQ(out.type, "B");
        const Fields want = {{148, c.headline}, {33, "1"}, {370, "20110908-20:18:20"}, {144, "3"}};
        EXPECT_EQ(out.fields, want);
        ASSERT_EQ(out.groups.size(), 1u);
        EXPECT_EQ(out.groups[0], (Fields{{58, c.line}}));
        EXPECT_LE(c.line.size(), 239u);
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
}
