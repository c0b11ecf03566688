// The gateway's host link against the simulated exchange host, in one process: sign-on
// and connect, frames both ways, every fault the host can inject, reconnecting, the
// heart-beat and pull notices, the flushes that travel out and back, the back-off that
// spaces box logons after connections the host ended at once or connects it refused, and
// the fold of what an outage's failed connects write and raise.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "common/ea_time.h"
#include "platform/core/pf_tick.h"
#include "support/gateway_log.h"
#include "tests/sim/host_link_harness.h"

using qel_sim::bytes;
using qel_sim::frame_fault;
using qel_test::host_link_harness;

namespace
{
const int k_wait_ms = 5000;

bytes data_of(const message *msg)
{
    return bytes(msg->data, msg->data + msg->data_length);
}

// A host reply: one generic record of 60 bytes.
bytes reply(uint8_t fill)
{
    return host_link_harness::packet(2301, 60, fill);
}
} // namespace

TEST(HostLink, TheSignOnOpensTheLinkAndIsItsFirstFrame)
{
    host_link_harness h;
    int32_t handle = h.logon();
    ASSERT_GE(handle, 1);
    ASSERT_TRUE(h.host.wait_for_frames(1, k_wait_ms));
    std::vector<qel_sim::host_frame> frames = h.host.frames();
    EXPECT_EQ(h.host.connections_accepted(), 1u);
    EXPECT_EQ(frames[0].body(), host_link_harness::box_sign_on());
    EXPECT_TRUE(frames[0].digest_ok);
    EXPECT_EQ(frames[0].sequence_number, 1);
    EXPECT_TRUE(frames[0].packet_ok);
    ASSERT_EQ(h.host.records().size(), 1u);
    EXPECT_EQ(h.host.records()[0].transcode, 23000);
    EXPECT_TRUE(h.sees(h.q17, PULL_NOTIFICATION, k_wait_ms));
    EXPECT_TRUE(qel_test::wait_until([&] { return ea_flag_get(&h.invite[0]) == 1; }, k_wait_ms));
}

TEST(HostLink, FramesToTheHostKeepTheirOrderDigestsAndSequenceNumbers)
{
    host_link_harness h;
    int32_t handle = h.logon();
    for (uint8_t i = 0; i < 30; ++i)
        h.put(h.q8, h.record(host_link_harness::packet(2000, 40 + i, i), NORMAL_MESSAGE, handle));
    ASSERT_TRUE(h.host.wait_for_frames(31, k_wait_ms));
    std::vector<qel_sim::host_frame> frames = h.host.frames();
    for (size_t i = 1; i < frames.size(); ++i)
    {
        EXPECT_TRUE(frames[i].digest_ok) << i;
        EXPECT_TRUE(frames[i].sequence_ok) << i;
        EXPECT_EQ(frames[i].frame.size(), 22 + 2 + 40 + (i - 1)) << i;
    }
    EXPECT_TRUE(h.host.errors().empty());
}

TEST(HostLink, AFrameFromTheHostReachesTheSessionLayerWithItsSequenceNumbers)
{
    host_link_harness h;
    int32_t handle = h.logon();
    ASSERT_TRUE(h.host.wait_for_frames(1, k_wait_ms));
    ASSERT_TRUE(h.host.send_body(reply(7)));
    message *msg = h.wait_for(h.q13, NORMAL_MESSAGE);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(data_of(msg), reply(7));
    EXPECT_EQ(msg->network_sequence_number, 1);
    EXPECT_EQ(msg->last_sequence_number, 1); // the host had received the sign-on
    EXPECT_EQ(msg->host_network_handle, handle);
    EXPECT_EQ(msg->link_index, 0);
    message_destroy(msg);
}

TEST(HostLink, OneByteWritesAreReassembled)
{
    host_link_harness h;
    h.logon();
    ASSERT_TRUE(h.host.wait_for_connections(1, k_wait_ms));
    h.host.set_write_mode(qel_sim::write_mode::one_byte);
    ASSERT_TRUE(h.host.send_body(reply(1)));
    ASSERT_TRUE(h.host.send_body(reply(2)));
    for (uint8_t fill : {1, 2})
    {
        message *msg = h.wait_for(h.q13, NORMAL_MESSAGE);
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(data_of(msg), reply(fill));
        message_destroy(msg);
    }
}

