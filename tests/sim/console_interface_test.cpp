// The interface thread with real shared queue 19, both listeners on free loopback ports
// and the simulated console as the peer: version check first on both ports, replay of the
// day's events then live ones (also after the console reconnects), one console per port,
// user and box information with users logged on, requests the gateway must not answer,
// a console that breaks the framing, the day change, and the restart request (from a
// console that comes before the one before it is read out).
#include <gtest/gtest.h>

#include <fstream>

#include "gateway/interface_module/interface_info.h"
#include "gateway/interface_module/interface_nw_info.h"
#include "gateway/interface_module/interface_thread.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "sim/console/console_client.h"
#include "support/console_fixture.h"
#include "support/gateway_log.h"

using namespace qel_test;
using sim_console::console_client;
using sim_console::packet;
using sim_console::receive_result;

namespace
{
class ConsoleInterface : public ::testing::Test
{
  protected:
    explicit ConsoleInterface(uint16_t links = 1) : m_fixture(links) {}

    void SetUp() override
    {
        ASSERT_TRUE(m_fixture.ready());
        ASSERT_NE(m_fixture.create_info(), nullptr);
        m_args.interface_info_p = m_fixture.info;
        m_args.realtime = interface_nw_info_create(1, m_realtime_port, nullptr);
        m_args.interactive = interface_nw_info_create(1, m_interactive_port, nullptr);
        m_args.receive_wait_ms = 10;
        m_args.notifications = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        m_args.queue_wait_ms = 10;
        m_args.shutdown_flag = &m_shutdown;
        m_args.day_flag = &m_day;
        m_args.logger = nullptr;
        ASSERT_NE(m_args.realtime, nullptr);
        ASSERT_NE(m_args.interactive, nullptr);
        ASSERT_NE(m_args.notifications, nullptr);
    }

    void TearDown() override
    {
        stop();
        interface_nw_info_destroy(m_args.realtime);
        interface_nw_info_destroy(m_args.interactive);
        if (m_args.notifications != nullptr)
        {
            queue *left = queue_create();
            shared_queue_get_elements_no_wait(m_args.notifications, left);
            ea_destroy_message_queue(left);
            shared_queue_destroy(m_args.notifications);
        }
    }

    void start() { ASSERT_NE(m_thread = ea_thread_create(interface_thread, &m_args, nullptr), nullptr); }

    // Ends the thread (if it still runs) and gives its exit value.
    int32_t stop()
    {
        if (m_thread == nullptr)
            return m_exit_value;
        ea_flag_set(&m_shutdown, 1);
        EXPECT_EQ(ea_thread_join(m_thread, 10000, nullptr), EA_SUCCESS);
        m_exit_value = m_thread->exit_value;
        ea_thread_close(m_thread);
        m_thread = nullptr;
        return m_exit_value;
    }

    int32_t wait_for_end()
    {
        if (m_thread == nullptr)
            return m_exit_value;
        EXPECT_EQ(ea_thread_join(m_thread, 10000, nullptr), EA_SUCCESS);
        m_exit_value = m_thread->exit_value;
        ea_thread_close(m_thread);
        m_thread = nullptr;
        return m_exit_value;
    }

    void raise(uint32_t user_id, uint16_t reason, int32_t value = -1)
    {
        ASSERT_EQ(
            shared_queue_insert_single_element(m_args.notifications, console_event(user_id, reason, value)),
            EA_SUCCESS);
    }

    size_t event_log_size()
    {
        std::ifstream in(m_fixture.event_log, std::ios::binary | std::ios::ate);
        return static_cast<size_t>(in.tellg());
    }

    // Connects and expects the version check message first, as the layout gives it.
    void connect_console(console_client &client, uint16_t port)
    {
        ASSERT_TRUE(client.connect(port));
        packet p;
        ASSERT_EQ(client.receive(&p, 5000), receive_result::packet);
        EXPECT_EQ(sim_console::check_packet(p), "");
        EXPECT_EQ(without_time(p.bytes), from_hex("2200"
                                                  "000000000000000000000000000000000000"
                                                  "1227"
                                                  "00000000"
                                                  "00000000"
                                                  "baa10000"));
    }

