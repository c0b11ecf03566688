// The hold of console events the event log file could not take: ten thousand events into a
// hold of one replay's size keep the gateway's own and the users' events ahead of those about
// connections without a user, in their order, and count what was let go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gateway/interface_module/interface_event_hold.h"
#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/runtime/wire.h"

namespace
{

const size_t k_events = 10000;

// An event of a user (0: a connection without one, -1: the gateway's own) with a reason;
// its number stands in the extra info.
std::vector<uint8_t> event(uint32_t user, uint16_t reason, uint32_t number)
{
    std::vector<uint8_t> bytes(KOVA_LOG_MESSAGE_LENGTH, 0);
    put_u32_le(bytes.data(), KOVA_LOG_OFFSET_USER_ID, user);
    put_u16_le(bytes.data(), KOVA_LOG_OFFSET_REASON_CODE, reason);
    put_u32_le(bytes.data(), KOVA_LOG_OFFSET_EXTRA_INFO, number);
    return bytes;
}

uint32_t number_of(const uint8_t *bytes)
{
    return get_u32_le(bytes, KOVA_LOG_OFFSET_EXTRA_INFO);
}

std::vector<uint32_t> numbers_held(const interface_event_hold &hold)
{
    std::vector<uint32_t> numbers;
    interface_event_hold_each(&hold,
                              [&](const uint8_t *bytes)
                              {
                                  numbers.push_back(number_of(bytes));
                                  return true;
                              });
    return numbers;
}

} // namespace

TEST(InterfaceEventHold, AFloodOfConnectionsWithoutAUserNeverPushesOutTheEventsThatCarryInformation)
{
    interface_event_hold hold;
    interface_event_hold_init(&hold, INTERFACE_OUTGOING_LIMIT);
    // The log folder fills (the gateway's own 13004, then a user's sign-on among the flood),
    // then connections that never sign on, from nobody and from the gateway's own accepts.
    std::vector<uint32_t> informative;
    for (uint32_t n = 0; n < k_events; ++n)
    {
        std::vector<uint8_t> bytes;
        if (n < 50)
            bytes = event(0xFFFFFFFFu, 13004, n);
        else if (n % 200 == 0)
            bytes = event(5001, 11018, n);
        else
            bytes = event(n % 2 == 0 ? 0u : 0xFFFFFFFFu, 11027, n);
        if (!interface_event_about_connection_without_user(bytes.data()))
            informative.push_back(n);
        interface_event_hold_add(&hold, bytes.data());
    }
    ASSERT_EQ(interface_event_hold_count(&hold), static_cast<size_t>(INTERFACE_OUTGOING_LIMIT));
    EXPECT_EQ(hold.let_go, k_events - INTERFACE_OUTGOING_LIMIT);

    // Every informative event is kept, then the newest of the flood; all in their order.
    const std::vector<uint32_t> held = numbers_held(hold);
    std::vector<uint32_t> expected = informative;
    const size_t flood_kept = INTERFACE_OUTGOING_LIMIT - informative.size();
    std::vector<uint32_t> flood;
    for (uint32_t n = k_events - 1; flood.size() < flood_kept; --n)
    {
        if (n >= 50 && n % 200 != 0)
            flood.push_back(n);
    }
    expected.insert(expected.end(), flood.begin(), flood.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(held, expected);

    // Into the file, oldest first, until the hold is empty.
    std::vector<uint32_t> written;
    while (const uint8_t *oldest = interface_event_hold_oldest(&hold))
    {
        written.push_back(number_of(oldest));
        interface_event_hold_pop(&hold);
    }
    EXPECT_EQ(written, expected);
    EXPECT_EQ(interface_event_hold_count(&hold), 0u);
    EXPECT_EQ(interface_event_hold_oldest(&hold), nullptr);
}

TEST(InterfaceEventHold, WithOnlyInformativeEventsTheOldestGoFirst)
{
    interface_event_hold hold;
    interface_event_hold_init(&hold, INTERFACE_OUTGOING_LIMIT);
    for (uint32_t n = 0; n < k_events; ++n)
        interface_event_hold_add(&hold, event(0xFFFFFFFFu, n % 2 == 0 ? 13004 : 13005, n).data());
    const std::vector<uint32_t> held = numbers_held(hold);
    ASSERT_EQ(held.size(), static_cast<size_t>(INTERFACE_OUTGOING_LIMIT));
    EXPECT_EQ(held.front(), k_events - INTERFACE_OUTGOING_LIMIT);
    EXPECT_EQ(held.back(), k_events - 1);
    EXPECT_TRUE(std::is_sorted(held.begin(), held.end()));
    EXPECT_EQ(hold.let_go, k_events - INTERFACE_OUTGOING_LIMIT);
}
