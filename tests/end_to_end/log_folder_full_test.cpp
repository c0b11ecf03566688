// The real gateway with its log folder full, then freed: a trader and a FIX client trade
// on, and the console hears once per log file (the threads' text and binary logs, the
// FIX engine's message and event logs) that writes began to fail (13004, the error
// number) and that they succeed again (13005, the lines lost), never once per line; the
// same two lines stand in the gateway's standard error, and the end in the logs.
//
// The log folder is a small tmpfs of the test's own mount namespace (it goes with the
// test process), filled by a file of the test's. Where mounting is not permitted, the
// gateway's file size limit stands in for the full disk (prlimit, SIGXFSZ ignored), its
// standard error goes into a pipe, which no size limit stops, and the FIX client stays
// away: the limit would fail the FIX store as well, which is not a log.
#include "main_road_fixture.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "sim/console/console_client.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "support/full_disk.h"

using qel_test::answered;
using qel_test::kTimeoutMs;
using sim_console::console_client;
using sim_console::packet;
using sim_console::receive_result;

namespace
{

const uint16_t k_failing = 13004;
const uint16_t k_resumed = 13005;
const int k_wait_ms = 60000;
const uint32_t k_fix_user = 1001;

// The folder that fills: a tmpfs mounted on the log folder, or, without the right to
// mount, the gateway's file size limit.
class full_log_folder
{
  public:
    explicit full_log_folder(const std::string &folder) : m_folder(folder)
    {
        m_mounted = unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                    mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=32m,mode=0700") == 0;
        signal(SIGXFSZ, SIG_IGN); // inherited by the gateway, for the size limit
    }
    ~full_log_folder()
    {
        if (m_mounted)
            umount2(m_folder.c_str(), MNT_DETACH);
        signal(SIGXFSZ, SIG_DFL);
    }
    full_log_folder(const full_log_folder &) = delete;
    full_log_folder &operator=(const full_log_folder &) = delete;

    bool mounted() const { return m_mounted; }
    int expected_error() const { return m_mounted ? ENOSPC : EFBIG; }

    void fill(int gateway)
    {
        if (!m_mounted)
        {
            struct rlimit full = {0, RLIM_INFINITY};
            ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &m_old), 0);
            full.rlim_max = m_old.rlim_max;
            ASSERT_EQ(prlimit(gateway, RLIMIT_FSIZE, &full, nullptr), 0) << strerror(errno);
            return;
        }
        int filler = open((m_folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(filler, 0);
        std::vector<char> block(1 << 20, 'f');
        for (;;)
        {
            ssize_t written = write(filler, block.data(), block.size());
            if (written <= 0)
                break;
        }
        ASSERT_EQ(errno, ENOSPC);
        close(filler);
    }
    void free_space(int gateway)
    {
        if (!m_mounted)
        {
            ASSERT_EQ(prlimit(gateway, RLIMIT_FSIZE, &m_old, nullptr), 0) << strerror(errno);
            return;
        }
        ASSERT_EQ(unlink((m_folder + "/filler").c_str()), 0);
    }

  private:
    std::string m_folder;
    bool m_mounted = false;
    struct rlimit m_old = {};
};

// The gateway's standard error: its redirect file, or a pipe in its place.
class gateway_stderr
{
  public:
    explicit gateway_stderr(const std::string &path, bool as_pipe) : m_path(path)
    {
        if (!as_pipe)
            return;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        m_pipe = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        fcntl(m_pipe, F_SETPIPE_SZ, 1 << 20);
    }
    ~gateway_stderr()
    {
        if (m_pipe >= 0)
            close(m_pipe);
    }
    gateway_stderr(const gateway_stderr &) = delete;
    gateway_stderr &operator=(const gateway_stderr &) = delete;

    std::string text()
    {
        if (m_pipe < 0)
            return qel_test::read_file(m_path);
        char buffer[4096];
        ssize_t got;
        while ((got = read(m_pipe, buffer, sizeof buffer)) > 0)
            m_text.append(buffer, static_cast<size_t>(got));
        return m_text;
    }

  private:
    std::string m_path;
    int m_pipe = -1;
    std::string m_text;
};

struct log_event
{
    uint16_t reason;
    uint32_t extra;
};

// The gateway of the main road, with its log folder able to fill.
struct road_with_full_folder
{
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::unique_ptr<full_log_folder> folder;
    std::unique_ptr<gateway_stderr> stderr_file;
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    std::unique_ptr<qel_test::child_process> gateway;
    uint16_t workstation_port = 0;

    road_with_full_folder()
    {
        host.reset(new qel_sim::sim_host());
        EXPECT_TRUE(host->start());
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(*host, box_options, qel_sim::exchange_options()));
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        config.values["SYSTEM_LOGGING_LEVEL"] = "EVENT";
        workstation_port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
        std::string config_file = config.write(dir);
        // One FIX session, for the FIX client.
        dir.write(config.values["FIX_FILE_PATH"],
                  qel_test::read_file(dir.file(config.values["FIX_FILE_PATH"])) +
                      "StartTime=00:00:00\nEndTime=00:00:00\nHeartBtInt=30\n[SESSION]\nBeginString=FIX.4.2\n"
                      "SenderCompID=QEL\nTargetCompID=" +
                      std::to_string(k_fix_user) + ",MEMBR,1\n");
        folder.reset(new full_log_folder(dir.file("logs")));
        stderr_file.reset(new gateway_stderr(dir.file("qel_text_log_default.txt"), !folder->mounted()));
        gateway.reset(new qel_test::child_process({QEL_IP_BINARY, "-c", config_file}, dir.path()));
    }
    ~road_with_full_folder()
    {
        if (gateway)
        {
            gateway->signal(SIGTERM);
            gateway->wait(20000);
        }
        host->stop();
    }
};

} // namespace

