// A cleaned or full disk under the shipped configuration, measured on one or more builds of
// the system in the same run (the landed build and a change, say): the figures an operator
// meets, side by side.
//   - clean: a gateway on the shipped configuration, its logs/ removed 3 s after the start;
//     7 s later the demo's FIX client (sim_fix_client of this build, as run.sh runs it) logs
//     on, sends an order and a spread and logs out, then a trader trades and the gateway
//     stops. Which FIX engine logs stand under their names afterwards, which files under the
//     working folder hold the session's 35=D, and how many of the engine's files standard
//     error names as removed (and how often each), and whether the session's logs hold its
//     Logon, order and Logout; clean-soon: the same with the client 1 s after the clean-up
//     (within the five seconds between two looks at a file's name);
//   - store: the working folder (FIX store, logs and standard error) on one 4 MB tmpfs that
//     fills mid-session: the order whose ExecutionReport the store could not take, what the
//     FIX client saw (its report live, a Logout and its text, a gap in the numbers), what a
//     console heard (13004 with the user's id, the session's end), whether the order is named
//     in the gateway's logs or standard error, whether its report came live once the disk had
//     room, and by the journal at the next logon; and which logs' spells of failing writes
//     standard error, on the same disk, kept;
//   - start: a gateway started with its logs/ on a full 2 MB tmpfs: whether it runs (or its
//     exit status), what its standard error says, what a console that connects hears; and
//     the same with its FIX store on a full file system as well;
//   - store-start: the shipped installation's first start (its FIX store's files to be
//     made) with fix_store/ on a full tmpfs of its own, and with the whole working folder on
//     one: whether the gateway runs, a trader trades, the FIX user's Logon is refused and
//     with what Text, a console hears 13004 with the user's id, standard error names the
//     store's file, and the user logs on once the disk has room, without a restart;
//   - store-unread: a FIX client that sends orders and reads nothing for 40 s, its store
//     full from its first order, beside a trader at 50 orders a second, and the same client
//     with room in its store: the orders its connection took and the gateway read, when the
//     gateway ended it, what the logs grew by, the trader's answers;
//   - tools: qelmon running qelstat (from the registry's COMMON\1) and holding a market whose
//     gateway is missing, their shared log folder removed: whether each program's text log
//     stands again under its name with its later lines, and how often each said so;
//   - host: the README's line for the simulated host (of the README of each build's
//     checkout) run on a port of the run's, and a trader signing on in every slot of a
//     gateway on the shipped configuration: how many signed on, and what the FIX user then
//     meets.
//
//   - missing: a gateway on the shipped configuration started with no logs/ folder (a
//     clean-up while it was stopped): whether it runs, the demo's trader and FIX client, its
//     exit at the stop, what logs/ holds and what standard error says;
//   - clean-late: logs/ removed 3 s after the start, when few threads have opened their
//     logs, three traders signing on 0.5, 7.5 and 13.5 s later, beside the same run without
//     the removal: whether logs/ stands 14.5 s after the removal, the bytes of the binary
//     logs, the threads' lines standard error took instead, and how the removal was said
//     (standard error, 13004 and 13005 to a console); and the same with a file put in the
//     folder's place until 10.5 s after the removal, so that no log can be opened: the spells
//     of failing writes said, and the lines and records their ends counted.
//
//   log_faults_bench [--build DIR]... [clean] [clean-soon] [store] [start] [store-start]
//                    [store-unread] [tools] [host] [missing] [clean-late]
//
// A build is a build folder (its gateway/qel_ip, tools/service/qelmon,
// tools/statistics/qelstat and onstat.so); the simulated peers are this build's. Without
// --build this build runs; without a section, all. The tmpfs sections need a private mount
// namespace (root, or a user namespace), and say so when there is none.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/admin/pf_service.h"
#include "sim/console/console_client.h"
#include "sim/console/console_protocol.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_deaf_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/fix_text.h"
#include "support/full_log_folder.h"
#include "support/log_folder_figures.h"
#include "support/paced_requests.h"
#include "support/workstation_trader.h"

