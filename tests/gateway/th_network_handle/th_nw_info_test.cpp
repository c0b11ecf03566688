// The host network layer without a host: its configuration keys, network handles, the
// invitation flags, pull and heart-beat notices, dropping frames of old connections,
// connect orders that cannot be carried out, and connects a host that is down refuses.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>

#include "common/ea_time.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/shared/user_link_info.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "platform/core/pf_tick.h"
#include "support/gateway_config.h"
#include "support/gateway_log.h"
#include "support/held_tick.h"

namespace
{
// One or two host links over a real link table; the tick count is held while it lives.
struct layer
{
    qel_test::held_tick held;
    qel_test::temp_dir dir;
    std::string config_file;
    ea_flag rate[2] = {{100}, {100}};
    ea_flag invite[2] = {{0}, {0}};
    user_link_info *table = nullptr;
    th_nw_info *links = nullptr;
    queue *out = queue_create();

    explicit layer(const std::map<std::string, std::string> &keys = {}, uint16_t number_of_links = 1)
    {
        qel_test::gateway_config config;
        for (const auto &key : keys)
            config.values[key.first] = key.second;
        config_file = config.write(dir);
        table = user_link_info_create(config_file.c_str(), number_of_links, nullptr);
        links = th_nw_info_create(config_file.c_str(), number_of_links, rate, table, invite, nullptr);
    }
    ~layer()
    {
        th_nw_info_destroy(links);
        user_link_info_destroy(table);
        ea_destroy_message_queue(out);
    }
    // A link that looks connected, without a socket: nothing is ever written.
    th_nw_handle *connected(uint16_t link_index, int32_t handle)
    {
        th_nw_handle *link = &links->th_nw_handle_list[link_index];
        link->network_handle = handle;
        link->state = TH_LINK_CONNECTED;
        return link;
    }
    message *frame(uint16_t link_index, int32_t handle)
    {
        message *msg = message_create(26, NORMAL_MESSAGE);
        msg->link_index = link_index;
        msg->host_network_handle = handle;
        msg->packing_weight = 1;
        return msg;
    }
    std::vector<uint16_t> take_tags()
    {
        std::vector<uint16_t> tags;
        while (message *msg = static_cast<message *>(queue_remove_head(out)))
        {
            tags.push_back(msg->tag);
            message_destroy(msg);
        }
        return tags;
    }
};

struct config_case
{
    std::map<std::string, std::string> keys;
    uint32_t heart_beat;
    uint32_t upper;
    uint32_t lower;
};
} // namespace

TEST(ThNwInfoConfig, ReadsTheKeysWithTheirDefaultsAndBounds)
{
    const config_case cases[] = {
        {{}, 30000, 1, 0},
        {{{"HEART_BEAT_TIME_INTERVAL", "0"}}, 30000, 1, 0},
        {{{"HEART_BEAT_TIME_INTERVAL", "-5"}}, 30000, 1, 0},
        {{{"HEART_BEAT_TIME_INTERVAL", "2500"}}, 2500, 1, 0},
        {{{"HEART_BEAT_TIME_INTERVAL", "40000"}}, 40000, 1, 0},
        {{{"TRIMMED_MESG_UPPER_THRESHOLD", "10"}, {"TRIMMED_MESG_LOWER_THRESHOLD", "4"}}, 30000, 10, 4},
        {{{"TRIMMED_MESG_UPPER_THRESHOLD", "5"}, {"TRIMMED_MESG_LOWER_THRESHOLD", "5"}}, 30000, 1, 0},
        {{{"TRIMMED_MESG_UPPER_THRESHOLD", "0"}}, 30000, 1, 0},
        {{{"TRIMMED_MESG_UPPER_THRESHOLD", "3"}, {"TRIMMED_MESG_LOWER_THRESHOLD", "-3"}}, 30000, 3, 0},
    };
    for (const config_case &c : cases)
    {
        layer l(c.keys);
        ASSERT_NE(l.links, nullptr);
        EXPECT_EQ(l.links->heart_beat_interval, c.heart_beat);
        EXPECT_EQ(l.links->upper_threshold, c.upper);
        EXPECT_EQ(l.links->lower_threshold, c.lower);
    }
}

