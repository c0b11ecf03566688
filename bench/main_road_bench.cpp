// The main road's round trip under load. Traders at workstations enter orders through a
// running qel_ip (its own process) to the simulated exchange host and count every answer;
// the same client code runs in the same process against a direct responder (below) that
// speaks the workstation framing and confirms each order at once, so the gateway's share
// of the round trip shows as a ratio. Three measurements, each beside its baseline:
//   - one order in flight from one trader: latency p50, p99, p99.9, max;
//   - rising load: 1, 2, 4, 8 traders, each on its own thread and connection, each keeping
//     several orders in flight (as many as one invitation allows);
//   - the highest sustained order rate with the exchange's rate control wide open.
// Every order must come back confirmed or rejected with a reason; anything else is counted
// as lost, on the trader's side and on the host's. Figures are printed and written to a
// file (bench_results/main_road.txt under the build folder, or the path given).
//
//   main_road_bench [output file]
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_report.h"
#include "gateway/library/ea_socket.h"
#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "sim/sim_wire.h"
#include "sim/workstation/trader.h"
#include "support/gateway_config.h"
#include "support/test_support.h"

namespace
{
typedef std::chrono::steady_clock steady;

// The gateway's invitation size, and the orders each trader keeps in flight under load.
const uint16_t kInvitationCount = 16;
const uint32_t kLoadWindow = 8;
const uint32_t kTimeoutMs = 10000;
// The exchange's base rate is a signed 16-bit count of records per second and link.
const int16_t kWideOpenRate = 32767;

// A stand-in for gateway plus exchange: accepts workstation connections, invites
// kInvitationCount frames at a time, checks each frame's length, sequence and MD5, and
// answers sign-on (2301), system information (1601) and each order entry (a 240-byte
// 2073 with a fresh order number) at once; a sign-off closes the connection.
class direct_responder
{
  public:
    ~direct_responder() { stop(); }

    bool start()
    {
        m_listener = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        if (m_listener < 0)
            return false;
        ea_setsockopt(m_listener, EA_SOCKOPT_REUSEADDR);
        qel_test::reserved_port reservation;
        m_port = reservation.number();
        if (ea_bind(m_listener, "127.0.0.1", m_port) != 0 || ea_listen(m_listener, 16) != 0)
            return false;
        m_acceptor = std::thread([this] { accept_loop(); });
        return true;
    }

    void stop()
    {
        if (m_listener < 0)
            return;
        m_stopping = true;
        // A connection of our own wakes the blocked accept.
        int32_t waker = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        if (waker >= 0)
        {
            ea_connect(waker, "127.0.0.1", m_port);
            ea_closesocket(waker);
        }
        if (m_acceptor.joinable())
            m_acceptor.join();
        ea_closesocket(m_listener);
        m_listener = -1;
        for (std::thread &t : m_connections)
            t.join();
        m_connections.clear();
    }

    uint16_t port() const { return m_port; }
    uint64_t orders_seen() const { return m_orders; }
    uint64_t check_failures() const { return m_failures; }

  private:
    void accept_loop()
    {
        while (!m_stopping)
        {
            int32_t socket = ea_accept(m_listener, nullptr, 0, nullptr);
            if (socket < 0)
                continue;
            if (m_stopping)
            {
                ea_closesocket(socket);
                break;
            }
            ea_setsockopt(socket, EA_SOCKOPT_TCP_NODELAY);
            m_connections.emplace_back([this, socket] { serve(socket); });
        }
    }

    static bool read_exact(int32_t socket, uint8_t *buffer, uint32_t length)
    {
        uint32_t done = 0;
        while (done < length)
        {
            int32_t n = ea_recv(socket, buffer + done, static_cast<int32_t>(length - done));
            if (n > 0)
                done += static_cast<uint32_t>(n);
            else if (n == 0 || ea_socket_last_error() != EA_WSAEINTR)
                return false;
        }
        return true;
    }