namespace
{
typedef std::chrono::steady_clock steady;

const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
const char *const kNameLost = "no longer stood under its name";

// A build folder and its programs.
struct build
{
    std::string dir;
    std::string gateway() const { return dir + "/gateway/qel_ip"; }
    std::string qelmon() const { return dir + "/tools/service/qelmon"; }
    std::string qelstat() const { return dir + "/tools/statistics/qelstat"; }
    std::string onstat() const { return dir + "/tools/statistics/onstat.so"; }
    // The checkout it was built from, as its cache says.
    std::string source() const
    {
        const std::string cache = qel_test::read_file(dir + "/CMakeCache.txt");
        const std::string key = "\nCMAKE_HOME_DIRECTORY:INTERNAL=";
        const size_t at = cache.find(key);
        if (at == std::string::npos)
            return "";
        const size_t begin = at + key.size();
        return cache.substr(begin, cache.find('\n', begin) - begin);
    }
};

std::string this_build_dir()
{
    const std::string binary = QEL_IP_BINARY;
    const std::string gateway_dir = binary.substr(0, binary.rfind('/'));
    return gateway_dir.substr(0, gateway_dir.rfind('/'));
}

double seconds_since(steady::time_point t)
{
    return std::chrono::duration<double>(steady::now() - t).count();
}

void sleep_until(steady::time_point t)
{
    std::this_thread::sleep_until(t);
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    const size_t at = text.find(from);
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// The road's folders with the shipped qel_ip.cfg and fix_settings.cfg of this checkout, the
// fixed ports put on the road's own; fix_settings.cfg goes into `folder` (the gateway's
// working folder, which its relative paths start from).
void write_shipped_configuration(qel_test::fix_road &road, const std::string &folder)
{
    std::string config = qel_test::read_file(std::string(QEL_SOURCE_DIR) + "/config/qel_ip.cfg");
    config = replaced(config, "\nHOST_PORT_NUMBER=9801\n",
                      "\nHOST_PORT_NUMBER=" + std::to_string(road.host->port()) + "\n");
    config = replaced(config, "\nPORT_NUMBER=9602\n",
                      "\nPORT_NUMBER=" + std::to_string(road.workstation_port) + "\n");
    config = replaced(
        config, "\nINTERFACE_REALTIME_PORT_NUMBER=9701\n",
        "\nINTERFACE_REALTIME_PORT_NUMBER=" + road.config.values["INTERFACE_REALTIME_PORT_NUMBER"] + "\n");
    config = replaced(config, "\nINTERFACE_INTERACTIVE_PORT_NUMBER=9702\n",
                      "\nINTERFACE_INTERACTIVE_PORT_NUMBER=" +
                          road.config.values["INTERFACE_INTERACTIVE_PORT_NUMBER"] + "\n");
    FILE *out = fopen(road.config_file.c_str(), "w");
    if (out != nullptr)
    {
        fwrite(config.data(), 1, config.size(), out);
        fclose(out);
    }
    std::string fix = qel_test::read_file(std::string(QEL_SOURCE_DIR) + "/config/fix_settings.cfg");
    fix = replaced(fix, "\nSocketAcceptPort=9901\n",
                   "\nSocketAcceptPort=" + std::to_string(road.fix_port) + "\n");
    fix = replaced(fix, "\nHttpAcceptPort=9902\n",
                   "\nHttpAcceptPort=" + std::to_string(road.config.reserve_port()) + "\n");
    out = fopen((folder + "/fix_settings.cfg").c_str(), "w");
    if (out != nullptr)
    {
        fwrite(fix.data(), 1, fix.size(), out);
        fclose(out);
    }
}

// The example's host: box 101 of broker MEMBR, as many users as the shipped gateway takes,
// broadcasts after a journal download (its -N).
std::unique_ptr<qel_test::fix_road> shipped_road()
{
    qel_sim::box_options box;
    box.box_id = 101;
    box.broker_id = "MEMBR";
    box.max_users = 50;
    qel_sim::exchange_options exchange;
    exchange.broadcast_after_journal = true;
    return std::unique_ptr<qel_test::fix_road>(new qel_test::fix_road({}, box, exchange, {}, "", false));
}

// The "Log file [...] no longer stood under its name" lines of a text, by file.
std::map<std::string, int> files_said_lost(const std::string &text)
{
    std::map<std::string, int> files;
    for (size_t at = text.find("Log file ["); at != std::string::npos; at = text.find("Log file [", at + 1))
    {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        if (line.find(kNameLost) != std::string::npos)
            ++files[line.substr(10, line.find(']') - 10)];
    }
    return files;
}

bool engine_file(const std::string &name)
{
    return name.find("GLOBAL.") != std::string::npos || name.find("FIX.4.2-") != std::string::npos;
}

// Files under the folder (recursively) that hold the text, by path below it.
std::vector<std::string> files_holding(const std::string &folder, const std::string &text)
{
    std::vector<std::string> found;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator i(folder, error), end; !error && i != end;
         i.increment(error))
    {
        if (!i->is_regular_file())
            continue;
        if (qel_test::read_file(i->path().string()).find(text) != std::string::npos)
            found.push_back(i->path().string().substr(folder.size() + 1));
    }
    std::sort(found.begin(), found.end());
    return found;
}

void clean_section(const build &b, int client_after_s)
{
    std::unique_ptr<qel_test::fix_road> road = shipped_road();
    write_shipped_configuration(*road, road->dir.path());
    const steady::time_point started = steady::now();
    road->start(b.gateway());
    if (!road->listening)
    {
        std::printf("  clean: the gateway did not start\n");
        return;
    }
    sleep_until(started + std::chrono::seconds(3));
    const std::vector<std::string> before_removal = road->dir.list("logs");
    qel_test::run_process({"/bin/rm", "-rf", road->dir.file("logs")}, "/", 20000);
    sleep_until(started + std::chrono::seconds(3 + client_after_s));

    // The demo's FIX client, in a folder of its own, then a trader.
    const std::string bin = this_build_dir();
    qel_test::temp_dir client_dir;
    const steady::time_point client_began = steady::now();
    const qel_test::process_result fix =
        qel_test::run_process({bin + "/sim/fix_client/sim_fix_client", "-p", std::to_string(road->fix_port),
                               "-s", "1001,MEMBR,1", "-t", "QEL", "-n", "1", "-m", "-B", "-w", "10000"},
                              client_dir.path(), 60000);
    const double client_seconds = seconds_since(client_began);
    const qel_test::process_result trader =
        qel_test::run_process({bin + "/sim/workstation/sim_trader", "-p",
                               std::to_string(road->workstation_port), "-u", "5001", "-n", "3"},
                              client_dir.path(), 60000);
    const qel_test::process_result stopped = road->stop();

    std::vector<std::string> engine_logs;
    for (const std::string &name : road->dir.list("logs"))
        if (engine_file(name))
            engine_logs.push_back(name);
    const std::map<std::string, int> said = files_said_lost(road->dir.read("qel_text_log_default.txt"));
    int engine_said = 0, engine_lines = 0, gateway_said = 0;
    for (const auto &file : said)
    {
        (engine_file(file.first) ? engine_said : gateway_said) += 1;
        if (engine_file(file.first))
            engine_lines += file.second;
    }
    const std::vector<std::string> orders = files_holding(road->dir.path(), "\x01"
                                                                            "35=D\x01");
    // The session's own logs: its Logon, order and Logout; its logon in the event log.
    std::string messages, events;
    for (const std::string &name : engine_logs)
    {
        if (name.rfind("FIX.4.2-", 0) == 0 && name.find(".messages.") != std::string::npos)
            messages = road->dir.read("logs/" + name);
        if (name.rfind("FIX.4.2-", 0) == 0 && name.find(".event.") != std::string::npos)
            events = road->dir.read("logs/" + name);
    }
    auto has = [](const std::string &text, const std::string &part)
    { return text.find(part) != std::string::npos ? "yes" : "no"; };
    std::printf("  clean: FIX client exit %d in %.1f s, trader exit %d, gateway exit %d\n", fix.exit_code,
                client_seconds, trader.exit_code, stopped.exit_code);
    std::printf("  clean: engine logs under their names (%zu):", engine_logs.size());
    for (const std::string &name : engine_logs)
        std::printf(" %s", name.c_str());
    std::printf("\n  clean: files under the working folder holding 35=D (%zu):", orders.size());
    for (const std::string &name : orders)
        std::printf(" %s", name.c_str());
    std::printf(
        "\n  clean: the session's message log holds its Logon %s, order %s, Logout %s; its event log its logon "
        "%s",
        has(messages, "\x01"
                      "35=A\x01"),
        has(messages, "\x01"
                      "35=D\x01"),
        has(messages, "\x01"
                      "35=5\x01"),
        has(events, "Received logon request"));
    std::printf("\n  clean: standard error names %d of the engine's files as removed (%d lines), %d other "
                "files; each file once: %s\n",
                engine_said, engine_lines, gateway_said,
                std::all_of(said.begin(), said.end(),
                            [](const std::pair<const std::string, int> &f) { return f.second == 1; })
                    ? "yes"
                    : "no");
    for (const auto &file : said)
        std::printf("    %s said %d time(s)\n", file.first.c_str(), file.second);
    std::printf("  clean: %zu files stood in logs/ when it was removed; not said since:",
                before_removal.size());
    for (const std::string &name : before_removal)
        if (said.count("logs/" + name) == 0)
            std::printf(" %s", name.c_str());
    std::printf("\n");
}

// What a console on the realtime port heard: reason, user and extra info of each event.
struct heard_event
{
    uint16_t reason;
    uint32_t user;
    uint32_t extra;
};

void hear(sim_console::console_client &console, std::vector<heard_event> *heard, int timeout_ms = 50)
{
    sim_console::packet p;
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
        n += e.reason == reason && (user == 0 || e.user == user) ? 1 : 0;
    return n;
}

size_t reports_for(const qel_sim::fix_client &fix, const std::string &cl_ord_id, bool replayed)
{
    size_t n = 0;
    for (const qel_sim::fix_client_message &m : fix.received())
        n += m.type == "8" && m.poss_resend == replayed && qel_test::fix_field(m.text, 11) == cl_ord_id ? 1
                                                                                                        : 0;
    return n;
}

bool send_order(qel_sim::fix_client &fix, const std::string &cl_ord_id)
{
    return fix.send_new_order_single(qel_sim::sample_new_order(cl_ord_id, qel_sim::utc_timestamp()));
}

bool trader_answered(qel_sim::trader &trader)
{
    qel_sim::trader_order order;
    return qel_test::answered(trader.enter(order, kTimeoutMs), 2073);
}

// The text of every file of the folder (recursively).
std::string folder_text(const std::string &folder)
{
    std::string text;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator i(folder, error), end; !error && i != end;
         i.increment(error))
        if (i->is_regular_file())
            text += qel_test::read_file(i->path().string());
    return text;
}

