// A console listener against the simulated console, driven step by step from the test:
// admission of one console at a time, the version check first, packet assembly from split
// writes, the length limits, new handles after a reconnect, replies to consoles that are
// gone, the drop of a console that stops reading (time moved with the tick offset), the
// drop at once of a console that closed its end while replies were still being sent, and
// the console that comes while the one before it has closed but is not yet read out.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <functional>

#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/interface_module/interface_nw_info.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "platform/core/pf_tick.h"
#include "sim/console/console_client.h"
#include "support/held_tick.h"
#include "support/test_support.h"

using namespace qel_test;
using sim_console::console_client;
using sim_console::packet;
using sim_console::receive_result;

namespace
{
class ConsoleListener : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_listener = interface_nw_info_create(1, m_port, nullptr);
        ASSERT_NE(m_listener, nullptr);
        m_input = queue_create();
        m_version = message_create(34, KOVA_MESSAGE);
        m_version->data[0] = 34; // a stand-in: the listener sends whatever it is given first
        m_version->data[20] = 0x12;
        m_version->data[21] = 0x27;
    }

    void TearDown() override
    {
        ea_destroy_message_queue(m_input);
        message_destroy(m_version);
        interface_nw_info_destroy(m_listener);
    }

    // One pass of the interface thread's listener steps.
    void pass()
    {
        uint32_t waiting = 0;
        ASSERT_NE(interface_nw_info_get_client(m_listener, &waiting, 0, nullptr), EA_ERROR);
        if (waiting > 0)
        {
            ASSERT_NE(interface_nw_info_process_incoming_clients(m_listener, 1, m_version, nullptr),
                      EA_ERROR);
        }
        ASSERT_NE(interface_nw_info_recv_mesg(m_listener, m_input, 1, 2, nullptr), EA_ERROR);
        ASSERT_NE(interface_nw_info_send_pending(m_listener, nullptr), EA_ERROR);
    }

    bool pump_until(const std::function<bool()> &condition, int passes = 500)
    {
        for (int i = 0; i < passes; ++i)
        {
            if (condition())
                return true;
            pass();
        }
        return condition();
    }

    // Connects and pumps until the listener has admitted the console and it has the version.
    void admit(console_client &client)
    {
        ASSERT_TRUE(client.connect(m_port));
        uint32_t before = m_listener->nclients;
        ASSERT_TRUE(pump_until([&] { return m_listener->nclients == before + 1; }));
        packet p;
        ASSERT_EQ(client.receive(&p, 2000), receive_result::packet);
        EXPECT_EQ(p.transcode(), 10002);
    }

    qel_test::held_tick m_held; // the send time-out moves only by the test's steps
    reserved_port m_reservation;
    uint16_t m_port = m_reservation.number();
    interface_nw_info *m_listener = nullptr;
    queue *m_input = nullptr;
    message *m_version = nullptr;
};

message *packet_record(uint16_t length, int32_t handle)
{
    message *m = message_create(length, KOVA_MESSAGE);
    m->data[0] = static_cast<uint8_t>(length);
    m->data[1] = static_cast<uint8_t>(length >> 8);
    m->workstation_network_handle = handle;
    return m;
}
} // namespace

TEST_F(ConsoleListener, AdmitsOneConsoleAndRefusesASecond)
{
    console_client first, second;
    admit(first);
    EXPECT_EQ(m_listener->client_list[0].network_handle, 1);

    ASSERT_TRUE(second.connect(m_port));
    pump_until([] { return false; }, 20);
    EXPECT_TRUE(second.wait_closed(2000));
    EXPECT_EQ(m_listener->nclients, 1u);

    // The first console is still served.
    ASSERT_TRUE(first.send_request(10001));
    ASSERT_TRUE(pump_until([&] { return queue_get_count(m_input) == 1; }));
    message *m = static_cast<message *>(queue_peek(m_input, 0));
    EXPECT_EQ(m->workstation_network_handle, 1);
    EXPECT_EQ(m->data_length, 40);
    EXPECT_EQ(m->tag, KOVA_MESSAGE);
}

