// What the main-road benchmarks share: the direct responder that stands in for gateway
// and exchange, traders that keep a window of orders in flight or keep a pace, the tally
// of their answers, and the report lines. The gateway runs as its own process in front
// of the simulated exchange host; the traders and the responder run in the benchmark.
#pragma once

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_report.h"
#include "gateway/runtime/ea_socket.h"
#include "platform/core/pf_socket.h"
#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "sim/sim_wire.h"
#include "sim/workstation/trader.h"
#include "support/gateway_config.h"
#include "support/test_support.h"
#include "support/workstation_trader.h"

namespace main_road
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
        // Port 0: a port chosen in advance could be the one the gateway is about to take.
        if (ea_bind(m_listener, "127.0.0.1", 0) != 0 || ea_listen(m_listener, 16) != 0)
            return false;
        m_port = pf_socket_local_port(m_listener);
        if (m_port == 0)
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

// Counts one answer: confirmed, rejected with a reason, or unexplained.
inline void tally(const std::vector<uint8_t> &answer, trader_run *out)
{
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
}

// One trader's orders, up to `window` in flight, answers matched to orders in the order
// they were sent (one connection, one host link: the answers keep their order).
inline void run_trader(qel_sim::workstation_client *client, qel_sim::trader *trader, uint32_t orders,
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
            tally(got[cursor].record, out);
            if (in_flight.empty())
                continue;
            out->micros.push_back(std::chrono::duration<double, std::micro>(now - in_flight.front()).count());
            in_flight.pop_front();
        }
    }
    if (!client->check_failures().empty() && out->failure.empty())
        out->failure = client->check_failures().front();
}

