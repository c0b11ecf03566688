// The workstation server's own rules, driven directly: configuration defaults, network
// handles with their wrap-around, records for slots that are gone or reused, binding to a
// link, which flags hold an invitation back, a listener that binds again at once,
// connections that hold a slot without signing on or with a frame never finished, and
// which connection gives its slot to a new one when the table is full.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/tws_network_handle/tcp_nw_info.h"
#include "platform/core/pf_tick.h"
#include "support/gateway_config.h"
#include "support/gateway_log.h"
#include "support/held_tick.h"
#include "support/test_support.h"

namespace
{
class server_fixture : public ::testing::Test
{
  protected:
    tcp_nw_info *create(const std::map<std::string, std::string> &overrides = {},
                        const std::vector<std::string> &omitted = {}, uint16_t slots = 4)
    {
        for (const auto &entry : overrides)
            config.values[entry.first] = entry.second;
        for (const std::string &key : omitted)
            config.omitted.insert(key);
        config.values["LOG_FILE_PATH"] = dir.file("logs");
        file = config.write(dir);
        if (loggers == nullptr)
        {
            const char *names[] = {"tws_network_handler_thread"};
            loggers = logger_object_container_create(file.c_str(), names, 1);
        }
        for (int i = 0; i < 2; ++i)
        {
            ea_flag_set(&allow[i], 1);
            ea_flag_set(&overflow[i], 0);
            ea_flag_set(&recovery[i], 0);
        }
        for (ea_flag &flag : logoff)
            ea_flag_set(&flag, 0);
        return tcp_nw_info_create(file.c_str(), slots, allow, overflow, &abnormal, logoff, recovery,
                                  logger());
    }

    void TearDown() override
    {
        for (int32_t client : clients)
            ea_closesocket(client);
        tcp_nw_info_destroy(server);
        if (loggers != nullptr)
            logger_object_container_destroy(loggers);
    }

    logger_object *logger() { return loggers != nullptr ? loggers->loggers[0] : nullptr; }

    // Marks slot i in use with the given handle, as admission would.
    void use_slot(uint16_t i, int32_t handle, int32_t socket = 1000)
    {
        tcp_nw_handle *slot = &server->tcp_nw_handle_list[i];
        slot->network_handle = handle;
        slot->client_sockfd = socket;
        slot->link_index = 0;
        server->valid_client_list[server->in_use_count++] = slot;
    }

    // Frees the slots marked by use_slot without closing their made-up sockets.
    void release_slots()
    {
        for (uint16_t i = 0; i < server->in_use_count; ++i)
            server->valid_client_list[i]->client_sockfd = -1;
    }

    // A connection from the given local address, accepted by the server; the server's
    // verdict (EA_SUCCESS: waits for admission, TCP_NW_INFO_REFUSED: closed) in *verdict.
    int32_t connect_from(const char *from, ea_status *verdict)
    {
        int32_t client = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        EXPECT_EQ(ea_bind(client, from, 0), 0);
        EXPECT_EQ(ea_connect(client, "127.0.0.1", server->port), 0);
        EXPECT_EQ(ea_setsockopt(client, EA_SOCKOPT_NONBLOCKING), 0); // so a look at it never waits
        uint16_t pending = 0;
        *verdict = EA_VALID;
        qel_test::wait_until(
            [&]
            {
                *verdict = tcp_nw_info_get_client(server, &pending, logger());
                return *verdict != EA_VALID;
            },
            2000);
        clients.push_back(client);
        return client;
    }

    // Admits every accepted connection, as the box's CONNECTION_ACCEPT would.
    void admit()
    {
        queue *notifications = queue_create();
        ASSERT_EQ(tcp_nw_info_process_incoming_clients(server, TCP_NW_INFO_ADMIT,
                                                       message_create(64, CONNECTION_ACCEPT), notifications,
                                                       logger()),
                  EA_SUCCESS);
        ea_destroy_message_queue(notifications);
    }

