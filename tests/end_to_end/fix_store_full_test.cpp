// The real gateway in the shipped layout, its working folder (FIX store, logs and standard
// error) on one small file system that fills mid-session. The ExecutionReport of an order
// the host accepted cannot be stored, so it is neither sent nor numbered, and the session
// ends with a Logout whose Text says why; the client saw no number that nothing answers. A
// console hears 13004 with the user's id and the error number, then the session's end.
// A trader at a workstation trades on. Once the disk has room the user logs on again, the
// journal brings the lost report back and the store takes messages; and the lines the full
// disk kept from standard error are there: which logs and which store file failed, and the
// order whose report was not delivered.
//
// A store that cannot be made at a start (a FIX user added to the settings, a new
// installation, on a full disk) keeps only its own session from logging on: the gateway
// starts, trades for workstations and for the FIX users whose stores stand, refuses that
// session's Logons with a Logout that says why, and tells the console and standard error;
// once the disk has room the session logs on without a restart.
//
// The folder is a small tmpfs of the test's own mount namespace. Where mounting is not
// permitted, the gateway's file size limit at the store's body length stands in for the
// full disk, and its standard error goes into a pipe, which no limit stops.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sim/console/console_client.h"
#include "sim/console/console_protocol.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/fix_text.h"
#include "support/full_disk.h"
#include "support/full_log_folder.h"
#include "support/workstation_trader.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
const uint32_t kTraderUser = 5001;
const char *const kSession = "FIX.4.2:QEL->1001,MEMBR,1";
const char *const kBody = "fix_store/FIX.4.2-QEL-1001,MEMBR,1.body";

bool send_order(qel_sim::fix_client &fix, const std::string &cl_ord_id)
{
    return fix.send_new_order_single(qel_sim::sample_new_order(cl_ord_id, qel_sim::utc_timestamp()));
}

// The ExecutionReports the client received for a ClOrdID, live or replayed.
size_t reports_for(const qel_sim::fix_client &fix, const std::string &cl_ord_id, bool replayed)
{
    size_t n = 0;
    for (const qel_sim::fix_client_message &m : fix.received())
    {
        const bool match =
            m.type == "8" && m.poss_resend == replayed && qel_test::fix_field(m.text, 11) == cl_ord_id;
        n += match ? 1 : 0;
    }
    return n;
}

bool trader_answered(qel_sim::trader &trader)
{
    qel_sim::trader_order order;
    const qel_sim::trader_reply answer = trader.enter(order, kTimeoutMs);
    return answer.arrived && answer.transcode == 2073;
}

// What a console on the realtime port heard: reason and user of each event.
struct heard_event
{
    uint16_t reason;
    uint32_t user;
    uint32_t extra;
};

void hear(sim_console::console_client &console, std::vector<heard_event> *heard)
{
    sim_console::packet p;
    int timeout_ms = 50;
    while (console.receive(&p, timeout_ms) == sim_console::receive_result::packet)
    {
        timeout_ms = 0;
        if (p.transcode() != sim_console::TC_KOVA_LOG_MESSAGE)
            continue;
        const sim_console::log_event e = sim_console::decode_log_event(p);
        heard->push_back({e.reason_code, e.user_id, e.extra_info});
    }
}

size_t heard_of(const std::vector<heard_event> &heard, uint16_t reason, uint32_t user)
{
    size_t n = 0;
    for (const heard_event &e : heard)
        n += e.reason == reason && e.user == user ? 1 : 0;
    return n;
}
} // namespace

