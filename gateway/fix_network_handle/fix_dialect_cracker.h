// FIX42::MessageCracker for the gateway's dialect: it calls the onMessage overload of a
// message's type for every stock FIX 4.2 type and for U1 to U5. This header takes the
// place of the engine's fix42/MessageCracker.h, which knows no custom type; the two must
// not meet in one translation unit.
//
// Defaults: session messages (0 to 5, A), BusinessMessageReject (j) and the reports the
// gateway itself sends (U3, U5) are accepted and ignored; every other type, and a type
// the dialect does not know, is refused as an unsupported message type.
// Includes the engine's headers: C++14 only.
#pragma once

#ifdef FIX42_MESSAGECRACKER_H
#error "fix_dialect_cracker.h replaces the engine's fix42/MessageCracker.h; include only one of them"
#endif
#define FIX42_MESSAGECRACKER_H

#include "Exceptions.h"
#include "SessionID.h"
#include "fix42/Advertisement.h"
#include "fix42/Allocation.h"
#include "fix42/AllocationInstructionAck.h"
#include "fix42/BidRequest.h"
#include "fix42/BidResponse.h"
#include "fix42/BusinessMessageReject.h"
#include "fix42/DontKnowTrade.h"
#include "fix42/Email.h"
#include "fix42/ExecutionReport.h"
#include "fix42/Heartbeat.h"
#include "fix42/IOI.h"
#include "fix42/ListCancelRequest.h"
#include "fix42/ListExecute.h"
#include "fix42/ListStatus.h"
#include "fix42/ListStatusRequest.h"
#include "fix42/ListStrikePrice.h"
#include "fix42/Logon.h"
#include "fix42/Logout.h"
#include "fix42/MarketDataIncrementalRefresh.h"
#include "fix42/MarketDataRequest.h"
#include "fix42/MarketDataRequestReject.h"
#include "fix42/MarketDataSnapshotFullRefresh.h"
#include "fix42/MassQuote.h"
#include "fix42/NewOrderList.h"
#include "fix42/NewOrderSingle.h"
#include "fix42/News.h"
#include "fix42/OrderCancelReject.h"
#include "fix42/OrderCancelReplaceRequest.h"
#include "fix42/OrderCancelRequest.h"
#include "fix42/OrderStatusRequest.h"
#include "fix42/Quote.h"
#include "fix42/QuoteAcknowledgement.h"
#include "fix42/QuoteCancel.h"
#include "fix42/QuoteRequest.h"
#include "fix42/QuoteStatusRequest.h"
#include "fix42/Reject.h"
#include "fix42/ResendRequest.h"
#include "fix42/SecurityDefinition.h"
#include "fix42/SecurityDefinitionRequest.h"
#include "fix42/SecurityStatus.h"
#include "fix42/SecurityStatusRequest.h"
#include "fix42/SequenceReset.h"
#include "fix42/SettlementInstructions.h"
#include "fix42/TestRequest.h"
#include "fix42/TradingSessionStatus.h"
#include "fix42/TradingSessionStatusRequest.h"
#include "gateway/fix_network_handle/fix_dialect.h"