TEST(ThNwInfoHandles, CountFromOneAndSkipHandlesInUseAfterTheWrap)
{
    layer l({}, 2);
    int32_t handle = 0;
    ASSERT_EQ(th_nw_info_get_new_handle(l.links, &handle, nullptr), EA_SUCCESS);
    EXPECT_EQ(handle, 1);
    ASSERT_EQ(th_nw_info_get_new_handle(l.links, &handle, nullptr), EA_SUCCESS);
    EXPECT_EQ(handle, 2);

    l.links->next_handle = INT32_MAX;
    ASSERT_EQ(th_nw_info_get_new_handle(l.links, &handle, nullptr), EA_SUCCESS);
    EXPECT_EQ(handle, INT32_MAX);
    l.links->th_nw_handle_list[0].network_handle = 1;
    l.links->th_nw_handle_list[1].network_handle = 2;
    ASSERT_EQ(th_nw_info_get_new_handle(l.links, &handle, nullptr), EA_SUCCESS);
    EXPECT_EQ(handle, 3);
    EXPECT_EQ(l.links->wrap_flag, 1);
}

TEST(ThNwInfoInvitations, FollowTheDefaultThresholdsAndTheRateLimit)
{
    layer l;
    th_nw_handle *link = l.connected(0, 5);
    th_nw_info_check_queue_thresholds(l.links, nullptr);
    EXPECT_EQ(ea_flag_get(&l.invite[0]), 1);
    th_nw_info_send_mesg(l.links, l.frame(0, 5), nullptr);
    th_nw_info_check_queue_thresholds(l.links, nullptr);
    EXPECT_EQ(ea_flag_get(&l.invite[0]), 0);
    ea_destroy_message_queue(link->pending_queue);
    link->pending_queue = queue_create();
    th_nw_info_check_queue_thresholds(l.links, nullptr);
    EXPECT_EQ(ea_flag_get(&l.invite[0]), 1);
    ea_flag_set(&l.rate[0], 0);
    th_nw_info_check_queue_thresholds(l.links, nullptr);
    EXPECT_EQ(ea_flag_get(&l.invite[0]), 0);
}