TEST(LogFolderFull, TheConsoleHearsOncePerFileWhenLogWritesFailAndWhenTheySucceedAgain)
{
    road_with_full_folder road;
    qel_sim::workstation_client client;
    ASSERT_TRUE(
        qel_test::wait_until([&] { return client.connect("127.0.0.1", road.workstation_port); }, 10000));
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(answered(trader.sign_on(kTimeoutMs), 2301));
    ASSERT_TRUE(answered(trader.system_information(kTimeoutMs), 1601));

    console_client console;
    ASSERT_TRUE(console.connect(
        static_cast<uint16_t>(std::stoi(road.config.values["INTERFACE_REALTIME_PORT_NUMBER"]))));
    std::unique_ptr<qel_sim::fix_client> fix;
    if (road.folder->mounted())
    {
        qel_sim::fix_client_options options;
        options.port = road.config.fix_port;
        options.sender_comp_id = std::to_string(k_fix_user) + ",MEMBR,1";
        options.target_comp_id = "QEL";
        fix.reset(new qel_sim::fix_client(options));
        std::string error;
        ASSERT_TRUE(fix->start(&error)) << error;
        ASSERT_TRUE(fix->wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs))
            << fix->logout_text();
        ASSERT_TRUE(fix->request_journal({}));
        ASSERT_TRUE(fix->wait_for_state(qel_sim::fix_client_state::ready, kTimeoutMs)) << fix->logout_text();
    }
    std::vector<log_event> events;
    auto hear = [&](int timeout_ms)
    {
        packet p;
        while (console.receive(&p, timeout_ms) == receive_result::packet)
        {
            timeout_ms = 0;
            if (p.transcode() != sim_console::TC_KOVA_LOG_MESSAGE)
                continue;
            sim_console::log_event event = sim_console::decode_log_event(p);
            if (event.reason_code == k_failing || event.reason_code == k_resumed)
            {
                EXPECT_EQ(event.user_id, 0xFFFFFFFFu);
                events.push_back({event.reason_code, event.extra_info});
            }
        }
    };
    auto count = [&](uint16_t reason)
    {
        size_t n = 0;
        for (const log_event &e : events)
            n += e.reason == reason ? 1 : 0;
        return n;
    };
    int orders = 0;
    auto trade = [&]
    {
        qel_sim::trader_order order;
        EXPECT_TRUE(answered(trader.enter(order, kTimeoutMs), 2073)) << "order " << orders;
        ++orders;
        if (!fix)
            return;
        EXPECT_TRUE(fix->send_new_order_single(
            qel_sim::sample_new_order(std::to_string(orders), qel_sim::utc_timestamp())));
        EXPECT_TRUE(fix->wait_for_messages("8", static_cast<size_t>(orders), kTimeoutMs))
            << "FIX order " << orders;
    };
    trade();
    hear(500);
    ASSERT_TRUE(events.empty());

    // The folder fills: the gateway trades on, and the console hears of it.
    road.folder->fill(road.gateway->pid());
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            trade();
            hear(50);
            return count(k_failing) > 0;
        },
        k_wait_ms));
    for (int i = 0; i < 20; ++i)
        trade();
    hear(500);
    EXPECT_EQ(count(k_resumed), 0u);
    for (const log_event &e : events)
        EXPECT_EQ(e.extra, static_cast<uint32_t>(road.folder->expected_error()));

    // Room again: each log that failed says how many lines it lost.
    road.folder->free_space(road.gateway->pid());
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            trade();
            hear(50);
            return count(k_resumed) > 0;
        },
        k_wait_ms));
    for (int i = 0; i < 20; ++i)
        trade();
    hear(500);
    uint32_t lost = 0;
    for (const log_event &e : events)
    {
        if (e.reason == k_resumed)
        {
            EXPECT_GT(e.extra, 0u);
            lost += e.extra;
        }
    }
    const size_t failing = count(k_failing);
    const size_t files = road.dir.list("logs").size();
    EXPECT_LE(failing, files) << "once per file, never per line (" << lost << " lines lost)";
    EXPECT_LE(count(k_resumed), failing);

    const bool with_fix = fix != nullptr;
    fix.reset();
    road.gateway->signal(SIGTERM);
    EXPECT_EQ(road.gateway->wait(20000).exit_code, 0);
    road.gateway.reset();
    const std::string said = road.stderr_file->text();
    EXPECT_EQ(qel_test::count_of(said, "] are failing (["), failing) << said;
    EXPECT_GE(qel_test::count_of(said, "] succeed again: ["), count(k_resumed)) << said;
    EXPECT_NE(said.find("): lines are lost until they succeed again\n"), std::string::npos) << said;
    EXPECT_NE(said.find(" lines were lost\n"), std::string::npos) << said;
    if (with_fix)
    {
        EXPECT_NE(said.find(".messages."), std::string::npos) << "the FIX message log's spell: " << said;
    }

    bool in_a_log = false;
    for (const std::string &name : road.dir.list("logs"))
        in_a_log = in_a_log || road.dir.read("logs/" + name).find("] succeed again: [") != std::string::npos;
    EXPECT_TRUE(in_a_log) << "the end of a spell stands in the log itself";
}