void store_section(const build &b)
{
    std::unique_ptr<qel_test::fix_road> road = shipped_road();
    const std::string folder = road->dir.file("disk");
    mkdir(folder.c_str(), 0700);
    qel_test::full_log_folder disk(folder, "4m");
    if (!disk.mounted())
    {
        std::printf("  store: no tmpfs may be mounted here\n");
        return;
    }
    mkdir((folder + "/logs").c_str(), 0700);
    write_shipped_configuration(*road, folder);
    road->start(b.gateway(), folder);
    sim_console::console_client console;
    qel_sim::workstation_client workstation;
    qel_sim::trader trader(workstation, 5001);
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix;
    if (!road->listening ||
        !console.connect(
            static_cast<uint16_t>(std::stoi(road->config.values["INTERFACE_REALTIME_PORT_NUMBER"]))) ||
        !qel_test::sign_on_at_workstation(workstation, trader, road->workstation_port, kTimeoutMs) ||
        !(fix = road->ready_client(kFixUser, kTimeoutMs, &error)) || !send_order(*fix, "1") ||
        !qel_test::wait_until([&] { return reports_for(*fix, "1", false) == 1; }, kTimeoutMs))
    {
        std::printf("  store: the road did not start (%s)\n", error.c_str());
        return;
    }
    std::vector<heard_event> heard;
    hear(console, &heard);

    // The disk fills; orders go until one's report does not come within 3 s.
    if (!disk.fill(road->gateway->pid(), &error))
    {
        std::printf("  store: the disk did not fill (%s)\n", error.c_str());
        return;
    }
    std::string lost;
    int sent = 1;
    for (int n = 2; n < 100 && lost.empty(); ++n)
    {
        const std::string id = std::to_string(n);
        if (!send_order(*fix, id))
            break;
        sent = n;
        qel_test::wait_until(
            [&] {
                return reports_for(*fix, id, false) == 1 ||
                       fix->state() == qel_sim::fix_client_state::logged_out;
            },
            3000);
        if (reports_for(*fix, id, false) == 0)
            lost = id;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    hear(console, &heard);
    const bool logged_out = fix->state() == qel_sim::fix_client_state::logged_out;
    int previous = 0;
    int gaps = 0;
    for (const qel_sim::fix_client_message &m : fix->received())
    {
        const int number = std::atoi(qel_test::fix_field(m.text, 34).c_str());
        gaps += number != previous + 1 ? 1 : 0;
        previous = number;
    }
    const bool traded_meanwhile = trader_answered(trader);
    std::printf("  store: %d orders sent, order %s got no report within 3 s; the client %s%s%s; gaps in the "
                "numbers it saw: %d; trader answered: %s\n",
                sent, lost.empty() ? "(none)" : lost.c_str(),
                logged_out ? "was logged out, Text \"" : "stayed logged on",
                logged_out ? fix->logout_text().c_str() : "", logged_out ? "\"" : "", gaps,
                traded_meanwhile ? "yes" : "no");
    std::printf("  store: the console heard 13004 with the FIX user's id %zu time(s), 13004 in all %zu, the "
                "session's end (11009) %zu\n",
                heard_of(heard, 13004, kFixUser), heard_of(heard, 13004, 0),
                heard_of(heard, 11009, kFixUser));

    // Room again: a report that was kept comes live now; then the journal at a new logon.
    disk.free_space(road->gateway->pid(), &error);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const size_t live_later = lost.empty() ? 0 : reports_for(*fix, lost, false);
    size_t live_after = 0;
    if (!logged_out && send_order(*fix, "1000"))
    {
        qel_test::wait_until([&] { return reports_for(*fix, "1000", false) == 1; }, 5000);
        live_after = reports_for(*fix, "1000", false);
    }
    fix->stop();
    fix.reset();
    fix = road->ready_client(kFixUser, kTimeoutMs, &error);
    const size_t replayed = fix && !lost.empty() ? reports_for(*fix, lost, true) : 0;
    for (int i = 0; i < 3; ++i)
        trader_answered(trader);
    if (fix)
        fix->stop();
    const std::string said = qel_test::read_file(folder + "/qel_text_log_default.txt");
    const std::string logs = folder_text(folder + "/logs");
    const std::string named = "for ClOrdID [" + lost + "]";
    std::printf(
        "  store: once the disk had room, order %s's report came live %zu time(s) (an order after: %zu), "
        "by the journal at the next logon %zu time(s)%s\n",
        lost.c_str(), live_later, live_after, replayed, fix ? "" : " (no logon)");
    std::printf(
        "  store: the order named as not delivered: standard error %zu time(s), the logs %zu time(s); "
        "\"FIX store writes to [\" on standard error %zu; \"IO Error\" in the logs %zu\n",
        lost.empty() ? 0 : qel_test::count_of(said, named),
        lost.empty() ? 0 : qel_test::count_of(logs, named), qel_test::count_of(said, "FIX store writes to ["),
        qel_test::count_of(logs, "IO Error"));
    road->stop();
    // The logs' spells that standard error, on the same disk, kept: by file, whether the
    // file is the engine's or the gateway's own.
    const std::string all_said = qel_test::read_file(folder + "/qel_text_log_default.txt");
    size_t engine_spells = 0, gateway_spells = 0;
    const std::string begun = "Log writes to [";
    for (size_t at = all_said.find(begun); at != std::string::npos; at = all_said.find(begun, at + 1))
    {
        const size_t end = all_said.find('\n', at);
        const std::string line = all_said.substr(at, end - at);
        if (line.find("] are failing ([") != std::string::npos)
            ++(engine_file(line) ? engine_spells : gateway_spells);
    }
    // The spells' ends the logs themselves hold.
    const std::string logs_after = folder_text(folder + "/logs");
    size_t engine_ended = 0, gateway_ended = 0;
    for (size_t at = logs_after.find(begun); at != std::string::npos; at = logs_after.find(begun, at + 1))
    {
        const std::string line = logs_after.substr(at, logs_after.find('\n', at) - at);
        if (line.find("] succeed again: [") != std::string::npos)
            ++(engine_file(line.substr(0, line.find(']'))) ? engine_ended : gateway_ended);
    }
    std::printf(
        "  store: spells of failing log writes: standard error holds the beginning of %zu of the "
        "engine's logs and %zu of the gateway's own; the logs hold the end of %zu of the engine's and %zu "
        "of the gateway's; \"were lost while standard error could not be written\" %zu\n",
        engine_spells, gateway_spells, engine_ended, gateway_ended,
        qel_test::count_of(all_said, "lines were lost while standard error could not be written"));
}

void start_section(const build &b, bool store_full_too)
{
    std::unique_ptr<qel_test::fix_road> road = shipped_road();
    const char *what = store_full_too ? "start (logs/ and fix_store/ full)" : "start (logs/ full)";
    qel_test::full_log_folder folder(road->dir.file("logs"), "2m");
    std::string error;
    if (!folder.mounted() || !folder.fill(0, &error) ||
        (store_full_too && !folder.fill_another(road->dir.file("fix_store"), "1m", &error)))
    {
        std::printf("  %s: no full tmpfs (%s)\n", what, error.c_str());
        return;
    }
    write_shipped_configuration(*road, road->dir.path());
    road->start(b.gateway());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const bool running = road->listening && kill(road->gateway->pid(), 0) == 0;
    std::vector<heard_event> heard;
    bool traded = false, console_connected = false;
    int exit_code = 0;
    if (running)
    {
        sim_console::console_client console;
        console_connected = console.connect(
            static_cast<uint16_t>(std::stoi(road->config.values["INTERFACE_REALTIME_PORT_NUMBER"])));
        if (console_connected)
        {
            const steady::time_point began = steady::now();
            while (seconds_since(began) < 5)
                hear(console, &heard, 100);
        }
        qel_sim::workstation_client workstation;
        qel_sim::trader trader(workstation, 5001);
        traded = qel_test::sign_on_at_workstation(workstation, trader, road->workstation_port, kTimeoutMs) &&
                 trader_answered(trader);
        exit_code = road->stop().exit_code;
    }
    else
    {
        exit_code = road->gateway->wait(20000).exit_code;
        road->gateway.reset();
    }
    const std::string said = road->dir.read("qel_text_log_default.txt");
    size_t lines = 0;
    std::vector<std::string> system_errors;
    for (size_t at = 0; at < said.size();)
    {
        const size_t end = std::min(said.find('\n', at), said.size());
        const std::string line = said.substr(at, end - at);
        ++lines;
        if (line.rfind("System Error|", 0) == 0)
            system_errors.push_back(line.substr(0, line.find('|', 13)));
        at = end + 1;
    }
    // The last System Error lines, where a start that failed says why.
    std::string last;
    for (size_t i = system_errors.size() > 3 ? system_errors.size() - 3 : 0; i < system_errors.size(); ++i)
        last += "\n      " + system_errors[i].substr(0, 220);
    std::printf("  %s: %s; exit %d; a trader traded: %s; a console %s heard 13004 %zu time(s)\n", what,
                running ? "the gateway ran" : "the gateway ended at once", exit_code, traded ? "yes" : "no",
                console_connected ? "connected and" : "(none connected)", heard_of(heard, 13004, 0));
    std::printf("  %s: standard error holds %zu line(s); \"are failing\" %zu; mentions fix_store/: %s; its "
                "%zu System Error line(s), the last:%s\n",
                what, lines, qel_test::count_of(said, "] are failing (["),
                said.find("fix_store/") != std::string::npos ? "yes" : "no", system_errors.size(),
                last.empty() ? " none" : last.c_str());
}

// A start that must make the FIX store's files (the shipped installation's first start) on
// a full disk: fix_store/ on a disk of its own, the rest with room, or the whole working
// folder on one disk. Whether the gateway runs, a trader trades, the FIX user's Logon
// gets in or is refused (its Logout's Text), the console hears 13004 with the user's id,
// standard error names the store's file (before and after the disk has room), and the user
// logs on once it has.
void store_start_section(const build &b, bool whole_folder)
{
    const char *what = whole_folder ? "store-start (the whole folder full)" : "store-start (fix_store/ full)";
    std::unique_ptr<qel_test::fix_road> road = shipped_road();
    const std::string folder = whole_folder ? road->dir.file("disk") : road->dir.path();
    const std::string disk_folder = whole_folder ? folder : road->dir.file("fix_store");
    mkdir(disk_folder.c_str(), 0700);
    qel_test::full_log_folder disk(disk_folder, "4m");
    mkdir((folder + "/logs").c_str(), 0700);
    write_shipped_configuration(*road, folder);
    std::string error;
    if (!disk.mounted() || !disk.fill(0, &error))
    {
        std::printf("  %s: no full tmpfs (%s)\n", what, error.c_str());
        return;
    }
    const steady::time_point began = steady::now();
    road->start(b.gateway(), folder);
    const bool running = road->listening && kill(road->gateway->pid(), 0) == 0;
    const double listening_after = seconds_since(began);
    if (!running)
    {
        const int exit_code = road->gateway->wait(20000).exit_code;
        road->gateway.reset();
        disk.free_space(0, &error);
        const std::string said = qel_test::read_file(folder + "/qel_text_log_default.txt");
        std::printf("  %s: the gateway ended at once, exit %d; standard error, once the disk had room, "
                    "mentions fix_store/: %s\n",
                    what, exit_code, said.find("fix_store/") != std::string::npos ? "yes" : "no");
        return;
    }
    sim_console::console_client console;
    std::vector<heard_event> heard;
    const bool console_connected = console.connect(
        static_cast<uint16_t>(std::stoi(road->config.values["INTERFACE_REALTIME_PORT_NUMBER"])));
    qel_sim::workstation_client workstation;
    qel_sim::trader trader(workstation, 5001);
    const bool traded =
        qel_test::sign_on_at_workstation(workstation, trader, road->workstation_port, kTimeoutMs) &&
        trader_answered(trader);
    std::string refusal = "(none)";
    bool got_in = false;
    {
        std::unique_ptr<qel_sim::fix_client> fix = road->client(kFixUser, &error);
        if (fix && fix->wait_for_state(qel_sim::fix_client_state::logged_out, kTimeoutMs))
            refusal = "\"" + fix->logout_text() + "\"";
        got_in = fix && !qel_test::of_type(*fix, "A").empty();
    }
    if (console_connected)
    {
        const steady::time_point heard_from = steady::now();
        while (seconds_since(heard_from) < 2)
            hear(console, &heard, 100);
    }
    const std::string said_full = qel_test::read_file(folder + "/qel_text_log_default.txt");
    disk.free_space(0, &error);
    const steady::time_point freed = steady::now();
    std::unique_ptr<qel_sim::fix_client> fix = road->ready_client(kFixUser, kTimeoutMs, &error);
    const double ready_after = seconds_since(freed);
    const bool fix_traded =
        fix && send_order(*fix, "1") &&
        qel_test::wait_until([&] { return reports_for(*fix, "1", false) == 1; }, kTimeoutMs);
    if (fix)
        fix->stop();
    for (int i = 0; i < 3; ++i)
        trader_answered(trader);
    const int exit_code = road->stop().exit_code;
    const std::string said = qel_test::read_file(folder + "/qel_text_log_default.txt");
    const std::string line = "FIX store file [fix_store/";
    std::printf(
        "  %s: the gateway ran (listening after %.1f s); a trader traded: %s; the FIX user's Logon %s, "
        "its Logout's Text %s; the console %s heard 13004 with the user's id %zu time(s)\n",
        what, listening_after, traded ? "yes" : "no", got_in ? "got in" : "was refused", refusal.c_str(),
        console_connected ? "connected and" : "(none connected)", heard_of(heard, 13004, kFixUser));
    std::printf(
        "  %s: standard error named the store's file %zu time(s) while the disk was full, %zu in all; "
        "once the disk had room the user was ready %s (%.1f s) and traded: %s; exit %d\n",
        what, qel_test::count_of(said_full, line), qel_test::count_of(said, line),
        fix ? "without a restart" : "never", ready_after, fix_traded ? "yes" : "no", exit_code);
}

// A FIX client that sends orders and reads nothing for 40 s, its store full from its
// first order (fix_store/ on a disk of its own, filled after its logon), beside a trader at
// a steady 50 orders a second; and the same client with the store on an ordinary disk.
// The orders the client's connection took and those the gateway read (its session's
// message log), when the gateway ended it, what the logs grew by, and the trader.
void store_unread_section(const build &b, bool store_full)
{
    const char *what = store_full ? "store-unread (fix_store/ full)" : "store-unread (fix_store/ with room)";
    std::unique_ptr<qel_test::fix_road> road = shipped_road();
    const std::string store = road->dir.file("fix_store");
    mkdir(store.c_str(), 0700);
    qel_test::full_log_folder disk(store, "64m");
    std::string error;
    if (!disk.mounted())
    {
        std::printf("  %s: no tmpfs may be mounted here\n", what);
        return;
    }
    write_shipped_configuration(*road, road->dir.path());
    road->start(b.gateway());
    qel_sim::workstation_client workstation;
    qel_sim::trader trader(workstation, 5001);
    qel_sim::fix_deaf_client deaf(
        road->client_options<qel_sim::fix_deaf_client_options>(kFixUser, "127.0.0.2"));
    if (!road->listening ||
        !qel_test::sign_on_at_workstation(workstation, trader, road->workstation_port, kTimeoutMs) ||
        !deaf.log_on(&error))
    {
        std::printf("  %s: the road did not start (%s)\n", what, error.c_str());
        return;
    }
    const std::string session = "FIX.4.2-QEL-" + qel_test::fix_road::session_of(kFixUser);
    struct stat body;
    stat((store + "/" + session + ".body").c_str(), &body);
    const std::map<std::string, long> before = qel_test::log_folder_sizes(road->dir);
    const long said_before = static_cast<long>(road->dir.read("qel_text_log_default.txt").size());
    if (store_full && !disk.fill(road->gateway->pid(), &error, static_cast<rlim_t>(body.st_size)))
    {
        std::printf("  %s: the disk did not fill (%s)\n", what, error.c_str());
        return;
    }
    qel_test::paced_requests trader_orders(qel_test::paced_trader_order(trader, kTimeoutMs), 50);
    const qel_sim::fix_deaf_client_outcome outcome = deaf.send_without_reading(40000);
    trader_orders.stop();
    const std::map<std::string, long> after = qel_test::log_folder_sizes(road->dir);
    const long said_grown =
        static_cast<long>(road->dir.read("qel_text_log_default.txt").size()) - said_before;
    size_t taken = 0;
    long messages_log = 0;
    for (const std::string &name : road->dir.list("logs"))
        if (name.rfind(session + ".messages.", 0) == 0)
        {
            const std::string text = road->dir.read("logs/" + name);
            taken += qel_test::count_of(text, "\x01"
                                              "35=D\x01");
            messages_log += static_cast<long>(text.size());
        }
    std::string by_file;
    const long grown = qel_test::log_folder_growth(before, after, &by_file) + said_grown;
    deaf.close();
    disk.free_space(road->gateway->pid(), &error);
    const int exit_code = road->stop().exit_code;
    std::printf("  %s: %llu orders taken by the connection, %zu read by the gateway; ended %s%.1f s after "
                "its first order; the logs grew %.1f MB (the session's message log %.1f MB, standard error "
                "%.1f MB); the trader %u of %u answered, slowest %.0f ms; exit %d\n",
                what, static_cast<unsigned long long>(outcome.orders_sent), taken,
                outcome.ended_by_gateway ? "by the gateway " : "not (the client stopped) ",
                outcome.ended_by_gateway ? outcome.ended_after_seconds : 40.0, grown / 1e6,
                messages_log / 1e6, said_grown / 1e6, trader_orders.answered(), trader_orders.sent(),
                trader_orders.slowest_ms(), exit_code);
}

// The registry's key for qelmon, with qelstat in COMMON\1 and a market whose gateway is
// missing (qelmon holds it and logs at each Start Applications).
void tools_section(const build &b)
{
    qel_test::temp_dir dir;
    const std::string bin = dir.file("bin");
    for (const char *sub : {"bin", "current", "history", "offline", "logs", "service"})
        mkdir(dir.file(sub).c_str(), 0700);
    const std::string qelstat = bin + "/qelstat_" + std::to_string(getpid());
    dir.write("bin/qelstat_" + std::to_string(getpid()), qel_test::read_file(b.qelstat()));
    chmod(qelstat.c_str(), 0755);
    dir.write("bin/onstat.so", qel_test::read_file(b.onstat()));
    // A statistic whose plug-in is missing makes qelstat log every second.
    dir.write("online.txt", "no_such_plugin.so,idle,1,1,x,\n");
    dir.write("offline.txt", "");
    dir.write("qelstat.cfg", "ONLINE_PARAM_FILE_NAME=" + dir.file("online.txt") +
                                 "\nOFFLINE_PARAM_FILE_NAME=" + dir.file("offline.txt") +
                                 "\nCURRENT_FILES_PATH=" + dir.file("current") + "\nHISTORY_FILES_PATH=" +
                                 dir.file("history") + "\nOFFLINE_FILES_PATH=" + dir.file("offline") +
                                 "\nLOG_FILE_PATH=" + dir.file("logs") + "\nMAIN_LOGGING_LEVEL=DEBUG\n");
    dir.write("qelmon.cfg", "LOG_FILE_PATH=" + dir.file("logs") + "\nSYSTEM_LOGGING_LEVEL=DEBUG\n");
    dir.write("registry", "[SOFTWARE\\QEL_IP]\n\"SERVICESTATUS\"=dword:00000000\n[SOFTWARE\\QEL_IP\\COMMON]\n"
                          "[SOFTWARE\\QEL_IP\\COMMON\\1]\n\"path\"=\"" +
                              qelstat + "\"\n\"argument\"=\"-c " + dir.file("qelstat.cfg") +
                              "\"\n\"CURRENT_FILES_PATH\"=\"" + dir.file("current") +
                              "\"\n[SOFTWARE\\QEL_IP\\2]\n\"path\"=\"" + dir.file("qel_ip_gone") +
                              "\"\n\"argument\"=\"-c qel_ip.cfg\"\n");
    setenv("QEL_REGISTRY_FILE", dir.file("registry").c_str(), 1);
    setenv("QEL_SERVICE_DIR", dir.file("service").c_str(), 1);
    setenv("QEL_SYSTEMD", "no", 1);
    const std::vector<std::string> qelmon = {b.qelmon(), "-w", dir.path(), "-c", dir.file("qelmon.cfg"),
                                             "-a"};
    auto action = [&](const char *name)
    {
        std::vector<std::string> argv = qelmon;
        argv.push_back(name);
        return qel_test::run_process(argv, dir.path(), 40000).exit_code;
    };
    auto logged = [&](const std::string &part)
    { return folder_text(dir.file("logs")).find(part) != std::string::npos; };
    std::vector<std::string> run_argv = qelmon;
    run_argv.push_back("RUN");
    if (action("CREATE") != 0)
    {
        std::printf("  tools: qelmon -a CREATE failed\n");
        return;
    }
    std::unique_ptr<qel_test::child_process> run(new qel_test::child_process(run_argv, dir.path()));
    if (!qel_test::wait_until(
            [&] { return logged("Not restarting the process") && logged("Function address not found for"); },
            20000))
        std::printf("  tools: qelmon or qelstat did not log as expected before the clean-up\n");

    qel_test::run_process({"/bin/rm", "-rf", dir.file("logs")}, "/", 20000);
    const steady::time_point removed = steady::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(5500));
    pf_service_control("QEL_IP", 130, nullptr); // Start Applications: qelmon logs its held market
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double waited = seconds_since(removed);
    struct stat status;
    const bool folder_again = stat(dir.file("logs").c_str(), &status) == 0;
    std::string qelstat_log, qelmon_log;
    for (const std::string &name : folder_again ? dir.list("logs") : std::vector<std::string>())
    {
        if (name.rfind("main_text.", 0) == 0)
            qelstat_log += dir.read("logs/" + name);
        if (name.rfind("qel_monitoring_thread_text.", 0) == 0)
            qelmon_log += dir.read("logs/" + name);
    }
    action("STOP");
    run->wait(40000);
    unsetenv("QEL_REGISTRY_FILE");
    unsetenv("QEL_SERVICE_DIR");
    const std::map<std::string, int> qelstat_said = files_said_lost(dir.read("bin/qel_text_log_default.txt"));
    const std::map<std::string, int> qelmon_said =
        files_said_lost(dir.read("qel_monitoring_service_text_log_default.txt"));
    auto times = [](const std::map<std::string, int> &said)
    {
        int n = 0;
        for (const auto &f : said)
            n += f.second;
        return n;
    };
    std::printf("  tools: %.1f s after the clean-up the log folder %s; qelstat's text log under its name: %s "
                "(later lines: %s), qelmon's: %s (its Start Applications line: %s)\n",
                waited, folder_again ? "stands again" : "is still missing",
                qelstat_log.empty() ? "no" : "yes",
                qelstat_log.find("Function address not found for") != std::string::npos ? "yes" : "no",
                qelmon_log.empty() ? "no" : "yes",
                qelmon_log.find("Start event is set") != std::string::npos ? "yes" : "no");
    std::printf("  tools: said on standard error (the stop included): qelstat %d line(s) for %zu file(s), "
                "qelmon %d line(s) for %zu file(s)\n",
                times(qelstat_said), qelstat_said.size(), times(qelmon_said), qelmon_said.size());
}

