// The request and response processing modules: when a packet leaves for the host, what a
// flush does to an open packet, and how a bad packet from the host loses only its own
// remaining entries.
#include <gtest/gtest.h>

#include <thread>

#include "gateway/business_processing_layer/request_data_proc_info_container.h"
#include "gateway/business_processing_layer/response_data_proc_info_container.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/shared_queue.h"
#include "record_test_support.h"
#include "support/test_support.h"

using namespace record_test;

namespace
{
bytes order_entry(uint32_t user_id)
{
    bytes b = internal_record(2000, 240, user_id);
    be16(b, 116, 1); // book type 1: travels trimmed, 110 bytes
    return b;
}

message_ptr request_record(const bytes &data, uint16_t link, uint32_t sequence)
{
    message_ptr m = message_of(data, sequence);
    m->link_index = link;
    return m;
}

message_ptr control(uint16_t tag, uint16_t link)
{
    message_ptr m(message_create(0, tag));
    m->link_index = link;
    return m;
}

struct RequestProcessing : ::testing::Test
{
    ea_flag limits[2] = {{0}, {0}};
    request_data_proc_info_container *container = nullptr;
    queue_ptr input{queue_create()};
    queue_ptr notifications{queue_create()};
    queue_ptr output{queue_create()};

    void SetUp() override { container = request_data_proc_info_container_create(2, limits, nullptr); }
    void TearDown() override { request_data_proc_info_container_destroy(container); }

    void request(message_ptr m) { ASSERT_EQ(queue_append(input.get(), m.release()), EA_SUCCESS); }
    void pull(uint16_t link)
    {
        ASSERT_EQ(queue_append(notifications.get(), control(PULL_NOTIFICATION, link).release()), EA_SUCCESS);
        ASSERT_EQ(request_data_proc_info_container_process_notifications(container, notifications.get(),
                                                                         output.get(), nullptr),
                  EA_SUCCESS);
    }
    std::vector<message_ptr> process()
    {
        EXPECT_EQ(request_data_proc_info_container_process_request_messages(container, input.get(),
                                                                            output.get(), nullptr),
                  EA_SUCCESS);
        return drain(output.get());
    }
};

uint16_t entries_of(const message_ptr &packet)
{
    return read16(packet->data, 0);
}
} // namespace

TEST_F(RequestProcessing, PacketWaitsForAPullUnlessFull)
{
    request(request_record(order_entry(11), 0, 1));
    request(request_record(order_entry(12), 0, 2));
    EXPECT_TRUE(process().empty()) << "two orders wait in the open packet";
    pull(0);
    std::vector<message_ptr> sent = drain(output.get());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(entries_of(sent[0]), 2);
    EXPECT_EQ(sent[0]->data_length, 2 + 2 * 110);
    EXPECT_EQ(sent[0]->routing_area_a[0], 1u);
    EXPECT_EQ(sent[0]->routing_area_a[1], 2u);
    EXPECT_EQ(sent[0]->link_index, 0);
}

TEST_F(RequestProcessing, PullOnAnEmptyLinkSendsTheNextOrderAlone)
{
    pull(1);
    EXPECT_TRUE(drain(output.get()).empty());
    request(request_record(order_entry(21), 1, 7));
    std::vector<message_ptr> sent = process();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(entries_of(sent[0]), 1);
    EXPECT_EQ(sent[0]->link_index, 1);
    // The flag is spent: the next order waits again.
    request(request_record(order_entry(22), 1, 8));
    EXPECT_TRUE(process().empty());
}

TEST_F(RequestProcessing, LargeRecordLeavesAloneAfterTheOpenPacket)
{
    request(request_record(order_entry(1), 0, 1));
    request(request_record(order_entry(2), 0, 2));
    request(request_record(internal_record(5000, 300, 3), 0, 3));
    std::vector<message_ptr> sent = process();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(entries_of(sent[0]), 2);
    EXPECT_EQ(entries_of(sent[1]), 1);
    EXPECT_EQ(sent[1]->data_length, 302);
    EXPECT_LT(sent[0]->sequence_number, sent[1]->sequence_number);
}

