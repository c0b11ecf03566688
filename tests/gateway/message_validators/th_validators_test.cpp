// The host-side validators: the network header they put on and check, the reason codes
// of the notifications, and the two threads' order and shutdown. Digests in the golden
// frames were computed with an independent MD5.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/message_validators/message_validators.h"
#include "gateway/message_validators/th_validators.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "support/gateway_log.h"
#include "support/hex.h"

namespace
{
using qel_test::from_hex;

message *record(const std::vector<uint8_t> &data, uint16_t tag)
{
    message *msg = message_create(static_cast<uint32_t>(data.size()), tag);
    std::copy(data.begin(), data.end(), msg->data);
    return msg;
}

std::vector<uint8_t> data_of(const message *msg)
{
    return std::vector<uint8_t>(msg->data, msg->data + msg->data_length);
}

// A heart beat (count 1, transcode 23506) framed with sequence numbers 0 and 0.
const char *const k_heart_beat_frame = "001a 0000 0000 cbd7941b3d5b25de11357e72ed5a6635 00015bd2";
// A 22-byte frame: the digest of nothing, sequence numbers 7 and 9.
const char *const k_empty_frame = "0016 0007 0009 d41d8cd98f00b204e9800998ecf8427e";
// Count 1, transcode 23000, "ABCD", sequence numbers 0x0102 and 0x0304.
const char *const k_record_frame = "001e 0102 0304 4067310df7547af8957358d4b9a883f8 000159d8 41424344";

struct queues
{
    shared_queue *out = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *notifications = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    queue *local = queue_create();
    ~queues()
    {
        for (shared_queue *sq : {out, notifications})
        {
            shared_queue_get_elements_no_wait(sq, local);
            shared_queue_destroy(sq);
        }
        ea_destroy_message_queue(local);
    }
    message *take(shared_queue *sq)
    {
        if (queue_get_count(local) == 0)
            shared_queue_get_elements_from_single_queue(sq, local, 2000);
        return static_cast<message *>(queue_remove_head(local));
    }
};
} // namespace

TEST(ThSendValidator, FramesAHeartBeatAsTwentySixBytes)
{
    queues q;
    message *msg = record(from_hex("00015bd2"), HEART_BEAT_MESSAGE);
    ASSERT_EQ(th_send_validator_process(msg, q.out, "th_send_validator_thread", nullptr), EA_SUCCESS);
    message *out = q.take(q.out);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(data_of(out), from_hex(k_heart_beat_frame));
    message_destroy(out);
}

TEST(ThSendValidator, WritesBothSequenceNumbersInNetworkOrder)
{
    queues q;
    message *msg = record(from_hex("000159d8 41424344"), NORMAL_MESSAGE);
    msg->network_sequence_number = 0x0102;
    msg->last_sequence_number = 0x0304;
    ASSERT_EQ(th_send_validator_process(msg, q.out, "th_send_validator_thread", nullptr), EA_SUCCESS);
    message *out = q.take(q.out);
    EXPECT_EQ(data_of(out), from_hex(k_record_frame));
    message_destroy(out);
}

TEST(ThSendValidator, UsesHeadRoomWithoutMovingTheData)
{
    queues q;
    message *msg = message_create(30, BOX_LOGON_REQUEST);
    message_ltrim(msg, 22);
    uint8_t body[] = {0x00, 0x01, 0x59, 0xd8, 'A', 'B', 'C', 'D'};
    std::copy(body, body + 8, msg->data);
    msg->network_sequence_number = 0x0102;
    msg->last_sequence_number = 0x0304;
    ASSERT_EQ(th_send_validator_process(msg, q.out, "th_send_validator_thread", nullptr), EA_SUCCESS);
    message *out = q.take(q.out);
    EXPECT_EQ(out->data, out->buffer_base);
    EXPECT_EQ(data_of(out), from_hex(k_record_frame));
    message_destroy(out);
}