    static bool send_frame(int32_t socket, uint32_t *sequence, const std::vector<uint8_t> &record)
    {
        std::vector<uint8_t> frame(qel_sim::WS_HEADER_SIZE + record.size());
        qel_sim::set_be16(&frame[qel_sim::WS_LENGTH_OFFSET], static_cast<uint16_t>(frame.size()));
        qel_sim::set_be32(&frame[qel_sim::WS_SEQUENCE_OFFSET], ++*sequence);
        unsigned int size = 0;
        EVP_Digest(record.data(), record.size(), &frame[qel_sim::WS_DIGEST_OFFSET], &size, EVP_md5(),
                   nullptr);
        memcpy(&frame[qel_sim::WS_HEADER_SIZE], record.data(), record.size());
        uint32_t done = 0;
        while (done < frame.size())
        {
            int32_t n = ea_send(socket, &frame[done], static_cast<int32_t>(frame.size() - done));
            if (n > 0)
                done += static_cast<uint32_t>(n);
            else if (ea_socket_last_error() != EA_WSAEINTR)
                return false;
        }
        return true;
    }

    static std::vector<uint8_t> invitation()
    {
        std::vector<uint8_t> record =
            qel_sim::workstation_make_record(qel_sim::INVITATION_TRANSCODE, 0, qel_sim::INVITATION_SIZE);
        qel_sim::set_be16(&record[qel_sim::INVITATION_COUNT_OFFSET], kInvitationCount);
        return record;
    }

    static void set_transcode(std::vector<uint8_t> &record, int16_t transcode)
    {
        qel_sim::set_be16(&record[qel_sim::VRX_TRANSCODE_OFFSET], static_cast<uint16_t>(transcode));
    }

    void serve(int32_t socket)
    {
        uint32_t sent = 0, expected = 1, since_invitation = 0;
        double next_order = 1000000000000000.0;
        bool open = send_frame(socket, &sent, invitation());
        uint8_t frame[qel_sim::WS_MAX_FRAME + 1];
        while (open && read_exact(socket, frame, 2))
        {
            uint16_t length = qel_sim::be16(frame);
            if (length < qel_sim::WS_HEADER_SIZE + qel_sim::VRX_HEADER_SIZE ||
                length > qel_sim::WS_MAX_FRAME || !read_exact(socket, frame + 2, length - 2u))
            {
                ++m_failures;
                break;
            }
            std::vector<uint8_t> record(frame + qel_sim::WS_HEADER_SIZE, frame + length);
            uint8_t digest[qel_sim::WS_DIGEST_SIZE];
            unsigned int size = 0;
            EVP_Digest(record.data(), record.size(), digest, &size, EVP_md5(), nullptr);
            if (memcmp(digest, frame + qel_sim::WS_DIGEST_OFFSET, sizeof digest) != 0 ||
                qel_sim::be32(frame + qel_sim::WS_SEQUENCE_OFFSET) != expected++ ||
                qel_sim::be16(&record[qel_sim::VRX_LENGTH_OFFSET]) != record.size())
                ++m_failures;
            switch (qel_sim::workstation_record_transcode(record))
            {
            case 2300:
            {
                std::vector<uint8_t> answer = qel_sim::workstation_make_record(
                    2301, qel_sim::be32(&record[qel_sim::VRX_USER_ID_OFFSET]), 214);
                memset(&answer[qel_sim::VRX_HEADER_SIZE], 0, answer.size() - qel_sim::VRX_HEADER_SIZE);
                open = send_frame(socket, &sent, answer);
                break;
            }
            case 1600:
                open = send_frame(socket, &sent,
                                  qel_sim::workstation_make_record(
                                      1601, qel_sim::be32(&record[qel_sim::VRX_USER_ID_OFFSET]), 48));
                break;
            case 2000:
                if (record.size() == qel_sim::ORDER_RECORD_SIZE)
                {
                    ++m_orders;
                    set_transcode(record, 2073);
                    uint64_t bits;
                    next_order += 1;
                    memcpy(&bits, &next_order, sizeof bits);
                    qel_sim::set_be32(&record[qel_sim::ORDER_NUMBER_OFFSET],
                                      static_cast<uint32_t>(bits >> 32));
                    qel_sim::set_be32(&record[qel_sim::ORDER_NUMBER_OFFSET + 4], static_cast<uint32_t>(bits));
                    open = send_frame(socket, &sent, record);
                }
                else
                    ++m_failures;
                break;
            case 2320:
                open = false;
                break;
            default:
                ++m_failures;
                break;
            }
            if (open && ++since_invitation == kInvitationCount)
            {
                since_invitation = 0;
                open = send_frame(socket, &sent, invitation());
            }
        }
        ea_closesocket(socket);
    }