TEST(HostLink, CoalescedFramesArriveOneByOneInOrder)
{
    host_link_harness h;
    h.logon();
    ASSERT_TRUE(h.host.wait_for_connections(1, k_wait_ms));
    ASSERT_TRUE(h.host.send_coalesced({reply(1), reply(2), reply(3), bytes()}));
    for (uint16_t sequence = 1; sequence <= 4; ++sequence)
    {
        message *msg = h.wait_for(h.q13, NORMAL_MESSAGE);
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(msg->network_sequence_number, sequence);
        EXPECT_EQ(msg->data_length, sequence == 4 ? 0 : reply(1).size());
        message_destroy(msg);
    }
}

struct validation_case
{
    frame_fault fault;
    uint16_t reason_code;
};

TEST(HostLink, AFrameThatFailsValidationIsReportedAndTheLinkStays)
{
    for (validation_case c : {validation_case{frame_fault::wrong_digest, 12006},
                              validation_case{frame_fault::short_frame, 12013}})
    {
        host_link_harness h;
        int32_t handle = h.logon();
        ASSERT_TRUE(h.host.wait_for_connections(1, k_wait_ms));
        ASSERT_TRUE(h.host.send_body(reply(1), c.fault));
        message *failure = h.wait_for(h.q14, HOST_VALIDATION_FAILURE);
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(failure->reason_code, c.reason_code);
        EXPECT_EQ(failure->host_network_handle, handle);
        EXPECT_EQ(failure->link_index, 0);
        message_destroy(failure);
        ASSERT_TRUE(h.host.send_body(reply(2)));
        message *next = h.wait_for(h.q13, NORMAL_MESSAGE);
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(data_of(next), reply(2));
        message_destroy(next);
    }
}

TEST(HostLink, SequenceGapsAndDuplicatesPassToTheSessionLayerAsTheyCame)
{
    host_link_harness h;
    h.logon();
    ASSERT_TRUE(h.host.wait_for_connections(1, k_wait_ms));
    ASSERT_TRUE(h.host.send_body(reply(1)));
    ASSERT_TRUE(h.host.send_body(reply(2), frame_fault::sequence_gap));
    ASSERT_TRUE(h.host.send_body(reply(3), frame_fault::sequence_duplicate));
    std::vector<uint16_t> numbers;
    for (int i = 0; i < 3; ++i)
    {
        message *msg = h.wait_for(h.q13, NORMAL_MESSAGE);
        ASSERT_NE(msg, nullptr);
        numbers.push_back(msg->network_sequence_number);
        message_destroy(msg);
    }
    EXPECT_EQ(numbers, (std::vector<uint16_t>{1, 3, 3}));
}

TEST(HostLink, ABadLengthEndsTheConnectionWith12004)
{
    host_link_harness h;
    int32_t handle = h.logon();
    ASSERT_TRUE(h.host.wait_for_connections(1, k_wait_ms));
    ASSERT_TRUE(h.host.send_body(reply(1), frame_fault::bad_length));
    message *lost = h.wait_for(h.q14, HOST_CONNECTION_LOST);
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(lost->reason_code, 12004);
    EXPECT_EQ(lost->host_network_handle, handle);
    message_destroy(lost);
    EXPECT_TRUE(h.host.wait_for_peer_close(1, k_wait_ms));
}

TEST(HostLink, ADropBeforeOrInsideAFrameIsReportedWith12008)
{
    for (bool mid_frame : {false, true})
    {
        host_link_harness h;
        int32_t handle = h.logon();
        ASSERT_TRUE(h.host.wait_for_frames(1, k_wait_ms));
        ASSERT_TRUE(mid_frame ? h.host.drop_mid_frame(reply(1)) : h.host.drop_connection());
        message *lost = h.wait_for(h.q14, HOST_CONNECTION_LOST);
        ASSERT_NE(lost, nullptr);
        EXPECT_EQ(lost->reason_code, 12008);
        EXPECT_EQ(lost->host_network_handle, handle);
        message_destroy(lost);
        EXPECT_FALSE(h.sees(h.q13, NORMAL_MESSAGE, 100)) << "half a frame is never delivered";
    }
}