// One trader's orders at a fixed pace (one every `interval`, from `start`), as far as the
// invitations allow; answers are matched in order as above. The client waits for answers
// in steps of a millisecond, so an order may leave up to that late; its time is counted
// from when it left.
inline void run_paced_trader(qel_sim::workstation_client *client, qel_sim::trader *trader, uint32_t orders,
                             steady::time_point start, steady::duration interval, trader_run *out)
{
    qel_sim::trader_order order;
    const std::vector<uint8_t> record = trader->order_record(2000, order);
    std::deque<steady::time_point> in_flight;
    size_t cursor = client->received().size();
    out->micros.reserve(orders);
    while (out->confirmed + out->rejected + out->unexplained < orders)
    {
        steady::time_point now = steady::now();
        steady::time_point due = start + interval * out->sent;
        if (out->sent < orders && now >= due && client->credit() > 0)
        {
            in_flight.push_back(now);
            if (!client->send_record(record, kTimeoutMs))
            {
                out->failure = "sending failed";
                break;
            }
            ++out->sent;
            continue;
        }
        if (in_flight.empty() && out->sent < orders && client->credit() > 0)
        {
            std::this_thread::sleep_until(due);
            continue;
        }
        if (in_flight.empty())
        {
            // Nothing to wait for but the next invitation.
            if (!client->wait_for_invitation(kTimeoutMs))
            {
                out->failure = "no invitation came";
                break;
            }
            continue;
        }
        qel_sim::workstation_frame frame;
        client->receive(&frame, 1);
        now = steady::now();
        const std::vector<qel_sim::workstation_frame> &got = client->received();
        for (; cursor < got.size(); ++cursor)
        {
            tally(got[cursor].record, out);
            if (in_flight.empty())
                continue;
            out->micros.push_back(std::chrono::duration<double, std::micro>(now - in_flight.front()).count());
            in_flight.pop_front();
        }
        if (!in_flight.empty() &&
            std::chrono::duration<double, std::milli>(now - in_flight.front()).count() > kTimeoutMs)
        {
            out->failure = "no answer within 10 s";
            break;
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

// Gathers what the traders saw into one result.
inline run_result gather(std::vector<trader_run> &runs, steady::time_point start)
{
    run_result result;
    result.traders = static_cast<uint32_t>(runs.size());
    result.seconds = std::chrono::duration<double>(steady::now() - start).count();
    for (size_t i = 0; i < runs.size(); ++i)
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

// The first `traders` of the given workstations, each on its own thread.
inline run_result run(std::vector<std::unique_ptr<qel_sim::workstation_client>> &clients,
                      std::vector<std::unique_ptr<qel_sim::trader>> &people, uint32_t traders,
                      uint32_t orders_each, uint32_t window)
{
    std::vector<trader_run> runs(traders);
    std::vector<std::thread> threads;
    steady::time_point start = steady::now();
    for (uint32_t i = 0; i < traders; ++i)
        threads.emplace_back(run_trader, clients[i].get(), people[i].get(), orders_each, window, &runs[i]);
    for (std::thread &t : threads)
        t.join();
    return gather(runs, start);
}

// The same at a total pace of `rate` orders a second, shared evenly by the traders, whose
// schedules are staggered so that the orders are spread over time.
inline run_result run_paced(std::vector<std::unique_ptr<qel_sim::workstation_client>> &clients,
                            std::vector<std::unique_ptr<qel_sim::trader>> &people, uint32_t traders,
                            uint32_t orders_each, double rate)
{
    std::vector<trader_run> runs(traders);
    std::vector<std::thread> threads;
    const steady::duration interval =
        std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(traders / rate));
    steady::time_point start = steady::now() + std::chrono::milliseconds(5);
    for (uint32_t i = 0; i < traders; ++i)
        threads.emplace_back(run_paced_trader, clients[i].get(), people[i].get(), orders_each,
                             start + interval * i / traders, interval, &runs[i]);
    for (std::thread &t : threads)
        t.join();
    return gather(runs, start);
}

// Connects and signs on `count` traders (users 1001, 1002, ...).
inline bool sign_on_all(uint16_t port, uint32_t count,
                        std::vector<std::unique_ptr<qel_sim::workstation_client>> &clients,
                        std::vector<std::unique_ptr<qel_sim::trader>> &people)
{
    for (uint32_t i = 0; i < count; ++i)
    {
        clients.emplace_back(new qel_sim::workstation_client());
        people.emplace_back(new qel_sim::trader(*clients.back(), 1001 + i));
        if (!qel_test::sign_on_at_workstation(*clients.back(), *people.back(), port, kTimeoutMs))
            return false;
    }
    return true;
}

inline void sign_off_all(std::vector<std::unique_ptr<qel_sim::trader>> &people)
{
    for (std::unique_ptr<qel_sim::trader> &person : people)
        person->sign_off(kTimeoutMs);
}

// The order entries the host received since the last clear.
inline uint32_t host_orders(const qel_sim::sim_host &host)
{
    uint32_t count = 0;
    for (const qel_sim::host_record &record : host.records())
        count += record.transcode == 20000 ? 1 : 0;
    return count;
}

class main_road_report : public bench_report
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

// The two roads side by side: qel_ip (its own process, in a folder of its own) in front of
// the simulated exchange host at the given base rate, and the direct responder; `traders`
// workstations signed on to each.
struct roads
{
    qel_test::temp_dir dir;
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> exchange;
    std::unique_ptr<qel_test::child_process> gateway;
    direct_responder responder;
    std::vector<std::unique_ptr<qel_sim::workstation_client>> via_clients, direct_clients;
    std::vector<std::unique_ptr<qel_sim::trader>> via_traders, direct_traders;
    std::string failure;

    roads(uint32_t traders, int16_t base_rate)
    {
        qel_sim::host_options host_options;
        host_options.lifetime_ms = 3600000;
        host.reset(new qel_sim::sim_host(host_options));
        if (!host->start())
        {
            failure = "the simulated host cannot listen";
            return;
        }
        qel_sim::box_options box;
        box.box_id = 101;
        box.base_rate = base_rate;
        box.max_users = 16;
        exchange.reset(new qel_sim::sim_box_host(*host, box));
        qel_test::gateway_config config;
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        config.values["SYSTEM_LOGGING_LEVEL"] = "BUSINESS_ERROR";
        config.values["SYSTEM_BINARY_LOGGING_ENABLED"] = "FALSE";
        config.values["FIX_LOGGING"] = "N";
        config.values["MAX_TWS_CLIENTS"] = "16";
        config.values["FLOW_CONTROL_COUNT"] = std::to_string(kInvitationCount);
        uint16_t gateway_port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
        gateway.reset(new qel_test::child_process({QEL_IP_BINARY, "-c", config.write(dir)}, dir.path()));
        if (!responder.start())
            failure = "the direct responder cannot listen";
        else if (!sign_on_all(gateway_port, traders, via_clients, via_traders) ||
                 !sign_on_all(responder.port(), traders, direct_clients, direct_traders))
            failure = "the traders could not sign on";
    }

    // Signs everyone off and stops the gateway (SIGTERM), the responder and the host.
    qel_test::process_result stop()
    {
        sign_off_all(via_traders);
        sign_off_all(direct_traders);
        gateway->signal(SIGTERM);
        qel_test::process_result ended = gateway->wait(20000);
        responder.stop();
        host->stop();
        return ended;
    }
};
} // namespace main_road
