// Network handles of a console listener: counted from 1, wrapped past the largest value,
// and after a wrap searched past the handles of the consoles still connected. Also the
// deletion of an entry and the listener's refusal of a port that is taken.
#include <gtest/gtest.h>

#include <climits>

#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/interface_module/interface_nw_info.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
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
