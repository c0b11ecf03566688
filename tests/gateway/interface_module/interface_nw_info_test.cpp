// Network handles of a console listener: counted from 1, wrapped past the largest value,
// and after a wrap searched past the handles of the consoles still connected. Also the
// deletion of an entry, the listener's refusal of a port that is taken, and what it writes
// about consoles that come and go.
#include <gtest/gtest.h>

#include <climits>

#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/interface_module/interface_nw_info.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "platform/core/pf_tick.h"
#include "support/gateway_log.h"
#include "support/held_tick.h"
#include "support/test_support.h"

using namespace qel_test;

namespace
{
interface_nw_info *listener_with_handles(const std::vector<int32_t> &handles)
{
    reserved_port port;
    interface_nw_info *listener = interface_nw_info_create(4, port.number(), nullptr);
    if (listener == nullptr)
        return nullptr;
    for (int32_t handle : handles)
        listener->client_list[listener->nclients++].network_handle = handle;
    return listener;
}
} // namespace

TEST(InterfaceNwInfo, HandlesAreSearchedPastConnectedConsolesAfterAWrap)
{
    struct case_data
    {
        const char *name;
        std::vector<int32_t> in_use;
        int32_t next_handle;
        uint16_t wrapped;
        int32_t expected;
        int32_t expected_next;
    } cases[] = {
        {"first handle", {}, 1, 0, 1, 2},
        {"counting up, no search before a wrap", {5}, 5, 0, 5, 6},
        {"largest value", {}, INT_MAX, 0, INT_MAX, 0},
        {"wrap to 1", {}, 0, 0, 1, 2},
        {"wrapped, 1 free", {2, 3}, 1, 1, 1, 2},
        {"wrapped, past a run", {1, 2, 4}, 1, 1, 3, 4},
        {"wrapped, past the largest value to 1", {INT_MAX - 1, INT_MAX}, INT_MAX - 1, 1, 1, 2},
        {"wrapped, past the largest value, 1 taken", {1, INT_MAX}, INT_MAX, 1, 2, 3},
    };
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(c.name);
        interface_nw_info *listener = listener_with_handles(c.in_use);
        ASSERT_NE(listener, nullptr);
        listener->next_handle = c.next_handle;
        listener->wrapped = c.wrapped;
        int32_t handle = -1;
        EXPECT_EQ(interface_nw_info_get_new_handle(listener, &handle, nullptr), EA_SUCCESS);
        EXPECT_EQ(handle, c.expected);
        EXPECT_EQ(listener->next_handle, c.expected_next);
        interface_nw_info_destroy(listener);
    }
}

TEST(InterfaceNwInfo, DeletingAnEntryMovesTheLaterOnesDownAndFreesItsQueue)
{
    interface_nw_info *listener = listener_with_handles({3, 5, 9});
    ASSERT_NE(listener, nullptr);
    queue_append(listener->client_list[1].outgoing, message_create(40, KOVA_MESSAGE));
    listener->client_list[1].pending_count = 1;
    listener->total_pending = 1;
    EXPECT_EQ(interface_nw_info_del_client(listener, 1, nullptr), EA_SUCCESS);
    ASSERT_EQ(listener->nclients, 2u);
    EXPECT_EQ(listener->client_list[0].network_handle, 3);
    EXPECT_EQ(listener->client_list[1].network_handle, 9);
    EXPECT_EQ(listener->client_list[2].network_handle, -1);
    EXPECT_EQ(queue_get_count(listener->client_list[2].outgoing), 0u);
    EXPECT_EQ(listener->total_pending, 0u);
    int32_t index = -1;
    EXPECT_EQ(interface_nw_info_get_interface_nw_handle_index(listener, 9, &index, nullptr), EA_SUCCESS);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(interface_nw_info_get_interface_nw_handle_index(listener, 5, &index, nullptr), EA_NOT_FOUND);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(interface_nw_info_del_client(listener, 2, nullptr), EA_ERROR);
    interface_nw_info_destroy(listener);
}

TEST(InterfaceNwInfo, PortInUseFailsCreation)
{
    reserved_port port;
    interface_nw_info *first = interface_nw_info_create(1, port.number(), nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(interface_nw_info_create(1, port.number(), nullptr), nullptr);
    interface_nw_info_destroy(first);
}

// What the listener writes about a console is held until the console sends a packet or has
// stayed a second: consoles that connect and go at once, again and again, are counted in
// a line a second, while one that stays has its whole story written.
TEST(InterfaceNwInfo, AConsoleThatLeavesAtOnceIsCountedAndOneThatStaysIsWrittenWhole)
{
    held_tick held;
    temp_dir dir;
    dir.write("loggers.cfg", "LOG_FILE_PATH=" + dir.path() + "\nSYSTEM_LOGGING_LEVEL=EVENT\n");
    const char *names[] = {"interface_thread"};
    logger_object_container *loggers =
        logger_object_container_create(dir.file("loggers.cfg").c_str(), names, 1);
    ASSERT_NE(loggers, nullptr);
    logger_object *logger = loggers->loggers[0];
    reserved_port port;
    interface_nw_info *listener = interface_nw_info_create(1, port.number(), logger);
    ASSERT_NE(listener, nullptr);
    message *version_check = message_create(40, KOVA_MESSAGE);
    queue *input = queue_create();
    auto take_console = [&]
    {
        uint32_t waiting = 0;
        return wait_until(
                   [&] { return interface_nw_info_get_client(listener, &waiting, 0, logger) == EA_SUCCESS; },
                   2000) &&
               interface_nw_info_process_incoming_clients(listener, 1, version_check, logger) == EA_SUCCESS;
    };
    auto connect_console = [&]
    {
        int32_t console = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        EXPECT_EQ(ea_connect(console, "127.0.0.1", port.number()), 0);
        return console;
    };
    auto lines = [&] { return gateway_log_lines(dir.path(), "interface_thread"); };

    for (int i = 0; i < 20; ++i)
    {
        int32_t console = connect_console();
        ASSERT_TRUE(take_console());
        ea_closesocket(console);
        ASSERT_TRUE(wait_until(
            [&]
            {
                interface_nw_info_recv_mesg(listener, input, 1, 0, logger);
                return listener->nclients == 0;
            },
            2000));
        interface_nw_info_watch_consoles(listener, "interface_thread", logger);
    }
    pf_tick_advance(1000);
    interface_nw_info_watch_consoles(listener, "interface_thread", logger);
    std::vector<gateway_log_line> written = lines();
    ASSERT_FALSE(written.empty());
    EXPECT_LE(written.size(), 12u); // the first two stories and one count
    EXPECT_EQ(written.back().text,
              "Left out [54] log lines about [18] consoles from IP [127.0.0.1] that left before a "
              "request or a second's stay.");

    int32_t staying = connect_console();
    ASSERT_TRUE(take_console());
    const size_t before = lines().size();
    interface_nw_info_watch_consoles(listener, "interface_thread", logger);
    EXPECT_EQ(lines().size(), before);
    pf_tick_advance(INTERFACE_CONSOLE_SETTLED_MS);
    interface_nw_info_watch_consoles(listener, "interface_thread", logger);
    written = lines();
    ASSERT_EQ(written.size(), before + 2);
    EXPECT_EQ(written[before].text.rfind("Incoming client connection from socket [", 0), 0u);
    EXPECT_EQ(written[before + 1].text.rfind("Added new network handle [", 0), 0u);

    ea_closesocket(staying);
    ea_destroy_message_queue(input);
    message_destroy(version_check);
    interface_nw_info_destroy(listener);
    logger_object_container_destroy(loggers);
}
