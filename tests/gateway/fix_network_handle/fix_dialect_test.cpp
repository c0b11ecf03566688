// The FIX 4.2 dialect: the generated data dictionaries accept the custom messages and
// groups and refuse what does not belong, the acceptor's dictionary leaves missing
// fields to the gateway's handlers, the cracker dispatches every type as the dialect
// says, and the message classes write their groups in the dialect's order.
#include "gateway/fix_network_handle/fix_dialect.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "DataDictionary.h"
#include "gateway/fix_network_handle/fix_dialect_cracker.h"

namespace
{

const FIX::DataDictionary &dictionary(const char *file)
{
    static std::unique_ptr<FIX::DataDictionary> acceptor;
    static std::unique_ptr<FIX::DataDictionary> client;
    std::unique_ptr<FIX::DataDictionary> &slot =
        std::string(file) == FIX42::ACCEPTOR_DICTIONARY_FILE ? acceptor : client;
    if (!slot)
        slot.reset(new FIX::DataDictionary(std::string(QEL_FIX_DICTIONARY_DIR) + "/" + file));
    return *slot;
}

// "35=U1|11=7|..." (body after the MsgType) as a complete message text.
std::string wire(const std::string &type, const std::string &body)
{
    std::string fields = "35=" + type + "|49=12,AB,0|56=GATEWAY|34=2|52=20261209-05:00:00|" + body;
    for (char &c : fields)
        if (c == '|')
            c = '\x01';
    std::string text = "8=FIX.4.2\x01"
                       "9=" +
                       std::to_string(fields.size()) + "\x01" + fields;
    unsigned sum = 0;
    for (char c : text)
        sum += static_cast<unsigned char>(c);
    char checksum[8];
    snprintf(checksum, sizeof(checksum), "%03u", sum % 256);
    return text + "10=" + checksum + "\x01";
}

// The name of the engine exception that validation throws, or "" when it passes.
std::string validate(const char *file, const std::string &type, const std::string &body)
{
    const FIX::DataDictionary &dd = dictionary(file);
    try
    {
        FIX::Message message(wire(type, body), dd, false);
        FIX::DataDictionary::validate(message, &dd, &dd);
    }
    catch (const FIX::Exception &e)
    {
        return e.type;
    }
    return "";
}

const std::string LEG_1 = "600=ZORAX|602=35001|607=2|609=FUT|611=20261231|624=1|685=50|566=100.5|";
const std::string LEG_2 = "600=ZORAX|602=35002|607=2|609=FUT|611=20270128|624=2|685=50|566=0|";
const std::string U1_HEAD = "1=ACC|11=7|204=0|376=C1|440=CLR|6008=1|";

struct validation_case
{
    const char *what;
    const char *file;
    const char *type;
    std::string body;
    const char *expected; // engine exception type, "" = valid
};

TEST(FixDialectDictionary, AcceptsTheDialectAndRefusesWhatDoesNotBelong)
{
    const char *A = FIX42::ACCEPTOR_DICTIONARY_FILE;
    const char *C = FIX42::CLIENT_DICTIONARY_FILE;
    const std::vector<validation_case> cases = {
        {"U1 with two legs", A, "U1", U1_HEAD + "555=2|" + LEG_1 + LEG_2, ""},
        {"U1 three-leg order", A, "U1", U1_HEAD + "555=3|" + LEG_1 + LEG_2 + LEG_1, ""},
        {"U1 leg put or call 6009", A, "U1", U1_HEAD + "555=1|600=X|612=1500|613=L|6009=1|", ""},
        {"U1 count differs from its entries", A, "U1", U1_HEAD + "555=3|" + LEG_1 + LEG_2,
         "Repeating group count mismatch"},
        {"U1 without ClOrdID is the handler's to report", A, "U1", "204=1|376=C1|555=1|" + LEG_1 + "6008=2|",
         ""},
        {"U1 without ClOrdID at a strict client", C, "U1", "204=1|376=C1|555=1|" + LEG_1 + "6008=2|",
         "Required tag missing"},
        {"U1 MultilegOrdType not a number", A, "U1", "11=7|204=1|376=C1|555=1|" + LEG_1 + "6008=x|",
         "Incorrect data format for value"},
        {"U1 with a tag of the Logon", A, "U1", U1_HEAD + "555=1|" + LEG_1 + "6014=2|",
         "Tag not defined for this message type"},
        {"U2 with LegCumQty", A, "U2",
         "11=8|37=1234|204=1|376=C1|6013=N|6000=20261209-10:00:00|555=2|" + LEG_1 + "6011=10|" + LEG_2, ""},
        {"U2 ExchangeTime not a timestamp", A, "U2", "11=8|37=1234|204=1|376=C1|6000=tomorrow|",
         "Incorrect data format for value"},
        {"U4 exercise request", A, "U4",
         "48=35001|55=ZORAX|460=2|167=OPT|202=15000|201=1|206=L|200=202612|205=31|204=1|53=50|709=1|710=9|"
         "712=2|714=77|6000=20261209-10:00:00|",
         ""},
        {"U3 at the client", C, "U3", "37=1|6007=55|6012=1|55=ZORAX|54=1|31=100|32=5|6000=20261209-10:00:00|",
         ""},
        {"U5 at the client", C, "U5", "712=1|710=9|709=1|721=4|722=0|55=ZORAX|60=20261209-10:00:00|", ""},
        {"unknown custom type", A, "U9", "11=1|", "Invalid Message Type"},
        {"g with one time per stream", A, "g",
         "335=1|263=0|6015=2|6001=20261209-00:00:00|6001=20261209-01:00:00|", ""},
        // The engine does not check the format of group members: the handler converts them.
        {"g with a time that is no timestamp is the handler's to report", A, "g",
         "335=1|263=0|6015=1|6001=2008|", ""},
        {"g count differs from its entries", A, "g", "335=1|263=0|6015=2|6001=20261209-00:00:00|",
         "Repeating group count mismatch"},
        {"NewOrderSingle with Product", A, "D",
         "11=1|21=1|55=ZORAX|48=35001|167=FUT|200=202612|205=31|54=1|38=50|40=2|44=100.25|59=0|"
         "60=20261209-05:00:00|204=1|376=C1|440=CLR|460=2|",
         ""},
        {"NewOrderSingle with an OrdType the handler refuses itself", A, "D",
         "11=1|21=1|55=ZORAX|54=1|38=50|40=Z|60=20261209-05:00:00|", ""},
        {"NewOrderSingle with that OrdType at a strict client", C, "D",
         "11=1|21=1|55=ZORAX|54=1|38=50|40=Z|60=20261209-05:00:00|",
         "Value is incorrect (out of range) for this tag"},
        {"OrderCancelReplaceRequest with CumQty and ExchangeTime", A, "G",
         "11=2|41=1|37=1234|21=1|55=ZORAX|54=1|38=50|40=2|44=101|14=10|6000=20261209-10:00:00|", ""},
        {"Logon with password, new password and version", A, "A",
         "98=0|108=30|95=5|96=12345|141=Y|554=secret|925=newpass|", ""},
        {"Logon without HeartBtInt is the handler's to report", A, "A", "98=0|95=5|96=12345|554=secret|", ""},
        {"gateway Logon answer at the client", C, "A",
         "98=0|108=30|554=secret|6002=A|6003=NAME|6004=USER|6005=1|6006=S|6014=3|", ""},
        {"ExecutionReport of a spread at the client", C, "8",
         "37=1|17=2|20=0|150=0|39=0|55=ZORAX|54=1|151=50|14=0|6=0|6007=1|6008=1|555=2|" + LEG_1 +
             "6009=1|6010=50|6011=0|" + LEG_2,
         ""},
        {"ExecutionReport without OrderID at the client", C, "8",
         "17=2|20=0|150=0|39=0|55=ZORAX|54=1|151=50|14=0|6=0|", "Required tag missing"},
        {"OrderCancelReject of a spread at the client", C, "9", "37=1|11=2|41=1|39=8|434=1|6008=1|58=E|", ""},
        {"TradingSessionStatus at the client", C, "h", "336=4567|340=2|", ""},
    };
    for (const validation_case &c : cases)
        EXPECT_EQ(validate(c.file, c.type, c.body), c.expected) << c.what;
}

// Which overload the cracker reached, or that it refused the type.
class RecordingCracker : public FIX42::MessageCracker
{
  public:
    using FIX42::MessageCracker::onMessage;
    void onMessage(const FIX42::Logon &, const FIX::SessionID &) override { reached = "A"; }
    void onMessage(const FIX42::Logout &, const FIX::SessionID &) override { reached = "5"; }
    void onMessage(const FIX42::NewOrderSingle &, const FIX::SessionID &) override { reached = "D"; }
    void onMessage(const FIX42::OrderCancelRequest &, const FIX::SessionID &) override { reached = "F"; }
    void onMessage(const FIX42::OrderCancelReplaceRequest &, const FIX::SessionID &) override
    {
        reached = "G";
    }
    void onMessage(const FIX42::TradingSessionStatusRequest &, const FIX::SessionID &) override
    {
        reached = "g";
    }
    void onMessage(const FIX42::SpreadMultiLegSingle &, const FIX::SessionID &) override { reached = "U1"; }
    void onMessage(const FIX42::SpreadCancelReplaceRequest &, const FIX::SessionID &) override
    {
        reached = "U2";
    }
    void onMessage(const FIX42::PositionMaintenanceRequest &, const FIX::SessionID &) override
    {
        reached = "U4";
    }
    std::string reached;
};

TEST(FixDialectCracker, DispatchesEachTypeAsTheDialectSays)
{
    struct
    {
        const char *type;
        const char *outcome; // the overload reached, "-" ignored, "refused" unsupported
    } cases[] = {
        {"A", "A"},        {"5", "5"},       {"D", "D"},       {"F", "F"},       {"G", "G"},
        {"g", "g"},        {"U1", "U1"},     {"U2", "U2"},     {"U4", "U4"},     {"0", "-"},
        {"1", "-"},        {"2", "-"},       {"3", "-"},       {"4", "-"},       {"j", "-"},
        {"U3", "-"},       {"U5", "-"},      {"8", "refused"}, {"9", "refused"}, {"B", "refused"},
        {"h", "refused"},  {"6", "refused"}, {"m", "refused"}, {"E", "refused"}, {"U9", "refused"},
        {"ZZ", "refused"},
    };
    const FIX::SessionID id("FIX.4.2", "GATEWAY", "12,AB,0");
    for (const auto &c : cases)
    {
        RecordingCracker cracker;
        FIX::Message message;
        message.getHeader().setField(FIX::FIELD::MsgType, c.type);
        std::string outcome;
        try
        {
            cracker.crack(message, id);
            outcome = cracker.reached.empty() ? "-" : cracker.reached;
        }
        catch (const FIX::UnsupportedMessageType &)
        {
            outcome = "refused";
        }
        EXPECT_EQ(outcome, c.outcome) << c.type;
    }
}

TEST(FixDialectMessages, GroupsAndTimesAreWrittenInTheDialectsForm)
{
    FIX42::SpreadMultiLegSingle spread;
    EXPECT_EQ(spread.getHeader().getField(FIX::FIELD::MsgType), "U1");
    FIX42::SpreadMultiLegSingle::NoLegs leg;
    leg.set(FIX::LegPrice(1.5));
    leg.set(FIX42::LegPutOrCall(1));
    leg.set(FIX::LegSide('1'));
    leg.set(FIX::LegSymbol("ZORAX"));
    spread.addGroup(leg);
    spread.set(FIX42::MultilegOrdType(1));
    std::string text = spread.toString();
    for (char &c : text)
        if (c == '\x01')
            c = '|';
    EXPECT_NE(text.find("|555=1|600=ZORAX|6009=1|624=1|566=1.5|6008=1|"), std::string::npos) << text;

    FIX42::GiveUpReport report;
    report.set(FIX42::ExchangeTime(FIX::UtcTimeStamp(9, 30, 15, 123, 9, 12, 2026)));
    EXPECT_EQ(report.getField(FIX42::TAG::ExchangeTime), "20261209-09:30:15");

    FIX42::TradingSessionStatusRequest request;
    FIX42::NoOnBehalfOfLocationIDGroup entry;
    entry.set(FIX42::LastHostMessageTime(FIX::UtcTimeStamp(0, 0, 0, 1, 1, 1980)));
    request.addGroup(entry);
    request.addGroup(entry);
    EXPECT_EQ(request.getField(FIX42::TAG::NoOnBehalfOfLocationID), "2");

    FIX42::Logon logon;
    FIX42::markValidLogon(logon);
    EXPECT_EQ(logon.getHeader().getField(99999), "VALID_LOGON");
}

} // namespace