TEST_F(RequestProcessing, RateControlLimitOfOneSendsEveryOrderInItsOwnPacket)
{
    limits[0].store(1);
    for (uint32_t i = 1; i <= 3; ++i)
        request(request_record(order_entry(i), 0, i));
    std::vector<message_ptr> sent = process();
    // Each order fills the packet, so the one before it leaves when the next arrives.
    ASSERT_EQ(sent.size(), 2u);
    for (const message_ptr &packet : sent)
        EXPECT_EQ(entries_of(packet), 1);
    pull(0);
    ASSERT_EQ(drain(output.get()).size(), 1u);
}

TEST_F(RequestProcessing, FifthOrderOpensANewPacket)
{
    for (uint32_t i = 1; i <= 5; ++i)
        request(request_record(internal_record(5000, 60, i), 0, i));
    std::vector<message_ptr> sent = process();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(entries_of(sent[0]), 4);
    pull(0);
    sent = drain(output.get());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(entries_of(sent[0]), 1);
    EXPECT_EQ(sent[0]->routing_area_a[0], 5u);
}

TEST_F(RequestProcessing, BoxLogoffFlushDropsTheOpenPacketAndPassesOn)
{
    request(request_record(order_entry(1), 0, 1));
    request(control(BOX_LOGOFF_FLUSH, 0));
    request(control(BOX_LOGON_REQUEST, 0));
    request(request_record(order_entry(2), 0, 2));
    std::vector<message_ptr> sent = process();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]->tag, BOX_LOGOFF_FLUSH);
    EXPECT_EQ(sent[1]->tag, BOX_LOGON_REQUEST);
    pull(0);
    sent = drain(output.get());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->routing_area_a[0], 2u);
    // The dropped packet took a number: the counter shows the gap.
    EXPECT_EQ(sent[0]->sequence_number, 2u);
}

TEST_F(RequestProcessing, MalformedRecordsFromAWorkstationAreDroppedNotFatal)
{
    request(request_record(bytes{0x00, 0x01}, 0, 1)); // too short for a header
    bytes header_only = internal_record(5000, 40, 9);
    be16(header_only, 38, 20); // length field inside the header
    request(request_record(header_only, 0, 2));
    bytes short_order = order_entry(3);
    short_order.resize(100); // shorter than its length field
    request(request_record(short_order, 0, 3));
    request(request_record(order_entry(4), 5, 4)); // no such link
    EXPECT_TRUE(process().empty());
    pull(0);
    EXPECT_TRUE(drain(output.get()).empty());
}

namespace
{
struct ResponseProcessing : ::testing::Test
{
    response_data_proc_info_container *container = nullptr;
    queue_ptr input{queue_create()};
    queue_ptr output{queue_create()};

    void SetUp() override { container = response_data_proc_info_container_create(nullptr); }
    void TearDown() override { response_data_proc_info_container_destroy(container); }
    void receive(const bytes &packet)
    {
        ASSERT_EQ(queue_append(input.get(), message_of(packet).release()), 0);
    }
    std::vector<message_ptr> process()
    {
        EXPECT_EQ(
            response_data_proc_info_container_process_messages(container, input.get(), output.get(), nullptr),
            EA_SUCCESS);
        return drain(output.get());
    }
};
} // namespace

TEST_F(ResponseProcessing, BadCompressedEntryLosesOnlyTheRestOfItsPacket)
{
    bytes corrupt = {0xFF, 0xF0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                     0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x01, 0x02};
    receive(packet_of(3, {exchange_record(2321, 60, 101), corrupt, exchange_record(2321, 60, 103)}));
    receive(packet_of(1, {compressed_entry(exchange_record(2301, 80, 104))}));
    std::vector<message_ptr> delivered = process();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0]->user_id, 101u);
    EXPECT_EQ(delivered[1]->user_id, 104u);
    EXPECT_EQ(delivered[1]->transcode, 2301);
    EXPECT_EQ(delivered[1]->data_length, 80);
}