    int32_t m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<uint64_t> m_orders{0};
    std::atomic<uint64_t> m_failures{0};
    std::thread m_acceptor;
    std::vector<std::thread> m_connections;
};

// What one trader saw in one run.
struct trader_run
{
    uint32_t sent = 0;
    uint32_t confirmed = 0;
    uint32_t rejected = 0;    // an order error with its reason code
    uint32_t unexplained = 0; // an order error without a reason, or an answer of another kind
    std::vector<double> micros;
    std::string failure;
};

// One trader's orders, up to `window` in flight, answers matched to orders in the order
// they were sent (one connection, one host link: the answers keep their order).
void run_trader(qel_sim::workstation_client *client, qel_sim::trader *trader, uint32_t orders,
                uint32_t window, trader_run *out)
{
    qel_sim::trader_order order;
    const std::vector<uint8_t> record = trader->order_record(2000, order);
    std::deque<steady::time_point> in_flight;
    size_t cursor = client->received().size();
    out->micros.reserve(orders);
    while (out->confirmed + out->rejected + out->unexplained < orders)
    {
        if (out->sent < orders && in_flight.size() < window)
        {
            if (client->credit() == 0 && !client->wait_for_invitation(kTimeoutMs))
            {
                out->failure = "no invitation came";
                break;
            }
            in_flight.push_back(steady::now());
            if (!client->send_record(record, kTimeoutMs))
            {
                out->failure = "sending failed";
                break;
            }
            ++out->sent;
        }
        else
        {
            qel_sim::workstation_frame frame;
            if (!client->receive(&frame, kTimeoutMs))
            {
                out->failure = "no answer within 10 s";
                break;
            }
        }
        steady::time_point now = steady::now();
        const std::vector<qel_sim::workstation_frame> &got = client->received();
        for (; cursor < got.size(); ++cursor)
        {
            const std::vector<uint8_t> &answer = got[cursor].record;
            int16_t transcode = qel_sim::workstation_record_transcode(answer);
            int16_t error = answer.size() >= qel_sim::VRX_HEADER_SIZE
                                ? static_cast<int16_t>(qel_sim::be16(&answer[qel_sim::VRX_ERROR_CODE_OFFSET]))
                                : 0;
            if (transcode == 2073)
                ++out->confirmed;
            else if (transcode == 2231 && error != 0)
                ++out->rejected;
            else
                ++out->unexplained;
            if (in_flight.empty())
                continue;
            out->micros.push_back(std::chrono::duration<double, std::micro>(now - in_flight.front()).count());
            in_flight.pop_front();
        }
    }
    if (!client->check_failures().empty() && out->failure.empty())
        out->failure = client->check_failures().front();
}

struct run_result
{
    uint32_t traders = 0;
    uint32_t sent = 0, confirmed = 0, rejected = 0, unexplained = 0;
    double seconds = 0;
    std::vector<double> micros; // sorted
    std::string failures;