    // Runs the server's reading until the slot's connection has begun a frame.
    bool frame_begun(uint16_t index)
    {
        queue *data = queue_create();
        queue *disconnects = queue_create();
        bool begun = qel_test::wait_until(
            [&]
            {
                uint16_t sockets = 0;
                uint32_t refused = 0;
                tcp_nw_info_get_elements(server, 1, nullptr, 0, 10, data, disconnects, &sockets, &refused,
                                         nullptr, logger());
                return server->tcp_nw_handle_list[index].frame_start_tick != 0;
            },
            2000);
        ea_destroy_message_queue(data);
        ea_destroy_message_queue(disconnects);
        return begun;
    }

    // Runs the server's waits and reading for a while; the frames it took in, freed.
    uint32_t read_frames(uint32_t passes = 20)
    {
        queue *data = queue_create();
        queue *disconnects = queue_create();
        for (uint32_t i = 0; i < passes; ++i)
        {
            uint16_t sockets = 0;
            uint32_t refused = 0;
            tcp_nw_info_get_elements(server, 1, nullptr, 0, 10, data, disconnects, &sockets, &refused,
                                     nullptr, logger());
            tcp_nw_info_watch_connections(server, data, &refused, "test", logger());
        }
        uint32_t frames = queue_get_count(data);
        ea_destroy_message_queue(data);
        ea_destroy_message_queue(disconnects);
        return frames;
    }

    // A whole frame of `length` bytes (only its length field filled in), sent at once.
    static void send_frame(int32_t client, uint16_t length)
    {
        std::vector<uint8_t> frame(length, 0);
        frame[0] = static_cast<uint8_t>(length >> 8);
        frame[1] = static_cast<uint8_t>(length & 0xFF);
        ASSERT_EQ(ea_send(client, frame.data(), length), length);
    }

    // Whether the server has closed this client's connection (reading what waits).
    static bool closed_by_server(int32_t client)
    {
        return qel_test::wait_until(
            [&]
            {
                uint8_t bytes[128];
                return ea_recv(client, bytes, sizeof bytes) == 0;
            },
            2000);
    }

    message *record(uint16_t index, int32_t handle, uint16_t tag = NORMAL_MESSAGE)
    {
        message *msg = message_create(30, tag);
        msg->workstation_index = index;
        msg->workstation_network_handle = handle;
        return msg;
    }

    qel_test::held_tick held; // the server's timers move only by the test's steps
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::string file;
    logger_object_container *loggers = nullptr;
    ea_flag allow[2] = {};
    ea_flag overflow[2] = {};
    ea_flag recovery[2] = {};
    ea_flag logoff[16] = {};
    ea_flag abnormal{0};
    tcp_nw_info *server = nullptr;
    std::vector<int32_t> clients;
};

TEST_F(server_fixture, ConfigurationDefaults)
{
    server = create({{"MACHINE_LAN_IP", "not.an.address"}, {"FLOW_CONTROL_COUNT", "0"}},
                    {"MAX_CLIENT_PENDING_MESG_COUNT"});
    ASSERT_NE(server, nullptr);
    EXPECT_STREQ(server->listen_address, "127.0.0.1");
    EXPECT_EQ(server->invitation_count, 1);
    EXPECT_EQ(server->pending_limit, 50000);
    EXPECT_EQ(server->next_handle, 1);
    EXPECT_EQ(server->resume_position, 0xFFFF);
    // It listens on the loopback address it fell back to.
    int32_t client = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    EXPECT_EQ(ea_connect(client, "127.0.0.1", server->port), 0);
    ea_closesocket(client);
}

TEST_F(server_fixture, PendingLimitBelowOneTakesTheDefault)
{
    server = create({{"MAX_CLIENT_PENDING_MESG_COUNT", "-3"}});
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->pending_limit, 50000);
}

