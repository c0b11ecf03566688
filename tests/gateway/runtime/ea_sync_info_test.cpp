// The synchronisation object: semaphore of maximum 1, the re-entrant critical section
// with its owner checks, the mutex, and the multiple waits on semaphores and on network
// events, with the gateway's status codes and indexes.
#include "gateway/runtime/ea_sync_info.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/ea_thread.h"
#include "support/test_support.h"

namespace
{
struct sync_list
{
    std::vector<ea_sync_info *> objects;
    std::vector<uint32_t> kinds;
    sync_list(size_t n, uint32_t flags)
    {
        for (size_t i = 0; i < n; ++i)
        {
            objects.push_back(ea_sync_info_create(flags, 1));
            kinds.push_back((flags & EA_SYNC_SEMAPHORE) != 0 ? EA_WAIT_ON_SEMAPHORE : EA_WAIT_ON_MUTEX);
        }
    }
    ~sync_list()
    {
        for (ea_sync_info *s : objects)
        {
            ea_sync_info_destroy(s);
        }
    }
};
} // namespace

TEST(EaSyncInfo, CreatesOnlyThePartsItsFlagsAskFor)
{
    ea_sync_info *s = ea_sync_info_create(EA_SYNC_CRITICAL_SECTION | EA_SYNC_NETWORK_EVENT, 1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->semaphore, nullptr);
    EXPECT_NE(s->critical_section, nullptr);
    EXPECT_EQ(s->mutex, nullptr);
    EXPECT_NE(s->network_event, nullptr);
    EXPECT_EQ(s->lock_count, 0u);
    EXPECT_EQ(ea_sync_info_wait(s, 0), EA_ERROR);
    EXPECT_EQ(ea_sync_info_release_semaphore(s, 1), EA_ERROR);
    EXPECT_EQ(ea_sync_info_wait_mutex(s, 0), EA_ERROR);
    ea_sync_info_destroy(s);
    // A semaphore needs a positive maximum; nothing half-made is returned.
    EXPECT_EQ(ea_sync_info_create(EA_SYNC_SEMAPHORE | EA_SYNC_CRITICAL_SECTION, 0), nullptr);
}