    uint32_t lost() const { return sent - confirmed - rejected; }
    double rate() const { return seconds > 0 ? (confirmed + rejected) / seconds : 0; }
    double at(double q) const { return bench_percentile(micros, q); }
    double max() const { return micros.empty() ? 0 : micros.back(); }
};

// The first `traders` of the given workstations, each on its own thread.
run_result run(std::vector<std::unique_ptr<qel_sim::workstation_client>> &clients,
               std::vector<std::unique_ptr<qel_sim::trader>> &people, uint32_t traders, uint32_t orders_each,
               uint32_t window)
{
    std::vector<trader_run> runs(traders);
    std::vector<std::thread> threads;
    steady::time_point start = steady::now();
    for (uint32_t i = 0; i < traders; ++i)
        threads.emplace_back(run_trader, clients[i].get(), people[i].get(), orders_each, window, &runs[i]);
    for (std::thread &t : threads)
        t.join();
    run_result result;
    result.traders = traders;
    result.seconds = std::chrono::duration<double>(steady::now() - start).count();
    for (uint32_t i = 0; i < traders; ++i)
    {
        result.sent += runs[i].sent;
        result.confirmed += runs[i].confirmed;
        result.rejected += runs[i].rejected;
        result.unexplained += runs[i].unexplained;
        result.micros.insert(result.micros.end(), runs[i].micros.begin(), runs[i].micros.end());
        if (!runs[i].failure.empty())
            result.failures += " trader " + std::to_string(i + 1) + ": " + runs[i].failure + ";";
    }
    std::sort(result.micros.begin(), result.micros.end());
    return result;
}

// Connects and signs on `count` traders (users 1001, 1002, ...).
bool sign_on_all(uint16_t port, uint32_t count,
                 std::vector<std::unique_ptr<qel_sim::workstation_client>> &clients,
                 std::vector<std::unique_ptr<qel_sim::trader>> &people)
{
    for (uint32_t i = 0; i < count; ++i)
    {
        clients.emplace_back(new qel_sim::workstation_client());
        if (!qel_test::wait_until([&] { return clients.back()->connect("127.0.0.1", port); }, 10000))
            return false;
        people.emplace_back(new qel_sim::trader(*clients.back(), 1001 + i));
        if (people.back()->sign_on(kTimeoutMs).transcode != 2301 ||
            people.back()->system_information(kTimeoutMs).transcode != 1601)
            return false;
    }
    return true;
}

void sign_off_all(std::vector<std::unique_ptr<qel_sim::trader>> &people)
{
    for (std::unique_ptr<qel_sim::trader> &person : people)
        person->sign_off(kTimeoutMs);
}

// The order entries the host received since the last clear.
uint32_t host_orders(const qel_sim::sim_host &host)
{
    uint32_t count = 0;
    for (const qel_sim::host_record &record : host.records())
        count += record.transcode == 20000 ? 1 : 0;
    return count;
}

class report : public bench_report
{
  public:
    // Every order came back confirmed or rejected with a reason, on both sides.
    void records(const char *who, const run_result &r, int64_t host_seen)
    {
        std::string host = host_seen < 0 ? "" : ", host saw " + std::to_string(host_seen) + " order entries";
        line("  %-8s records: %u sent, %u confirmed, %u rejected with a reason, %u unexplained, %u lost%s%s",
             who, r.sent, r.confirmed, r.rejected, r.unexplained, r.lost(), host.c_str(),
             r.failures.empty() ? "" : (" -- FAILURE:" + r.failures).c_str());
    }
};

std::string default_output()
{
    return bench_default_output("main_road.txt");
}
} // namespace