TEST(ThSendValidator, TakesTheHeaderUpTo2025DataBytesOnly)
{
    queues q;
    message *fits = message_create(2025, NORMAL_MESSAGE);
    ASSERT_EQ(th_send_validator_process(fits, q.out, "th_send_validator_thread", nullptr), EA_SUCCESS);
    message *out = q.take(q.out);
    EXPECT_EQ(out->data_length, 2047);
    EXPECT_EQ(out->data[0], 0x07);
    EXPECT_EQ(out->data[1], 0xff);
    message_destroy(out);

    message *too_long = message_create(2026, NORMAL_MESSAGE);
    EXPECT_EQ(th_send_validator_process(too_long, q.out, "th_send_validator_thread", nullptr), EA_ERROR);
    EXPECT_EQ(shared_queue_is_empty(q.out), 0u);
}

TEST(ThSendValidator, PassesControlOrdersUnchangedAndRefusesOtherTags)
{
    queues q;
    for (uint16_t tag : {BOX_LOGOFF_FLUSH, DROP_HOST_CONNECTION, SESSION_RECOVERY_FLUSH,
                         SESSION_RECOVERED_FLUSH, DROP_HOST_SESSION})
    {
        message *msg = record(from_hex("0102"), tag);
        ASSERT_EQ(th_send_validator_process(msg, q.out, "th_send_validator_thread", nullptr), EA_SUCCESS)
            << tag;
        message *out = q.take(q.out);
        EXPECT_EQ(out->tag, tag);
        EXPECT_EQ(data_of(out), from_hex("0102"));
        message_destroy(out);
    }
    for (uint16_t tag : {PULL_NOTIFICATION, KOVA_MESSAGE, HOST_CONNECTION_LOST})
        EXPECT_EQ(th_send_validator_process(record({}, tag), q.out, "th_send_validator_thread", nullptr),
                  EA_ERROR)
            << tag;
}

TEST(ThReceiveValidator, StripsTheHeaderAndCopiesTheSequenceNumbers)
{
    queues q;
    message *msg = record(from_hex(k_record_frame), NORMAL_MESSAGE);
    ASSERT_EQ(
        th_receive_validator_process(msg, q.out, q.notifications, "th_receive_validator_thread", nullptr),
        EA_SUCCESS);
    message *out = q.take(q.out);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->tag, NORMAL_MESSAGE);
    EXPECT_EQ(out->network_sequence_number, 0x0102);
    EXPECT_EQ(out->last_sequence_number, 0x0304);
    EXPECT_EQ(data_of(out), from_hex("000159d8 41424344"));
    message_destroy(out);
}

TEST(ThReceiveValidator, PassesAFrameOfTheHeaderAlone)
{
    queues q;
    ASSERT_EQ(th_receive_validator_process(record(from_hex(k_empty_frame), NORMAL_MESSAGE), q.out,
                                           q.notifications, "th_receive_validator_thread", nullptr),
              EA_SUCCESS);
    message *out = q.take(q.out);
    EXPECT_EQ(out->data_length, 0);
    EXPECT_EQ(out->network_sequence_number, 7);
    EXPECT_EQ(out->last_sequence_number, 9);
    message_destroy(out);
}

TEST(ThReceiveValidator, SequenceBytesAreOutsideTheDigest)
{
    queues q;
    std::vector<uint8_t> frame = from_hex(k_record_frame);
    frame[3] = 0x55;
    frame[5] = 0x66;
    ASSERT_EQ(th_receive_validator_process(record(frame, NORMAL_MESSAGE), q.out, q.notifications,
                                           "th_receive_validator_thread", nullptr),
              EA_SUCCESS);
    message *out = q.take(q.out);
    EXPECT_EQ(out->network_sequence_number, 0x0155);
    EXPECT_EQ(out->last_sequence_number, 0x0366);
    message_destroy(out);
}

struct failure_case
{
    const char *name;
    std::vector<uint8_t> frame;
    uint16_t reason_code;
};