TEST(HostLink, ARefusedConnectionIsReported)
{
    host_link_harness h;
    h.host.refuse_connections(true);
    h.put(h.q8, h.record(host_link_harness::box_sign_on(), BOX_LOGON_REQUEST, -1));
    // Refused at once, or when the platform reports the outcome of the connect.
    bool reported = false;
    for (int waited = 0; waited < k_wait_ms && !reported; waited += 20)
    {
        if (message *failed = h.wait_for(h.q14, HOST_CONNECTION_FAILED, 10))
        {
            EXPECT_EQ(failed->reason_code, 12009);
            message_destroy(failed);
            reported = true;
        }
        else if (message *lost = h.wait_for(h.q14, HOST_CONNECTION_LOST, 10))
        {
            EXPECT_EQ(lost->reason_code, 12009);
            message_destroy(lost);
            reported = true;
        }
    }
    EXPECT_TRUE(reported);
}

TEST(HostLink, ASignOnAfterADropReconnectsWithANewHandle)
{
    host_link_harness h;
    int32_t first = h.logon();
    ASSERT_TRUE(h.host.wait_for_frames(1, k_wait_ms));
    ASSERT_TRUE(h.host.drop_connection());
    ASSERT_TRUE(h.sees(h.q14, HOST_CONNECTION_LOST, k_wait_ms));
    int32_t second = h.logon(BOX_RELOGON_REQUEST);
    ASSERT_GE(second, 1);
    EXPECT_NE(second, first);
    ASSERT_TRUE(h.host.wait_for_frames(2, k_wait_ms));
    h.put(h.q8, h.record(reply(1), NORMAL_MESSAGE, first));
    h.put(h.q8, h.record(reply(2), NORMAL_MESSAGE, second));
    ASSERT_TRUE(h.host.wait_for_frames(3, k_wait_ms));
    std::vector<qel_sim::host_frame> frames = h.host.frames();
    EXPECT_EQ(frames[1].connection, 2u);
    EXPECT_EQ(frames[1].body(), host_link_harness::box_sign_on());
    EXPECT_EQ(frames[2].body(), reply(2));
    EXPECT_EQ(h.host.connections_accepted(), 2u);
}

TEST(HostLink, ASignOnOnAConnectedLinkReplacesTheConnection)
{
    host_link_harness h;
    int32_t first = h.logon();
    ASSERT_TRUE(h.host.wait_for_frames(1, k_wait_ms));
    int32_t second = h.logon();
    EXPECT_NE(second, first);
    EXPECT_TRUE(h.host.wait_for_peer_close(1, k_wait_ms));
    ASSERT_TRUE(h.host.wait_for_frames(2, k_wait_ms));
    EXPECT_EQ(h.host.frames()[1].connection, 2u);
}

TEST(HostLink, ASlowReaderStillGetsEveryFrameInOrder)
{
    host_link_harness h;
    int32_t handle = h.logon();
    ASSERT_TRUE(h.host.wait_for_frames(1, k_wait_ms));
    h.host.set_slow_reader(7, 1);
    for (uint8_t i = 0; i < 40; ++i)
        h.put(h.q8, h.record(host_link_harness::packet(2000, 50, i), NORMAL_MESSAGE, handle));
    ASSERT_TRUE(h.host.wait_for_frames(41, 20000));
    std::vector<qel_sim::host_frame> frames = h.host.frames();
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].body(), host_link_harness::packet(2000, 50, static_cast<uint8_t>(i - 1)));
    EXPECT_TRUE(h.host.errors().empty());
}

// The interval runs from the link's last write, which the pull notice that follows it in the
// same pass marks: the test moves the held tick count only once it has that notice.
TEST(HostLink, AnIdleLinkAsksForOneHeartBeatUntilOneIsWritten)
{
    host_link_harness h(std::map<std::string, std::string>{{"HEART_BEAT_TIME_INTERVAL", "2000"}});
    int32_t handle = h.logon();
    ASSERT_TRUE(h.host.wait_for_frames(1, k_wait_ms));
    message *written = h.wait_for(h.q17, PULL_NOTIFICATION);
    ASSERT_NE(written, nullptr);
    message_destroy(written);
    pf_tick_advance(2000);
    EXPECT_FALSE(h.sees(h.q18, GENERATE_HEART_BEAT_MESSAGE, 100)) << "not at the interval";
    pf_tick_advance(1);
    message *notice = h.wait_for(h.q18, GENERATE_HEART_BEAT_MESSAGE);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->host_network_handle, handle);
    message_destroy(notice);
    EXPECT_FALSE(h.sees(h.q18, GENERATE_HEART_BEAT_MESSAGE, 100));

    bytes heart_beat;
    qel_sim::put_be16(heart_beat, 1);
    qel_sim::put_be16(heart_beat, 23506);
    message *beat = h.record(heart_beat, HEART_BEAT_MESSAGE, handle);
    h.put(h.q8, beat);
    ASSERT_TRUE(h.host.wait_for_frames(2, k_wait_ms));
    EXPECT_EQ(h.host.frames()[1].sequence_number, 0);
    EXPECT_EQ(h.host.records()[1].transcode, 23506);
    written = h.wait_for(h.q17, PULL_NOTIFICATION);
    ASSERT_NE(written, nullptr);
    message_destroy(written);
    pf_tick_advance(2001);
    EXPECT_TRUE(h.sees(h.q18, GENERATE_HEART_BEAT_MESSAGE, k_wait_ms));
}

