// The real gateway with its FIX store on a small file system that fills mid-session: the
// ExecutionReport of an order the host accepted cannot be stored, so it is neither sent
// nor numbered, and the session ends with a Logout whose Text says why. The console hears
// 13004 with the user's id and the error number, then the session's end; the logs name
// the store's file and the order whose report was not delivered; the numbers the client
// saw have no gap. A trader at a workstation trades on. Once the disk has room the user
// logs on again, the journal brings the lost report back, and the store takes messages.
//
// The store folder is a small tmpfs of the test's own mount namespace. Where mounting is
// not permitted, the gateway's file size limit at the body file's length stands in for the
// full disk; its logs then fail as well (so only what the client sees is checked) and its
// standard error goes into a pipe.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/fix_text.h"
#include "support/full_log_folder.h"
#include "support/gateway_log.h"
#include "support/log_folder_figures.h"
#include "support/workstation_trader.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
const uint32_t kTraderUser = 5001;
const char *const kBody = "fix_store/FIX.4.2-QEL-1001,MEMBR,1.body";

bool send_order(qel_sim::fix_client &fix, const std::string &cl_ord_id)
{
    return fix.send_new_order_single(qel_sim::sample_new_order(cl_ord_id, qel_sim::utc_timestamp()));
}

// The ExecutionReports the client received for a ClOrdID, and how many were replayed.
size_t reports_for(const qel_sim::fix_client &fix, const std::string &cl_ord_id, bool replayed)
{
    size_t n = 0;
    for (const qel_sim::fix_client_message &m : fix.received())
        n += m.type == "8" && m.poss_resend == replayed && qel_test::fix_field(m.text, 11) == cl_ord_id ? 1 : 0;
    return n;
}

bool trader_answered(qel_sim::trader &trader)
{
    qel_sim::trader_order order;
    const qel_sim::trader_reply answer = trader.enter(order, kTimeoutMs);
    return answer.arrived && answer.transcode == 2073;
}

size_t events_of(const qel_test::temp_dir &dir, uint16_t reason, uint32_t user, int32_t extra)
{
    size_t n = 0;
    for (const qel_test::console_event &e : qel_test::day_console_events(dir))
        n += e.reason == reason && e.user == user && (extra < 0 || e.extra == extra) ? 1 : 0;
    return n;
}

size_t lines_with(const qel_test::temp_dir &dir, const std::string &logger, const std::string &text)
{
    size_t n = 0;
    for (const qel_test::gateway_log_line &line : qel_test::gateway_log_lines(dir.file("logs"), logger))
        n += line.text.find(text) != std::string::npos ? 1 : 0;
    return n;
}

// The numbers of the messages the gateway sent on the session, from its message log.
std::vector<int> sent_numbers(const qel_test::temp_dir &dir, std::string *last)
{
    std::vector<int> numbers;
    for (const std::string &name : dir.list("logs"))
    {
        if (name.find("FIX.4.2-QEL-1001,MEMBR,1.messages.") != 0)
            continue;
        std::string text = qel_test::read_file(dir.file("logs/" + name));
        for (char &c : text)
            c = c == '\x01' ? '|' : c;
        std::string::size_type begin = 0;
        for (std::string::size_type end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        {
            const std::string line = text.substr(begin, end - begin);
            if (qel_test::fix_field(line, 49) != "QEL")
                continue;
            numbers.push_back(std::stoi(qel_test::fix_field(line, 34)));
            *last = line;
        }
    }
    return numbers;
}
} // namespace