TEST_F(ResponseProcessing, ControlRecordsKeepTheirPlaceAndRecordsAreNumberedAcrossPackets)
{
    receive(packet_of(2, {exchange_record(2321, 50, 1), exchange_record(2321, 50, 2)}));
    ASSERT_EQ(queue_append(input.get(), message_create(0, BOX_LOGOFF_FLUSH)), 0);
    receive(packet_of(1, {exchange_record(2321, 50, 3)}));
    std::vector<message_ptr> delivered = process();
    ASSERT_EQ(delivered.size(), 4u);
    EXPECT_EQ(delivered[0]->sequence_number, 1u);
    EXPECT_EQ(delivered[1]->sequence_number, 2u);
    EXPECT_EQ(delivered[2]->tag, BOX_LOGOFF_FLUSH);
    EXPECT_EQ(delivered[3]->sequence_number, 3u);
    EXPECT_EQ(delivered[3]->user_id, 3u);
}

TEST(ProcessingThreads, RecordsTravelThroughTheThreadsAndTheyStopOnShutdown)
{
    shared_queue *queues[EA_SHARED_QUEUE_COUNT];
    for (shared_queue *&sq : queues)
        sq = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    ea_flag shutdown{0}, day{0}, limits[1] = {{0}};

    request_data_processing_thread_args request_args = {
        queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING],
        queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION],
        queues[SQ_TH_NETWORK_TO_REQUEST_PROCESSING],
        request_data_proc_info_container_create(1, limits, nullptr),
        10,
        &shutdown,
        &day,
        nullptr};
    // No host session between them: the response side reads the request side's packets.
    response_data_processing_thread_args response_args = {queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION],
                                                          queues[SQ_RESPONSE_PROCESSING_TO_USER_SESSION],
                                                          response_data_proc_info_container_create(nullptr),
                                                          10,
                                                          &shutdown,
                                                          &day,
                                                          nullptr};
    uint32_t request_exit = 0, response_exit = 0;
    std::thread request_thread([&] { request_exit = request_data_processing_thread(&request_args); });
    std::thread response_thread([&] { response_exit = response_data_processing_thread(&response_args); });

    // An order and a pull go in; the packet that the request side sends is here fed to the
    // response side, which must hand back a full record. Only the generic form round-trips
    // unchanged, so the record is a generic one.
    message_ptr record = request_record(internal_record(5000, 64, 77), 0, 1);
    ASSERT_EQ(shared_queue_insert_single_element(queues[SQ_TH_NETWORK_TO_REQUEST_PROCESSING],
                                                 control(PULL_NOTIFICATION, 0).release()),
              0);
    // Whichever of the two the thread sees first, the pull lets the record's packet leave.
    ASSERT_EQ(
        shared_queue_insert_single_element(queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING], record.release()),
        0);

    queue_ptr received{queue_create()};
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            shared_queue_get_elements_no_wait(queues[SQ_RESPONSE_PROCESSING_TO_USER_SESSION], received.get());
            return queue_get_count(received.get()) == 1;
        },
        5000));
    std::vector<message_ptr> replies = drain(received.get());
    EXPECT_EQ(replies[0]->user_id, 77u);
    EXPECT_EQ(data_of(replies[0].get()), internal_record(5000, 64, 77));

    ea_flag_set(&shutdown, 1);
    request_thread.join();
    response_thread.join();
    EXPECT_EQ(request_exit, static_cast<uint32_t>(EA_SHUTDOWN));
    EXPECT_EQ(response_exit, static_cast<uint32_t>(EA_SHUTDOWN));
    request_data_proc_info_container_destroy(request_args.container);
    response_data_proc_info_container_destroy(response_args.container);
    for (shared_queue *sq : queues)
    {
        queue_ptr rest{queue_create()};
        shared_queue_get_elements_no_wait(sq, rest.get());
        shared_queue_destroy(sq);
    }
}