// The README's host line of the build's checkout, on a port of the run's, and a trader in
// every slot of the shipped gateway.
void host_section(const build &b)
{
    const std::string readme = qel_test::read_file(b.source() + "/README.md");
    const size_t at = readme.find("\n    $top/build/sim/host/sim_host ");
    if (at == std::string::npos)
    {
        std::printf("  host: no host line in %s/README.md\n", b.source().c_str());
        return;
    }
    std::string line = readme.substr(at + 5, readme.find('\n', at + 1) - at - 5);
    std::unique_ptr<qel_test::fix_road> road = shipped_road();
    const uint16_t port = road->config.reserve_port();
    std::vector<std::string> argv;
    for (size_t from = 0; from < line.size();)
    {
        size_t end = line.find(' ', from);
        if (end == std::string::npos)
            end = line.size();
        argv.push_back(line.substr(from, end - from));
        from = end + 1;
    }
    argv[0] = this_build_dir() + "/sim/host/sim_host";
    for (size_t i = 0; i + 1 < argv.size(); ++i)
        if (argv[i] == "-p")
            argv[i + 1] = std::to_string(port);
    qel_test::child_process host(argv, road->dir.path());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    write_shipped_configuration(*road, road->dir.path());
    road->dir.write("qel_ip.cfg", replaced(road->dir.read("qel_ip.cfg"),
                                           "\nHOST_PORT_NUMBER=" + std::to_string(road->host->port()) + "\n",
                                           "\nHOST_PORT_NUMBER=" + std::to_string(port) + "\n"));
    road->start(b.gateway());
    std::vector<std::unique_ptr<qel_sim::workstation_client>> clients;
    std::vector<std::unique_ptr<qel_sim::trader>> traders;
    int signed_on = 0;
    for (int i = 0; i < 50; ++i)
    {
        clients.emplace_back(new qel_sim::workstation_client);
        traders.emplace_back(new qel_sim::trader(*clients.back(), 2001 + static_cast<uint32_t>(i)));
        signed_on += qel_test::sign_on_at_workstation(*clients.back(), *traders.back(),
                                                      road->workstation_port, kTimeoutMs)
                         ? 1
                         : 0;
    }
    // The box's users count FIX users with the traders: the FIX user past them.
    std::string error;
    std::string fix_outcome = "(no client)";
    {
        std::unique_ptr<qel_sim::fix_client> fix = road->client(kFixUser, &error);
        if (fix && fix->wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs))
            fix_outcome = "logged on";
        else if (fix)
            fix_outcome = "was logged out, Text \"" + fix->logout_text() + "\"";
    }
    traders.clear();
    clients.clear();
    road->stop();
    host.signal(SIGTERM);
    host.wait(10000);
    std::printf("  host: \"%s\": %d of 50 traders signed on; then the FIX user %s\n", line.c_str(), signed_on,
                fix_outcome.c_str());
}