TEST(HostLink, AFlushFromTheSessionLayerComesBackBehindItsFrames)
{
    host_link_harness h;
    int32_t handle = h.logon();
    for (uint8_t i = 0; i < 3; ++i)
        h.put(h.q8, h.record(reply(i), NORMAL_MESSAGE, handle));
    h.put(h.q8, h.record({}, SESSION_RECOVERY_FLUSH, handle));
    message *back = h.wait_for(h.q14, RECVD_SESSION_RECOVERY_FLUSH);
    ASSERT_NE(back, nullptr);
    message_destroy(back);
    EXPECT_TRUE(h.host.wait_for_frames(4, k_wait_ms)) << "the frames before the flush were queued and leave";
    h.put(h.q8, h.record({}, BOX_LOGOFF_FLUSH, handle));
    EXPECT_TRUE(h.sees(h.q14, RECVD_BOX_LOGOFF_FLUSH, k_wait_ms));
}

TEST(HostLink, FlushInitiationsEnterTheInboundStream)
{
    host_link_harness h;
    int32_t handle = h.logon();
    ASSERT_TRUE(h.host.wait_for_connections(1, k_wait_ms));

    message *recovered = h.record({}, INITIATE_SESSION_RECOVERED_FLUSH, handle);
    recovered->last_sequence_number = 17;
    h.put(h.q16, recovered);
    message *flush = h.wait_for(h.q13, SESSION_RECOVERED_FLUSH);
    ASSERT_NE(flush, nullptr);
    EXPECT_EQ(flush->last_sequence_number, 17);
    message_destroy(flush);
    EXPECT_EQ(h.host.open_connections(), 1u) << "the link is left connected";

    message *logoff = h.record({}, INITIATE_BOX_LOGOFF_FLUSH, handle);
    logoff->reason_code = 12345;
    h.put(h.q16, logoff);
    message *event = h.wait_for(h.q19, KOVA_MESSAGE);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->reason_code, 12345);
    EXPECT_EQ(event->user_id, 0xFFFFFFFFu);
    EXPECT_EQ(event->data_length, 0);
    message_destroy(event);
    message *box_flush = h.wait_for(h.q13, BOX_LOGOFF_FLUSH);
    ASSERT_NE(box_flush, nullptr);
    EXPECT_EQ(box_flush->reason_code, 12345);
    message_destroy(box_flush);
    EXPECT_TRUE(h.host.wait_for_peer_close(1, k_wait_ms));

    h.logon();
    h.put(h.q16, h.record({}, INITIATE_SESSION_RECOVERY_FLUSH, -1));
    EXPECT_TRUE(h.sees(h.q13, SESSION_RECOVERY_FLUSH, k_wait_ms));
    EXPECT_TRUE(h.host.wait_for_peer_close(2, k_wait_ms));

    message *wrong_link = h.record({}, INITIATE_SESSION_RECOVERY_FLUSH, -1);
    wrong_link->link_index = 1;
    h.put(h.q16, wrong_link);
    EXPECT_FALSE(h.sees(h.q13, SESSION_RECOVERY_FLUSH, 100));
}

