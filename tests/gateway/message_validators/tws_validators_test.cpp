// The workstation-side validator threads on real shared queues: the receive validator's
// verdict and reason code for each kind of frame, control records kept in their place,
// the send validator's header and invitation frame as golden bytes, and the failures that
// stop the gateway, logged under the threads' routines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/md5.h"
#include "gateway/message_validators/message_validators.h"
#include "gateway/message_validators/tws_validators.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/connection_book.h"
#include "gateway/shared/log_fold.h"
#include "gateway/shared/log_hold.h"
#include "platform/core/pf_tick.h"
#include "support/gateway_config.h"
#include "support/gateway_log.h"
#include "support/held_tick.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace
{
using qel_test::from_hex;

std::vector<uint8_t> bytes_of(const message *msg)
{
    return std::vector<uint8_t>(msg->data, msg->data + msg->data_length);
}

// A frame from a workstation: header (length, sequence, digest of the rest) and a VRX
// record of the given size whose length field says vrx_length.
std::vector<uint8_t> frame(uint32_t sequence, uint16_t record_size, uint16_t vrx_length)
{
    std::vector<uint8_t> bytes(22 + record_size, 0x33);
    bytes[0] = static_cast<uint8_t>(bytes.size() >> 8);
    bytes[1] = static_cast<uint8_t>(bytes.size());
    for (int i = 0; i < 4; ++i)
        bytes[2 + i] = static_cast<uint8_t>(sequence >> (24 - 8 * i));
    if (record_size >= 40)
    {
        bytes[22 + 38] = static_cast<uint8_t>(vrx_length >> 8);
        bytes[22 + 39] = static_cast<uint8_t>(vrx_length);
    }
    md5_checksum(bytes.data() + 22, record_size, bytes.data() + 6, MD5_MODE_COMPUTE);
    return bytes;
}

class validators : public ::testing::Test
{
  protected:
    qel_test::held_tick held;
    void SetUp() override
    {
        config.values["LOG_FILE_PATH"] = dir.file("logs");
        std::string file = config.write(dir);
        const char *names[] = {"tws_receive_validator_thread", "tws_send_validator_thread"};
        loggers = logger_object_container_create(file.c_str(), names, 2);
        ASSERT_NE(loggers, nullptr);
        for (shared_queue *&sq : queues)
            sq = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        local = queue_create();
        receive_args = {10,
                        &shutdown,
                        queues[SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR],
                        queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION],
                        &day[0],
                        loggers->loggers[0],
                        nullptr,
                        0};
        send_args = {10,
                     5,
                     &shutdown,
                     queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR],
                     queues[SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR],
                     queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK],
                     &day[1],
                     loggers->loggers[1],
                     nullptr,
                     0};
    }

    void TearDown() override
    {
        ea_flag_set(&shutdown, 1);
        for (ea_thread *thread : threads)
        {
            if (thread == nullptr)
                continue;
            ea_thread_join(thread, 5000, nullptr);
            ea_thread_close(thread);
        }
        for (shared_queue *sq : queues)
        {
            shared_queue_get_elements_no_wait(sq, local);
            shared_queue_destroy(sq);
        }
        ea_destroy_message_queue(local);
        logger_object_container_destroy(loggers);
    }

    void run_receive() { threads[0] = ea_thread_create(tws_receive_validate_thread, &receive_args, nullptr); }
    void run_send() { threads[1] = ea_thread_create(tws_send_validate_thread, &send_args, nullptr); }

    void put(int index, message *msg)
    {
        ASSERT_EQ(shared_queue_insert_single_element(queues[index], msg), EA_SUCCESS);
    }

    message *put_bytes(int index, const std::vector<uint8_t> &bytes, uint16_t tag = NORMAL_MESSAGE)
    {
        message *msg = message_create(bytes.size(), tag);
        if (!bytes.empty())
            memcpy(msg->data, bytes.data(), bytes.size());
        msg->workstation_index = 3;
        msg->workstation_network_handle = 17;
        put(index, msg);
        return msg;
    }

    message *take(int index)
    {
        message *msg = nullptr;
        qel_test::wait_until(
            [&]
            {
                if (queue_get_count(local) == 0)
                    shared_queue_get_elements_from_single_queue(queues[index], local, 10);
                msg = static_cast<message *>(queue_remove_head(local));
                return msg != nullptr;
            },
            3000);
        return msg;
    }

    uint32_t exit_value(int i)
    {
        EXPECT_EQ(ea_thread_join(threads[i], 5000, nullptr), EA_SUCCESS);
        uint32_t value = static_cast<uint32_t>(threads[i]->exit_value);
        ea_thread_close(threads[i]);
        threads[i] = nullptr;
        return value;
    }

    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    logger_object_container *loggers = nullptr;
    ea_flag shutdown{0};
    ea_flag day[2] = {};
    shared_queue *queues[EA_SHARED_QUEUE_COUNT] = {};
    queue *local = nullptr;
    tws_receive_validate_thread_args receive_args{};
    tws_send_validate_thread_args send_args{};
    ea_thread *threads[2] = {};
};

