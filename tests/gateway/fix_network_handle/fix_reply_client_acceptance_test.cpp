// Order reports as a client's session reads them under the dialect's client dictionary
// (fuzz findings): a restated report's ExecRestatementReason 50, 51 or 52 is one of the
// dialect's values, and the instrument kind reaches the client whatever it is, blanks
// kept, and is left out only when the record has none.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "DataDictionary.h"
#include "Message.h"
#include "gateway/fix_network_handle/fix_dialect.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/fix_network_handle/fix_single_order_replies.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"

namespace
{
// A limit order of a future on the index, as the exchange's reply record carries it.
std::unique_ptr<message, void (*)(message *)> orderReply(int16_t transcode, char restatement,
                                                         const char *kind)
{
    std::unique_ptr<message, void (*)(message *)> m(message_create(240, NORMAL_MESSAGE), message_destroy);
    uint8_t *r = m->data;
    memset(r, 0, 240);
    put_i16_be(r, FIX_REPLY_HEADER_TRANSCODE, transcode);
    put_u32_be(r, FIX_REPLY_HEADER_TIME_SECONDS, 1449000000);
    r[ORDER_REPLY_RESTATEMENT_CODE] = static_cast<uint8_t>(restatement);
    put_u32_be(r, ORDER_REPLY_TOKEN, 35001);
    memcpy(r + ORDER_REPLY_INSTRUMENT_KIND, kind, 3);
    memcpy(r + ORDER_REPLY_UNDERLYING_KIND, "IDX", 3);
    memcpy(r + ORDER_REPLY_SYMBOL, "ZORAX     ", 10);
    put_u32_be(r, ORDER_REPLY_EXPIRY, 1449000000);
    put_i16_be(r, ORDER_REPLY_SIDE, 1);
    put_u32_be(r, ORDER_REPLY_REMAINING_VOLUME, 50);
    put_i32_be(r, ORDER_REPLY_PRICE, 12345);
    put_u32_be(r, ORDER_REPLY_ORDER_TIME, 1449000000);
    r[ORDER_REPLY_TERMS] = 0x08;
    put_i16_be(r, ORDER_REPLY_PRO_CLIENT, 2);
    m->workstation_index = 4;
    m->workstation_network_handle = 1;
    return m;
}

struct Received
{
    std::string refusal; // empty when the client's session accepts the report
    std::string restatementReason;
    bool hasSecurityType = false;
    std::string securityType;
};

// Converts the reply, puts on the header the session would, and reads it back as a client.
Received receive(const message *reply)
{
    static const FIX::DataDictionary clients(std::string(QEL_FIX_DICTIONARY_DIR) + "/" +
                                             FIX42::CLIENT_DICTIONARY_FILE);
    FIX::Message *out = nullptr;
    EXPECT_EQ(
        fixReplyGetFixMessage(reply, get_i16_be(reply->data, FIX_REPLY_HEADER_TRANSCODE), 0, &out, nullptr),
        0);
    std::unique_ptr<FIX::Message> report(out);
    Received r;
    if (report == nullptr)
    {
        r.refusal = "not converted";
        return r;
    }
    FIX::Header &header = report->getHeader();
    header.setField(FIX::SenderCompID("QEL"));
    header.setField(FIX::TargetCompID("12,AB,0"));
    header.setField(FIX::MsgSeqNum(2));
    header.setField(FIX::SendingTime(FIX::UtcTimeStamp()));
    try
    {
        FIX::Message read(report->toString(), clients, true);
        FIX::DataDictionary::validate(read, &clients, &clients);
        if (read.isSetField(FIX::FIELD::ExecRestatementReason))
            r.restatementReason = read.getField(FIX::FIELD::ExecRestatementReason);
        r.hasSecurityType = read.isSetField(FIX::FIELD::SecurityType);
        if (r.hasSecurityType)
            r.securityType = read.getField(FIX::FIELD::SecurityType);
    }
    catch (FIX::Exception &e)
    {
        r.refusal = e.what();
    }
    return r;
}
} // namespace

TEST(FixReplyClientAcceptance, RestatedReportsCarryTheDialectsRestatementReasons)
{
    const struct
    {
        int16_t transcode;
        char code;
        const char *reason;
    } cases[] = {{2074, 'C', "50"}, {2074, 'M', "51"}, {2074, 'B', "52"}, {2075, 'C', "50"},
                 {2075, 'M', "51"}, {2075, 'B', "52"}, {2074, 'X', ""}};
    for (const auto &c : cases)
    {
        Received r = receive(orderReply(c.transcode, c.code, "FUT").get());
        EXPECT_EQ(r.refusal, "") << c.transcode << " " << c.code;
        EXPECT_EQ(r.restatementReason, c.reason) << c.transcode << " " << c.code;
    }
}

TEST(FixReplyClientAcceptance, AnyInstrumentKindIsCarriedWholeAndAnEmptyOneIsLeftOut)
{
    for (const char *kind : {"FUT", "OPT", "B=C", "XYZ", "SPR", "   ", "F  "})
    {
        Received r = receive(orderReply(2073, ' ', kind).get());
        EXPECT_EQ(r.refusal, "") << kind;
        EXPECT_EQ(r.securityType, kind);
    }
    for (int16_t transcode : {2012, 2074, 2075, 2170, 2231, 9002})
    {
        Received r = receive(orderReply(transcode, ' ', "ABC").get());
        EXPECT_EQ(r.refusal, "") << transcode;
        EXPECT_EQ(r.securityType, "ABC") << transcode;
    }
    Received cut = receive(orderReply(2073, ' ', "FU\0").get());
    EXPECT_EQ(cut.securityType, "FU") << "the kind ends at its first zero byte";
    Received none = receive(orderReply(2073, ' ', "\0\0\0").get());
    EXPECT_EQ(none.refusal, "");
    EXPECT_FALSE(none.hasSecurityType);
}