// The port is chosen where the configuration is read, before anything binds, so the
// default (the demo's port) is checked without taking it from a gateway running here.
TEST(WorkstationServerPort, ChosenFromTheConfigurationWithoutBinding)
{
    const char *const fallback = "Valid [PORT_NUMBER] Parameter not found in config file [";
    const char *const found = "[PORT_NUMBER] Parameter found in config file [";
    struct
    {
        const char *line; // the configuration's PORT_NUMBER line ("" for none)
        bool usable;
        uint16_t port;
        const char *logged; // the start of the line logged about it
    } cases[] = {
        {"", true, 9602, fallback},
        {"PORT_NUMBER=0\n", true, 9602, fallback},
        {"PORT_NUMBER=1024\n", true, 9602, fallback},
        {"PORT_NUMBER=1025\n", true, 1025, found},
        {"PORT_NUMBER=65535\n", true, 65535, found},
        {"PORT_NUMBER=65536\n", false, 0, "[PORT_NUMBER] value [65536] in config file ["},
    };
    qel_test::gateway_test_loggers loggers({"tws_network_handler_thread"});
    logger_object *logger = loggers.get("tws_network_handler_thread");
    qel_test::temp_dir dir;
    for (const auto &c : cases)
    {
        dir.write("qel_ip.cfg", std::string("MACHINE_LAN_IP=127.0.0.1\n") + c.line);
        uint16_t port = 0;
        EXPECT_EQ(tcp_nw_info_read_port(dir.file("qel_ip.cfg").c_str(), &port, logger), c.usable) << c.line;
        if (c.usable)
        {
            EXPECT_EQ(port, c.port) << c.line;
        }
        std::vector<qel_test::gateway_log_line> lines = loggers.lines("tws_network_handler_thread");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().text.rfind(c.logged, 0), 0u) << c.line << lines.back().text;
    }
    EXPECT_NE(loggers.lines("tws_network_handler_thread").front().text.find("Using [9602] as default"),
              std::string::npos);
}

TEST_F(server_fixture, ListenerBindsAgainWhileOldConnectionsLinger)
{
    server = create();
    ASSERT_NE(server, nullptr);
    int32_t client = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    ASSERT_EQ(ea_connect(client, "127.0.0.1", server->port), 0);
    uint16_t pending = 0;
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return tcp_nw_info_get_client(server, &pending, logger()) == EA_SUCCESS; }, 2000));
    EXPECT_EQ(pending, 1);
    // The server side closes first, so its end of the connection sits in TIME_WAIT.
    tcp_nw_info_destroy(server);
    server = nullptr;
    ea_closesocket(client);
    server = create();
    EXPECT_NE(server, nullptr);
}

TEST_F(server_fixture, HandlesCountFromOne)
{
    server = create();
    ASSERT_NE(server, nullptr);
    for (int32_t expected = 1; expected <= 3; ++expected)
    {
        int32_t handle = 0;
        ASSERT_EQ(tcp_nw_info_get_new_handle(server, &handle, logger()), EA_SUCCESS);
        EXPECT_EQ(handle, expected);
    }
}

TEST_F(server_fixture, HandlesAfterWrapAroundSkipEveryValueInUse)
{
    server = create();
    ASSERT_NE(server, nullptr);
    use_slot(0, 1);
    use_slot(1, 2);
    use_slot(2, 4);
    server->next_handle = INT32_MAX;
    int32_t handle = 0;
    ASSERT_EQ(tcp_nw_info_get_new_handle(server, &handle, logger()), EA_SUCCESS);
    EXPECT_EQ(handle, INT32_MAX);
    ASSERT_EQ(tcp_nw_info_get_new_handle(server, &handle, logger()), EA_SUCCESS);
    EXPECT_EQ(handle, 3);
    EXPECT_EQ(server->wrap_around, 1);
    ASSERT_EQ(tcp_nw_info_get_new_handle(server, &handle, logger()), EA_SUCCESS);
    EXPECT_EQ(handle, 5);
    // A search that runs past the largest value starts again from 1.
    server->next_handle = INT32_MAX;
    server->tcp_nw_handle_list[3].network_handle = INT32_MAX;
    server->valid_client_list[server->in_use_count++] = &server->tcp_nw_handle_list[3];
    ASSERT_EQ(tcp_nw_info_get_new_handle(server, &handle, logger()), EA_SUCCESS);
    EXPECT_EQ(handle, 3);
    release_slots();
}

