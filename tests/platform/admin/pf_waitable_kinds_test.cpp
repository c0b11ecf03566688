// The waitable kinds the supervisor uses in the 64-object wait: an auto-reset event, a
// one-shot timer and process handles (started or adopted).
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>

#include "platform/admin/exit_status.h"
#include "platform/admin/pf_event.h"
#include "platform/admin/pf_process_handle.h"
#include "platform/admin/pf_timer.h"
#include "platform/core/pf_wait.h"
#include "support/test_support.h"

TEST(WaitableKinds, EventReleasesOneWaitAndUnsets)
{
    pf_event *event = pf_event_create();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(pf_wait_for_single(pf_event_waitable(event), 0), PF_WAIT_TIMEOUT);
    pf_event_set(event);
    pf_event_set(event); // a set event stays set once
    EXPECT_EQ(pf_wait_for_single(pf_event_waitable(event), 0), PF_WAIT_OBJECT_0);
    EXPECT_EQ(pf_wait_for_single(pf_event_waitable(event), 0), PF_WAIT_TIMEOUT);
    pf_event_set(event);
    pf_event_reset(event);
    EXPECT_EQ(pf_wait_for_single(pf_event_waitable(event), 0), PF_WAIT_TIMEOUT);
    pf_event_destroy(event);
}

TEST(WaitableKinds, TimerFiresOnceAfterItsDelay)
{
    pf_timer *timer = pf_timer_create();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(pf_wait_for_single(pf_timer_waitable(timer), 20), PF_WAIT_TIMEOUT);
    ASSERT_TRUE(pf_timer_set(timer, 50));
    EXPECT_EQ(pf_wait_for_single(pf_timer_waitable(timer), 0), PF_WAIT_TIMEOUT);
    EXPECT_EQ(pf_wait_for_single(pf_timer_waitable(timer), 5000), PF_WAIT_OBJECT_0);
    EXPECT_EQ(pf_wait_for_single(pf_timer_waitable(timer), 100), PF_WAIT_TIMEOUT) << "auto-reset";
    ASSERT_TRUE(pf_timer_set(timer, 30));
    pf_timer_cancel(timer);
    EXPECT_EQ(pf_wait_for_single(pf_timer_waitable(timer), 100), PF_WAIT_TIMEOUT);
    pf_timer_destroy(timer);
}

TEST(WaitableKinds, ProcessHandlesReportTheirEndAmongOtherObjects)
{
    pf_spawn_options options;
    int error = 0;
    // It ends when the test lets it, not after a time a busy machine may outlast.
    qel_test::temp_dir dir;
    const std::string go = dir.file("go");
    pf_process_handle *exits = pf_process_handle_create(
        "/bin/sh", {"/bin/sh", "-c", "while [ ! -e '" + go + "' ]; do sleep 0.01; done; exit 17"}, options,
        &error);
    ASSERT_NE(exits, nullptr) << error;
    pf_process_handle *sleeper =
        pf_process_handle_create("/bin/sleep", {"/bin/sleep", "30"}, options, &error);
    ASSERT_NE(sleeper, nullptr);
    pf_event *event = pf_event_create();
    pf_waitable *list[3] = {pf_process_handle_waitable(sleeper), pf_event_waitable(event),
                            pf_process_handle_waitable(exits)};
    int code = -1;
    EXPECT_EQ(pf_process_handle_end(exits, &code), PF_PROCESS_RUNNING);
    EXPECT_EQ(pf_wait_for_multiple(list, 3, false, 50), PF_WAIT_TIMEOUT);
    dir.write("go", "");
    EXPECT_EQ(pf_wait_for_multiple(list, 3, false, 5000), PF_WAIT_OBJECT_0 + 2);
    EXPECT_EQ(pf_process_handle_end(exits, &code), PF_PROCESS_EXITED);
    EXPECT_EQ(pf_exit_code_from_status(code), 10001) << "17 is the gateway's restart";
    // Ended handles stay signalled; the lowest ready index wins.
    pf_event_set(event);
    EXPECT_EQ(pf_wait_for_multiple(list, 3, false, 0), PF_WAIT_OBJECT_0 + 1);
    EXPECT_EQ(pf_wait_for_multiple(list, 3, false, 0), PF_WAIT_OBJECT_0 + 2);

    // Adopted: another handle on the sleeper, which is not ours to reap.
    pf_process_handle *adopted = pf_process_handle_open(pf_process_handle_pid(sleeper), &error);
    ASSERT_NE(adopted, nullptr);
    ASSERT_TRUE(pf_process_handle_signal(sleeper, SIGKILL));
    EXPECT_EQ(pf_wait_for_single(pf_process_handle_waitable(adopted), 5000), PF_WAIT_OBJECT_0);
    EXPECT_EQ(pf_process_handle_end(sleeper, &code), PF_PROCESS_SIGNALED);
    EXPECT_EQ(code, SIGKILL);
    pf_process_handle_close(adopted);

    EXPECT_EQ(pf_process_handle_create("/nonexistent/qel_ip_tx", {"/nonexistent/qel_ip_tx"}, options, &error),
              nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(pf_process_handle_open(0x7FFFFFF0u, &error), nullptr);
    pf_process_handle_close(exits);
    pf_process_handle_close(sleeper);
    pf_event_destroy(event);
}
