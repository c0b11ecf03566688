// The FIX send thread's dispatch by tag, with an application that has no client: every
// record handed to an entry point is consumed by it (the sanitizer builds catch a record
// freed twice or lost), console events carry the record's user and reason, and unknown
// tags are dropped without stopping the thread; a local queue it cannot make stops it.
#include <gtest/gtest.h>

#include "gateway/fix_network_handle/fix_front_end_test_support.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/fix_network_handle/fix_single_order_replies.h"
#include "support/gateway_log.h"

using namespace fix_front_end_test;

// queue_create, wrapped at link time for this suite (tests/CMakeLists.txt): on a thread that
// armed it, the call after `t_queues_before_failure` more fails, as when memory runs out.
static thread_local int t_queues_before_failure = -1;
extern "C" queue *__real__Z12queue_createv();
extern "C" queue *__wrap__Z12queue_createv()
{
    if (t_queues_before_failure >= 0 && t_queues_before_failure-- == 0)
        return nullptr;
    return __real__Z12queue_createv();
}

namespace
{
message *control(uint16_t tag, uint16_t clientIndex, int32_t handle, uint32_t userId = 0, uint16_t reason = 0)
{
    message *m = message_create(0, tag);
    m->workstation_index = clientIndex;
    m->workstation_network_handle = handle;
    m->user_id = userId;
    m->reason_code = reason;
    m->user_type = 1;
    return m;
}

struct Fixture
{
    Fixture() : a(side, 4), sender(side, a.app) {}
    GatewaySide side;
    Application a;
    SendThread sender;
};
} // namespace

TEST(FixSendThread, UnknownTagIsDroppedAndTheThreadGoesOn)
{
    Fixture f;
    ASSERT_NE(f.a.app, nullptr);
    put(f.side.fromUserSession(), control(INITIATE_BOX_LOGOFF_FLUSH, 4, 1));
    put(f.side.fromBoxComm(), control(DROP_HOST_CONNECTION, 0, 0));
    message *boxLogoff = control(BOX_LOGOFF_FLUSH, 0, 0);
    boxLogoff->user_type = 0;
    boxLogoff->link_index = 0;
    put(f.side.fromUserSession(), boxLogoff);
    Record forwarded(f.side.take(f.side.toUserSession()));
    ASSERT_NE(forwarded, nullptr);
    EXPECT_EQ(forwarded->tag, BOX_LOGOFF_FLUSH);
    EXPECT_EQ(forwarded->user_type, 1);
    EXPECT_EQ(f.side.take(f.side.toInterface(), 100), nullptr);
    EXPECT_EQ(f.sender.stop(), 204u);
}

TEST(FixSendThread, LogoffFlushOfAStaleHandleIsForwardedAndReported)
{
    Fixture f;
    ASSERT_NE(f.a.app, nullptr);
    put(f.side.fromUserSession(), control(USER_LOGOFF_FLUSH, 5, 9, 1001, 11007));
    Record forwarded(f.side.take(f.side.toUserSession()));
    ASSERT_NE(forwarded, nullptr);
    EXPECT_EQ(forwarded->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(forwarded->workstation_network_handle, 9);
    Record event(f.side.take(f.side.toInterface()));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->tag, KOVA_MESSAGE);
    EXPECT_EQ(event->user_id, 1001u);
    EXPECT_EQ(event->reason_code, 11007);
}

TEST(FixSendThread, DropOfAStaleHandleIsFreedAndReported)
{
    Fixture f;
    ASSERT_NE(f.a.app, nullptr);
    put(f.side.fromUserSession(), control(DROP_CLIENT, 4, 3, 1002, 11010));
    // Outside the FIX slots: dropped by the entry point as well.
    put(f.side.fromUserSession(), control(DROP_CLIENT, 2, 3, 1003, 11010));
    Record first(f.side.take(f.side.toInterface()));
    Record second(f.side.take(f.side.toInterface()));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->user_id, 1002u);
    EXPECT_EQ(second->user_id, 1003u);
    EXPECT_EQ(f.side.take(f.side.toUserSession(), 100), nullptr);
}