TEST_F(validators, ReceiveVerdictForEachKindOfFrame)
{
    struct frame_case
    {
        const char *name;
        std::vector<uint8_t> bytes;
        uint16_t tag;
        uint16_t reason;
        uint16_t length_after;
        uint32_t workstation_sequence;
    };
    std::vector<uint8_t> spoilt = frame(9, 100, 100);
    spoilt.back() ^= 1;
    std::vector<uint8_t> short_frame = frame(4, 40, 40);
    short_frame.pop_back();
    short_frame[1] = 61;
    const frame_case cases[] = {
        {"61 bytes", short_frame, CLIENT_VALIDATION_FAILURE, TWS_REASON_SHORT_FRAME, 61, 0},
        {"62 bytes, VRX length 40", frame(5, 40, 40), NORMAL_MESSAGE, 0, 40, 5},
        {"VRX length one more", frame(6, 100, 101), CLIENT_VALIDATION_FAILURE, TWS_REASON_VRX_LENGTH, 100, 6},
        {"VRX length one less", frame(7, 100, 99), CLIENT_VALIDATION_FAILURE, TWS_REASON_VRX_LENGTH, 100, 7},
        {"digest mismatch", spoilt, CLIENT_VALIDATION_FAILURE, TWS_REASON_CHECKSUM, 122, 9},
        {"largest frame", frame(0x01020304, 2025, 2025), NORMAL_MESSAGE, 0, 2025, 0x01020304},
    };
    run_receive();
    for (const frame_case &c : cases)
        put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, c.bytes);
    for (const frame_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        message *out = take(SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->tag, c.tag);
        EXPECT_EQ(out->reason_code, c.reason);
        EXPECT_EQ(out->data_length, c.length_after);
        EXPECT_EQ(out->workstation_sequence_number, c.workstation_sequence);
        EXPECT_EQ(out->workstation_index, 3);
        EXPECT_EQ(out->workstation_network_handle, 17);
        if (c.tag == NORMAL_MESSAGE)
        {
            EXPECT_EQ(bytes_of(out), std::vector<uint8_t>(c.bytes.begin() + 22, c.bytes.end()));
        }
        message_destroy(out);
    }
}

TEST_F(validators, ControlRecordsKeepTheirPlaceAmongFrames)
{
    run_receive();
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, frame(1, 40, 40));
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, {}, CLIENT_DISCONNECTED);
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, frame(2, 40, 40));
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, {}, USER_LOGOFF_FLUSH);
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, {}, BOX_LOGOFF_FLUSH);
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, {}, SECONDARY_JOURNAL_DOWNLOAD_REQUEST);
    for (uint16_t tag : {NORMAL_MESSAGE, CLIENT_DISCONNECTED, NORMAL_MESSAGE, USER_LOGOFF_FLUSH,
                         BOX_LOGOFF_FLUSH, SECONDARY_JOURNAL_DOWNLOAD_REQUEST})
    {
        message *out = take(SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->tag, tag);
        message_destroy(out);
    }
}

TEST_F(validators, UnknownTagStopsTheReceiveValidator)
{
    run_receive();
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, {}, HEART_BEAT_MESSAGE);
    EXPECT_EQ(exit_value(0), static_cast<uint32_t>(EA_ERROR));
    EXPECT_EQ(ea_flag_get(&shutdown), 1);
    EXPECT_EQ(qel_test::functions_of_lines(
                  qel_test::gateway_log_lines(dir.file("logs"), "tws_receive_validator_thread"),
                  "UNKNOWN MESSAGE TAG [" + std::to_string(HEART_BEAT_MESSAGE) + "]"),
              std::vector<std::string>{"tws_receive_validate_thread"});
}

