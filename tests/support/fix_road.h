// The FIX road as the order suites and the FIX benchmark run it: qel_ip as its own
// process with a FIX settings file naming the clients' sessions, the simulated exchange
// host in the caller's process, and FIX clients (initiators of the same engine) taken
// along the logon road to the ready state. Workstations connect to the same gateway.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gateway/runtime/ea_socket.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "support/fix_text.h"
#include "support/gateway_config.h"
#include "support/test_support.h"

namespace qel_test
{

inline bool fix_port_open(uint16_t port)
{
    int32_t s = ea_socket(EA_AF_INET, EA_SOCK_STREAM, 0);
    if (s < 0)
        return false;
    bool open = ea_connect(s, "127.0.0.1", port) == 0;
    ea_closesocket(s);
    return open;
}

struct fix_road
{
    static constexpr const char *gateway_comp_id = "QEL";

    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    std::unique_ptr<qel_test::child_process> gateway;
    uint16_t fix_port = 0;
    uint16_t workstation_port = 0;
    std::string config_file;
    bool listening = false;

    // The acceptor knows the sessions "<user>,MEMBR,1" of the given users; config_values
    // replace or add lines of the gateway's configuration, fix_defaults are added to the
    // DEFAULT section of the FIX settings. Without start_now the caller readies the folder
    // and calls start().
    fix_road(const std::vector<uint32_t> &fix_users,
             qel_sim::box_options box_options = qel_sim::box_options(),
             qel_sim::exchange_options exchange = qel_sim::exchange_options(),
             const std::map<std::string, std::string> &config_values = {},
             const std::string &fix_defaults = "", bool start_now = true)
    {
        host.reset(new qel_sim::sim_host());
        host->start();
        if (box_options.box_id == 0)
            box_options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(*host, box_options, exchange));
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        for (const auto &value : config_values)
            config.values[value.first] = value.second;
        workstation_port = config.port("PORT_NUMBER");
        config_file = config.write(dir);
        fix_port = config.fix_port;
        // Without a DataDictionary line the gateway takes the dialect's acceptor dictionary.
        std::string settings =
            "[DEFAULT]\nConnectionType=acceptor\nNicIpAddress=127.0.0.1\nSocketAcceptPort=" +
            std::to_string(fix_port) +
            "\nFileStorePath=fix_store\nFileLogPath=logs\nStartTime=00:00:00\n"
            "EndTime=00:00:00\nHeartBtInt=30\n" +
            fix_defaults;
        for (uint32_t user : fix_users)
            settings += std::string("[SESSION]\nBeginString=FIX.4.2\nSenderCompID=") + gateway_comp_id +
                        "\nTargetCompID=" + session_of(user) + "\n";
        dir.write(config.values["FIX_FILE_PATH"], settings);
        if (start_now)
            start();
    }

    // The gateway of this build, or the given one (a benchmark compares builds), in the
    // road's folder or the given working folder.
    void start(const std::string &binary = QEL_IP_BINARY, const std::string &folder = "")
    {
        gateway.reset(
            new qel_test::child_process({binary, "-c", config_file}, folder.empty() ? dir.path() : folder));
        listening = qel_test::wait_until([&] { return fix_port_open(fix_port); }, 10000);
    }

    ~fix_road()
    {
        if (gateway)
            stop();
        host->stop();
    }

    static std::string session_of(uint32_t user) { return std::to_string(user) + ",MEMBR,1"; }

    // The options of a FIX peer of the road for the user, of whichever simulated client
    // (fix_client, the deaf client, the late logon): the road's port and CompIDs, and the
    // peer's own address when one is given.
    template <typename Options>
    Options client_options(uint32_t user, const std::string &local_address = "") const
    {
        Options options;
        options.port = fix_port;
        options.local_address = local_address;
        options.sender_comp_id = session_of(user);
        options.target_comp_id = gateway_comp_id;
        return options;
    }

