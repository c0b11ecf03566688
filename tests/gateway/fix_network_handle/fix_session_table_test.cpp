// The FIX session table: slot allocation, handles, clean-up and the packed list of slots
// in use, and the keys by which slots are found.
#include "gateway/fix_network_handle/fix_session_info_container.h"

#include <gtest/gtest.h>

#include "gateway/fix_network_handle/fix_utility.h"
#include "gateway/runtime/message.h"

namespace
{
struct Table
{
    explicit Table(uint16_t slots) : container(1, slots, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
    {
    }

    // Adds a session for client "<n>,AB,1"; the slot index, or -1 when refused.
    int add(int n, int32_t *handle = nullptr)
    {
        FIX::SessionID *id = new FIX::SessionID("FIX.4.2", "QEL", std::to_string(n) + ",AB,1");
        int32_t h = -1;
        uint16_t index = 0;
        if (container.fixSessionInfoContainerAddSession(id, &h, &index, nullptr) != 0)
        {
            delete id; // refused: still the caller's
            return -1;
        }
        if (handle != nullptr)
            *handle = h;
        return index;
    }
    FixSessionInfoContainer container;
};
} // namespace

TEST(FixSessionTable, SlotsStartFreeInLogonProgressState)
{
    Table t(3);
    EXPECT_EQ(t.container.index_base, 3u);
    EXPECT_EQ(t.container.valid_client_count, 0);
    for (int i = 0; i < 3; ++i)
    {
        const FixSessionSlot &slot = t.container.slots[i];
        EXPECT_EQ(slot.fix_nw_handle, -1);
        EXPECT_EQ(slot.state, FIX_SLOT_LOGON_IN_PROGRESS);
        EXPECT_EQ(slot.link_index, 65535u);
        EXPECT_EQ(slot.branch_id, 65535);
        EXPECT_EQ(slot.market_status, 65535);
        EXPECT_EQ(std::string(slot.member_id, 5), "     ");
        EXPECT_EQ(slot.session_id, nullptr);
    }
}

TEST(FixSessionTable, HandlesCountFromOneAndAreNotReusedBeforeWrapping)
{
    Table t(3);
    int32_t h[4] = {};
    EXPECT_EQ(t.add(1, &h[0]), 0);
    EXPECT_EQ(t.add(2, &h[1]), 1);
    EXPECT_EQ(t.add(3, &h[2]), 2);
    EXPECT_EQ(h[0], 1);
    EXPECT_EQ(h[1], 2);
    EXPECT_EQ(h[2], 3);
    t.container.fixSessionInfoContainerCleanupSession(1, nullptr);
    // The lowest free slot is taken again, with a handle never given before.
    EXPECT_EQ(t.add(4, &h[3]), 1);
    EXPECT_EQ(h[3], 4);
}

TEST(FixSessionTable, FullTableRefusesTheNextSession)
{
    Table t(2);
    EXPECT_EQ(t.add(1), 0);
    EXPECT_EQ(t.add(2), 1);
    EXPECT_EQ(t.add(3), -1);
    EXPECT_EQ(t.container.valid_client_count, 2);
}

TEST(FixSessionTable, CleanupInTheMiddleKeepsLogonOrder)
{
    Table t(4);
    t.add(1);
    t.add(2);
    t.add(3);
    t.container.slots[1].user_logon_msg = message_create(10, NORMAL_MESSAGE);
    t.container.slots[1].user_logon_resp_msg = message_create(10, NORMAL_MESSAGE);
    t.container.slots[1].state = FIX_SLOT_READY;
    t.container.fixSessionInfoContainerCleanupSession(1, nullptr);
    ASSERT_EQ(t.container.valid_client_count, 2);
    EXPECT_EQ(t.container.valid_client_list[0], &t.container.slots[0]);
    EXPECT_EQ(t.container.valid_client_list[1], &t.container.slots[2]);
    EXPECT_EQ(t.container.valid_client_list[2], nullptr);
    const FixSessionSlot &freed = t.container.slots[1];
    EXPECT_EQ(freed.fix_nw_handle, -1);
    EXPECT_EQ(freed.state, FIX_SLOT_LOGON_IN_PROGRESS);
    EXPECT_EQ(freed.user_logon_msg, nullptr);
    EXPECT_EQ(freed.user_logon_resp_msg, nullptr);
    EXPECT_EQ(freed.session_id, nullptr);
}

TEST(FixSessionTable, SlotsAreFoundBySessionIdAndByHandle)
{
    Table t(3);
    int32_t handle = 0;
    t.add(1);
    t.add(2, &handle);
    uint16_t index = 99;
    FIX::SessionID second("FIX.4.2", "QEL", "2,AB,1");
    EXPECT_EQ(t.container.fixSessionInfoContainerGetIndex(SESSION_ID_KEY, &second, 0, &index, nullptr), 0);
    EXPECT_EQ(index, 1);
    FIX::SessionID other("FIX.4.2", "QEL", "2,AB,1", "qualified");
    EXPECT_EQ(t.container.fixSessionInfoContainerGetIndex(SESSION_ID_KEY, &other, 0, &index, nullptr), -1);
    EXPECT_EQ(
        t.container.fixSessionInfoContainerGetIndex(TWS_NW_HANDLE_KEY, nullptr, handle, &index, nullptr), 0);
    EXPECT_EQ(index, 1);
    // -1 marks free slots: it never matches one.
    EXPECT_EQ(t.container.fixSessionInfoContainerGetIndex(TWS_NW_HANDLE_KEY, nullptr, -1, &index, nullptr),
              -1);
    EXPECT_EQ(t.container.fixSessionInfoContainerGetIndex(7, &second, 0, &index, nullptr), -1);
}

TEST(FixSessionTable, HandleCounterWrapsAroundPastHandlesInUse)
{
    Table t(3);
    t.add(1); // handle 1
    t.add(2); // handle 2
    t.container.next_nw_handle = 2147483647;
    int32_t handle = 0;
    ASSERT_EQ(t.container.fixSessionInfoContainerGetNewHandle(&handle, nullptr), 0);
    EXPECT_EQ(handle, 2147483647);
    // Past the largest value: from 1 again, skipping the handles of slots in use.
    ASSERT_EQ(t.container.fixSessionInfoContainerGetNewHandle(&handle, nullptr), 0);
    EXPECT_EQ(handle, 3);
    EXPECT_EQ(t.container.wrapped, 1u);
}

TEST(FixSessionTable, StampGivesConsecutiveSequenceNumbers)
{
    Table t(1);
    message *a = message_create(4, NORMAL_MESSAGE);
    message *b = message_create(4, NORMAL_MESSAGE);
    t.container.fixSessionInfoContainerStampMessage(nullptr, a, 1, 1, 0, 0, 0);
    t.container.fixSessionInfoContainerStampMessage(nullptr, b, 1, 1, 0, 0, 0);
    EXPECT_EQ(a->sequence_number, 1u);
    EXPECT_EQ(b->sequence_number, 2u);
    message_destroy(a);
    message_destroy(b);
}