    // Connects once the port's previous console has been let go (a console that comes too
    // early is closed at once) and expects the version check first.
    void connect_when_free(console_client &client, uint16_t port)
    {
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            ASSERT_TRUE(client.connect(port));
            packet p;
            receive_result result = client.receive(&p, 2000);
            if (result == receive_result::packet)
            {
                EXPECT_EQ(p.transcode(), sim_console::TC_VERSION_CHECK);
                return;
            }
            ASSERT_EQ(result, receive_result::closed);
        }
        FAIL() << "the port never took a new console";
    }

    // Receives `count` packets, each checked against its layout.
    std::vector<packet> receive_checked(console_client &client, size_t count)
    {
        std::vector<packet> packets = client.receive_many(count, 5000);
        EXPECT_EQ(packets.size(), count);
        for (const packet &p : packets)
            EXPECT_EQ(sim_console::check_packet(p), "") << sim_console::describe(p);
        return packets;
    }

    static std::vector<uint16_t> reasons(const std::vector<packet> &events)
    {
        std::vector<uint16_t> codes;
        for (const packet &p : events)
        {
            EXPECT_EQ(p.transcode(), sim_console::TC_KOVA_LOG_MESSAGE);
            codes.push_back(sim_console::decode_log_event(p).reason_code);
        }
        return codes;
    }

    console_fixture m_fixture;
    reserved_port m_realtime_reservation;
    reserved_port m_interactive_reservation;
    uint16_t m_realtime_port = m_realtime_reservation.number();
    uint16_t m_interactive_port = m_interactive_reservation.number();
    ea_flag m_shutdown{0};
    ea_flag m_day{0};
    interface_thread_args m_args = {};
    ea_thread *m_thread = nullptr;
    int32_t m_exit_value = -1;
};

class ConsoleInterfaceTwoLinks : public ConsoleInterface
{
  protected:
    ConsoleInterfaceTwoLinks() : ConsoleInterface(2) {}
};
} // namespace