// A console that closes (or resets) its connection is let go only once its packets have been
// read, one a pass. One that comes meanwhile, as a dialog that connects, sends the restart
// request and closes at once, waits for that place instead of being refused unread; a
// third that comes while it waits is refused as ever.
TEST_F(ConsoleListener, AConsoleThatComesAfterTheFirstClosedWaitsForItsPlaceAndIsRead)
{
    for (bool reset : {false, true})
    {
        SCOPED_TRACE(reset ? "the first console resets" : "the first console closes");
        console_client first, restarting, third;
        admit(first);
        const int32_t first_handle = m_listener->client_list[0].network_handle;
        const int32_t first_socket = m_listener->client_list[0].socket;
        ASSERT_TRUE(first.send_request(sim_console::TC_USER_INFORMATION_REQUEST));
        reset ? first.reset() : first.close();
        // The listener's side has seen the end before the next console comes.
        ASSERT_TRUE(wait_until(
            [&]
            {
                tcp_info info = {};
                socklen_t size = sizeof info;
                return getsockopt(first_socket, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
                       (info.tcpi_state == TCP_CLOSE_WAIT || info.tcpi_state == TCP_CLOSE);
            },
            5000));

        ASSERT_TRUE(restarting.connect(m_port));
        ASSERT_TRUE(restarting.send_request(sim_console::TC_RESTART));
        restarting.close();
        // Nothing of the first console is read before the restarting one is taken.
        uint32_t waiting = 0;
        ASSERT_TRUE(wait_until(
            [&] { return interface_nw_info_get_client(m_listener, &waiting, 0, nullptr) == EA_SUCCESS; },
            5000))
            << "the restarting console was refused";
        EXPECT_EQ(waiting, 1u);
        EXPECT_EQ(interface_nw_info_process_incoming_clients(m_listener, 1, m_version, nullptr), EA_VALID);
        EXPECT_EQ(m_listener->nclients, 1u);
        ASSERT_TRUE(third.connect(m_port));
        EXPECT_TRUE(wait_until(
            [&]
            {
                interface_nw_info_get_client(m_listener, &waiting, 0, nullptr);
                return third.wait_closed(0);
            },
            5000))
            << "a third console is refused while one waits";
        EXPECT_EQ(waiting, 1u);

        // Both requests are read, the first console's before the restart.
        ASSERT_TRUE(pump_until([&] { return queue_get_count(m_input) == 2 && m_listener->nclients == 0; }));
        message *request = static_cast<message *>(queue_remove_head(m_input));
        EXPECT_EQ(request->workstation_network_handle, first_handle);
        EXPECT_EQ(request->data[20] | request->data[21] << 8, sim_console::TC_USER_INFORMATION_REQUEST);
        message_destroy(request);
        request = static_cast<message *>(queue_remove_head(m_input));
        EXPECT_GT(request->workstation_network_handle, first_handle);
        EXPECT_EQ(request->data[20] | request->data[21] << 8, sim_console::TC_RESTART);
        message_destroy(request);
        EXPECT_EQ(queue_get_count(m_listener->waiting_sockets), 0u);
    }
}

TEST_F(ConsoleListener, LengthFieldOutsideThreeTo2047DropsTheConsole)
{
    struct case_data
    {
        uint16_t length_field;
        size_t bytes_sent;
        bool accepted;
    } cases[] = {
        {2, 2, false}, {2048, 2048, false}, {0, 2, false},      {65535, 40, false},
        {1, 2, false}, {3, 3, true},        {2047, 2047, true}, {22, 22, true},
    };
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(c.length_field);
        console_client client;
        admit(client);
        ASSERT_TRUE(client.send_bytes(sim_console::build_frame(c.length_field, c.bytes_sent, 10001)));
        if (c.accepted)
        {
            ASSERT_TRUE(pump_until([&] { return queue_get_count(m_input) == 1; }));
            message *m = static_cast<message *>(queue_remove_head(m_input));
            EXPECT_EQ(m->data_length, c.length_field);
            message_destroy(m);
            client.close();
            ASSERT_TRUE(pump_until([&] { return m_listener->nclients == 0; }));
        }
        else
        {
            ASSERT_TRUE(pump_until([&] { return m_listener->nclients == 0; }));
            EXPECT_TRUE(client.wait_closed(2000));
            EXPECT_EQ(queue_get_count(m_input), 0u);
        }
    }
}

TEST_F(ConsoleListener, PacketSplitOverManyWritesIsAssembledWhole)
{
    console_client client;
    admit(client);
    std::vector<uint8_t> request = sim_console::build_request(6500);
    request[30] = 0x7e; // a body byte, to see it arrive in place
    for (size_t i = 0; i < request.size(); ++i)
    {
        ASSERT_TRUE(client.send_bytes({request[i]}));
        pass();
        if (i + 1 < request.size())
        {
            ASSERT_EQ(queue_get_count(m_input), 0u);
        }
    }
    ASSERT_TRUE(pump_until([&] { return queue_get_count(m_input) == 1; }));
    message *m = static_cast<message *>(queue_peek(m_input, 0));
    EXPECT_EQ(std::vector<uint8_t>(m->data, m->data + m->data_length), request);
    EXPECT_EQ(m->sequence_number, 1u);
}

TEST_F(ConsoleListener, PacketsInOneWriteAreReadOnePerCall)
{
    console_client client;
    admit(client);
    std::vector<uint8_t> two = sim_console::build_request(10001);
    std::vector<uint8_t> second = sim_console::build_request(6500, 38);
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(client.send_bytes(two));
    ASSERT_TRUE(pump_until([&] { return queue_get_count(m_input) == 2; }));
    message *a = static_cast<message *>(queue_peek(m_input, 0));
    message *b = static_cast<message *>(queue_peek(m_input, 1));
    EXPECT_EQ(a->data_length, 40);
    EXPECT_EQ(b->data_length, 38);
    EXPECT_EQ(b->sequence_number, a->sequence_number + 1);
}

