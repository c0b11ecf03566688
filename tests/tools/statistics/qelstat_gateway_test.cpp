// qelstat beside a real gateway: qel_ip runs against the simulated host and a trader sends
// orders; then the real qelstat runs pkeff once over the gateway's host-link request log
// and onstat every second on the gateway's thread count. pkeff's totals are those of the
// frames the host received, counted here from the frames themselves; onstat's value is
// the gateway's thread count in /proc; the current file holds one line and the history
// one per sample, each ending in the time of the next call.
//
// The gateway runs under a name of its own (qel_ip_<pid>): onstat reads the lowest
// process id of a name, and other gateways may run on the same machine.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "end_to_end/main_road_fixture.h"
#include "support/installation.h"
#include "support/qel_stats_fixture.h"

using qel_test::kTimeoutMs;
using qel_test::parameter_line;
using qel_test::stats_fixture;

namespace
{

const int64_t k_exchange_offset = 19800; // +05:30

// The main road with the gateway under another name.
struct named_road
{
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::string name = "qel_ip_" + std::to_string(getpid());
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    std::unique_ptr<qel_test::child_process> gateway;
    uint16_t workstation_port = 0;

    named_road()
    {
        host.reset(new qel_sim::sim_host());
        EXPECT_TRUE(host->start());
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(*host, box_options, qel_sim::exchange_options()));
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        workstation_port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
        std::string config_file = config.write(dir);
        std::string error;
        EXPECT_TRUE(qel_test::install_gateway(QEL_IP_BINARY, dir.path(), name, &error)) << error;
        gateway.reset(new qel_test::child_process({dir.file(name), "-c", config_file}, dir.path()));
    }
    ~named_road()
    {
        if (gateway)
        {
            gateway->signal(SIGTERM);
            gateway->wait(20000);
        }
        host->stop();
    }
};

struct packing_counts
{
    int64_t packets = 0;
    int64_t messages = 0;
    int64_t packing[5] = {};
    bool operator==(const packing_counts &o) const
    {
        return packets == o.packets && messages == o.messages &&
               std::equal(std::begin(packing), std::end(packing), std::begin(o.packing));
    }
};

std::ostream &operator<<(std::ostream &out, const packing_counts &c)
{
    return out << c.packets << " packets, " << c.messages << " messages, packing " << c.packing[0] << "/"
               << c.packing[1] << "/" << c.packing[2] << "/" << c.packing[3] << "/" << c.packing[4];
}

// The host's count: a frame's record count is the big-endian number after its 22-byte
// network header; pkeff counts packets of 1 to 4 records.
packing_counts host_counts(const std::vector<qel_sim::host_frame> &frames)
{
    packing_counts c;
    for (const qel_sim::host_frame &frame : frames)
    {
        if (frame.frame.size() < 24)
            continue;
        int count = frame.frame[22] << 8 | frame.frame[23];
        if (count < 1 || count > 4)
            continue;
        c.packets += 1;
        c.messages += count;
        c.packing[count - 1] += 1;
    }
    return c;
}

// "Name, value" lines of the summary.
int64_t summary_value(const std::string &summary, const std::string &name)
{
    size_t at = summary.find("\n" + name + ", ");
    return at == std::string::npos ? -1 : std::stoll(summary.substr(at + name.size() + 3));
}