TEST(ThNwInfoInvitations, StopAtTheUpperThresholdAndResumeAtTheLower)
{
    layer l(std::map<std::string, std::string>{{"TRIMMED_MESG_UPPER_THRESHOLD", "10"},
                                               {"TRIMMED_MESG_LOWER_THRESHOLD", "4"}});
    l.connected(0, 5);
    ea_flag_set(&l.invite[0], 1);
    std::vector<int> flags;
    for (int i = 0; i < 10; ++i)
    {
        th_nw_info_send_mesg(l.links, l.frame(0, 5), nullptr);
        th_nw_info_check_queue_thresholds(l.links, nullptr);
        flags.push_back(ea_flag_get(&l.invite[0]));
    }
    queue *pending = l.links->th_nw_handle_list[0].pending_queue;
    for (int i = 0; i < 6; ++i)
    {
        message_destroy(static_cast<message *>(queue_remove_head(pending)));
        th_nw_info_check_queue_thresholds(l.links, nullptr);
        flags.push_back(ea_flag_get(&l.invite[0]));
    }
    // 1..9 waiting: open; 10: closed; 9..5: still closed; 4: open again.
    EXPECT_EQ(flags, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(ThNwInfoNotices, APullNoticeComesOncePerTimeTheLinkRunsEmpty)
{
    layer l;
    l.connected(0, 5);
    th_nw_info_send_pending(l.links, l.out, nullptr);
    th_nw_info_send_pending(l.links, l.out, nullptr);
    EXPECT_EQ(l.take_tags(), std::vector<uint16_t>{PULL_NOTIFICATION});
    EXPECT_EQ(th_nw_info_send_mesg(l.links, l.frame(0, 5), nullptr), EA_VALID);
    EXPECT_EQ(l.links->th_nw_handle_list[0].pull_flag, 0);
    // The frame cannot leave (no socket): no notice while it waits.
    th_nw_info_send_pending(l.links, l.out, nullptr);
    EXPECT_TRUE(l.take_tags().empty());
    th_nw_info_del_link(l.links, 0, nullptr);
    l.connected(0, 6);
    th_nw_info_send_pending(l.links, l.out, nullptr);
    EXPECT_EQ(l.take_tags(), std::vector<uint16_t>{PULL_NOTIFICATION});
}

TEST(ThNwInfoNotices, AHeartBeatNoticeComesOnceAfterTheIntervalSinceTheLastWrite)
{
    layer l(std::map<std::string, std::string>{{"HEART_BEAT_TIME_INTERVAL", "1000"}});
    th_nw_handle *link = l.connected(0, 5);
    pf_tick_advance(5000);
    th_nw_info_process_links(l.links, l.out, nullptr);
    EXPECT_TRUE(l.take_tags().empty()) << "nothing written yet on this connection";

    link->last_send_tick = ea_get_tick_count();
    pf_tick_advance(1000);
    th_nw_info_process_links(l.links, l.out, nullptr);
    EXPECT_TRUE(l.take_tags().empty());
    pf_tick_advance(1);
    th_nw_info_process_links(l.links, l.out, nullptr);
    th_nw_info_process_links(l.links, l.out, nullptr);
    EXPECT_EQ(l.take_tags(), std::vector<uint16_t>{GENERATE_HEART_BEAT_MESSAGE});
    link->heart_beat_flag = 0; // a heart beat was written
    th_nw_info_process_links(l.links, l.out, nullptr);
    EXPECT_EQ(l.take_tags(), std::vector<uint16_t>{GENERATE_HEART_BEAT_MESSAGE});
}

TEST(ThNwInfoSend, DropsFramesOfAnotherConnectionOrOfALinkWithoutOne)
{
    layer l;
    EXPECT_EQ(th_nw_info_send_mesg(l.links, l.frame(0, -1), nullptr), EA_NOT_FOUND);
    l.connected(0, 5);
    EXPECT_EQ(th_nw_info_send_mesg(l.links, l.frame(0, 4), nullptr), EA_NOT_FOUND);
    EXPECT_EQ(th_nw_info_send_mesg(l.links, l.frame(0, 5), nullptr), EA_VALID);
    EXPECT_EQ(queue_get_count(l.links->th_nw_handle_list[0].pending_queue), 1u);
}

TEST(ThNwInfoLinks, AResetDiscardsWhatWasQueuedAndClosesInvitations)
{
    layer l;
    th_nw_handle *link = l.connected(0, 5);
    ea_flag_set(&l.invite[0], 1);
    th_nw_info_send_mesg(l.links, l.frame(0, 5), nullptr);
    EXPECT_EQ(th_nw_info_disconnect_link(l.links, 0, nullptr), EA_SUCCESS);
    EXPECT_EQ(queue_get_count(link->pending_queue), 0u);
    EXPECT_EQ(link->network_handle, -1);
    EXPECT_EQ(link->state, TH_LINK_NOT_CONNECTED);
    EXPECT_EQ(ea_flag_get(&l.invite[0]), 0);
    EXPECT_EQ(th_nw_info_del_link(l.links, 1, nullptr), EA_VALID);
}

TEST(ThNwInfoConnect, AnAddressThatIsNotDottedOrALinkNotConfiguredFails)
{
    layer l({}, 2);
    int32_t handle = 0;
    EXPECT_EQ(th_nw_info_connect(l.links, 1, &handle, nullptr), TH_NW_CONNECT_FAILED);
    EXPECT_EQ(handle, -1);
    strcpy(l.table->link_info[0].record.host_machine_ip, "host.example");
    EXPECT_EQ(th_nw_info_connect(l.links, 0, &handle, nullptr), TH_NW_CONNECT_FAILED);
    EXPECT_EQ(handle, -1);
    strcpy(l.table->link_info[0].record.host_machine_ip, "127.0.0.1");
    strcpy(l.table->link_info[0].record.machine_wan_ip, "300.0.0.1");
    EXPECT_EQ(th_nw_info_connect(l.links, 0, &handle, nullptr), TH_NW_CONNECT_FAILED);
    EXPECT_EQ(l.links->th_nw_handle_list[0].connection_sockfd, -1);
}

// A host that closes each connection as soon as it accepts it, with an orderly close or
// with a reset. A reset may come before the link fetched the completion of its connect,
// which then reports it as its error; either way the connection was made and its end
// counts for the spacing of the link's logons.
TEST(ThNwInfoConnect, AConnectionTheHostClosesOrResetsAtOnceCountsAsEndedAtOnce)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
    layer l({{"HOST_PORT_NUMBER", std::to_string(ntohs(address.sin_port))}});
    queue *frames = queue_create();

    for (bool reset : {false, true, false, true})
    {
        int32_t handle = -1;
        ASSERT_EQ(th_nw_info_connect(l.links, 0, &handle, nullptr), EA_SUCCESS);
        ASSERT_EQ(l.links->th_nw_handle_list[0].state, TH_LINK_CONNECTING) << "under way on loopback";
        int accepted = accept(listener, nullptr, nullptr);
        ASSERT_GE(accepted, 0);
        const linger abortive = {1, 0};
        if (reset)
            setsockopt(accepted, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        close(accepted);
        // The link's passes until it reports the loss.
        std::vector<uint16_t> tags;
        for (int pass = 0; pass < 50 && tags.empty(); ++pass)
        {
            int32_t index = -1;
            ea_sync_info_wait_for_multiple_netwrok_event_objects(&l.links->socket_event, 1, false, 100,
                                                                 &index);
            ea_sync_info_reset_network_event(l.links->socket_event);
            ASSERT_NE(th_nw_info_recv_mesg(l.links, frames, 1, l.out, nullptr), EA_ERROR);
            tags = l.take_tags();
        }
        EXPECT_EQ(tags, std::vector<uint16_t>{HOST_CONNECTION_LOST}) << reset;
        EXPECT_EQ(l.links->th_nw_handle_list[0].network_handle, -1) << reset;
    }
    EXPECT_EQ(l.links->connect_attempts[0].backoff.ended_at_once, 4u);
    EXPECT_EQ(th_nw_backoff_wait(&l.links->connect_attempts[0].backoff, ea_get_tick_count()), 4000u);
    queue_destroy(frames);
    close(listener);
}

// A host that is down: nothing listens on its port (held bound by the test, so it stays
// refused). Each refused connect holds the next logon for a second from its failure, counts
// as no end of a connection, and its lines go through the link's fold: an attempt begun
// within the spell of the one before is only counted, and the count is said.
TEST(ThNwInfoConnect, ARefusedConnectHoldsTheNextLogonASecondAndFoldsTheStoriesAfterIt)
{
    int reserved = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(reserved, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(reserved, reinterpret_cast<sockaddr *>(&address), &length), 0);
    layer l({{"HOST_PORT_NUMBER", std::to_string(ntohs(address.sin_port))}});
    qel_test::gateway_test_loggers loggers({"th_network_handler_thread"});
    logger_object *logger = loggers.get("th_network_handler_thread");
    queue *frames = queue_create();
    th_nw_connect_attempts *attempts = &l.links->connect_attempts[0];

    for (int attempt = 0; attempt < 3; ++attempt)
    {
        SCOPED_TRACE(attempt);
        th_nw_connect_fold_attempt(&attempts->fold); // as the thread does for each order
        int32_t handle = -1;
        const ea_status connected = th_nw_info_connect(l.links, 0, &handle, logger);
        // Refused at once, or (on loopback, as a rule) under way and refused at its completion.
        std::vector<uint16_t> tags;
        for (int pass = 0; connected == EA_SUCCESS && pass < 50 && tags.empty(); ++pass)
        {
            int32_t index = -1;
            ea_sync_info_wait_for_multiple_netwrok_event_objects(&l.links->socket_event, 1, false, 100,
                                                                 &index);
            ea_sync_info_reset_network_event(l.links->socket_event);
            ASSERT_NE(th_nw_info_recv_mesg(l.links, frames, 1, l.out, logger), EA_ERROR);
            tags = l.take_tags();
        }
        if (connected == EA_SUCCESS)
            EXPECT_EQ(tags, std::vector<uint16_t>{HOST_CONNECTION_LOST});
        else
            th_nw_info_note_connect_failed(l.links, 0); // the thread reports HOST_CONNECTION_FAILED
        EXPECT_EQ(th_nw_backoff_wait(&attempts->backoff, ea_get_tick_count()), 1000u);
        EXPECT_EQ(attempts->backoff.ended_at_once, 0u);
        pf_tick_advance(400);
    }
    th_nw_info_connect_fold_lines(l.links, true, logger);

    const std::vector<qel_test::gateway_log_line> lines = loggers.lines("th_network_handler_thread");
    EXPECT_EQ(qel_test::functions_of_lines(lines, "Connecting to IP address").size(), 1u);
    std::vector<std::string> counts;
    for (const qel_test::gateway_log_line &line : lines)
    {
        if (line.text.compare(0, 10, "Left out [") == 0)
            counts.push_back(line.text);
    }
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_NE(counts[0].find("] log lines about [2] attempts to connect to the host over link index [0]"),
              std::string::npos)
        << counts[0];
    queue_destroy(frames);
    close(reserved);
}

TEST(ThNwInfoWait, ReturnsNoDataWhenNothingIsReady)
{
    layer l;
    queue *frames = queue_create();
    EXPECT_EQ(th_nw_info_get_elements(l.links, 1, nullptr, 0, 5, frames, l.out, nullptr, nullptr),
              EA_NO_DATA);
    shared_queue *too_many[64] = {};
    EXPECT_EQ(th_nw_info_get_elements(l.links, 1, too_many, 64, 5, frames, l.out, nullptr, nullptr),
              EA_ERROR);
    queue_destroy(frames);
}