TEST(HostLink, DropOrdersCloseTheConnection)
{
    host_link_harness h;
    int32_t handle = h.logon();
    ASSERT_TRUE(h.host.wait_for_connections(1, k_wait_ms));
    message *drop = h.record({}, DROP_HOST_SESSION, handle);
    drop->reason_code = 4242;
    h.put(h.q8, drop);
    message *event = h.wait_for(h.q19, KOVA_MESSAGE);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->reason_code, 4242);
    message_destroy(event);
    EXPECT_TRUE(h.host.wait_for_peer_close(1, k_wait_ms));

    handle = h.logon();
    h.put(h.q8, h.record({}, DROP_HOST_CONNECTION, handle));
    EXPECT_TRUE(h.host.wait_for_peer_close(2, k_wait_ms));
    EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_LOST, 100)) << "a drop ordered by the gateway is not a loss";
}

namespace
{
// A connection that the host ends as soon as it is made: the logon's connection is
// accepted and closed by the host, and the loss reported. `connections` counts the
// connections the host accepted so far.
void end_at_once(host_link_harness &h, uint32_t &connections)
{
    ASSERT_TRUE(h.host.wait_for_connections(++connections, k_wait_ms)) << connections;
    ASSERT_TRUE(h.host.drop_connection()) << connections;
    message *lost = h.wait_for(h.q14, HOST_CONNECTION_LOST);
    ASSERT_NE(lost, nullptr) << connections;
    EXPECT_EQ(lost->reason_code, 12008);
    message_destroy(lost);
}

// The first two logons connect at once, and the host ends each connection at once: the
// back-off holds the logons from then on.
void two_ends_at_once(host_link_harness &h, uint32_t &connections)
{
    for (int i = 0; i < 2; ++i)
    {
        ASSERT_GE(h.logon(), 1) << "logon " << i << " connects at once";
        end_at_once(h, connections);
    }
}

// A box logon order that the back-off holds exactly `step` ms from now, the tick count
// being held still by the harness.
void logon_held_for(host_link_harness &h, uint32_t step)
{
    h.put(h.q8, h.record(host_link_harness::box_sign_on(), BOX_LOGON_REQUEST, -1));
    EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_INITIATED, 200)) << step;
    pf_tick_advance(step - 1);
    EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_INITIATED, 100)) << step;
    pf_tick_advance(1);
    EXPECT_TRUE(h.sees(h.q14, HOST_CONNECTION_INITIATED, k_wait_ms)) << step;
}

// A connect order that the host refuses, made after it was held `held_ms` (the tick count
// being held still by the harness): refused at once, or when the platform reports the outcome
// of the connect (a connect under way is reported initiated first).
void refused(host_link_harness &h, uint16_t tag = BOX_LOGON_REQUEST, uint32_t held_ms = 0)
{
    h.put(h.q8, h.record(host_link_harness::box_sign_on(), tag, -1));
    if (held_ms > 0)
    {
        EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_INITIATED, 200));
        EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_FAILED, 0));
        pf_tick_advance(held_ms - 1);
        EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_INITIATED, 100));
        pf_tick_advance(1);
    }
    message *failed = nullptr;
    for (int waited = 0; waited < k_wait_ms && failed == nullptr; waited += 20)
    {
        failed = h.wait_for(h.q14, HOST_CONNECTION_FAILED, 10);
        if (failed == nullptr)
            failed = h.wait_for(h.q14, HOST_CONNECTION_LOST, 10);
    }
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->reason_code, 12009);
    message_destroy(failed);
    h.sees(h.q14, HOST_CONNECTION_INITIATED, 0);
}

// The session's drop that box communication orders after a failed connect.
void drop_after_failed_connect(host_link_harness &h)
{
    message *drop = h.record({}, DROP_HOST_SESSION, -1);
    drop->reason_code = 12009;
    h.put(h.q8, drop);
}
} // namespace