TEST(FixStoreFull, AReportTheStoreCannotTakeEndsTheSessionWithALogoutAndTheJournalBringsItBack)
{
    qel_test::fix_road road({kFixUser}, {}, {}, {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}, "", false);
    const std::string folder = road.dir.file("disk");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    qel_test::full_log_folder disk(folder, "4m");
    ASSERT_EQ(mkdir((folder + "/logs").c_str(), 0700), 0);
    road.dir.write("disk/fix_settings.cfg", qel_test::read_file(road.dir.file("fix_settings.cfg")));
    qel_test::gateway_stderr said(folder + "/qel_text_log_default.txt", !disk.mounted());
    ASSERT_TRUE(said.ready());
    road.start(QEL_IP_BINARY, folder);
    ASSERT_TRUE(road.listening);

    sim_console::console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
    std::vector<heard_event> heard;
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
    ASSERT_EQ(stat((folder + "/" + kBody).c_str(), &body), 0);
    ASSERT_TRUE(disk.fill(road.gateway->pid(), &error, static_cast<rlim_t>(body.st_size))) << error;
    std::string lost;
    for (int n = 2; n < 100 && lost.empty(); ++n)
    {
        const std::string id = std::to_string(n);
        ASSERT_TRUE(send_order(*fix, id));
        ASSERT_TRUE(qel_test::wait_until(
            [&] {
                return reports_for(*fix, id, false) == 1 ||
                       fix->state() == qel_sim::fix_client_state::logged_out;
            },
            kTimeoutMs));
        if (reports_for(*fix, id, false) == 0)
            lost = id;
    }
    ASSERT_FALSE(lost.empty()) << "every report was stored";
    ASSERT_TRUE(fix->wait_for_state(qel_sim::fix_client_state::logged_out, kTimeoutMs));
    const std::string reason = strerror(disk.expected_error());
    EXPECT_EQ(fix->logout_text(),
              "Messages cannot be stored (" + reason + "): a message was not sent and the session ends");
    const std::vector<qel_sim::fix_client_message> received = fix->received();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back().type, "5");
    int previous = 0;
    for (const qel_sim::fix_client_message &m : received)
    {
        const int number = std::stoi(qel_test::fix_field(m.text, 34));
        EXPECT_EQ(number, previous + 1) << "no number without its message: " << m.text;
        previous = number;
    }
    EXPECT_TRUE(trader_answered(trader)) << "traders go on";

    // The console heard it, naming the user, and the session's end.
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            hear(console, &heard);
            return heard_of(heard, 11009, kFixUser) == 1;
        },
        static_cast<int>(kTimeoutMs)));
    EXPECT_EQ(heard_of(heard, 13004, kFixUser), 1u);
    for (const heard_event &e : heard)
        EXPECT_TRUE(e.reason != 13004 || e.extra == static_cast<uint32_t>(disk.expected_error())) << e.extra;

    // Room again: the user logs on, the journal replays the lost report, and the store
    // takes the next ones.
    fix.reset();
    ASSERT_TRUE(disk.free_space(road.gateway->pid(), &error)) << error;
    fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    EXPECT_EQ(reports_for(*fix, lost, true), 1u) << "delivered by the journal";
    ASSERT_TRUE(send_order(*fix, "1000"));
    EXPECT_TRUE(qel_test::wait_until([&] { return reports_for(*fix, "1000", false) == 1; }, kTimeoutMs));

    // What standard error could not take while the disk was full is said once it can (the
    // logs' spells end at their writes a second after the last failure).
    const std::string store_line = "FIX store writes to [" + std::string(kBody) + "] are failing ([" +
                                   reason + "]): session id [" + kSession +
                                   "] of user [1001] with fix nw handle [1]";
    const std::string order_line = "was not delivered to session [" + std::string(kSession) +
                                   "] with nw handle [1]: message type [8] for ClOrdID [" + lost +
                                   "] order number [";
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            trader_answered(trader);
            return said.text().find(order_line) != std::string::npos;
        },
        static_cast<int>(kTimeoutMs)))
        << said.text();
    const std::string text = said.text();
    EXPECT_EQ(qel_test::count_of(text, store_line), 1u) << text;
    EXPECT_EQ(qel_test::count_of(text, order_line), 1u) << text;
    if (disk.mounted())
    {
        EXPECT_NE(text.find("] are failing ([" + reason + "]): lines are lost until they succeed again\n"),
                  std::string::npos)
            << "the logs' spells, said after the disk had room: " << text;
    }
    EXPECT_TRUE(trader_answered(trader));

    fix->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}

// Where the full disk is at a start that must make a store file.
struct full_at_start
{
    const char *name;
    bool whole_folder; // the logs and standard error on it too, or the store alone
};

void PrintTo(const full_at_start &layout, std::ostream *out)
{
    *out << layout.name;
}

class FixStoreFullAtStart : public ::testing::TestWithParam<full_at_start>
{
};