TEST(EaSyncInfo, SemaphoreOfMaximumOneRefusesASecondReleaseWith298)
{
    ea_sync_info *s = ea_sync_info_create(EA_SYNC_SEMAPHORE, 1);
    EXPECT_EQ(ea_sync_info_wait(s, 0), EA_WAIT_TIME_OUT);
    EXPECT_EQ(ea_sync_info_release_semaphore(s, 1), EA_SUCCESS);
    EXPECT_EQ(ea_sync_info_release_semaphore(s, 1), EA_ERROR);
    EXPECT_EQ(ea_sync_info_last_error(), EA_SYNC_ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(ea_sync_info_wait(s, 0), EA_SUCCESS);
    EXPECT_EQ(ea_sync_info_wait(s, 10), EA_WAIT_TIME_OUT);
    ea_sync_info_destroy(s);
}

TEST(EaSyncInfo, LeavingACriticalSectionNotHeldGives10000)
{
    ea_sync_info *s = ea_sync_info_create(EA_SYNC_CRITICAL_SECTION, 0);
    EXPECT_EQ(ea_sync_info_leave_critical_section(s), EA_ERROR);
    EXPECT_EQ(s->lock_count, 0u);
    ASSERT_EQ(ea_sync_info_enter_critical_section(s), EA_SUCCESS);
    EXPECT_EQ(s->owner_thread_id, ea_thread_current_id());
    EXPECT_EQ(ea_sync_info_leave_critical_section(s), EA_SUCCESS);
    EXPECT_EQ(ea_sync_info_leave_critical_section(s), EA_ERROR);
    ea_sync_info_destroy(s);
}

TEST(EaSyncInfo, OwnerMustLeaveAsOftenAsItEnteredAndOthersCannotLeave)
{
    ea_sync_info *s = ea_sync_info_create(EA_SYNC_CRITICAL_SECTION, 0);
    ASSERT_EQ(ea_sync_info_enter_critical_section(s), EA_SUCCESS);
    ASSERT_EQ(ea_sync_info_enter_critical_section(s), EA_SUCCESS);
    EXPECT_EQ(s->lock_count, 2u);

    std::atomic<bool> entered{false};
    std::atomic<ea_status> foreign_leave{EA_SUCCESS};
    std::thread other(
        [&]
        {
            foreign_leave = ea_sync_info_leave_critical_section(s);
            ea_sync_info_enter_critical_section(s);
            entered = true;
            ea_sync_info_leave_critical_section(s);
        });
    ASSERT_TRUE(qel_test::wait_until([&] { return foreign_leave.load() != EA_SUCCESS; }, 5000));
    EXPECT_EQ(foreign_leave.load(), EA_ERROR);
    EXPECT_EQ(ea_sync_info_leave_critical_section(s), EA_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(entered.load());
    EXPECT_EQ(ea_sync_info_leave_critical_section(s), EA_SUCCESS);
    other.join();
    EXPECT_TRUE(entered.load());
    ea_sync_info_destroy(s);
}

TEST(EaSyncInfo, MutexIsRecursiveAndReleasedOnlyByItsOwner)
{
    ea_sync_info *s = ea_sync_info_create(EA_SYNC_MUTEX, 0);
    EXPECT_EQ(ea_sync_info_release_mutex(s), EA_ERROR);
    ASSERT_EQ(ea_sync_info_wait_mutex(s, 0), EA_SUCCESS);
    ASSERT_EQ(ea_sync_info_wait_mutex(s, 0), EA_SUCCESS);
    std::thread other(
        [&]
        {
            EXPECT_EQ(ea_sync_info_wait_mutex(s, 10), EA_WAIT_TIME_OUT);
            EXPECT_EQ(ea_sync_info_release_mutex(s), EA_ERROR);
        });
    other.join();
    EXPECT_EQ(ea_sync_info_release_mutex(s), EA_SUCCESS);
    EXPECT_EQ(ea_sync_info_release_mutex(s), EA_SUCCESS);
    EXPECT_EQ(ea_sync_info_release_mutex(s), EA_ERROR);
    ea_sync_info_destroy(s);
}

TEST(EaSyncInfo, WaitOn64WakesOnTheLowestReadyIndex)
{
    sync_list list(64, EA_SYNC_SEMAPHORE);
    int32_t index = -7;
    std::thread producer(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ea_sync_info_release_semaphore(list.objects[63], 1);
        });
    ASSERT_EQ(ea_sync_info_wait_for_multiple_objects(list.objects.data(), list.kinds.data(), 64, false,
                                                     EA_INFINITE, &index),
              EA_SUCCESS);
    producer.join();
    EXPECT_EQ(index, 63);
    ea_sync_info_release_semaphore(list.objects[50], 1);
    ea_sync_info_release_semaphore(list.objects[9], 1);
    for (int32_t expected : {9, 50})
    {
        ASSERT_EQ(ea_sync_info_wait_for_multiple_objects(list.objects.data(), list.kinds.data(), 64, false, 0,
                                                         &index),
                  EA_SUCCESS);
        EXPECT_EQ(index, expected);
    }
}

TEST(EaSyncInfo, MultipleWaitRefusalsAndTimeOut)
{
    sync_list list(65, EA_SYNC_SEMAPHORE);
    int32_t index = 5;
    EXPECT_EQ(ea_sync_info_wait_for_multiple_objects(list.objects.data(), list.kinds.data(), 65, false,
                                                     EA_INFINITE, &index),
              EA_ERROR);
    EXPECT_EQ(index, -1);
    index = 5;
    EXPECT_EQ(
        ea_sync_info_wait_for_multiple_objects(list.objects.data(), list.kinds.data(), 3, false, 10, &index),
        EA_WAIT_TIME_OUT);
    EXPECT_EQ(index, -1);
    // Kind 4 asks for a mutex, which these objects do not have; kind 2 is no kind.
    std::vector<uint32_t> mutex_kinds(3, EA_WAIT_ON_MUTEX);
    EXPECT_EQ(
        ea_sync_info_wait_for_multiple_objects(list.objects.data(), mutex_kinds.data(), 3, false, 0, &index),
        EA_ERROR);
    std::vector<uint32_t> bad_kinds(3, 2);
    EXPECT_EQ(
        ea_sync_info_wait_for_multiple_objects(list.objects.data(), bad_kinds.data(), 3, false, 0, &index),
        EA_ERROR);
    // Wait all reports index -1 on success.
    for (int i = 0; i < 3; ++i)
    {
        ea_sync_info_release_semaphore(list.objects[i], 1);
    }
    index = 5;
    EXPECT_EQ(
        ea_sync_info_wait_for_multiple_objects(list.objects.data(), list.kinds.data(), 3, true, 0, &index),
        EA_SUCCESS);
    EXPECT_EQ(index, -1);
}

// A network thread's wait: its input queue's event and a socket's event together.
TEST(EaSyncInfo, NetworkEventWaitSeesQueueSignalAndSocketData)
{
    sync_list list(2, EA_SYNC_CRITICAL_SECTION | EA_SYNC_NETWORK_EVENT);
    int32_t index = 9;
    EXPECT_EQ(ea_sync_info_wait_for_multiple_netwrok_event_objects(list.objects.data(), 2, false, 10, &index),
              EA_WAIT_TIME_OUT);
    EXPECT_EQ(index, -1);

    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_EQ(ea_sync_info_network_event_select(list.objects[1], pair[0], EA_FD_READ | EA_FD_CLOSE), 0);
    ASSERT_EQ(send(pair[1], "z", 1, 0), 1);
    ASSERT_EQ(
        ea_sync_info_wait_for_multiple_netwrok_event_objects(list.objects.data(), 2, false, 5000, &index),
        EA_SUCCESS);
    EXPECT_EQ(index, 1);
    ASSERT_EQ(ea_sync_info_set_network_event(list.objects[0]), EA_SUCCESS);
    ASSERT_EQ(ea_sync_info_wait_for_multiple_netwrok_event_objects(list.objects.data(), 2, false, 0, &index),
              EA_SUCCESS);
    EXPECT_EQ(index, 0);
    ASSERT_EQ(ea_sync_info_reset_network_event(list.objects[0]), EA_SUCCESS);

    ea_network_events events;
    ASSERT_EQ(ea_enum_network_events(pair[0], &events), 0);
    int32_t error = -1;
    EXPECT_EQ(ea_check_network_event(&events, EA_FD_READ, &error), 1);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ea_check_network_event(&events, EA_FD_CLOSE, &error), 0);
    EXPECT_EQ(ea_sync_info_wait_for_multiple_netwrok_event_objects(list.objects.data(), 2, false, 10, &index),
              EA_WAIT_TIME_OUT);

    ea_sync_info *no_event = ea_sync_info_create(EA_SYNC_SEMAPHORE, 1);
    EXPECT_EQ(ea_sync_info_network_event_select(no_event, pair[0], EA_FD_READ), -1);
    ea_sync_info *mixed[2] = {list.objects[0], no_event};
    EXPECT_EQ(ea_sync_info_wait_for_multiple_netwrok_event_objects(mixed, 2, false, 0, &index), EA_ERROR);
    ea_sync_info_destroy(no_event);
    close(pair[0]);
    close(pair[1]);
}