// The tick count stands still but for the test's steps, so every connection ends at once
// unless the test moves the ticks while it is up.
TEST(HostLink, LogonsAfterConnectionsTheHostEndedAtOnceWaitOneSecondDoublingToFour)
{
    host_link_harness h;
    uint32_t connections = 0;
    ASSERT_NO_FATAL_FAILURE(two_ends_at_once(h, connections));
    for (uint32_t step : {1000u, 2000u, 4000u, 4000u})
    {
        logon_held_for(h, step);
        end_at_once(h, connections);
    }
    // Session recovery's relogons are never held, however the last connections ended.
    const int32_t relogon = h.logon(BOX_RELOGON_REQUEST);
    ASSERT_GE(relogon, 1);
    ASSERT_TRUE(h.host.wait_for_connections(++connections, k_wait_ms));
    // This connection stays up 2 s: the next logon connects at once. Its first pull notice
    // says that the network thread has seen it established.
    bool seen_connected = false;
    while (!seen_connected)
    {
        message *pull = h.wait_for(h.q17, PULL_NOTIFICATION);
        ASSERT_NE(pull, nullptr);
        seen_connected = pull->host_network_handle == relogon;
        message_destroy(pull);
    }
    pf_tick_advance(2000);
    ASSERT_TRUE(h.host.drop_connection());
    ASSERT_TRUE(h.sees(h.q14, HOST_CONNECTION_LOST, k_wait_ms));
    ASSERT_GE(h.logon(), 1);
    EXPECT_TRUE(h.host.wait_for_connections(++connections, k_wait_ms));
}

// While the host is down each refused connect holds the next logon a second from the
// refusal, never more, however many came before; a relogon is not held; and the refusals do
// not count as connections that ended at once.
TEST(HostLink, ARefusedConnectHoldsTheNextLogonASecondAndCountsAsNoEnd)
{
    host_link_harness h;
    uint32_t connections = 0;
    ASSERT_NO_FATAL_FAILURE(two_ends_at_once(h, connections));
    logon_held_for(h, 1000);
    end_at_once(h, connections); // the next logon waits 2 s from here
    pf_tick_advance(2000);
    h.host.refuse_connections(true);
    ASSERT_NO_FATAL_FAILURE(refused(h)); // the first of the outage goes at once
    for (int i = 0; i < 4; ++i)
        ASSERT_NO_FATAL_FAILURE(refused(h, BOX_LOGON_REQUEST, 1000)) << "refused connect " << i;
    ASSERT_NO_FATAL_FAILURE(refused(h, BOX_RELOGON_REQUEST)); // session recovery's own spacing
    h.host.refuse_connections(false);
    logon_held_for(h, 1000); // a second from the refusal: the three ends' step of 2 s is over
    end_at_once(h, connections);
    logon_held_for(h, 4000); // the fourth end at once in a row
}

// The failed connects of an outage on the thread's log and the console: the first one's
// story is written whole and its event 12009 goes out at once; an attempt begun within its
// spell is counted, and so are events that follow the first within a second, the count
// going out a second later as one line and as one event carrying it.
TEST(HostLink, FailedConnectsAreToldTheFirstAtOnceThenOnceASecondAsACount)
{
    host_link_harness h({}, true);
    h.host.refuse_connections(true);
    ASSERT_NO_FATAL_FAILURE(refused(h));
    for (int i = 0; i < 3; ++i)
        drop_after_failed_connect(h);
    message *event = h.wait_for(h.q19, KOVA_MESSAGE);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->reason_code, 12009);
    EXPECT_EQ(event->event_value, -1);
    message_destroy(event);
    EXPECT_FALSE(h.sees(h.q19, KOVA_MESSAGE, 200)) << "the other two are counted";
    pf_tick_advance(10);
    ASSERT_NO_FATAL_FAILURE(refused(h, BOX_LOGON_REQUEST, 990)); // begun within the spell
    event = h.wait_for(h.q19, KOVA_MESSAGE);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->reason_code, 12009);
    EXPECT_EQ(event->event_value, 2);
    EXPECT_EQ(event->link_index, 0);
    message_destroy(event);
    pf_tick_advance(1000);                           // the quiet attempt's last lines go out as a count
    h.put(h.q8, h.record({}, BOX_LOGOFF_FLUSH, -1)); // a pass after the second
    ASSERT_TRUE(h.sees(h.q14, RECVD_BOX_LOGOFF_FLUSH, k_wait_ms));
    h.stop();

    const std::vector<qel_test::gateway_log_line> lines = h.loggers->lines("th_network_handler_thread");
    EXPECT_EQ(qel_test::functions_of_lines(lines, "Connecting to IP address").size(), 1u);
    EXPECT_EQ(qel_test::functions_of_lines(lines, "Received DROP_HOST_SESSION message").size(), 3u);
    unsigned attempts = 0, left_out = 0;
    size_t count_lines = 0;
    for (const qel_test::gateway_log_line &line : lines)
    {
        unsigned n = 0, a = 0;
        if (sscanf(line.text.c_str(), "Left out [%u] log lines about [%u] attempts to connect to the host",
                   &n, &a) != 2)
            continue;
        ++count_lines;
        attempts += a;
        left_out += n;
    }
    EXPECT_GE(count_lines, 1u);
    EXPECT_EQ(attempts, 1u);
    EXPECT_GE(left_out, 5u); // its order, the connect and its failure at least
    EXPECT_EQ(
        qel_test::functions_of_lines(lines, "The KOVA_MESSAGE counts [2] events with reason code [12009]")
            .size(),
        1u);
}