TEST_F(server_fixture, RecordsForSlotsThatAreGoneOrReusedAreDiscarded)
{
    server = create();
    ASSERT_NE(server, nullptr);
    use_slot(2, 9);
    queue *notifications = queue_create();
    struct stale_case
    {
        const char *name;
        uint16_t index;
        int32_t handle;
        ea_status expected;
        uint32_t queued;
    };
    const stale_case cases[] = {
        {"index beyond the table", 4, 9, EA_VALID, 0},
        {"free slot", 1, -1, EA_VALID, 0},
        {"old handle of a reused slot", 2, 8, EA_VALID, 0},
        {"current handle", 2, 9, EA_VALID, 1},
    };
    for (const stale_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tcp_nw_info_send_mesg(server, record(c.index, c.handle), notifications, logger()),
                  c.expected);
        EXPECT_EQ(queue_get_count(server->tcp_nw_handle_list[2].send_queue), c.queued);
    }
    EXPECT_EQ(server->total_pending, 1);
    // The session layer's orders for a connection that is not the slot's are ignored.
    message *drop = record(2, 8, DROP_CLIENT);
    EXPECT_EQ(tcp_nw_info_disconnect_client(server, drop, logger()), EA_VALID);
    message_destroy(drop);
    EXPECT_EQ(server->in_use_count, 1);
    release_slots();
    drop = record(2, 9, DROP_CLIENT);
    EXPECT_EQ(tcp_nw_info_disconnect_client(server, drop, logger()), EA_SUCCESS);
    message_destroy(drop);
    EXPECT_EQ(server->in_use_count, 0);
    EXPECT_EQ(server->total_pending, 0);
    EXPECT_EQ(server->tcp_nw_handle_list[2].network_handle, -1);
    EXPECT_EQ(server->tcp_nw_handle_list[2].link_index, 0xFFFF);
    ea_destroy_message_queue(notifications);
}

TEST_F(server_fixture, LinkIndexIsBoundOnlyForTheCurrentConnection)
{
    server = create();
    ASSERT_NE(server, nullptr);
    use_slot(1, 5);
    message *msg = record(1, 5, UPDATE_LINK_INDEX);
    msg->link_index = 2;
    EXPECT_EQ(tcp_nw_info_update_index(server, msg, 2, logger()), EA_NOT_FOUND);
    msg->link_index = 1;
    msg->workstation_network_handle = 4;
    EXPECT_EQ(tcp_nw_info_update_index(server, msg, 2, logger()), EA_VALID);
    EXPECT_EQ(server->tcp_nw_handle_list[1].link_index, 0);
    msg->workstation_network_handle = 5;
    EXPECT_EQ(tcp_nw_info_update_index(server, msg, 2, logger()), EA_SUCCESS);
    EXPECT_EQ(server->tcp_nw_handle_list[1].link_index, 1);
    message_destroy(msg);
    release_slots();
}