// User 1002's store was made at an earlier start; user 1001 has just been added to the
// settings, so its store must be made at this start, on a disk that is full. The gateway
// starts, a trader trades and 1002 logs on; 1001's Logon is answered with a Logout that
// says why; the console hears 13004 with 1001's id and the error number, and standard error
// names the file and the reason once (at once where it has room, else once the disk has
// room). Freed, the disk lets 1001 log on, download its journal and trade, with no restart.
TEST_P(FixStoreFullAtStart, OnlyTheSessionWhoseStoreCannotBeMadeIsRefusedUntilTheDiskHasRoom)
{
    const uint32_t kNewUser = 1001;
    const uint32_t kOldUser = 1002;
    qel_test::fix_road road({kOldUser}, {}, {}, {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}, "", false);
    const bool whole = GetParam().whole_folder;
    const std::string folder = whole ? road.dir.file("disk") : road.dir.path();
    const std::string disk_folder = whole ? folder : road.dir.file("fix_store");
    ASSERT_EQ(mkdir(disk_folder.c_str(), 0700), 0);
    qel_test::full_log_folder disk(disk_folder, "4m");
    if (!whole && !disk.mounted())
        GTEST_SKIP() << "the store's own disk needs a mount, which is not permitted here";
    if (whole)
    {
        ASSERT_EQ(mkdir((folder + "/logs").c_str(), 0700), 0);
        road.dir.write("disk/fix_settings.cfg", qel_test::read_file(road.dir.file("fix_settings.cfg")));
    }
    const std::string settings_file = folder + "/fix_settings.cfg";
    std::string error;

    // The earlier start: 1002's store is made.
    road.start(QEL_IP_BINARY, folder);
    ASSERT_TRUE(road.listening);
    {
        std::unique_ptr<qel_sim::fix_client> old_user = road.ready_client(kOldUser, kTimeoutMs, &error);
        ASSERT_TRUE(old_user) << error;
        old_user->stop();
    }
    ASSERT_EQ(road.stop().exit_code, 0);

    // 1001 is added, the disk fills, the gateway starts again.
    const std::string settings = qel_test::read_file(settings_file);
    std::ofstream(settings_file, std::ios::app)
        << "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=QEL\nTargetCompID=" << road.session_of(kNewUser)
        << "\n";
    if (!disk.mounted()) // standard error into a pipe in the earlier start's file's place
        unlink((folder + "/qel_text_log_default.txt").c_str());
    qel_test::gateway_stderr said(folder + "/qel_text_log_default.txt", !disk.mounted());
    ASSERT_TRUE(said.ready());
    const size_t said_before = said.text().size();
    std::unique_ptr<qel_test::file_size_cap> cap;
    if (disk.mounted())
        ASSERT_TRUE(disk.fill(0, &error)) << error;
    else
        cap.reset(new qel_test::file_size_cap(0)); // the gateway inherits it
    road.start(QEL_IP_BINARY, folder);
    cap.reset();
    ASSERT_TRUE(road.listening) << "the gateway started";

    sim_console::console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
    qel_sim::workstation_client workstation;
    qel_sim::trader trader(workstation, kTraderUser);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(workstation, trader, road.workstation_port, kTimeoutMs));
    EXPECT_TRUE(trader_answered(trader)) << "workstations trade";
    if (disk.mounted())
    {
        // A store that stands opens on a full disk; its session logs on. (A file size
        // limit would refuse its files' writes as well.)
        std::unique_ptr<qel_sim::fix_client> old_user = road.client(kOldUser, &error);
        ASSERT_TRUE(old_user) << error;
        EXPECT_TRUE(old_user->wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs))
            << old_user->logout_text();
        old_user->stop();
    }

    const std::string reason = strerror(disk.expected_error());
    const std::string refusal =
        "Messages cannot be stored (" + reason + "): the session's store cannot be made, so it cannot log on";
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        SCOPED_TRACE(attempt);
        std::unique_ptr<qel_sim::fix_client> refused = road.client(kNewUser, &error);
        ASSERT_TRUE(refused) << error;
        ASSERT_TRUE(refused->wait_for_state(qel_sim::fix_client_state::logged_out, kTimeoutMs));
        EXPECT_EQ(refused->logout_text(), refusal);
        EXPECT_TRUE(qel_test::of_type(*refused, "A").empty());
        refused->stop();
    }
    std::vector<heard_event> heard;
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            hear(console, &heard);
            return heard_of(heard, 13004, kNewUser) >= 1;
        },
        static_cast<int>(kTimeoutMs)));
    EXPECT_EQ(heard_of(heard, 13004, kNewUser), 1u) << "said once, not at each Logon";
    for (const heard_event &e : heard)
        EXPECT_TRUE(e.reason != 13004 || e.user != kNewUser ||
                    e.extra == static_cast<uint32_t>(disk.expected_error()))
            << e.extra;
    EXPECT_TRUE(trader_answered(trader));

    // Room again: 1001 logs on and trades, and standard error has said why it could not.
    if (disk.mounted())
        ASSERT_TRUE(disk.free_space(road.gateway->pid(), &error)) << error;
    else
    {
        struct rlimit room; // the test's own, lifted again
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &room), 0);
        ASSERT_EQ(prlimit(road.gateway->pid(), RLIMIT_FSIZE, &room, nullptr), 0);
    }
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kNewUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    ASSERT_TRUE(send_order(*fix, "1"));
    EXPECT_TRUE(qel_test::wait_until([&] { return reports_for(*fix, "1", false) == 1; }, kTimeoutMs));
    const std::string line = "FIX store file [fix_store/FIX.4.2-QEL-" + road.session_of(kNewUser) +
                             ".session] of session id [FIX.4.2:QEL->" + road.session_of(kNewUser) +
                             "] of user [1001] cannot be made ([" + reason +
                             "]): its Logons are refused until it can\n";
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            trader_answered(trader);
            return said.text().find(line, said_before) != std::string::npos;
        },
        static_cast<int>(kTimeoutMs)))
        << said.text().substr(said_before);
    EXPECT_EQ(qel_test::count_of(said.text().substr(said_before), line), 1u);

    fix->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}

INSTANTIATE_TEST_SUITE_P(Layouts, FixStoreFullAtStart,
                         ::testing::Values(full_at_start{"TheStoreOnItsOwnDisk", false},
                                           full_at_start{"TheWholeFolderOnOneDisk", true}),
                         [](const ::testing::TestParamInfo<full_at_start> &info) { return info.param.name; });