// The host returns within a spell of failed connects: the count says what the quiet attempts
// before it left out, and the connect that succeeds is written whole from its first line,
// though it began quiet and waited for its back-off over the count's second. A count names
// every attempt its lines were about.
TEST(HostLink, AConnectThatSucceedsAfterAnOutageIsWrittenWholeAfterTheCount)
{
    host_link_harness h({}, true);
    h.host.refuse_connections(true);
    ASSERT_NO_FATAL_FAILURE(refused(h));                      // written whole; the spell begins
    ASSERT_NO_FATAL_FAILURE(refused(h, BOX_RELOGON_REQUEST)); // quiet: counted
    drop_after_failed_connect(h);
    ASSERT_TRUE(h.sees(h.q19, KOVA_MESSAGE, k_wait_ms)); // the first failure's event
    h.host.refuse_connections(false);
    h.put(h.q8, h.record(host_link_harness::box_sign_on(), BOX_LOGON_REQUEST, -1));
    EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_INITIATED, 200)) << "held a second from the refusal";
    pf_tick_advance(1000); // the count's second and the end of the hold, in one pass
    ASSERT_TRUE(h.sees(h.q14, HOST_CONNECTION_INITIATED, k_wait_ms));
    ASSERT_TRUE(h.host.wait_for_frames(1, k_wait_ms)) << "the sign-on is the connection's first frame";
    h.stop();

    const std::vector<qel_test::gateway_log_line> lines = h.loggers->lines("th_network_handler_thread");
    auto count_of = [&](const char *text) { return qel_test::functions_of_lines(lines, text).size(); };
    EXPECT_EQ(count_of("Received BOX_LOGON_REQUEST message for nw handle [-1]"), 2u);
    EXPECT_EQ(count_of("Received BOX_RELOGON_REQUEST message"), 0u);
    EXPECT_EQ(count_of("Connecting to IP address"), 2u);
    size_t counts = 0, count_at = 0, story_at = 0;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        unsigned n = 0, a = 0;
        if (sscanf(lines[i].text.c_str(),
                   "Left out [%u] log lines about [%u] attempts to connect to the host", &n, &a) == 2)
        {
            ++counts;
            count_at = i;
            EXPECT_EQ(a, 1u) << lines[i].text;
            EXPECT_GE(n, 3u) << "the relogon's order, connect and failure at least";
        }
        if (lines[i].text.rfind("Received BOX_LOGON_REQUEST message", 0) == 0)
            story_at = i;
    }
    EXPECT_EQ(counts, 1u);
    EXPECT_LT(count_at, story_at) << "the count, then the connect that succeeded";
    // Its story whole and in order, from its order on.
    const char *const story[] = {
        "Received BOX_LOGON_REQUEST message",        "Host connection attempt for link index [0] held back",
        "Making the held BOX_LOGON_REQUEST",         "Connecting to IP address",
        "Sending HOST_CONNECTION_INITIATED message", "Connection successful"};
    size_t at = story_at;
    for (const char *text : story)
    {
        while (at < lines.size() && lines[at].text.rfind(text, 0) != 0)
            ++at;
        EXPECT_LT(at, lines.size()) << text;
    }
}

TEST(HostLink, ADropOrderDiscardsAHeldConnectOrder)
{
    host_link_harness h;
    uint32_t connections = 0;
    ASSERT_NO_FATAL_FAILURE(two_ends_at_once(h, connections));
    h.put(h.q8, h.record(host_link_harness::box_sign_on(), BOX_LOGON_REQUEST, -1));
    EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_INITIATED, 200)); // held for the back-off
    message *drop = h.record({}, DROP_HOST_SESSION, -1);
    drop->reason_code = 12001;
    h.put(h.q8, drop);
    ASSERT_TRUE(h.sees(h.q19, KOVA_MESSAGE, k_wait_ms));
    pf_tick_advance(5000);
    EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_INITIATED, 300));
    EXPECT_EQ(h.host.connections_accepted(), connections);
}