TEST_F(validators, ReceiveValidatorLogsItsFramesUnderItsRoutine)
{
    std::vector<uint8_t> spoilt = frame(9, 100, 100);
    spoilt.back() ^= 1;
    run_receive();
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, std::vector<uint8_t>(61, 0x33));
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, spoilt);
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, frame(6, 100, 101));
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, frame(5, 40, 40));
    put_bytes(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, {}, HEART_BEAT_MESSAGE);
    EXPECT_EQ(exit_value(0), static_cast<uint32_t>(EA_ERROR));
    qel_test::expect_lines_under(
        qel_test::gateway_log_lines(dir.file("logs"), "tws_receive_validator_thread"),
        {"Received NORMAL_MESSAGE message from Network Layer.", "For tws index [3] Length of the received",
         "Checksum Error for tws nw handle [17]", "Checksum Validation successful",
         "For tws index [3] Length of the message buffer [100] is less than the message length [101]"},
        "tws_receive_validate_thread");
}

// What is written about connections that ended without signing on goes through the fold:
// the first stories of a spell are written whole, the others counted, and a second later
// (the test moves the held tick count) one line under the routine says how many.
TEST_F(validators, ReceiveValidatorCountsTheLinesItLeftOutUnderItsRoutine)
{
    const uint16_t slots = 8;
    connection_book *book = connection_book_create(slots);
    receive_args.book = book;
    receive_args.slot_count = slots;
    const int connections = 3 * slots;
    for (int i = 0; i < connections; ++i)
    {
        const uint16_t slot = static_cast<uint16_t>(i % slots);
        const int32_t handle = 100 + i;
        connection_book_opened(book, slot, handle);
        connection_book_closed(book, slot, handle);
        message *gone = message_create(0, CLIENT_DISCONNECTED);
        gone->workstation_index = slot;
        gone->workstation_network_handle = handle;
        gone->reason_code = 11009;
        put(SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, gone);
    }
    run_receive();
    for (int i = 0; i < connections; ++i)
        message_destroy(take(SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION));
    auto lines = [&]
    { return qel_test::gateway_log_lines(dir.file("logs"), "tws_receive_validator_thread"); };
    auto stories = [&]
    { return qel_test::functions_of_lines(lines(), "Received CLIENT_DISCONNECTED").size(); };
    ASSERT_TRUE(qel_test::wait_until([&] { return stories() == LOG_HOLD_STORIES_AT_ONCE; }, 3000))
        << stories();
    EXPECT_TRUE(qel_test::functions_of_lines(lines(), "Left out [").empty()) << "not within the second";
    pf_tick_advance(LOG_FOLD_SECOND_MS);
    EXPECT_TRUE(qel_test::wait_until(
        [&] { return !qel_test::functions_of_lines(lines(), "Left out [").empty(); }, 3000));
    ea_flag_set(&shutdown, 1);
    EXPECT_EQ(exit_value(0), static_cast<uint32_t>(EA_SHUTDOWN));
    connection_book_destroy(book);

    const std::vector<qel_test::gateway_log_line> written = lines();
    EXPECT_EQ(stories(), static_cast<size_t>(LOG_HOLD_STORIES_AT_ONCE));
    std::vector<std::string> counts;
    for (const qel_test::gateway_log_line &line : written)
    {
        if (line.text.rfind("Left out [", 0) == 0)
            counts.push_back(line.text);
    }
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_NE(counts[0].find("] log lines and binary log records about [" +
                             std::to_string(connections - LOG_HOLD_STORIES_AT_ONCE) +
                             "] connections from IP ["),
              std::string::npos)
        << counts[0];
    qel_test::expect_lines_under(written, {"Left out [", "Received CLIENT_DISCONNECTED"},
                                 "tws_receive_validate_thread");
}