int threads_of(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.compare(0, 8, "Threads:") == 0)
            return std::stoi(line.substr(8));
    }
    return -1;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(QelstatOnAGateway, PkeffCountsTheHostsFramesAndOnstatReadsTheGatewaysThreads)
{
    named_road road;
    // Four desks trade at once, so that the gateway packs some records together.
    const int desks = 4, orders = 6;
    std::vector<std::unique_ptr<qel_sim::workstation_client>> clients;
    std::vector<std::unique_ptr<qel_sim::trader>> traders;
    for (int d = 0; d < desks; ++d)
    {
        clients.emplace_back(new qel_sim::workstation_client());
        qel_sim::workstation_client &client = *clients.back();
        ASSERT_TRUE(
            qel_test::wait_until([&] { return client.connect("127.0.0.1", road.workstation_port); }, 10000));
        traders.emplace_back(new qel_sim::trader(client, static_cast<uint32_t>(5001 + d)));
        ASSERT_TRUE(qel_test::answered(traders.back()->sign_on(kTimeoutMs), 2301));
        ASSERT_TRUE(qel_test::answered(traders.back()->system_information(kTimeoutMs), 1601));
    }
    std::atomic<int> answered(0);
    std::vector<std::thread> threads;
    for (int d = 0; d < desks; ++d)
    {
        threads.emplace_back(
            [&, d]
            {
                for (int i = 0; i < orders; ++i)
                {
                    qel_sim::trader_order order;
                    order.price = 1850000 + 100 * i;
                    answered += traders[static_cast<size_t>(d)]->enter(order, kTimeoutMs).arrived ? 1 : 0;
                }
            });
    }
    for (std::thread &thread : threads)
        thread.join();
    ASSERT_EQ(answered.load(), desks * orders);
    packing_counts before = host_counts(road.host->frames());
    ASSERT_GE(before.messages, desks * orders);

    stats_fixture f("", false);
    f.dir.write("online.txt", parameter_line("onstat.so", "gateway_threads", 1,
                                             {"Process(" + road.name + ")\\Thread Count", "2",
                                              "Gateway threads", "count", "1"}));
    f.dir.write("offline.txt", parameter_line("pkeff.so", "pk", 0,
                                              {"th_network_handler_thread_request", road.dir.file("logs")}));
    int64_t started = static_cast<int64_t>(time(nullptr));
    qel_test::child_process qelstat({QELSTAT_BINARY, "-c", f.config}, f.dir.path());

    char day[16];
    time_t now = static_cast<time_t>(started);
    struct tm local;
    localtime_r(&now, &local);
    strftime(day, sizeof day, "%Y%m%d", &local);
    std::string output = std::string("offline/pk.") + day + ".000000";
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return f.logged("Offline statistics files generated for parameter [1]"); }, 10000))
        << f.log();
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            std::vector<std::string> current = f.dir.list("current");
            return current.size() == 1 && lines_of(f.dir.read("history/" + current[0])).size() >= 3;
        },
        15000))
        << f.log();
    std::string current_name = f.dir.list("current")[0];
    std::string current = f.dir.read("current/" + current_name);
    int gateway_threads = threads_of(road.gateway->pid());
    std::string history = f.dir.read("history/" + current_name);
    packing_counts after = host_counts(road.host->frames());

    // pkeff: one block for the one request log, whose totals are the host's.
    std::string summary = f.dir.read(output + ".summary.csv");
    std::string csv = f.dir.read(output + ".csv");
    EXPECT_NE(summary.find("Output File No. 1, File Name - th_network_handler_thread_request."),
              std::string::npos)
        << summary;
    EXPECT_EQ(summary.find("Output File No. 2"), std::string::npos);
    ASSERT_GE(summary.size(), 4u);
    EXPECT_EQ(summary.substr(summary.size() - 4), "0\n\n\n") << "the block ends in two line breaks";
    packing_counts measured;
    measured.packets = summary_value(summary, "Total Packet Count");
    measured.messages = summary_value(summary, "Total Message Count");
    for (int n = 1; n <= 5; ++n)
        measured.packing[n - 1] = summary_value(summary, "Total " + std::to_string(n) + " packed messages");
    if (before == after)
        EXPECT_EQ(measured, after) << summary;
    else
        EXPECT_TRUE(measured == before || measured == after) << measured << " | " << before << " | " << after;
    EXPECT_EQ(measured.packing[4], 0);
    EXPECT_GE(measured.messages, desks * (orders + 2))
        << "the sign-ons, the system information and the orders";

    // Its samples: one row per distinct second of the gateway's exchange time, shown as UTC.
    std::vector<int64_t> seconds;
    for (const std::string &line : lines_of(csv))
    {
        if (!line.empty() && isdigit(static_cast<unsigned char>(line[0])))
            seconds.push_back(std::stoll(line));
    }
    EXPECT_EQ(static_cast<int64_t>(seconds.size()), summary_value(summary, "Number of Samples"));
    ASSERT_FALSE(seconds.empty());
    for (size_t i = 1; i < seconds.size(); ++i)
        EXPECT_LT(seconds[i - 1], seconds[i]) << "distinct seconds, in order";
    EXPECT_GE(seconds.front(), started - 120 + k_exchange_offset);
    EXPECT_LE(seconds.back(), started + k_exchange_offset + 5);
    time_t first = static_cast<time_t>(seconds.front());
    struct tm utc;
    gmtime_r(&first, &utc);
    char shown[32];
    strftime(shown, sizeof shown, "%a %b %e %H:%M:%S %Y", &utc);
    EXPECT_NE(csv.find(std::to_string(seconds.front()) + ",", 0), std::string::npos);
    EXPECT_NE(csv.find(std::string(",") + shown + "\n"), std::string::npos) << csv;

    // onstat: the current file holds the newest line, the history one line per sample.
    std::vector<std::string> history_lines = lines_of(history);
    ASSERT_EQ(lines_of(current).size(), 1u) << current;
    EXPECT_EQ(current, history_lines.back() + "\n") << "the newest line of the history";
    EXPECT_EQ(current.substr(0, current.rfind(',')),
              "2,Gateway threads," + std::to_string(gateway_threads) + ".00,count");
    int64_t previous_next = 0;
    for (const std::string &line : history_lines)
    {
        int64_t next = std::stoll(line.substr(line.rfind(',') + 1));
        EXPECT_GE(next, started + 1);
        EXPECT_GT(next, previous_next) << "each line ends in the next call's time";
        previous_next = next;
    }
    EXPECT_LE(previous_next, static_cast<int64_t>(time(nullptr)) + 1);

    qelstat.signal(SIGTERM);
    EXPECT_EQ(qelstat.wait(10000).exit_code, 0);
}

} // namespace