TEST(ThReceiveValidator, ReportsEachFailureWithItsReasonCode)
{
    std::vector<uint8_t> changed_body = from_hex(k_record_frame);
    changed_body.back() ^= 0x01;
    std::vector<uint8_t> short_frame = from_hex(k_empty_frame);
    short_frame.pop_back();
    std::vector<uint8_t> changed_digest = from_hex(k_empty_frame);
    changed_digest[21] ^= 0x80;
    const failure_case cases[] = {
        {"21 bytes", short_frame, 12013},
        {"empty", {}, 12013},
        {"last body byte changed", changed_body, 12006},
        {"digest changed", changed_digest, 12006},
    };
    for (const failure_case &c : cases)
    {
        queues q;
        message *msg = record(c.frame, NORMAL_MESSAGE);
        msg->link_index = 3;
        msg->host_network_handle = 42;
        ASSERT_EQ(
            th_receive_validator_process(msg, q.out, q.notifications, "th_receive_validator_thread", nullptr),
            EA_SUCCESS)
            << c.name;
        EXPECT_EQ(shared_queue_is_empty(q.out), 0u) << c.name;
        message *out = q.take(q.notifications);
        ASSERT_NE(out, nullptr) << c.name;
        EXPECT_EQ(out->tag, HOST_VALIDATION_FAILURE) << c.name;
        EXPECT_EQ(out->reason_code, c.reason_code) << c.name;
        EXPECT_EQ(out->link_index, 3) << c.name;
        EXPECT_EQ(out->host_network_handle, 42) << c.name;
        message_destroy(out);
    }
}

TEST(ThReceiveValidator, DropsAFrameOfBlanksSilently)
{
    queues q;
    ASSERT_EQ(th_receive_validator_process(record(std::vector<uint8_t>(40, ' '), NORMAL_MESSAGE), q.out,
                                           q.notifications, "th_receive_validator_thread", nullptr),
              EA_SUCCESS);
    EXPECT_EQ(shared_queue_is_empty(q.out), 0u);
    EXPECT_EQ(shared_queue_is_empty(q.notifications), 0u);
}

TEST(ThReceiveValidator, PassesFlushesAndRefusesOtherTags)
{
    queues q;
    for (uint16_t tag : {BOX_LOGOFF_FLUSH, SESSION_RECOVERY_FLUSH, SESSION_RECOVERED_FLUSH})
    {
        ASSERT_EQ(th_receive_validator_process(record({}, tag), q.out, q.notifications,
                                               "th_receive_validator_thread", nullptr),
                  EA_SUCCESS);
        message *out = q.take(q.out);
        EXPECT_EQ(out->tag, tag);
        message_destroy(out);
    }
    EXPECT_EQ(th_receive_validator_process(record({}, DROP_HOST_CONNECTION), q.out, q.notifications,
                                           "th_receive_validator_thread", nullptr),
              EA_ERROR);
}

TEST(ThValidatorThreads, KeepAFlushBehindTheFramesBeforeItAndStopOnTheShutdownFlag)
{
    shared_queue *in = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *out = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    ea_flag shutdown{0};
    ea_flag day{0};
    th_send_validator_thread_args args{in, out, 10, &shutdown, &day, nullptr};
    queue *batch = queue_create();
    for (int i = 0; i < 3; ++i)
        queue_append(batch, record(from_hex("00015bd2"), NORMAL_MESSAGE));
    queue_append(batch, record({}, SESSION_RECOVERY_FLUSH));
    shared_queue_insert(in, batch);
    ea_thread *thread = ea_thread_create(th_send_validator_thread, &args, nullptr);
    ASSERT_NE(thread, nullptr);

    std::vector<uint16_t> tags;
    queue *got = queue_create();
    for (int attempt = 0; attempt < 200 && queue_get_count(got) < 4; ++attempt)
        shared_queue_get_elements_from_single_queue(out, got, 10);
    while (message *msg = static_cast<message *>(queue_remove_head(got)))
    {
        tags.push_back(msg->tag);
        if (msg->tag == NORMAL_MESSAGE)
        {
            EXPECT_EQ(msg->data_length, 26);
        }
        message_destroy(msg);
    }
    EXPECT_EQ(tags, (std::vector<uint16_t>{NORMAL_MESSAGE, NORMAL_MESSAGE, NORMAL_MESSAGE,
                                           SESSION_RECOVERY_FLUSH}));

    ea_flag_set(&shutdown, 1);
    ASSERT_EQ(ea_thread_join(thread, 5000, nullptr), EA_SUCCESS);
    EXPECT_EQ(thread->exit_value, EA_SHUTDOWN);
    ea_thread_close(thread);
    queue_destroy(got);
    queue_destroy(batch);
    shared_queue_destroy(in);
    shared_queue_destroy(out);
}