// The lines of the threads' own logs (level column first) that landed in the gateway's
// standard error instead.
size_t thread_lines_in(const std::string &said)
{
    size_t lines = 0;
    for (size_t at = 0; at < said.size();)
    {
        const size_t end = std::min(said.find('\n', at), said.size());
        const std::string line = said.substr(at, end - at);
        for (const char *level : {"System Error|", "Business Error|", "Event|", "Activity|", "Debug|"})
            lines += line.rfind(level, 0) == 0 ? 1 : 0;
        at = end + 1;
    }
    return lines;
}

// The bytes of the gateway's binary logs (the threads' .dat files; the console event log is
// not one) in the folder, and how many there are.
long binary_log_bytes(const qel_test::temp_dir &dir, size_t *files)
{
    long bytes = 0;
    *files = 0;
    for (const std::string &name : dir.list("logs"))
    {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".dat") != 0 || name == "kova_event_log.dat")
            continue;
        struct stat st;
        if (stat(dir.file("logs/" + name).c_str(), &st) == 0)
            bytes += static_cast<long>(st.st_size);
        ++*files;
    }
    return bytes;
}

const char *const kFolderMade = "Log folder [";

// missing: the shipped configuration started with no logs/ folder (a clean-up done while
// the gateway was stopped); the demo's trader and FIX client, then the stop.
void missing_section(const build &b)
{
    std::unique_ptr<qel_test::fix_road> road = shipped_road();
    write_shipped_configuration(*road, road->dir.path());
    std::filesystem::remove_all(road->dir.file("logs"));
    const steady::time_point began = steady::now();
    road->start(b.gateway());
    const double listening_after = seconds_since(began);
    const bool running = road->listening && kill(road->gateway->pid(), 0) == 0;
    if (!running)
    {
        const int exit_code = road->gateway->wait(20000).exit_code;
        road->gateway.reset();
        const std::string said = road->dir.read("qel_text_log_default.txt");
        std::string last;
        const size_t at = said.rfind("System Error|");
        if (at != std::string::npos)
            last = said.substr(at, std::min<size_t>(said.find('\n', at) - at, 160));
        std::printf(
            "  missing: the gateway ended at once with exit %d (status %d); logs/ %s; its last System "
            "Error line: %s\n",
            exit_code, exit_code & 0xff,
            access(road->dir.file("logs").c_str(), F_OK) == 0 ? "stands" : "is still missing", last.c_str());
        return;
    }
    const std::string bin = this_build_dir();
    qel_test::temp_dir client_dir;
    const qel_test::process_result trader =
        qel_test::run_process({bin + "/sim/workstation/sim_trader", "-p",
                               std::to_string(road->workstation_port), "-u", "5001", "-n", "3"},
                              client_dir.path(), 60000);
    const qel_test::process_result fix =
        qel_test::run_process({bin + "/sim/fix_client/sim_fix_client", "-p", std::to_string(road->fix_port),
                               "-s", "1001,MEMBR,1", "-t", "QEL", "-n", "1", "-m", "-B", "-w", "10000"},
                              client_dir.path(), 60000);
    const int exit_code = road->stop().exit_code;
    struct stat folder;
    const bool stands = stat(road->dir.file("logs").c_str(), &folder) == 0;
    const std::vector<std::string> names = road->dir.list("logs");
    size_t text_logs = 0, binary_logs = 0, engine_logs = 0;
    for (const std::string &name : names)
    {
        text_logs += name.find("_text.") != std::string::npos ? 1 : 0;
        binary_logs +=
            name.find("_request.") != std::string::npos || name.find("_response.") != std::string::npos;
        engine_logs += engine_file(name) ? 1 : 0;
    }
    const std::string said = road->dir.read("qel_text_log_default.txt");
    const std::vector<std::string> orders = files_holding(road->dir.file("logs"), "\x01"
                                                                                  "35=D\x01");
    std::printf(
        "  missing: listening after %.1f s; trader exit %d, FIX client exit %d, gateway exit %d at its "
        "stop\n",
        listening_after, trader.exit_code, fix.exit_code, exit_code);
    std::printf(
        "  missing: logs/ %s (mode %o): %zu files, %zu text logs, %zu binary logs, %zu of the engine's; "
        "logs holding 35=D: %zu; standard error: %zu folder line(s), %zu thread line(s)\n",
        stands ? "stands" : "is missing", stands ? folder.st_mode & 0777 : 0, names.size(), text_logs,
        binary_logs, engine_logs, orders.size(), qel_test::count_of(said, kFolderMade),
        thread_lines_in(said));
}