// An invitation that is due goes out only when every flag of its link and slot allows it.
TEST_F(server_fixture, EachFlagHoldsTheInvitationBack)
{
    server = create({{"FLOW_CONTROL_COUNT", "2"}});
    ASSERT_NE(server, nullptr);
    server->client_invitation_message = message_create(64, CLIENT_INVITATION_MESSAGE);
    queue *notifications = queue_create();
    struct flag_case
    {
        const char *name;
        ea_flag *flag;
        uint16_t value;
        bool invited;
    };
    const flag_case cases[] = {
        {"link does not allow invitations", &allow[0], 0, false},
        {"recovery queue overflow", &overflow[0], 1, false},
        {"session recovery", &recovery[0], 1, false},
        {"abnormal state", &abnormal, 1, false},
        {"user logoff in progress", &logoff[3], 1, false},
        {"another link's flag", &allow[1], 0, true},
        {"another slot's logoff", &logoff[2], 1, true},
    };
    use_slot(3, 11);
    for (const flag_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        uint16_t before = ea_flag_get(c.flag);
        ea_flag_set(c.flag, c.value);
        tcp_nw_handle *slot = &server->tcp_nw_handle_list[3];
        slot->received_count = 2;
        server->invitations_due = 1;
        EXPECT_EQ(tcp_nw_info_send_pending_invitations(server, notifications, logger()), EA_SUCCESS);
        EXPECT_EQ(slot->received_count, c.invited ? 0 : 2);
        EXPECT_EQ(server->invitations_due, c.invited ? 0 : 1);
        ea_flag_set(c.flag, before);
        // Empty the slot's queue between cases.
        while (message *queued = static_cast<message *>(queue_remove_head(slot->send_queue)))
        {
            EXPECT_EQ(queued->tag, CLIENT_INVITATION_MESSAGE);
            EXPECT_EQ(queued->workstation_network_handle, 11);
            EXPECT_EQ(queued->workstation_index, 3);
            message_destroy(queued);
        }
        server->total_pending = 0;
        slot->pending_count = 0;
    }
    release_slots();
    ea_destroy_message_queue(notifications);
}
// The test moves the tick count instead of waiting half a minute.
TEST_F(server_fixture, ConnectionsThatHoldASlotIdleAreClosedAfterThirtySeconds)
{
    server = create();
    ASSERT_NE(server, nullptr);
    // Three workstations connect and are admitted: one signs on and stays quiet, one signs
    // on and sends the first byte of a frame, one never signs on.
    int32_t clients[3];
    uint16_t pending = 0;
    for (int32_t &client : clients)
    {
        client = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        ASSERT_EQ(ea_connect(client, "127.0.0.1", server->port), 0);
        ASSERT_TRUE(qel_test::wait_until(
            [&] { return tcp_nw_info_get_client(server, &pending, logger()) == EA_SUCCESS; }, 2000));
    }
    queue *notifications = queue_create();
    queue *disconnects = queue_create();
    queue *data = queue_create();
    ASSERT_EQ(tcp_nw_info_process_incoming_clients(
                  server, TCP_NW_INFO_ADMIT, message_create(64, CONNECTION_ACCEPT), notifications, logger()),
              EA_SUCCESS);
    ASSERT_EQ(server->in_use_count, 3);
    for (uint16_t index : {0, 1})
        connection_book_signed_on(server->book, index, server->tcp_nw_handle_list[index].network_handle);
    uint32_t refused = 0;
    ASSERT_EQ(tcp_nw_info_watch_connections(server, data, &refused, "test", logger()), EA_SUCCESS);
    const uint8_t first_byte = 0;
    ASSERT_EQ(ea_send(clients[1], &first_byte, 1), 1);
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            uint16_t sockets = 0;
            uint32_t refused = 0;
            tcp_nw_info_get_elements(server, 1, nullptr, 0, 10, data, disconnects, &sockets, &refused,
                                     nullptr, logger());
            return server->tcp_nw_handle_list[1].frame_start_tick != 0;
        },
        2000));

    pf_tick_advance(TCP_NW_INFO_SIGN_ON_TIMEOUT_MS - 1000);
    ASSERT_EQ(tcp_nw_info_check_idle_clients(server, disconnects, logger()), EA_SUCCESS);
    EXPECT_EQ(queue_get_count(disconnects), 0u);
    pf_tick_advance(1000);
    ASSERT_EQ(tcp_nw_info_check_idle_clients(server, disconnects, logger()), EA_SUCCESS);
    std::map<uint16_t, uint16_t> reasons; // tws index to reason code
    while (message *msg = static_cast<message *>(queue_remove_head(disconnects)))
    {
        EXPECT_EQ(msg->tag, CLIENT_DISCONNECTED);
        EXPECT_EQ(msg->workstation_network_handle,
                  server->tcp_nw_handle_list[msg->workstation_index].network_handle);
        reasons[msg->workstation_index] = msg->reason_code;
        message_destroy(msg);
    }
    EXPECT_EQ(reasons, (std::map<uint16_t, uint16_t>{{1, 11028}, {2, 11027}}));
    // The quiet signed-on workstation keeps its connection; the other two are closed.
    EXPECT_NE(server->tcp_nw_handle_list[0].client_sockfd, -1);
    EXPECT_EQ(server->tcp_nw_handle_list[1].client_sockfd, -1);
    EXPECT_EQ(server->tcp_nw_handle_list[2].client_sockfd, -1);
    uint8_t byte = 0;
    EXPECT_EQ(ea_recv(clients[2], &byte, 1), 0);
    // Checked again within the second, nothing more happens.
    ASSERT_EQ(tcp_nw_info_check_idle_clients(server, disconnects, logger()), EA_SUCCESS);
    EXPECT_EQ(queue_get_count(disconnects), 0u);

    for (int32_t client : clients)
        ea_closesocket(client);
    for (queue *q : {notifications, disconnects, data})
        ea_destroy_message_queue(q);
}

} // namespace