TEST(FixStoreFull, AReportTheStoreCannotTakeEndsTheSessionWithALogoutAndTheJournalBringsItBack)
{
    qel_test::fix_road road({kFixUser}, {}, {}, {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}, "", false);
    ASSERT_EQ(mkdir(road.dir.file("fix_store").c_str(), 0700), 0);
    qel_test::full_log_folder disk(road.dir.file("fix_store"), "4m");
    qel_test::gateway_stderr said(road.dir.file("qel_text_log_default.txt"), !disk.mounted());
    ASSERT_TRUE(said.ready());
    road.start();
    ASSERT_TRUE(road.listening);

    qel_sim::workstation_client workstation;
    qel_sim::trader trader(workstation, kTraderUser);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(workstation, trader, road.workstation_port, kTimeoutMs));
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    ASSERT_TRUE(send_order(*fix, "1"));
    ASSERT_TRUE(qel_test::wait_until([&] { return reports_for(*fix, "1", false) == 1; }, kTimeoutMs));

    // The disk fills. The body file's last block may still hold a report or two: orders go
    // until one's report cannot be stored.
    struct stat body;
    ASSERT_EQ(stat(road.dir.file(kBody).c_str(), &body), 0);
    ASSERT_TRUE(disk.fill(road.gateway->pid(), &error, static_cast<rlim_t>(body.st_size))) << error;
    std::string lost;
    for (int n = 2; n < 100 && lost.empty(); ++n)
    {
        ASSERT_TRUE(send_order(*fix, std::to_string(n)));
        ASSERT_TRUE(qel_test::wait_until(
            [&]
            {
                return reports_for(*fix, std::to_string(n), false) == 1 ||
                       fix->state() == qel_sim::fix_client_state::logged_out;
            },
            kTimeoutMs));
        if (reports_for(*fix, std::to_string(n), false) == 0)
            lost = std::to_string(n);
    }
    ASSERT_FALSE(lost.empty()) << "every report was stored";
    ASSERT_TRUE(fix->wait_for_state(qel_sim::fix_client_state::logged_out, kTimeoutMs));
    const std::string reason = strerror(disk.expected_error());
    EXPECT_EQ(fix->logout_text(),
              "Messages cannot be stored (" + reason + "): a message was not sent and the session ends");
    for (const qel_sim::fix_client_message &m : fix->received())
        EXPECT_TRUE(m.type != "4" && m.type != "2") << "no gap to fill: " << m.text;
    EXPECT_TRUE(trader_answered(trader)) << "traders go on";

    if (disk.mounted())
    {
        // The operator hears of it on the console and in the logs; the client saw every
        // number the gateway gave.
        EXPECT_TRUE(qel_test::wait_until(
            [&] { return events_of(road.dir, 11009, kFixUser, -1) == 1; }, static_cast<int>(kTimeoutMs)));
        EXPECT_EQ(events_of(road.dir, 13004, kFixUser, disk.expected_error()), 1u);
        EXPECT_EQ(lines_with(road.dir, "fix_network_handler_send_thread",
                             "FIX store writes to [" + std::string(kBody) + "] are failing ([" + reason +
                                 "]): session id [FIX.4.2:QEL->1001,MEMBR,1] of user [1001]"),
                  1u);
        EXPECT_EQ(lines_with(road.dir, "fix_network_handler_send_thread",
                             "was not delivered to session [FIX.4.2:QEL->1001,MEMBR,1] with nw handle [1]: "
                             "message type [8] for ClOrdID [" + lost + "] order number ["),
                  1u);
        std::string logout;
        const std::vector<int> numbers = sent_numbers(road.dir, &logout);
        ASSERT_FALSE(numbers.empty());
        for (size_t i = 0; i < numbers.size(); ++i)
            EXPECT_EQ(numbers[i], static_cast<int>(i + 1)) << "numbered without a gap";
        EXPECT_EQ(qel_test::fix_field(logout, 35), "5") << logout;
        EXPECT_NE(said.text().find("FIX store writes to [" + std::string(kBody) + "] are failing ([" + reason +
                                   "]): session id [FIX.4.2:QEL->1001,MEMBR,1] of user [1001] is logged out\n"),
                  std::string::npos)
            << said.text();
    }

    // Room again: the user logs on, the journal replays the lost report, and the store
    // takes the next ones.
    fix.reset();
    ASSERT_TRUE(disk.free_space(road.gateway->pid(), &error)) << error;
    fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    EXPECT_EQ(reports_for(*fix, lost, true), 1u) << "delivered by the journal";
    ASSERT_TRUE(send_order(*fix, "1000"));
    EXPECT_TRUE(qel_test::wait_until([&] { return reports_for(*fix, "1000", false) == 1; }, kTimeoutMs));
    EXPECT_TRUE(trader_answered(trader));

    fix->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}