TEST_F(ConsoleInterface, VersionCheckComesFirstOnBothPorts)
{
    start();
    console_client realtime, interactive;
    connect_console(realtime, m_realtime_port);
    connect_console(interactive, m_interactive_port);
    EXPECT_TRUE(interactive.stays_silent(100));
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(ConsoleInterface, RealtimeConsoleGetsTheDayReplayedThenLiveEventsAcrossReconnects)
{
    start();
    raise(0xFFFFFFFFu, 12010);
    raise(5001, 11018);
    ASSERT_TRUE(wait_until([&] { return event_log_size() == 2 + 2 * 42; }, 5000));

    console_client console;
    connect_console(console, m_realtime_port);
    std::vector<packet> replayed = receive_checked(console, 2);
    EXPECT_EQ(reasons(replayed), (std::vector<uint16_t>{12010, 11018}));
    EXPECT_EQ(sim_console::decode_log_event(replayed[1]).user_id, 5001u);
    EXPECT_EQ(sim_console::decode_log_event(replayed[1]).box_id, CONSOLE_FIXTURE_BOX_ID);

    raise(5001, 11005, 16388);
    std::vector<packet> live = receive_checked(console, 1);
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(sim_console::decode_log_event(live[0]).extra_info, 16388u);

    // After the console restarts it gets the whole day again, stored times unchanged.
    console.close();
    raise(0xFFFFFFFFu, 13001);
    ASSERT_TRUE(wait_until([&] { return event_log_size() == 2 + 4 * 42; }, 5000));
    console_client again;
    connect_when_free(again, m_realtime_port);
    std::vector<packet> all = receive_checked(again, 4);
    EXPECT_EQ(reasons(all), (std::vector<uint16_t>{12010, 11018, 11005, 13001}));
    EXPECT_EQ(all[0].bytes, replayed[0].bytes);
    raise(5002, 11007);
    EXPECT_EQ(reasons(receive_checked(again, 1)), std::vector<uint16_t>{11007});
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(ConsoleInterface, SecondConsoleOnAPortIsClosedAtOnce)
{
    start();
    console_client first, second, interactive, interactive_second;
    connect_console(first, m_realtime_port);
    ASSERT_TRUE(second.connect(m_realtime_port));
    EXPECT_TRUE(second.wait_closed(5000));
    connect_console(interactive, m_interactive_port);
    ASSERT_TRUE(interactive_second.connect(m_interactive_port));
    EXPECT_TRUE(interactive_second.wait_closed(5000));

    raise(5001, 11018);
    EXPECT_EQ(reasons(receive_checked(first, 1)), std::vector<uint16_t>{11018});
    ASSERT_TRUE(interactive.send_request(sim_console::TC_USER_INFORMATION_REQUEST));
    EXPECT_EQ(receive_checked(interactive, 2).size(), 2u);
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(ConsoleInterface, UserInformationShowsLoggedOnUsers)
{
    m_fixture.set_user(0, 5001, 2);
    m_fixture.set_user(2, 5002, 3);
    m_fixture.set_user(CONSOLE_FIXTURE_MAX_CLIENTS, 7001, 1);
    start();
    console_client console;
    connect_console(console, m_interactive_port);
    ASSERT_TRUE(console.send_request(sim_console::TC_USER_INFORMATION_REQUEST));
    std::vector<packet> answer = receive_checked(console, 5);
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_EQ(answer[0].transcode(), sim_console::TC_USER_INFORMATION_HEADER);
    struct expected_user
    {
        uint32_t id;
        uint16_t status;
    } users[] = {{5001, 2}, {5002, 3}, {7001, 1}};
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(answer[i + 1].transcode(), sim_console::TC_USER_INFORMATION_DATA);
        EXPECT_EQ(answer[i + 1].u32(30), users[i].id);
        EXPECT_EQ(answer[i + 1].u16(34), users[i].status);
    }
    EXPECT_EQ(answer[4].transcode(), sim_console::TC_USER_INFORMATION_RESPONSE);
    EXPECT_TRUE(console.stays_silent(50));
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(ConsoleInterfaceTwoLinks, BoxInformationGivesEachLinksStatus)
{
    m_fixture.set_box_status(0, 2);
    m_fixture.set_box_status(1, 1);
    start();
    console_client console;
    connect_console(console, m_interactive_port);
    ASSERT_TRUE(
        console.send_request(sim_console::TC_BOX_INFORMATION_REQUEST, sim_console::OLD_REQUEST_LENGTH));
    std::vector<packet> answer = receive_checked(console, 6);
    ASSERT_EQ(answer.size(), 6u);
    for (uint16_t link = 0; link < 2; ++link)
    {
        const packet &header = answer[3 * link];
        const packet &data = answer[3 * link + 1];
        const packet &response = answer[3 * link + 2];
        EXPECT_EQ(header.transcode(), sim_console::TC_BOX_INFORMATION_HEADER);
        EXPECT_EQ(header.u16(34), CONSOLE_FIXTURE_BOX_ID);
        EXPECT_EQ(header.u16(36), link);
        EXPECT_EQ(data.transcode(), sim_console::TC_BOX_INFORMATION_DATA);
        EXPECT_EQ(data.u16(30), CONSOLE_FIXTURE_BOX_ID);
        EXPECT_EQ(data.u16(32), link == 0 ? 2 : 1);
        EXPECT_EQ(response.transcode(), sim_console::TC_BOX_INFORMATION_RESPONSE);
        EXPECT_EQ(response.u16(34), CONSOLE_FIXTURE_BOX_ID);
    }
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(ConsoleInterface, UnknownTranscodesAndShortRequestsGetNoAnswer)
{
    start();
    console_client console;
    connect_console(console, m_interactive_port);
    struct case_data
    {
        const char *name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"unknown transcode", sim_console::build_request(4242)},
        {"logon sender", sim_console::build_request(1000)},
        {"10-byte request", sim_console::build_frame(10, 10, 0)},
        {"3-byte request", sim_console::build_frame(3, 3, 0)},
        {"21 bytes, transcode cut", sim_console::build_request(sim_console::TC_USER_INFORMATION_REQUEST, 21)},
    };
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(console.send_bytes(c.bytes));
        EXPECT_TRUE(console.stays_silent(100));
    }
    // The connection is still served; a request in one-byte writes is assembled and answered.
    ASSERT_TRUE(
        console.send_split(sim_console::build_request(sim_console::TC_USER_INFORMATION_REQUEST), 1, 1));
    EXPECT_EQ(receive_checked(console, 2).size(), 2u);
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(ConsoleInterface, BadLengthDropsOnlyThatConsole)
{
    start();
    console_client realtime, interactive;
    connect_console(realtime, m_realtime_port);
    connect_console(interactive, m_interactive_port);
    ASSERT_TRUE(interactive.send_bytes(sim_console::build_frame(2, 2, 0)));
    EXPECT_TRUE(interactive.wait_closed(5000));
    ASSERT_TRUE(realtime.send_bytes(sim_console::build_frame(2048, 2048, 0)));
    EXPECT_TRUE(realtime.wait_closed(5000));

    // The ports take a new console each; the thread goes on.
    console_client next;
    connect_when_free(next, m_interactive_port);
    ASSERT_TRUE(next.send_request(sim_console::TC_USER_INFORMATION_REQUEST));
    EXPECT_EQ(receive_checked(next, 2).size(), 2u);
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(ConsoleInterface, DayFlagStartsTheEventLogAnew)
{
    start();
    raise(5001, 11018);
    ASSERT_TRUE(wait_until([&] { return event_log_size() == 2 + 42; }, 5000));
    ea_flag_set(&m_day, 1);
    ASSERT_TRUE(wait_until([&] { return ea_flag_get(&m_day) == 0; }, 5000));
    EXPECT_EQ(event_log_size(), 2u);
    raise(5002, 11007);
    ASSERT_TRUE(wait_until([&] { return event_log_size() == 2 + 42; }, 5000));

    console_client console;
    connect_console(console, m_realtime_port);
    EXPECT_EQ(reasons(receive_checked(console, 1)), std::vector<uint16_t>{11007});
    EXPECT_TRUE(console.stays_silent(100));
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(ConsoleInterface, AListenerThatFailsEndsTheThreadUnderItsRoutine)
{
    gateway_test_loggers loggers({"interface_thread"});
    m_args.logger = loggers.get("interface_thread");
    // A socket that does not listen takes the realtime listener's place: its accept fails.
    ea_closesocket(m_args.realtime->listen_socket);
    m_args.realtime->listen_socket = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    ASSERT_GE(m_args.realtime->listen_socket, 0);
    start();
    EXPECT_EQ(wait_for_end(), EA_ERROR);
    EXPECT_EQ(ea_flag_get(&m_shutdown), 1);
    expect_lines_under(loggers.lines("interface_thread"), {"interface_nw_info_get_client failed"},
                       "interface_thread");
}

// The restart comes as a configuration dialog sends it: on a connection of its own, just
// after the console's previous link closed with requests the thread has not read yet (fifty,
// one a pass, none answered). The new console waits for that place and is heard.
TEST_F(ConsoleInterface, RestartRequestEndsTheThreadWithRestart)
{
    start();
    console_client before;
    connect_console(before, m_interactive_port);
    std::vector<uint8_t> unanswered;
    for (int i = 0; i < 50; ++i)
    {
        std::vector<uint8_t> request = sim_console::build_request(4242);
        unanswered.insert(unanswered.end(), request.begin(), request.end());
    }
    ASSERT_TRUE(before.send_bytes(unanswered));
    before.close();
    console_client console;
    connect_console(console, m_interactive_port);
    // The restart and a request behind it in one write: the later one is never answered.
    std::vector<uint8_t> both = sim_console::build_request(sim_console::TC_RESTART);
    std::vector<uint8_t> user = sim_console::build_request(sim_console::TC_USER_INFORMATION_REQUEST);
    both.insert(both.end(), user.begin(), user.end());
    ASSERT_TRUE(console.send_bytes(both));
    EXPECT_EQ(wait_for_end(), EA_RESTART);
    EXPECT_EQ(ea_flag_get(&m_shutdown), 1);
    EXPECT_TRUE(console.stays_silent(50));
}