// The test holds the tick count and moves it: each step is the refusals of one moment and
// what the console is due to hear then.
TEST_F(server_fixture, RefusalsReachTheConsoleFirstAtOnceThenOnceASecondWithTheirCount)
{
    server = create();
    ASSERT_NE(server, nullptr);
    struct step
    {
        uint32_t advance_ms;
        uint32_t refused;
        uint32_t at_once;
        uint32_t folded;
    } steps[] = {
        {0, 0, 0, 0},     // quiet
        {10, 1, 1, 0},    // the first refusal of a spell goes at once
        {10, 500, 0, 0},  // the rest of the second is counted
        {500, 300, 0, 0}, //
        {489, 0, 0, 0},   // 999 ms after the first: not yet
        {1, 0, 0, 800},   // a second after it, one event counts them
        {200, 4, 0, 0},   // the refusals go on: counted for the next second
        {800, 0, 0, 4},   //
        {1000, 0, 0, 0},  // a quiet second ends the spell
        {5, 2, 1, 0},     // and the next refusal goes at once again
        {1000, 0, 0, 1},  //
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i)
    {
        SCOPED_TRACE(i);
        pf_tick_advance(steps[i].advance_ms);
        uint32_t at_once = 9, folded = 9;
        tcp_nw_info_refusal_events(server, steps[i].refused, &at_once, &folded);
        EXPECT_EQ(at_once, steps[i].at_once);
        EXPECT_EQ(folded, steps[i].folded);
    }
}

// The table holds 4. The test moves the tick count instead of waiting. A frame protects its
// connection's slot once its network header has come, for five seconds; a byte of it
// protects nothing.
TEST_F(server_fixture, AFrameProtectsItsSlotForAWhileOnceItsHeaderHasCome)
{
    server = create();
    ASSERT_NE(server, nullptr);
    ea_status verdict = EA_VALID;
    int32_t header_sent = connect_from("127.0.0.1", &verdict);
    int32_t byte_sent = connect_from("127.0.0.1", &verdict);
    connect_from("127.0.0.3", &verdict);
    connect_from("127.0.0.3", &verdict);
    admit();
    ASSERT_EQ(server->in_use_count, 4);
    const uint8_t header[TCP_NW_HANDLE_HEADER_SIZE] = {0, 64};
    ASSERT_EQ(ea_send(header_sent, header, sizeof header), static_cast<int32_t>(sizeof header));
    const uint8_t first_byte = 0;
    ASSERT_EQ(ea_send(byte_sent, &first_byte, 1), 1);
    ASSERT_TRUE(frame_begun(0));
    ASSERT_TRUE(frame_begun(1));
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            read_frames(1);
            return server->tcp_nw_handle_list[0].header_tick != 0;
        },
        2000));
    pf_tick_advance(TCP_NW_ADMISSION_GRACE_MS);

    connect_from("127.0.0.2", &verdict);
    EXPECT_EQ(verdict, EA_SUCCESS);
    EXPECT_EQ(server->slots_given, 1u);
    EXPECT_TRUE(closed_by_server(byte_sent));
    EXPECT_NE(server->tcp_nw_handle_list[0].client_sockfd, -1);

    // Past the protection the stalled frame no longer keeps the slot.
    admit();
    pf_tick_advance(TCP_NW_ADMISSION_FRAME_PROTECTION_MS);
    connect_from("127.0.0.4", &verdict);
    EXPECT_EQ(verdict, EA_SUCCESS);
    EXPECT_EQ(server->slots_given, 2u);
    EXPECT_TRUE(closed_by_server(header_sent));
}