TEST(FixSendThread, RefusedLinkIndexUpdatesAndStrayRepliesAreConsumed)
{
    Fixture f;
    ASSERT_NE(f.a.app, nullptr);
    message *badLink = control(UPDATE_LINK_INDEX, 4, 1);
    badLink->link_index = 1; // equal to the number of links
    put(f.side.fromUserSession(), badLink);
    put(f.side.fromUserSession(), control(UPDATE_LINK_INDEX, 4, 1)); // no such session
    put(f.side.fromUserSession(), zeroReply(240, 2012, 0, 3, 1));    // a workstation's index
    put(f.side.fromUserSession(), zeroReply(240, 2012, 0, 4, 1));    // a free slot
    message *secondary = zeroReply(48, 7003, 0, 8, 1);               // beyond the table
    secondary->tag = SECONDARY_JOURNAL_DOWNLOAD_REQUEST;
    put(f.side.fromUserSession(), secondary);
    put(f.side.fromUserSession(), control(BOX_LOGOFF_FLUSH, 0, 0));
    Record forwarded(f.side.take(f.side.toUserSession()));
    ASSERT_NE(forwarded, nullptr);
    EXPECT_EQ(forwarded->tag, BOX_LOGOFF_FLUSH); // nothing else got through before it
    EXPECT_EQ(f.a.app->fixNwInfoSlotSnapshot(0).link_index, 65535u);
}

TEST(FixSendThread, BoxRejectionWithoutWaitingClientsGivesOneConsoleEvent)
{
    Fixture f;
    ASSERT_NE(f.a.app, nullptr);
    put(f.side.fromBoxComm(), control(NEW_CONNECTION_REJECT, 0, 0));
    put(f.side.fromBoxComm(), control(CONNECTION_ACCEPT, 0, 0));
    Record event(f.side.take(f.side.toInterface()));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->reason_code, 11016);
    EXPECT_EQ(event->user_id, 0xFFFFFFFFu);
    EXPECT_EQ(f.side.take(f.side.toInterface(), 100), nullptr);
    EXPECT_EQ(f.side.take(f.side.toUserSession(), 100), nullptr);
}

// A local queue it cannot make ends the thread at its start, with the shutdown flag raised
// so that the whole gateway stops, and says why under its routine.
TEST(FixSendThread, ALocalQueueItCannotMakeStopsTheGateway)
{
    qel_test::gateway_test_loggers loggers({"fix_network_handler_send_thread"});
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    fix_nw_handler_send_thread_args args = {};
    args.from_user_session = side.fromUserSession();
    args.to_box_comm = side.toBoxComm();
    args.to_interface = side.toInterface();
    args.from_box_comm = side.fromBoxComm();
    args.wait_time_ms = 10;
    args.day_flag = &side.dayFlag13;
    args.fix_nw_info = a.app;
    args.number_of_links = 1;
    args.shutdown_flag = &side.shutdown;
    args.logger = loggers.get("fix_network_handler_send_thread");
    const char *const said = "malloc failed for input local queue.";
    for (int made : {0, 1}) // the first of its two queues fails, or the second
    {
        SCOPED_TRACE(made);
        ea_flag_set(&side.shutdown, 0);
        t_queues_before_failure = made;
        EXPECT_EQ(fix_nw_handler_send_thread(&args), static_cast<uint32_t>(EA_ERROR));
        t_queues_before_failure = -1;
        EXPECT_EQ(ea_flag_get(&side.shutdown), 1);
        const std::vector<qel_test::gateway_log_line> lines =
            loggers.lines("fix_network_handler_send_thread");
        EXPECT_EQ(qel_test::functions_of_lines(lines, said).size(), static_cast<size_t>(made + 1));
        qel_test::expect_lines_under(lines, {said}, "fix_nw_handler_send_thread");
    }
}