TEST_F(ConsoleListener, ReconnectingConsoleGetsANewHandle)
{
    console_client client;
    admit(client);
    EXPECT_EQ(m_listener->client_list[0].network_handle, 1);
    client.close();
    ASSERT_TRUE(pump_until([&] { return m_listener->nclients == 0; }));
    admit(client);
    EXPECT_EQ(m_listener->client_list[0].network_handle, 2);
}

TEST_F(ConsoleListener, ReplyToAConsoleThatIsGoneIsDropped)
{
    console_client client;
    admit(client);
    EXPECT_EQ(interface_nw_info_send_mesg(m_listener, packet_record(40, 77), nullptr), EA_NOT_FOUND);
    client.close();
    ASSERT_TRUE(pump_until([&] { return m_listener->nclients == 0; }));
    EXPECT_EQ(interface_nw_info_send_mesg(m_listener, packet_record(40, 1), nullptr), EA_NOT_FOUND);
    // Addressed to every console while none is connected: simply freed.
    EXPECT_EQ(interface_nw_info_send_mesg(m_listener, packet_record(42, INTERFACE_ALL_CLIENTS), nullptr),
              EA_SUCCESS);
}

TEST_F(ConsoleListener, RecordOfAnInvalidLengthIsNotSent)
{
    console_client client;
    admit(client);
    message *empty = message_create(0, KOVA_MESSAGE);
    empty->workstation_network_handle = 1;
    EXPECT_EQ(interface_nw_info_send_mesg(m_listener, empty, nullptr), EA_VALID);
    EXPECT_EQ(interface_nw_info_send_mesg(m_listener, packet_record(36, 1), nullptr), EA_SUCCESS);
    packet p;
    ASSERT_EQ(client.receive(&p, 2000), receive_result::packet);
    EXPECT_EQ(p.length(), 36);
    EXPECT_TRUE(client.stays_silent(50));
}

TEST_F(ConsoleListener, ConsoleThatNeverReadsIsDroppedAfterTheSendTimeOut)
{
    console_client client;
    admit(client);
    // Fill the connection until a packet is left in flight.
    int records = 0;
    while (m_listener->total_pending == 0 && records < 50000)
    {
        ASSERT_NE(interface_nw_info_send_mesg(m_listener, packet_record(2048, 1), nullptr), EA_ERROR);
        ++records;
    }
    ASSERT_GT(m_listener->total_pending, 0u);
    ASSERT_NE(interface_nw_info_send_mesg(m_listener, packet_record(2048, 1), nullptr), EA_ERROR);
    EXPECT_EQ(m_listener->total_pending, 2u); // the packet in flight and one queued

    pf_tick_advance(99 * 1000);
    EXPECT_EQ(interface_nw_info_send_pending(m_listener, nullptr), EA_VALID);
    EXPECT_EQ(m_listener->nclients, 1u);

    pf_tick_advance(2 * 1000);
    EXPECT_EQ(interface_nw_info_send_pending(m_listener, nullptr), EA_SUCCESS);
    EXPECT_EQ(m_listener->nclients, 0u);
    EXPECT_EQ(m_listener->total_pending, 0u);
    EXPECT_TRUE(client.wait_closed(5000));

    // The next console is admitted as usual.
    admit(client);
}

// The console goes away without the listener reading its close; what is sent to it then
// fails with a reset, and the first such send ends its connection, for one console and for
// every console alike.
TEST_F(ConsoleListener, ConsoleThatResetsIsDroppedAtTheFirstFailedSend)
{
    for (int32_t address : {int32_t(1), int32_t(INTERFACE_ALL_CLIENTS)})
    {
        SCOPED_TRACE(address);
        console_client client;
        admit(client);
        int32_t handle = m_listener->client_list[0].network_handle;
        client.close();
        // The first packet after the close may still be taken by the kernel; the peer
        // answers it with a reset, and a later send fails.
        int sends = 0;
        ASSERT_TRUE(wait_until(
            [&]
            {
                ++sends;
                ea_status status = interface_nw_info_send_mesg(
                    m_listener, packet_record(40, address == 1 ? handle : address), nullptr);
                EXPECT_NE(status, EA_ERROR);
                return m_listener->nclients == 0;
            },
            2000));
        EXPECT_LE(sends, 20);
        EXPECT_EQ(m_listener->total_pending, 0u);
        // The slot is free for the next console at once.
        admit(client);
        client.close();
        ASSERT_TRUE(pump_until([&] { return m_listener->nclients == 0; }));
    }
}