// Connections from 127.0.0.1 and 127.0.0.3 that send nothing fill the table of 4; a new
// connection takes the oldest slot of an address that holds more than its own address does,
// so the slots go round the addresses and peers of one address never take from each other;
// an address that lost a slot takes one back for a while only from one that holds two more.
TEST_F(server_fixture, ANewConnectionTakesASlotOnlyFromAnAddressThatHoldsMoreThanItsOwn)
{
    server = create();
    ASSERT_NE(server, nullptr);
    struct step
    {
        uint32_t advance_ms; // before the connect
        const char *from;
        ea_status verdict;
        uint32_t slots_given;
    } steps[] = {
        {0, "127.0.0.1", EA_SUCCESS, 0},
        {0, "127.0.0.1", EA_SUCCESS, 0},
        {0, "127.0.0.3", EA_SUCCESS, 0},
        {0, "127.0.0.3", EA_SUCCESS, 0},          // the table is full
        {0, "127.0.0.1", TCP_NW_INFO_REFUSED, 0}, // peers of one address take no slot from each other
        {0, "127.0.0.2", EA_SUCCESS, 1},          // none from .2 against 2 from .1 and .3: the oldest goes
        {0, "127.0.0.2", EA_SUCCESS, 2},          // 1 from .2 against 2 from .3
        {0, "127.0.0.3", TCP_NW_INFO_REFUSED, 2}, // .3 lost one just now: 1 against 2 is not enough
        {0, "127.0.0.1", TCP_NW_INFO_REFUSED, 2}, // nor for .1
        {TCP_NW_ADMISSION_TAKE_BACK_PAUSE_MS, "127.0.0.3", EA_SUCCESS, 3}, // the pause is over
        {0, "127.0.0.3", TCP_NW_INFO_REFUSED, 3},                          // 2 from .3: no address holds more
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i)
    {
        SCOPED_TRACE(i);
        pf_tick_advance(steps[i].advance_ms);
        ea_status verdict = EA_VALID;
        connect_from(steps[i].from, &verdict);
        admit();
        pf_tick_advance(TCP_NW_ADMISSION_GRACE_MS);
        EXPECT_EQ(verdict, steps[i].verdict);
        EXPECT_EQ(server->slots_given, steps[i].slots_given);
    }
    // The slots given were the oldest of 127.0.0.1, of 127.0.0.3 and of 127.0.0.2.
    EXPECT_TRUE(closed_by_server(clients[0]));
    EXPECT_TRUE(closed_by_server(clients[2]));
    EXPECT_TRUE(closed_by_server(clients[5]));
}

// A connection is admitted whenever a slot is free, however many of the others come from
// its address (one office behind one address).
TEST_F(server_fixture, ConnectionsFromOneAddressAreAdmittedWhileASlotIsFree)
{
    server = create();
    ASSERT_NE(server, nullptr);
    ea_status verdict = EA_VALID;
    for (int i = 0; i < 4; ++i)
    {
        connect_from("127.0.0.1", &verdict);
        EXPECT_EQ(verdict, EA_SUCCESS);
    }
    admit();
    EXPECT_EQ(server->in_use_count, 4);
    connect_from("127.0.0.1", &verdict);
    EXPECT_EQ(verdict, TCP_NW_INFO_REFUSED);
}

// A first frame of a sign-on (transcode 2300) for `user`, whole, sent at once.
void send_sign_on(int32_t client, uint32_t user)
{
    std::vector<uint8_t> frame(22 + 40 + 8, 0);
    frame[0] = 0;
    frame[1] = static_cast<uint8_t>(frame.size());
    frame[22 + 10] = 2300 >> 8;
    frame[22 + 11] = 2300 & 0xFF;
    for (int i = 0; i < 4; ++i)
        frame[22 + 40 + i] = static_cast<uint8_t>(user >> (24 - 8 * i));
    ASSERT_EQ(ea_send(client, frame.data(), static_cast<int32_t>(frame.size())),
              static_cast<int32_t>(frame.size()));
}

