// Exchange broadcasts to FIX News. The line is the broadcast's three-character prefix
// (its source, or "MKT" for a market-state announcement), " - ", and the text. A zero
// byte ends the prefix or the text it stands in, never the line as a whole, so that a
// short prefix still carries its text; a SOH byte ends the text too, since it would end
// the FIX field on the wire. The text's own length field is not trusted beyond the 233
// characters the line has room for.
#include "gateway/fix_network_handle/fix_news_replies.h"

#include "FixFields.h"
#include "fix42/News.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/runtime/wire.h"

namespace
{
enum : uint32_t
{
    PREFIX_SIZE = 3,
    BROADCAST_PREFIX = 47,
    BROADCAST_TEXT_LENGTH = 78,
    BROADCAST_TEXT = 80,
    CONTROL_PREFIX = 44,
    CONTROL_TEXT_LENGTH = 48,
    CONTROL_TEXT = 50,
};

struct news_kind
{
    int16_t transcode;
    const char *headline;
    const char *prefix; // null: the record's own prefix
    uint32_t prefixOffset;
    uint32_t lengthOffset;
    uint32_t textOffset;
};

const news_kind NEWS_KINDS[] = {
    {5295, "Message from Control", nullptr, CONTROL_PREFIX, CONTROL_TEXT_LENGTH, CONTROL_TEXT},
    {6501, "General Broadcast", nullptr, BROADCAST_PREFIX, BROADCAST_TEXT_LENGTH, BROADCAST_TEXT},
    {6511, "Market Open", "MKT", 0, BROADCAST_TEXT_LENGTH, BROADCAST_TEXT},
    {6521, "Market Closed", "MKT", 0, BROADCAST_TEXT_LENGTH, BROADCAST_TEXT},
    {6531, "Preopen Begins", "MKT", 0, BROADCAST_TEXT_LENGTH, BROADCAST_TEXT},
    {6571, "Preopen Ends", "MKT", 0, BROADCAST_TEXT_LENGTH, BROADCAST_TEXT},
};

const news_kind *findNewsKind(int16_t transcode)
{
    for (const news_kind &kind : NEWS_KINDS)
        if (kind.transcode == transcode)
            return &kind;
    return nullptr;
}
} // namespace

std::string fixNewsLine(const uint8_t *record, int16_t transcode)
{
    const news_kind *kind = findNewsKind(transcode);
    if (kind == nullptr)
        throw FIX::Exception("No broadcast for transcode", fixReplyDecimal(transcode));
    std::string line =
        kind->prefix != nullptr ? kind->prefix : fixReplyText(record, kind->prefixOffset, PREFIX_SIZE);
    line += " - ";
    uint32_t length = get_u16_be(record, kind->lengthOffset);
    if (length > NEWS_TEXT_MAXIMUM)
        length = NEWS_TEXT_MAXIMUM;
    return line + fixReplyText(record, kind->textOffset, length);
}

void fixNewsFill(FIX::Message &news, const uint8_t *record, int16_t transcode)
{
    const std::string line = fixNewsLine(record, transcode);
    news.setField(FIX::Headline(findNewsKind(transcode)->headline));
    FIX42::News::LinesOfText entry;
    entry.setField(FIX::Text(line));
    news.addGroup(entry);
    fixReplySetSendingTime(news, record);
}