    // The FIX engine's global event log of the day: its lines about connections before
    // their Logon.
    std::string global_event_log() const
    {
        time_t now = time(nullptr);
        struct tm local;
        localtime_r(&now, &local);
        char date[16];
        strftime(date, sizeof date, "%Y%m%d", &local);
        return dir.file(std::string("logs/GLOBAL.event.") + date + ".log");
    }

    // A started client; *error says why when it could not start.
    std::unique_ptr<qel_sim::fix_client> client(uint32_t user, std::string *error,
                                                const std::string &password = "secret")
    {
        qel_sim::fix_client_options options = client_options<qel_sim::fix_client_options>(user);
        options.password = password;
        std::unique_ptr<qel_sim::fix_client> c(new qel_sim::fix_client(options));
        if (!c->start(error))
            return nullptr;
        return c;
    }

    // A client taken along the whole logon road; null with the reason in *error otherwise.
    std::unique_ptr<qel_sim::fix_client> ready_client(uint32_t user, uint32_t timeout_ms, std::string *error)
    {
        std::unique_ptr<qel_sim::fix_client> c = client(user, error);
        if (!c)
            return nullptr;
        if (!c->wait_for_state(qel_sim::fix_client_state::logged_on, timeout_ms) || !c->request_journal({}) ||
            !c->wait_for_state(qel_sim::fix_client_state::ready, timeout_ms))
        {
            *error = std::string("client of user ") + std::to_string(user) + " stopped " +
                     qel_sim::fix_client_state_name(c->state()) + ": " + c->logout_text();
            return nullptr;
        }
        return c;
    }

    // Clients of the given users from local_address, started side by side and each waited
    // for until it logged on: how many did within timeout_ms. *clients holds every client
    // made, in the order of the users, whether it logged on or not.
    uint32_t log_on_together(const std::vector<uint32_t> &users, const std::string &local_address,
                             uint32_t timeout_ms, std::vector<std::unique_ptr<qel_sim::fix_client>> *clients)
    {
        clients->clear();
        clients->resize(users.size());
        std::atomic<uint32_t> logged_on{0};
        std::vector<std::thread> threads;
        for (size_t i = 0; i < users.size(); ++i)
            threads.emplace_back(
                [&, i]
                {
                    std::unique_ptr<qel_sim::fix_client> &c = (*clients)[i];
                    c.reset(new qel_sim::fix_client(
                        client_options<qel_sim::fix_client_options>(users[i], local_address)));
                    std::string error;
                    if (c->start(&error) &&
                        c->wait_for_state(qel_sim::fix_client_state::logged_on, timeout_ms))
                        ++logged_on;
                });
        for (std::thread &t : threads)
            t.join();
        return logged_on;
    }

    qel_test::process_result stop()
    {
        gateway->signal(SIGTERM);
        qel_test::process_result result = gateway->wait(20000);
        gateway.reset();
        return result;
    }
};

// The messages of one type the client received, in order.
inline std::vector<qel_sim::fix_client_message> of_type(const qel_sim::fix_client &c, const std::string &type)
{
    std::vector<qel_sim::fix_client_message> out;
    for (const qel_sim::fix_client_message &m : c.received())
        if (m.type == type)
            out.push_back(m);
    return out;
}

// The answers to the client's orders so far: ExecutionReports and refusals (while the host
// allows no more).
inline size_t order_answers(const qel_sim::fix_client &c)
{
    return of_type(c, "8").size() + of_type(c, "j").size();
}

// One order of a client that trades at a steady pace (paced_requests): the sample order
// with ClOrdID n, then its answer, within timeout_ms.
inline std::function<bool(uint32_t)> paced_order(qel_sim::fix_client &c, int timeout_ms)
{
    return [&c, timeout_ms](uint32_t n)
    {
        return c.send_new_order_single(
                   qel_sim::sample_new_order(std::to_string(n), qel_sim::utc_timestamp())) &&
               wait_until([&] { return order_answers(c) >= n; }, timeout_ms);
    };
}

} // namespace qel_test