TEST(ThValidatorThreads, FailsOnAnUnknownTagAndSetsTheShutdownFlag)
{
    shared_queue *in = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *out = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *notifications = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    ea_flag shutdown{0};
    ea_flag day{0};
    th_receive_validator_thread_args args{in, out, notifications, 10, &shutdown, &day, nullptr};
    shared_queue_insert_single_element(in, record({}, KOVA_MESSAGE));
    ea_thread *thread = ea_thread_create(th_receive_validator_thread, &args, nullptr);
    ASSERT_EQ(ea_thread_join(thread, 5000, nullptr), EA_SUCCESS);
    EXPECT_EQ(thread->exit_value, EA_ERROR);
    EXPECT_EQ(ea_flag_get(&shutdown), 1);
    ea_thread_close(thread);
    EXPECT_EQ(th_receive_validator_thread(nullptr), static_cast<uint32_t>(EA_ERROR));
    for (shared_queue *sq : {in, out, notifications})
        shared_queue_destroy(sq);
}

TEST(ThValidatorThreads, LogTheirRecordsUnderTheirRoutines)
{
    qel_test::gateway_test_loggers loggers({"th_send_validator_thread", "th_receive_validator_thread"});
    shared_queue *queues[4];
    for (shared_queue *&sq : queues)
        sq = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    ea_flag shutdown{0};
    ea_flag day{0};
    th_send_validator_thread_args send_args{queues[0], queues[1], 10,
                                            &shutdown, &day,      loggers.get("th_send_validator_thread")};
    th_receive_validator_thread_args receive_args{
        queues[2], queues[1], queues[3], 10, &shutdown, &day, loggers.get("th_receive_validator_thread")};
    for (message *msg : {record(from_hex("00015bd2"), HEART_BEAT_MESSAGE), record({}, SESSION_RECOVERY_FLUSH),
                         record({}, KOVA_MESSAGE)})
        shared_queue_insert_single_element(queues[0], msg);
    std::vector<uint8_t> spoilt = from_hex(k_record_frame);
    spoilt.back() ^= 1;
    for (message *msg : {record(from_hex(k_record_frame), NORMAL_MESSAGE),
                         record(std::vector<uint8_t>(21, 0), NORMAL_MESSAGE), record(spoilt, NORMAL_MESSAGE),
                         record(std::vector<uint8_t>(40, ' '), NORMAL_MESSAGE), record({}, BOX_LOGOFF_FLUSH),
                         record({}, KOVA_MESSAGE)})
        shared_queue_insert_single_element(queues[2], msg);
    for (auto run : {std::make_pair(th_send_validator_thread, static_cast<void *>(&send_args)),
                     std::make_pair(th_receive_validator_thread, static_cast<void *>(&receive_args))})
    {
        ea_flag_set(&shutdown, 0);
        ea_thread *thread = ea_thread_create(run.first, run.second, nullptr);
        ASSERT_EQ(ea_thread_join(thread, 5000, nullptr), EA_SUCCESS);
        EXPECT_EQ(thread->exit_value, EA_ERROR); // at the unknown tag
        ea_thread_close(thread);
    }
    qel_test::expect_lines_under(loggers.lines("th_send_validator_thread"),
                                 {"Applied checksum to the message received with network sequence number",
                                  "Received SESSION_RECOVERY_FLUSH message.",
                                  "Received message is unknown message with invalid message tag"},
                                 "th_send_validator_thread");
    qel_test::expect_lines_under(
        loggers.lines("th_receive_validator_thread"),
        {"Received message from input queue.", "Checksum verified for the received message.",
         "Length of the received message buffer [21]", "Checksum verification Failed.",
         "Sent HOST_VALIDATION_FAILURE notification", "Received blank message.",
         "Received BOX_LOGOFF_FLUSH message.",
         "Received message is unknown message with invalid message tag"},
        "th_receive_validator_thread");
    queue *rest = queue_create();
    for (shared_queue *sq : queues)
    {
        shared_queue_get_elements_no_wait(sq, rest);
        shared_queue_destroy(sq);
    }
    ea_destroy_message_queue(rest);
}