// What happens to logs/ 3 s after the start in a clean-late run.
enum class clean_up
{
    none,
    removed,
    blocked, // removed, a file put in its place, and that file removed 10.5 s later
};

// clean-late: the shipped configuration, logs/ removed 3 s after the start (or not, or a
// file put in its place, which no log can make a folder of), three traders signing on 0.5,
// 7.5 and 13.5 s after the removal, a console listening from the start; what stands 14.5 s
// after the removal and after the stop.
void clean_late_run(const build &b, clean_up how)
{
    const bool remove = how != clean_up::none;
    const char *what = how == clean_up::none      ? "clean-late (no removal)"
                       : how == clean_up::removed ? "clean-late"
                                                  : "clean-late (a file in the folder's place until +10.5 s)";
    std::unique_ptr<qel_test::fix_road> road = shipped_road();
    write_shipped_configuration(*road, road->dir.path());
    const steady::time_point started = steady::now();
    road->start(b.gateway());
    sim_console::console_client console;
    if (!road->listening || !console.connect(static_cast<uint16_t>(
                                std::stoi(road->config.values["INTERFACE_REALTIME_PORT_NUMBER"]))))
    {
        std::printf("  %s: the gateway did not start\n", what);
        return;
    }
    std::vector<heard_event> heard;
    auto hear_until = [&](steady::time_point t)
    {
        while (steady::now() < t)
            hear(console, &heard, 20);
    };
    hear_until(started + std::chrono::seconds(3));
    const steady::time_point removed = steady::now();
    if (remove)
        qel_test::run_process({"/bin/rm", "-rf", road->dir.file("logs")}, "/", 20000);
    if (how == clean_up::blocked)
        road->dir.write("logs", "not a folder");
    const std::string bin = this_build_dir();
    qel_test::temp_dir client_dir;
    int traded = 0;
    const double at[] = {0.5, 7.5, 13.5};
    for (int i = 0; i < 3; ++i)
    {
        if (i == 2 && how == clean_up::blocked)
        {
            hear_until(removed + std::chrono::milliseconds(10500));
            unlink(road->dir.file("logs").c_str());
        }
        hear_until(removed + std::chrono::milliseconds(static_cast<int>(at[i] * 1000)));
        traded += qel_test::run_process({bin + "/sim/workstation/sim_trader", "-p",
                                         std::to_string(road->workstation_port), "-u",
                                         std::to_string(5001 + i), "-n", "1"},
                                        client_dir.path(), 30000)
                              .exit_code == 0
                      ? 1
                      : 0;
    }
    hear_until(removed + std::chrono::milliseconds(14500));
    const bool stands = access(road->dir.file("logs").c_str(), F_OK) == 0;
    size_t dat_files = 0;
    const long bytes = binary_log_bytes(road->dir, &dat_files);
    std::string said = road->dir.read("qel_text_log_default.txt");
    std::printf(
        "  %s: at +14.5 s logs/ %s; %d of 3 traders traded; binary logs %zu files, %ld bytes; standard "
        "error: %zu thread line(s), \"are failing\" %zu, \"no longer stood\" %zu, folder made %zu; the "
        "console heard 13004 %zu time(s), 13005 %zu\n",
        what, stands ? "stands" : "is missing", traded, dat_files, bytes, thread_lines_in(said),
        qel_test::count_of(said, "] are failing (["), qel_test::count_of(said, kNameLost),
        qel_test::count_of(said, kFolderMade), heard_of(heard, 13004, 0), heard_of(heard, 13005, 0));
    std::map<std::string, int> lost = files_said_lost(said);
    for (const auto &file : lost)
        std::printf("    %s said %d time(s)\n", file.first.c_str(), file.second);
    if (how == clean_up::blocked)
    {
        // The spells the file in the folder's place began, and what their ends counted.
        unsigned long long counted = 0;
        const std::string ended = "] succeed again: [";
        for (size_t at = said.find(ended); at != std::string::npos; at = said.find(ended, at + 1))
            counted += std::strtoull(said.c_str() + at + ended.size(), nullptr, 10);
        std::printf("    \"Not a directory\" spells %zu, ended %zu counting %llu lost line(s) and record(s); "
                    "13004 with error number 20 heard %zu time(s)\n",
                    qel_test::count_of(said, "] are failing ([Not a directory])"),
                    qel_test::count_of(said, ended), counted,
                    static_cast<size_t>(std::count_if(heard.begin(), heard.end(),
                                                      [](const heard_event &e)
                                                      { return e.reason == 13004 && e.extra == 20; })));
    }
    const int exit_code = road->stop().exit_code;
    said = road->dir.read("qel_text_log_default.txt");
    lost = files_said_lost(said);
    bool once = true;
    for (const auto &file : lost)
        once = once && file.second == 1;
    std::printf(
        "  %s: gateway exit %d at its stop; then \"no longer stood\" %zu (each file once: %s), folder "
        "made %zu\n",
        what, exit_code, qel_test::count_of(said, kNameLost), once ? "yes" : "no",
        qel_test::count_of(said, kFolderMade));
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<build> builds;
    std::vector<std::string> sections;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--build") == 0 && i + 1 < argc)
            builds.push_back({argv[++i]});
        else
            sections.push_back(argv[i]);
    }
    if (builds.empty())
        builds.push_back({this_build_dir()});
    if (sections.empty())
        sections = {"clean",        "clean-soon", "store", "start",   "store-start",
                    "store-unread", "tools",      "host",  "missing", "clean-late"};
    for (const std::string &section : sections)
    {
        for (const build &b : builds)
        {
            std::printf("%s on %s (load %.2f)\n", section.c_str(), b.dir.c_str(),
                        []
                        {
                            double load[1] = {0};
                            return getloadavg(load, 1) == 1 ? load[0] : -1.0;
                        }());
            std::fflush(stdout);
            if (section == "clean")
                clean_section(b, 7);
            else if (section == "clean-soon")
                clean_section(b, 1);
            else if (section == "store")
                store_section(b);
            else if (section == "start")
            {
                start_section(b, false);
                start_section(b, true);
            }
            else if (section == "store-start")
            {
                store_start_section(b, false);
                store_start_section(b, true);
            }
            else if (section == "store-unread")
            {
                store_unread_section(b, true);
                store_unread_section(b, false);
            }
            else if (section == "tools")
                tools_section(b);
            else if (section == "host")
                host_section(b);
            else if (section == "missing")
                missing_section(b);
            else if (section == "clean-late")
            {
                clean_late_run(b, clean_up::none);
                clean_late_run(b, clean_up::removed);
                clean_late_run(b, clean_up::blocked);
            }
            std::fflush(stdout);
        }
    }
    return 0;
}