// An address whose sign-ons have not succeeded lately has a few under way at once: the first
// frame of a ninth connection from it waits in the gateway, while another address is read;
// once one of them signs on, the address is one whose sign-ons succeed and the frame goes on.
TEST_F(server_fixture, TheFirstFrameWaitsWhileItsAddressHasItsSignOnsUnderWay)
{
    server = create({}, {}, TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS + 4);
    ASSERT_NE(server, nullptr);
    ea_status verdict = EA_VALID;
    std::vector<int32_t> office;
    for (int i = 0; i < TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS + 1; ++i)
        office.push_back(connect_from("127.0.0.1", &verdict));
    int32_t other = connect_from("127.0.0.2", &verdict);
    admit();
    ASSERT_EQ(server->in_use_count, TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS + 2);
    auto under_way = [&](uint16_t index)
    {
        const tcp_nw_handle &slot = server->tcp_nw_handle_list[index];
        const tcp_nw_place *place = tcp_nw_admission_place(server->admission, index, slot.serial);
        return place != nullptr && place->state == TCP_NW_PLACE_UNDER_WAY;
    };
    uint32_t frames = 0;
    for (int i = 0; i < TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS; ++i)
    {
        send_sign_on(office[i], 4001 + i);
        ASSERT_TRUE(qel_test::wait_until(
            [&]
            {
                frames += read_frames(1);
                return under_way(static_cast<uint16_t>(i));
            },
            2000));
    }
    send_sign_on(office.back(), 4100);
    send_sign_on(other, 4200);
    const uint16_t last = TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            frames += read_frames(1);
            return under_way(last + 1) && server->tcp_nw_handle_list[last].parked != nullptr;
        },
        2000));
    frames += read_frames();
    EXPECT_EQ(frames, static_cast<uint32_t>(TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS + 1));
    EXPECT_FALSE(under_way(last));

    // One of them signs on: the waiting frame goes on.
    connection_book_signed_on(server->book, 0, server->tcp_nw_handle_list[0].network_handle);
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            frames += read_frames(1);
            return under_way(last);
        },
        2000));
    EXPECT_EQ(server->tcp_nw_handle_list[0].signed_on, 1);
    EXPECT_EQ(server->tcp_nw_handle_list[last].parked, nullptr);
    EXPECT_EQ(frames, static_cast<uint32_t>(TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS + 2));
}

// Sign-ons of one user that fail spend that user's budget on its address: past it, the first
// frame of another of its connections waits in the gateway, while the same address signing
// on as another user goes on; the frame goes on once the budget has come back. Its 30 s to
// sign on stand still meanwhile.
TEST_F(server_fixture, SignOnsThatFailHoldBackTheirUserAndTheTimeWaitedIsNotCharged)
{
    server = create({}, {}, 8);
    ASSERT_NE(server, nullptr);
    ea_status verdict = EA_VALID;
    for (int i = 0; i < TCP_NW_ADMISSION_BUDGET; ++i)
    {
        int32_t client = connect_from("127.0.0.1", &verdict);
        admit();
        ASSERT_EQ(server->in_use_count, 1);
        tcp_nw_handle *slot = server->valid_client_list[0];
        send_sign_on(client, 5001);
        ASSERT_TRUE(qel_test::wait_until([&] { return read_frames(1) == 1; }, 2000));
        // The session layer refused it: it drops the connection.
        message *drop = record(slot->index, slot->network_handle, DROP_CLIENT);
        ASSERT_EQ(tcp_nw_info_disconnect_client(server, drop, logger()), EA_SUCCESS);
        message_destroy(drop);
    }
    int32_t waiting = connect_from("127.0.0.1", &verdict);
    int32_t other_user = connect_from("127.0.0.1", &verdict);
    admit();
    send_sign_on(waiting, 5001);
    send_sign_on(other_user, 5002);
    uint32_t frames = 0;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            frames += read_frames(1);
            return frames == 1 && server->tcp_nw_handle_list[0].parked != nullptr;
        },
        2000));
    frames += read_frames();
    EXPECT_EQ(frames, 1u);

    // Half a minute waiting in the gateway is not half a minute without a sign-on.
    queue *disconnects = queue_create();
    pf_tick_advance(TCP_NW_INFO_SIGN_ON_TIMEOUT_MS + 1000);
    ASSERT_EQ(tcp_nw_info_check_idle_clients(server, disconnects, logger()), EA_SUCCESS);
    EXPECT_EQ(queue_get_count(disconnects), 0u);
    ea_destroy_message_queue(disconnects);

    ASSERT_TRUE(qel_test::wait_until([&] { return (frames += read_frames(1)) == 2; }, 2000));
    EXPECT_EQ(server->tcp_nw_handle_list[0].parked, nullptr);
}