// The records of both inputs, a held connect order among them, are logged under the
// network thread's routine (the test moves the tick count instead of sleeping).
TEST(HostLink, TheNetworkThreadLogsItsRecordsUnderItsRoutine)
{
    host_link_harness h({}, true);
    int32_t handle = h.logon();
    ASSERT_TRUE(h.host.wait_for_connections(1, k_wait_ms));
    h.put(h.q8, h.record(bytes{0x00, 0x01, 0x5b, 0xd2}, HEART_BEAT_MESSAGE, handle));
    message *elsewhere = h.record({}, DROP_HOST_CONNECTION, handle);
    elsewhere->link_index = 1;
    h.put(h.q8, elsewhere);
    h.put(h.q8, h.record({}, BOX_LOGOFF_FLUSH, handle));
    ASSERT_TRUE(h.sees(h.q14, RECVD_BOX_LOGOFF_FLUSH, k_wait_ms));
    h.put(h.q16, h.record({}, INITIATE_SESSION_RECOVERED_FLUSH, handle));
    ASSERT_TRUE(h.sees(h.q13, SESSION_RECOVERED_FLUSH, k_wait_ms));
    h.put(h.q16, h.record({}, PULL_NOTIFICATION, handle));
    message *drop = h.record({}, DROP_HOST_SESSION, handle);
    drop->reason_code = 12001;
    h.put(h.q8, drop);
    ASSERT_TRUE(h.sees(h.q19, KOVA_MESSAGE, k_wait_ms));
    // That connection ended at once; so does the next, so the one after is held for the
    // back-off, then made.
    ASSERT_GE(h.logon(), 1);
    ASSERT_TRUE(h.host.wait_for_connections(2, k_wait_ms));
    ASSERT_TRUE(h.host.drop_connection());
    ASSERT_TRUE(h.sees(h.q14, HOST_CONNECTION_LOST, k_wait_ms));
    h.put(h.q8, h.record(host_link_harness::box_sign_on(), BOX_LOGON_REQUEST, -1));
    EXPECT_FALSE(h.sees(h.q14, HOST_CONNECTION_INITIATED, 100));
    pf_tick_advance(5000);
    message *initiated = h.wait_for(h.q14, HOST_CONNECTION_INITIATED);
    ASSERT_NE(initiated, nullptr);
    handle = initiated->host_network_handle;
    message_destroy(initiated);
    message *logoff = h.record({}, INITIATE_BOX_LOGOFF_FLUSH, handle);
    logoff->reason_code = 12345;
    h.put(h.q16, logoff);
    ASSERT_TRUE(h.sees(h.q13, BOX_LOGOFF_FLUSH, k_wait_ms));
    h.stop();
    qel_test::expect_lines_under(
        h.loggers->lines("th_network_handler_thread"),
        {"Received BOX_LOGON_REQUEST message for nw handle [-1] having link index [0]",
         "Sending HOST_CONNECTION_INITIATED message to box_comm_module",
         "Received HEART_BEAT_MESSAGE for nw handle", "Invalid link_index [1]",
         "Received BOX_LOGOFF_FLUSH message for nw handle", "Sending RECVD_BOX_LOGOFF_FLUSH message",
         "Received INITIATE_SESSION_RECOVERED_FLUSH message", "Sending SESSION_RECOVERED_FLUSH message",
         "Unexpected message received. Message tag [17]", "Received DROP_HOST_SESSION message",
         "Sending KOVA_MESSAGE to Interface Thread having link index [0] and reason code [12001]",
         "Host connection attempt for link index [0] held back", "Making the held BOX_LOGON_REQUEST",
         "Received INITIATE_BOX_LOGOFF_FLUSH message", "Sending KOVA_MESSAGE message for link index [0]",
         "Sending BOX_LOGOFF_FLUSH message for nw handle"},
        "th_nw_handler_thread");
}

TEST(HostLink, TheThreadsStopOnTheShutdownFlag)
{
    host_link_harness h;
    h.logon();
    ea_flag_set(&h.shutdown, 1);
    for (ea_thread *thread : h.threads)
        ASSERT_EQ(ea_thread_join(thread, 5000, nullptr), EA_SUCCESS);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(h.exit_value(i), EA_SHUTDOWN);
}