// Every type the cracker knows, in the order in which it tests them: MsgType, class,
// and what the default handler does (ACCEPT: nothing; REFUSE: unsupported type).
#define QEL_FIX42_DIALECT_TYPES(X)                                                                           \
    X("0", Heartbeat, ACCEPT)                                                                                \
    X("A", Logon, ACCEPT)                                                                                    \
    X("1", TestRequest, ACCEPT)                                                                              \
    X("2", ResendRequest, ACCEPT)                                                                            \
    X("3", Reject, ACCEPT)                                                                                   \
    X("4", SequenceReset, ACCEPT)                                                                            \
    X("5", Logout, ACCEPT)                                                                                   \
    X("7", Advertisement, REFUSE)                                                                            \
    X("6", IOI, REFUSE)                                                                                      \
    X("B", News, REFUSE)                                                                                     \
    X("C", Email, REFUSE)                                                                                    \
    X("R", QuoteRequest, REFUSE)                                                                             \
    X("S", Quote, REFUSE)                                                                                    \
    X("i", MassQuote, REFUSE)                                                                                \
    X("Z", QuoteCancel, REFUSE)                                                                              \
    X("a", QuoteStatusRequest, REFUSE)                                                                       \
    X("b", QuoteAcknowledgement, REFUSE)                                                                     \
    X("V", MarketDataRequest, REFUSE)                                                                        \
    X("W", MarketDataSnapshotFullRefresh, REFUSE)                                                            \
    X("X", MarketDataIncrementalRefresh, REFUSE)                                                             \
    X("Y", MarketDataRequestReject, REFUSE)                                                                  \
    X("c", SecurityDefinitionRequest, REFUSE)                                                                \
    X("d", SecurityDefinition, REFUSE)                                                                       \
    X("e", SecurityStatusRequest, REFUSE)                                                                    \
    X("f", SecurityStatus, REFUSE)                                                                           \
    X("g", TradingSessionStatusRequest, REFUSE)                                                              \
    X("h", TradingSessionStatus, REFUSE)                                                                     \
    X("D", NewOrderSingle, REFUSE)                                                                           \
    X("8", ExecutionReport, REFUSE)                                                                          \
    X("Q", DontKnowTrade, REFUSE)                                                                            \
    X("G", OrderCancelReplaceRequest, REFUSE)                                                                \
    X("F", OrderCancelRequest, REFUSE)                                                                       \
    X("9", OrderCancelReject, REFUSE)                                                                        \
    X("H", OrderStatusRequest, REFUSE)                                                                       \
    X("J", Allocation, REFUSE)                                                                               \
    X("P", AllocationInstructionAck, REFUSE)                                                                 \
    X("T", SettlementInstructions, REFUSE)                                                                   \
    X("k", BidRequest, REFUSE)                                                                               \
    X("l", BidResponse, REFUSE)                                                                              \
    X("E", NewOrderList, REFUSE)                                                                             \
    X("m", ListStrikePrice, REFUSE)                                                                          \
    X("N", ListStatus, REFUSE)                                                                               \
    X("L", ListExecute, REFUSE)                                                                              \
    X("K", ListCancelRequest, REFUSE)                                                                        \
    X("M", ListStatusRequest, REFUSE)                                                                        \
    X("j", BusinessMessageReject, ACCEPT)                                                                    \
    X("U1", SpreadMultiLegSingle, REFUSE)                                                                    \
    X("U2", SpreadCancelReplaceRequest, REFUSE)                                                              \
    X("U4", PositionMaintenanceRequest, REFUSE)                                                              \
    X("U5", PositionMaintenanceReport, ACCEPT)                                                               \
    X("U3", GiveUpReport, ACCEPT)

#define QEL_FIX42_DEFAULT_ACCEPT
#define QEL_FIX42_DEFAULT_REFUSE throw FIX::UnsupportedMessageType();

namespace FIX42
{

class MessageCracker
{
  public:
    virtual ~MessageCracker() {}

#define QEL_FIX42_HANDLER(TYPE, CLASS, DEFAULT)                                                              \
    virtual void onMessage(const CLASS &, const FIX::SessionID &)                                            \
    {                                                                                                        \
        QEL_FIX42_DEFAULT_##DEFAULT                                                                          \
    }
    QEL_FIX42_DIALECT_TYPES(QEL_FIX42_HANDLER)
#undef QEL_FIX42_HANDLER

    // The message is handed on as its class: the classes add no data to FIX::Message,
    // which is how the engine's own crackers pass it too.
    void crack(const FIX::Message &message, const FIX::SessionID &sessionID)
    {
        const std::string &type = message.getHeader().getField(FIX::FIELD::MsgType);
#define QEL_FIX42_DISPATCH(TYPE, CLASS, DEFAULT)                                                             \
    if (type == TYPE)                                                                                        \
        return onMessage(static_cast<const CLASS &>(message), sessionID);
        QEL_FIX42_DIALECT_TYPES(QEL_FIX42_DISPATCH)
#undef QEL_FIX42_DISPATCH
        throw FIX::UnsupportedMessageType();
    }
};

} // namespace FIX42

#undef QEL_FIX42_DEFAULT_ACCEPT
#undef QEL_FIX42_DEFAULT_REFUSE
