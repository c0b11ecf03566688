// Helpers of the suites of FIX requests: a client of the application taken through the
// whole exchange logon to the ready state (the test plays the user session thread and the
// box communication thread through the queues), requests built field by field with their
// repeating groups, the BusinessMessageReject that answers a request, and records as hex
// for golden comparisons. C++14, like the engine's headers.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fix42/OrderCancelReplaceRequest.h"
#include "fix42/OrderCancelRequest.h"
#include "gateway/fix_network_handle/fix_dialect.h"
#include "gateway/fix_network_handle/fix_front_end_test_support.h"
#include "gateway/runtime/logger.h"
#include "support/fix_text.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace fix_front_end_test
{

const uint16_t CLIENT_INDEX = 4; // slot 0 after the 4 workstation slots
const int32_t HANDLE = 1;

inline std::string hexOf(const message *m)
{
    return qel_test::to_hex(m);
}

// Hex written in groups for the reader, without its blanks.
inline std::string strip(const std::string &hex)
{
    return qel_test::hex_digits(hex);
}

inline std::string tagValue(const std::string &text, int tag)
{
    return qel_test::fix_has_field(text, tag) ? qel_test::fix_field(text, tag) : "<absent>";
}

// Bytes [offset, offset + length) of a record, as hex.
inline std::string bytesAt(const message *m, uint32_t offset, uint32_t length)
{
    return hexOf(m).substr(offset * 2, length * 2);
}

typedef std::map<int, std::string> Fields;

// The base fields with changes applied; an empty value removes the field.
inline Fields with(Fields fields, const Fields &changes)
{
    for (const auto &change : changes)
    {
        if (change.second.empty())
            fields.erase(change.first);
        else
            fields[change.first] = change.second;
    }
    return fields;
}

template <class Request> Request build(const Fields &fields)
{
    Request message;
    for (const auto &field : fields)
        message.setField(field.first, field.second);
    return message;
}

// A single-order request of type 'D', 'F' or 'G'.
inline FIX::Message request(char type, const Fields &fields)
{
    if (type == 'D')
        return build<FIX42::NewOrderSingle>(fields);
    if (type == 'F')
        return build<FIX42::OrderCancelRequest>(fields);
    return build<FIX42::OrderCancelReplaceRequest>(fields);
}

// A multi-leg request: the body, then one NoLegs entry per leg in the group's order.
template <class Request> Request withLegs(const Fields &body, const std::vector<Fields> &legs)
{
    Request message = build<Request>(body);
    for (const Fields &leg : legs)
    {
        typename Request::NoLegs entry;
        for (const auto &field : leg)
            entry.setField(field.first, field.second);
        message.addGroup(entry);
    }
    return message;
}

// The acceptor's side of the client's session.
const FIX::SessionID ACCEPTOR_SESSION("FIX.4.2", GATEWAY_COMP_ID, CLIENT_COMP_ID);

// The side of the gateway and a client that has gone through the whole exchange logon.
struct ReadyClient
{
    explicit ReadyClient(logger_object *logger = nullptr)
        : a(side, 4, true, "CONTRACT_EXPIRY_OFFSET=15:30:00\n", CLIENT_COMP_ID, "", logger),
          sender(side, a.app), client(a.port)
    {
    }

    // Logon, admission, sign-on, system information; `streams` journal streams.
    void logOn(uint8_t streams)
    {
        client.start();
        Record incoming(side.take(side.toBoxComm()));
        ASSERT_NE(incoming, nullptr);
        put(side.fromBoxComm(), message_create(0, CONNECTION_ACCEPT));
        Record signOn(side.take(side.toUserSession()));
        ASSERT_NE(signOn, nullptr);
        message *response = zeroReply(214, 2301, 0, CLIENT_INDEX, HANDLE);
        put_u32_be(response->data, 0, 1001);
        put(side.fromUserSession(), response);
        Record systemInfo(side.take(side.toUserSession()));
        ASSERT_NE(systemInfo, nullptr);
        message *reply = zeroReply(44, 1601, 0, CLIENT_INDEX, HANDLE);
        put_u32_be(reply->data, 0, 1001);
        reply->data[8] = streams;
        put(side.fromUserSession(), reply);
        ASSERT_TRUE(client.waitFor("A"));
    }

    // The system information request with one time per stream.
    void askForJournal(int streams)
    {
        FIX42::TradingSessionStatusRequest status(FIX::TradSesReqID("1"), FIX::SubscriptionRequestType('0'));
        status.setField(FIX::IntField(6015, streams));
        for (int i = 0; i < streams; ++i)
        {
            FIX::Group entry(6015, 6001, FIX::message_order(6001, 0));
            entry.setField(FIX::StringField(6001, "20261209-03:30:00"));
            status.addGroup(entry);
        }
        client.send(status);
    }

    // The exchange's link for the user: from here the session's allowance is renewed.
    void assignLink()
    {
        message *update = message_create(0, UPDATE_LINK_INDEX);
        update->user_type = 1;
        update->link_index = 0;
        update->workstation_index = CLIENT_INDEX;
        update->workstation_network_handle = HANDLE;
        put(side.fromUserSession(), update);
        ASSERT_TRUE(fix_test::waitUntil([&] { return a.app->fixNwInfoSlotSnapshot(0).link_index == 0; }));
    }

    void logOnReady()
    {
        logOn(0);
        askForJournal(0);
        ASSERT_TRUE(client.waitFor("h"));
        assignLink();
    }

    // Sends the request; its MsgSeqNum, which the reject names.
    int send(FIX::Message message)
    {
        client.send(message);
        return std::stoi(message.getHeader().getField(FIX::FIELD::MsgSeqNum));
    }
    int send(char type, const Fields &fields) { return send(request(type, fields)); }

    // The BusinessMessageReject that names the request, or an empty text.
    std::string rejectOf(int seqNum)
    {
        std::string found;
        fix_test::waitUntil(
            [&]
            {
                for (const auto &text : client.application.received())
                    if (tagValue(text, 35) == "j" && tagValue(text, 45) == std::to_string(seqNum))
                        found = text;
                return !found.empty();
            },
            5000);
        return found;
    }

    GatewaySide side;
    Application a;
    SendThread sender;
    Client client;
};

// The gateway's log of the FIX receive thread in a temporary folder, at the level that
// writes every line of the request handlers, and its text lines read back.
struct HandlerLog
{
    HandlerLog()
    {
        folder.write("log.cfg", "LOG_FILE_PATH=" + folder.path() + "\nSYSTEM_LOGGING_LEVEL=ACTIVITY\n");
        const char *names[] = {"fix_network_handler_recv_thread"};
        loggers = logger_object_container_create(folder.file("log.cfg").c_str(), names, 1);
    }
    ~HandlerLog() { logger_object_container_destroy(loggers); }
    HandlerLog(const HandlerLog &) = delete;
    HandlerLog &operator=(const HandlerLog &) = delete;

    logger_object *logger() { return loggers == nullptr ? nullptr : loggers->loggers[0]; }

    // Whether a line holds the text, then the function and the file that logged it.
    bool hasLine(const std::string &text, const std::string &function, const std::string &file) const
    {
        const std::string wanted = "|" + text + "|" + function + "|" + file + "|";
        for (const std::string &name : folder.list())
            if (name.find("_text.") != std::string::npos &&
                qel_test::read_file(folder.file(name)).find(wanted) != std::string::npos)
                return true;
        return false;
    }

    qel_test::temp_dir folder;
    logger_object_container *loggers = nullptr;
};

// A request that goes through, then the same request handed to its handler with no
// session slot: the handler's line of the record it sent (slot 0, handle 1) and its line
// of the unknown session both stand in the log as written by its onMessage in `file`.
inline void expectHandlerLines(const FIX::Message &request, const std::string &file, const std::string &sent,
                               const std::string &noSession)
{
    HandlerLog log;
    ASSERT_NE(log.logger(), nullptr);
    ReadyClient r(log.logger());
    r.logOnReady();
    r.send(request);
    Record record(r.side.take(r.side.toUserSession()));
    ASSERT_NE(record, nullptr);
    r.a.app->fixNwInfoValidClientCount();
    ASSERT_EQ(r.a.app->m_currentSessionIndex, FIX_NO_SESSION_INDEX);
    r.a.app->crack(request, ACCEPTOR_SESSION);
    // This thread stood in for the acceptor's and wrote to its logger; taking the lock
    // that the acceptor takes before it logs the session's end orders those lines after.
    r.a.app->fixNwInfoValidClientCount();
    ASSERT_TRUE(r.client.waitFor("5"));
    EXPECT_TRUE(log.hasLine(sent, "onMessage", file)) << sent;
    EXPECT_TRUE(log.hasLine(noSession, "onMessage", file)) << noSession;
}

} // namespace fix_front_end_test