TEST_F(validators, SendValidatorLogsItsRecordsUnderItsRoutine)
{
    run_send();
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, from_hex("01020304"));
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, {}, DROP_CLIENT);
    put_bytes(SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, {}, CONNECTION_ACCEPT);
    put_bytes(SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, {}, NEW_CONNECTION_REJECT);
    put_bytes(SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, {}, HEART_BEAT_MESSAGE);
    EXPECT_EQ(exit_value(1), static_cast<uint32_t>(EA_ERROR));
    const auto lines = qel_test::gateway_log_lines(dir.file("logs"), "tws_send_validator_thread");
    for (const char *text :
         {"Received NORMAL_MESSAGE message from Session Layer.", "Checksum applied successfully.",
          "Received DROP_CLIENT message from session layer.", "Received  CONNECTION_ACCEPT message",
          "Checksum applied successfully on CONNECTION ACCEPT message.",
          "Forwarded CONNECTION_ACCEPT message to network layer", "Received NEW_CONNECTION_REJECT Message",
          "Forwarded NEW_CONNECTION_REJECT message", "UNKNOWN MESSAGE TAG:Message tag is["})
        EXPECT_EQ(qel_test::functions_of_lines(lines, text),
                  std::vector<std::string>{"tws_send_validate_thread"})
            << text;
}

TEST_F(validators, SendValidatorPutsTheHeaderOnARecord)
{
    run_send();
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, from_hex("01020304"));
    message *out = take(SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->tag, NORMAL_MESSAGE);
    EXPECT_EQ(bytes_of(out), from_hex("001a 00000001 08d6c05a21512a79a1dfeb9d2a8f262f 01020304"));
    message_destroy(out);
}

TEST_F(validators, ConnectionAcceptBecomesAFreshInvitationFrame)
{
    run_send();
    // Whatever the received record carries, none of it is used.
    message *accept = put_bytes(SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, from_hex("deadbeef"), CONNECTION_ACCEPT);
    (void)accept;
    message *out = take(SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->tag, CONNECTION_ACCEPT);
    EXPECT_EQ(bytes_of(out), from_hex("0040 00000001 53253819dbb5c6d79cb03f76bbdee27d"
                                      "00000000 00000000 0000 3a98 0000"
                                      "000000000000000000000000000000000000000000000000"
                                      "002a 0005"));
    message_destroy(out);
}

TEST_F(validators, SendValidatorPassesControlOrdersInOrder)
{
    run_send();
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, {}, USER_LOGOFF_FLUSH);
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, {}, DROP_CLIENT);
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, {}, UPDATE_LINK_INDEX);
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, {}, BOX_LOGOFF_FLUSH);
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, {}, SECONDARY_JOURNAL_DOWNLOAD_REQUEST);
    for (uint16_t tag : {USER_LOGOFF_FLUSH, DROP_CLIENT, UPDATE_LINK_INDEX, BOX_LOGOFF_FLUSH,
                         SECONDARY_JOURNAL_DOWNLOAD_REQUEST})
    {
        message *out = take(SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->tag, tag);
        EXPECT_EQ(out->data_length, 0);
        message_destroy(out);
    }
    put_bytes(SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, {}, NEW_CONNECTION_REJECT);
    message *out = take(SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->tag, NEW_CONNECTION_REJECT);
    message_destroy(out);
}

TEST_F(validators, RecordOf2025BytesGetsItsHeader)
{
    run_send();
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, std::vector<uint8_t>(2025, 0x44));
    message *out = take(SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->data_length, 2047);
    EXPECT_EQ(out->data[0], 0x07);
    EXPECT_EQ(out->data[1], 0xff);
    EXPECT_EQ(md5_checksum(out->data + 22, 2025, out->data + 6, MD5_MODE_VERIFY), MD5_RESULT_MATCH);
    message_destroy(out);
}

TEST_F(validators, RecordOf2026BytesWithoutHeadRoomStopsTheGateway)
{
    run_send();
    put_bytes(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, std::vector<uint8_t>(2026, 0x44));
    EXPECT_EQ(exit_value(1), static_cast<uint32_t>(EA_ERROR));
    EXPECT_EQ(ea_flag_get(&shutdown), 1);
    EXPECT_EQ(qel_test::functions_of_lines(
                  qel_test::gateway_log_lines(dir.file("logs"), "tws_send_validator_thread"),
                  "message_lalloc retrun NULL"),
              std::vector<std::string>{"tws_send_validate_thread"});
}

TEST_F(validators, ThreadsEndWithShutdownWhenTheFlagIsSet)
{
    run_receive();
    run_send();
    ea_flag_set(&shutdown, 1);
    EXPECT_EQ(exit_value(0), static_cast<uint32_t>(EA_SHUTDOWN));
    EXPECT_EQ(exit_value(1), static_cast<uint32_t>(EA_SHUTDOWN));
}
} // namespace
