// The gateway's FIX 4.2 dialect: the sixteen custom tags 6000 to 6015 as field classes,
// the custom message types U1 to U5, and the repeating groups that the dialect adds to
// stock messages (legs of an ExecutionReport, the per-stream times of a
// TradingSessionStatusRequest). Stock FIX 4.2 messages are the engine's own FIX42 classes;
// the later-version tags the dialect uses (Product, the leg tags, the position tags,
// Password, NewPassword) are the engine's FIX field classes with their standard numbers.
//
// The custom field classes live in namespace FIX42 and not in FIX: the engine already has
// a FIX::LegPutOrCall (tag 1358) that is not the dialect's LegPutOrCall (tag 6009).
// Includes the engine's headers: C++14 only.
#pragma once

#include "fix42/Message.h"

namespace FIX42
{

namespace TAG
{
enum : int
{
    ExchangeTime = 6000,
    LastHostMessageTime = 6001,
    SignOnStatus = 6002,
    SignOnName = 6003,
    SignOnUserName = 6004,
    SignOnUserClass = 6005,
    SignOnSecondStatus = 6006,
    TradeNumber = 6007,
    MultilegOrdType = 6008,
    LegPutOrCall = 6009,
    LegLeavesQty = 6010,
    LegCumQty = 6011,
    GiveUpStatus = 6012,
    CancelRemainingQty = 6013,
    StreamCount = 6014,
    NoOnBehalfOfLocationID = 6015,
    // Header mark that releases an outgoing Logon in the gateway's engine; never on the wire.
    ValidLogonMark = 99999,
};
} // namespace TAG

// The value of header tag 99999 that lets an outgoing Logon leave.
extern const char *const VALID_LOGON_MARK;
// File names of the generated data dictionaries (the FIX settings' DataDictionary): the
// acceptor's, which leaves missing and unknown values to the gateway's handlers, and
// the FIX clients'.
extern const char *const ACCEPTOR_DICTIONARY_FILE;
extern const char *const CLIENT_DICTIONARY_FILE;

// Puts the mark on a Logon about to be sent (header tag 99999).
void markValidLogon(FIX::Message &logon);

#define QEL_FIX42_FIELD(NAME, TOK, TYPE)                                                                     \
    class NAME : public FIX::TOK##Field                                                                      \
    {                                                                                                        \
      public:                                                                                                \
        NAME() : FIX::TOK##Field(TAG::NAME) {}                                                               \
        NAME(const TYPE &value) : FIX::TOK##Field(TAG::NAME, value) {}                                       \
    }

// Timestamps of the dialect carry whole seconds ("YYYYMMDD-HH:MM:SS").
#define QEL_FIX42_TIME_FIELD(NAME)                                                                           \
    class NAME : public FIX::UtcTimeStampField                                                               \
    {                                                                                                        \
      public:                                                                                                \
        NAME() : FIX::UtcTimeStampField(TAG::NAME, 0) {}                                                     \
        NAME(const FIX::UTCTIMESTAMP &value) : FIX::UtcTimeStampField(TAG::NAME, value, 0) {}                \
    }

QEL_FIX42_TIME_FIELD(ExchangeTime);
QEL_FIX42_TIME_FIELD(LastHostMessageTime);
QEL_FIX42_FIELD(SignOnStatus, Char, FIX::CHAR);
QEL_FIX42_FIELD(SignOnName, String, FIX::STRING);
QEL_FIX42_FIELD(SignOnUserName, String, FIX::STRING);
QEL_FIX42_FIELD(SignOnUserClass, Char, FIX::CHAR);
QEL_FIX42_FIELD(SignOnSecondStatus, Char, FIX::CHAR);
QEL_FIX42_FIELD(TradeNumber, String, FIX::STRING);
QEL_FIX42_FIELD(MultilegOrdType, Int, FIX::INT);
QEL_FIX42_FIELD(LegPutOrCall, Int, FIX::INT);
QEL_FIX42_FIELD(LegLeavesQty, Double, FIX::FLOAT);
QEL_FIX42_FIELD(LegCumQty, Double, FIX::FLOAT);
QEL_FIX42_FIELD(GiveUpStatus, Int, FIX::INT);
QEL_FIX42_FIELD(CancelRemainingQty, Char, FIX::CHAR);
QEL_FIX42_FIELD(StreamCount, Int, FIX::INT);
QEL_FIX42_FIELD(NoOnBehalfOfLocationID, NumInGroup, FIX::NUMINGROUP);

#undef QEL_FIX42_FIELD
#undef QEL_FIX42_TIME_FIELD

// Leg members shared by the three leg groups.
#define QEL_FIX42_LEG_FIELDS                                                                                 \
    FIELD_SET(*this, FIX::LegSymbol);                                                                        \
    FIELD_SET(*this, FIX::LegSecurityID);                                                                    \
    FIELD_SET(*this, FIX::LegProduct);                                                                       \
    FIELD_SET(*this, FIX::LegSecurityType);                                                                  \
    FIELD_SET(*this, FIX::LegMaturityDate);                                                                  \
    FIELD_SET(*this, FIX::LegStrikePrice);                                                                   \
    FIELD_SET(*this, FIX::LegOptAttribute);                                                                  \
    FIELD_SET(*this, FIX42::LegPutOrCall);                                                                   \
    FIELD_SET(*this, FIX::LegSide);                                                                          \
    FIELD_SET(*this, FIX::LegOrderQty);                                                                      \
    FIELD_SET(*this, FIX::LegPrice);                                                                         \
    FIELD_SET(*this, FIX::LegPositionEffect);                                                                \
    FIELD_SET(*this, FIX::LegCoveredOrUncovered)

#define QEL_FIX42_MESSAGE_CONSTRUCTORS(NAME, TYPE)                                                           \
    NAME() : Message(MsgType()) {}                                                                           \
    NAME(const FIX::Message &m) : Message(m) {}                                                              \
    NAME(const Message &m) : Message(m) {}                                                                   \
    NAME(const NAME &m) : Message(m) {}                                                                      \
    static FIX::MsgType MsgType()                                                                            \
    {                                                                                                        \
        return FIX::MsgType(TYPE);                                                                           \
    }

// U1: a new two-leg spread, two-leg order or three-leg order.
class SpreadMultiLegSingle : public Message
{
  public:
    QEL_FIX42_MESSAGE_CONSTRUCTORS(SpreadMultiLegSingle, "U1")
    FIELD_SET(*this, FIX::ClOrdID);
    FIELD_SET(*this, FIX::CustomerOrFirm);
    FIELD_SET(*this, FIX::Account);
    FIELD_SET(*this, FIX::ClearingAccount);
    FIELD_SET(*this, FIX::ComplianceID);
    FIELD_SET(*this, FIX::ExecInst);
    FIELD_SET(*this, FIX::OrdType);
    FIELD_SET(*this, FIX::TimeInForce);
    FIELD_SET(*this, FIX::NoLegs);
    FIELD_SET(*this, FIX42::MultilegOrdType);
    class NoLegs : public FIX::Group
    {
      public:
        NoLegs() : FIX::Group(FIX::FIELD::NoLegs, FIX::FIELD::LegSymbol, order()) {}
        static FIX::message_order order()
        {
            return FIX::message_order(600, 602, 607, 609, 611, 612, 613, 6009, 624, 685, 566, 564, 565, 0);
        }
        QEL_FIX42_LEG_FIELDS;
    };
};

// U2: modification or cancellation of a two-leg spread.
class SpreadCancelReplaceRequest : public Message
{
  public:
    QEL_FIX42_MESSAGE_CONSTRUCTORS(SpreadCancelReplaceRequest, "U2")
    FIELD_SET(*this, FIX::OrderID);
    FIELD_SET(*this, FIX42::CancelRemainingQty);
    FIELD_SET(*this, FIX::CustomerOrFirm);
    FIELD_SET(*this, FIX::Account);
    FIELD_SET(*this, FIX::ClearingAccount);
    FIELD_SET(*this, FIX::ComplianceID);
    FIELD_SET(*this, FIX::ClOrdID);
    FIELD_SET(*this, FIX::ExecInst);
    FIELD_SET(*this, FIX::OrdType);
    FIELD_SET(*this, FIX::TimeInForce);
    FIELD_SET(*this, FIX::NoLegs);
    FIELD_SET(*this, FIX42::ExchangeTime);
    class NoLegs : public FIX::Group
    {
      public:
        NoLegs() : FIX::Group(FIX::FIELD::NoLegs, FIX::FIELD::LegSymbol, order()) {}
        static FIX::message_order order()
        {
            return FIX::message_order(600, 602, 607, 609, 611, 612, 613, 6009, 624, 685, 566, 6011, 564, 565,
                                      0);
        }
        QEL_FIX42_LEG_FIELDS;
        FIELD_SET(*this, FIX42::LegCumQty);
    };
};

// U3: the exchange's give-up reply.
class GiveUpReport : public Message
{
  public:
    QEL_FIX42_MESSAGE_CONSTRUCTORS(GiveUpReport, "U3")
    FIELD_SET(*this, FIX::OrderID);
    FIELD_SET(*this, FIX42::TradeNumber);
    FIELD_SET(*this, FIX42::GiveUpStatus);
    FIELD_SET(*this, FIX::Symbol);
    FIELD_SET(*this, FIX::SecurityType);
    FIELD_SET(*this, FIX::PutOrCall);
    FIELD_SET(*this, FIX::OptAttribute);
    FIELD_SET(*this, FIX::StrikePrice);
    FIELD_SET(*this, FIX::Product);
    FIELD_SET(*this, FIX::MaturityMonthYear);
    FIELD_SET(*this, FIX::MaturityDay);
    FIELD_SET(*this, FIX::Side);
    FIELD_SET(*this, FIX::LastPx);
    FIELD_SET(*this, FIX::LastShares);
    FIELD_SET(*this, FIX::OpenClose);
    FIELD_SET(*this, FIX::CoveredOrUncovered);
    FIELD_SET(*this, FIX42::ExchangeTime);
    FIELD_SET(*this, FIX::ClearingAccount);
};

// U4: a new, modified or cancelled exercise request.
class PositionMaintenanceRequest : public Message
{
  public:
    QEL_FIX42_MESSAGE_CONSTRUCTORS(PositionMaintenanceRequest, "U4")
    FIELD_SET(*this, FIX::SecurityID);
    FIELD_SET(*this, FIX::Symbol);
    FIELD_SET(*this, FIX::Product);
    FIELD_SET(*this, FIX::SecurityType);
    FIELD_SET(*this, FIX::StrikePrice);
    FIELD_SET(*this, FIX::PutOrCall);
    FIELD_SET(*this, FIX::OptAttribute);
    FIELD_SET(*this, FIX::MaturityMonthYear);
    FIELD_SET(*this, FIX::MaturityDay);
    FIELD_SET(*this, FIX::CustomerOrFirm);
    FIELD_SET(*this, FIX::Account);
    FIELD_SET(*this, FIX::ClearingAccount);
    FIELD_SET(*this, FIX::Shares);
    FIELD_SET(*this, FIX::PosTransType);
    FIELD_SET(*this, FIX::PosReqID);
    FIELD_SET(*this, FIX::PosMaintAction);
    FIELD_SET(*this, FIX::PosMaintRptRefID);
    FIELD_SET(*this, FIX42::ExchangeTime);
};

// U5: the exchange's reply to an exercise request.
class PositionMaintenanceReport : public Message
{
  public:
    QEL_FIX42_MESSAGE_CONSTRUCTORS(PositionMaintenanceReport, "U5")
    FIELD_SET(*this, FIX::PosMaintAction);
    FIELD_SET(*this, FIX::PosReqID);
    FIELD_SET(*this, FIX::PosTransType);
    FIELD_SET(*this, FIX::PosMaintRptID);
    FIELD_SET(*this, FIX::PosMaintStatus);
    FIELD_SET(*this, FIX::Text);
    FIELD_SET(*this, FIX::Symbol);
    FIELD_SET(*this, FIX::SecurityID);
    FIELD_SET(*this, FIX::SecurityType);
    FIELD_SET(*this, FIX::PutOrCall);
    FIELD_SET(*this, FIX::OptAttribute);
    FIELD_SET(*this, FIX::StrikePrice);
    FIELD_SET(*this, FIX::Product);
    FIELD_SET(*this, FIX::MaturityMonthYear);
    FIELD_SET(*this, FIX::MaturityDay);
    FIELD_SET(*this, FIX::Account);
    FIELD_SET(*this, FIX::TransactTime);
    FIELD_SET(*this, FIX::Shares);
    FIELD_SET(*this, FIX::CustomerOrFirm);
    FIELD_SET(*this, FIX::ClearingAccount);
};

// Legs of an ExecutionReport (8) of a multi-leg order.
class ExecutionReportNoLegs : public FIX::Group
{
  public:
    ExecutionReportNoLegs() : FIX::Group(FIX::FIELD::NoLegs, FIX::FIELD::LegSymbol, order()) {}
    static FIX::message_order order()
    {
        return FIX::message_order(600, 602, 607, 609, 611, 612, 613, 6009, 624, 566, 685, 6010, 6011, 564,
                                  565, 0);
    }
    QEL_FIX42_LEG_FIELDS;
    FIELD_SET(*this, FIX42::LegLeavesQty);
    FIELD_SET(*this, FIX42::LegCumQty);
};

// One LastHostMessageTime per exchange journal stream, in a TradingSessionStatusRequest (g).
class NoOnBehalfOfLocationIDGroup : public FIX::Group
{
  public:
    NoOnBehalfOfLocationIDGroup()
        : FIX::Group(TAG::NoOnBehalfOfLocationID, TAG::LastHostMessageTime,
                     FIX::message_order(TAG::LastHostMessageTime, 0))
    {
    }
    FIELD_SET(*this, FIX42::LastHostMessageTime);
};

#undef QEL_FIX42_LEG_FIELDS
#undef QEL_FIX42_MESSAGE_CONSTRUCTORS

} // namespace FIX42