TEST(FixSendThread, DayFlagReopensTheLogsAndShutdownEndsTheThread)
{
    Fixture f;
    ASSERT_NE(f.a.app, nullptr);
    ea_flag_set(&f.side.dayFlag13, 1);
    EXPECT_TRUE(fix_test::waitUntil([&] { return ea_flag_get(&f.side.dayFlag13) == 0; }));
    EXPECT_EQ(f.sender.stop(), 204u);
}

TEST(FixSendThread, LogsItsDispatchUnderItsRoutine)
{
    qel_test::gateway_test_loggers loggers({"fix_network_handler_send_thread"});
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    SendThread sender(side, a.app, loggers.get("fix_network_handler_send_thread"));
    put(side.fromBoxComm(), control(NEW_CONNECTION_REJECT, 0, 0));
    put(side.fromBoxComm(), control(CONNECTION_ACCEPT, 0, 0));
    put(side.fromBoxComm(), control(DROP_HOST_CONNECTION, 0, 0));
    put(side.fromUserSession(), control(USER_LOGOFF_FLUSH, 5, 9, 1001, 11007));
    put(side.fromUserSession(), control(UPDATE_LINK_INDEX, 4, 1));
    put(side.fromUserSession(), control(INITIATE_BOX_LOGOFF_FLUSH, 4, 1));
    put(side.fromUserSession(), control(BOX_LOGOFF_FLUSH, 0, 0));
    Record logoff(side.take(side.toUserSession()));
    Record flush(side.take(side.toUserSession()));
    ASSERT_NE(flush, nullptr);
    EXPECT_EQ(flush->tag, BOX_LOGOFF_FLUSH);
    EXPECT_EQ(sender.stop(), 204u);
    qel_test::expect_lines_under(loggers.lines("fix_network_handler_send_thread"),
                                 {"Received CONNECTION_ACCEPT message.",
                                  "Received NEW_CONNECTION_REJECT message.",
                                  "Sent KOVA_MESSAGE to Interface Thread with reason code [11016].",
                                  "Received USER_LOGOFF_FLUSH message for fix nw handle [9]",
                                  "Sent KOVA_MESSAGE to Interface Thread with user id [1001]",
                                  "Received UPDATE_LINK_INDEX notification", "Invalid message tag [",
                                  "Received BOX_LOGOFF_FLUSH message for link index [0]."},
                                 "fix_nw_handler_send_thread");
}

// A host's reply that finds its FIX session gone (the session ended, here a free slot)
// names the order it answers: the client never sees it until its journal brings it back.
TEST(FixSendThread, AReplyWhoseSessionHasEndedNamesItsOrder)
{
    qel_test::gateway_test_loggers loggers({"fix_network_handler_send_thread"});
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    SendThread sender(side, a.app, loggers.get("fix_network_handler_send_thread"));
    const fix_reply_kind *kind = fixReplyFindKind(2073);
    ASSERT_NE(kind, nullptr);
    message *confirmation = zeroReply(kind->length, 2073, 0, 4, 1);
    confirmation->user_id = 1001;
    put_i32_le(confirmation->data, ORDER_REPLY_CLIENT_ORDER, 4242);
    put(side.fromUserSession(), confirmation);
    put(side.fromUserSession(), control(BOX_LOGOFF_FLUSH, 0, 0));
    Record flush(side.take(side.toUserSession()));
    ASSERT_NE(flush, nullptr);
    EXPECT_EQ(sender.stop(), 204u);
    EXPECT_EQ(
        qel_test::functions_of_lines(loggers.lines("fix_network_handler_send_thread"),
                                     "Reply with transcode [2073] for user [1001] was not delivered, as its "
                                     "session had ended: message type [8] for ClOrdID [4242]")
            .size(),
        1u);
}