int main(int argc, char *argv[])
{
    std::string output = argc > 1 ? argv[1] : default_output();
    const uint32_t single_orders = 10000, load_orders = 4000, peak_orders = 10000, peak_traders = 8;
    qel_test::temp_dir dir;
    char failure_text[256];
    uint32_t failure_size = sizeof failure_text;
    if (ea_socket_init(failure_text, &failure_size) != EA_SUCCESS)
        return 1;

    // The gateway with rate control wide open, in front of the simulated host.
    qel_sim::host_options host_options;
    host_options.lifetime_ms = 600000;
    qel_sim::sim_host host(host_options);
    if (!host.start())
        return 1;
    qel_sim::box_options box;
    box.box_id = 101;
    box.base_rate = kWideOpenRate;
    box.max_users = 16;
    qel_sim::sim_box_host exchange(host, box);
    qel_test::gateway_config config;
    config.values["HOST_PORT_NUMBER"] = std::to_string(host.port());
    config.values["SYSTEM_LOGGING_LEVEL"] = "BUSINESS_ERROR";
    config.values["SYSTEM_BINARY_LOGGING_ENABLED"] = "FALSE";
    config.values["FIX_LOGGING"] = "N";
    config.values["MAX_TWS_CLIENTS"] = "16";
    config.values["FLOW_CONTROL_COUNT"] = std::to_string(kInvitationCount);
    uint16_t gateway_port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
    qel_test::child_process gateway({QEL_IP_BINARY, "-c", config.write(dir)}, dir.path());

    direct_responder responder;
    if (!responder.start())
    {
        fprintf(stderr, "the direct responder cannot listen\n");
        return 1;
    }

    std::vector<std::unique_ptr<qel_sim::workstation_client>> via_clients, direct_clients;
    std::vector<std::unique_ptr<qel_sim::trader>> via_traders, direct_traders;
    if (!sign_on_all(gateway_port, peak_traders, via_clients, via_traders) ||
        !sign_on_all(responder.port(), peak_traders, direct_clients, direct_traders))
    {
        fprintf(stderr, "the traders could not sign on\n");
        return 1;
    }

    report out;
    out.line("main road: workstation -> qel_ip -> simulated exchange host -> back, beside a direct");
    out.line("responder (same client code, workstation framing, each order confirmed at once).");
    out.line("FLOW_CONTROL_COUNT %u; exchange base rate %d records/s per link (its largest: the",
             kInvitationCount, kWideOpenRate);
    out.line("box parameters carry it as a signed 16-bit count, so one host link cannot pass more");
    out.line("than %d weighted records a second however fast the gateway is).", kWideOpenRate);

    // Warm both roads up.
    run(via_clients, via_traders, 1, 200, 1);
    run(direct_clients, direct_traders, 1, 200, 1);
    host.clear_received();

    bool lost = false;
    auto record_both = [&](const run_result &via, const run_result &direct)
    {
        uint32_t seen = host_orders(host);
        host.clear_received();
        out.records("gateway", via, seen);
        out.records("direct", direct, -1);
        lost = lost || via.lost() != 0 || direct.lost() != 0 || via.unexplained != 0 ||
               direct.unexplained != 0 || seen != via.sent || !via.failures.empty() ||
               !direct.failures.empty();
    };

    out.blank();
    out.line("one order in flight, one trader, %u orders:", single_orders);
    run_result via = run(via_clients, via_traders, 1, single_orders, 1);
    run_result direct = run(direct_clients, direct_traders, 1, single_orders, 1);
    out.latency("gateway", via);
    out.latency("direct", direct);
    out.ratios(via, direct);
    record_both(via, direct);
    double single_median_ratio = direct.at(0.50) > 0 ? via.at(0.50) / direct.at(0.50) : 0;

    for (uint32_t traders : {1u, 2u, 4u, 8u})
    {
        out.blank();
        out.line(
            "%u trader(s), each on its own connection and thread, %u orders each, up to %u in flight each:",
            traders, load_orders, kLoadWindow);
        via = run(via_clients, via_traders, traders, load_orders, kLoadWindow);
        direct = run(direct_clients, direct_traders, traders, load_orders, kLoadWindow);
        out.latency("gateway", via);
        out.latency("direct", direct);
        out.ratios(via, direct);
        record_both(via, direct);
    }

    out.blank();
    out.line(
        "highest sustained rate, rate control wide open: %u traders, %u orders each, up to %u in flight each:",
        peak_traders, peak_orders, static_cast<uint32_t>(kInvitationCount));
    via = run(via_clients, via_traders, peak_traders, peak_orders, kInvitationCount);
    direct = run(direct_clients, direct_traders, peak_traders, peak_orders, kInvitationCount);
    out.latency("gateway", via);
    out.latency("direct", direct);
    out.ratios(via, direct);
    record_both(via, direct);
    out.line("  sustained through the gateway: %.0f orders/s (ceiling of one link at base rate %d: %d/s)",
             via.rate(), kWideOpenRate, kWideOpenRate);
    double peak_rate = via.rate();

    out.blank();
    out.line(
        "aims: median round trip within 3x of the direct one (one order in flight: %.2fx); at least 50000 orders/s through one gateway (%.0f/s; no single host link can carry more than %d/s)",
        single_median_ratio, peak_rate, kWideOpenRate);

    sign_off_all(via_traders);
    sign_off_all(direct_traders);
    gateway.signal(SIGTERM);
    qel_test::process_result ended = gateway.wait(20000);
    responder.stop();
    host.stop();

    out.blank();
    if (responder.check_failures() != 0)
        out.line("direct responder: %llu frames failed its checks",
                 static_cast<unsigned long long>(responder.check_failures()));
    out.line("records lost: %s; gateway exit code %d%s", lost ? "YES (see above)" : "none", ended.exit_code,
             ended.timed_out ? " (timed out)" : "");
    if (out.write(output))
        printf("written to %s\n", output.c_str());
    else
        fprintf(stderr, "cannot write %s\n", output.c_str());
    ea_socket_cleanup();
    return lost ? 2 : 0;
}
