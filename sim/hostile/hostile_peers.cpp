// Hostile and broken peers (see hostile_peers.h). Sockets are the platform layer's,
// non-blocking, polled against a steady-clock deadline: the gateway under attack may stop
// reading, and a peer must then report it instead of hanging the test.
#include "sim/hostile/hostile_peers.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/core/pf_error.h"
#include "platform/core/pf_socket.h"
#include "sim/workstation/trader.h"
#include "sim/workstation/workstation_client.h"

namespace qel_sim
{
namespace
{
using clock_type = std::chrono::steady_clock;

clock_type::time_point deadline_after(uint32_t timeout_ms)
{
    return clock_type::now() + std::chrono::milliseconds(timeout_ms);
}

void pause_briefly()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool transient(uint32_t error)
{
    return error == PF_WSAEWOULDBLOCK || error == PF_WSAEINTR;
}

void put_be32(std::vector<uint8_t> &record, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        record[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

const int16_t k_sign_on_request = 2300;
const int16_t k_sign_on_response = 2301;
const int16_t k_already_signed_on = 16004;
const uint16_t k_host_link_record_length = 46;
} // namespace

const std::vector<int16_t> &hostile_host_link_transcodes()
{
    // Box sign-on, relogon, rate-control heart beat and the gateway's heart beat.
    static const std::vector<int16_t> transcodes = {23000, 23502, 23004, 23506};
    return transcodes;
}

raw_peer::~raw_peer()
{
    close();
}

bool raw_peer::connect(uint16_t port, const char *local_address)
{
    close();
    pf_ignore_sigpipe();
    int fd = pf_socket_create(2, 1, 6);
    if (fd < 0)
        return false;
    if ((local_address != nullptr && pf_socket_bind(fd, pf_inet_addr(local_address), 0) != 0) ||
        pf_socket_connect(fd, pf_inet_addr("127.0.0.1"), port) != 0 ||
        pf_socket_set_nonblocking(fd, true) != 0)
    {
        pf_socket_close(fd);
        return false;
    }
    m_socket = fd;
    m_received.clear();
    return true;
}

void raw_peer::close()
{
    if (m_socket >= 0)
        pf_socket_close(m_socket);
    m_socket = -1;
}

bool raw_peer::send_all(const std::string &bytes, uint32_t timeout_ms, bool *timed_out)
{
    if (timed_out != nullptr)
        *timed_out = false;
    auto deadline = deadline_after(timeout_ms);
    size_t sent = 0;
    while (m_socket >= 0 && sent < bytes.size())
    {
        int n = pf_socket_send(m_socket, bytes.data() + sent, static_cast<int32_t>(bytes.size() - sent));
        if (n > 0)
        {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && !transient(pf_get_last_error()))
            return false;
        if (clock_type::now() >= deadline)
        {
            if (timed_out != nullptr)
                *timed_out = true;
            return false;
        }
        pause_briefly();
    }
    return m_socket >= 0;
}

bool raw_peer::wait_closed(uint32_t timeout_ms)
{
    auto deadline = deadline_after(timeout_ms);
    while (m_socket >= 0)
    {
        char buffer[4096];
        int n = pf_socket_recv(m_socket, buffer, sizeof buffer);
        if (n > 0)
        {
            m_received.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 || !transient(pf_get_last_error()))
            return true;
        if (clock_type::now() >= deadline)
            return false;
        pause_briefly();
    }
    return true;
}

hostile_workstation::hostile_workstation(uint16_t port, uint32_t user_id)
    : m_port(port), m_user_id(user_id), m_client(new workstation_client)
{
}

hostile_workstation::~hostile_workstation() = default;

bool hostile_workstation::connected() const
{
    return m_client->connected() && !m_client->peer_closed();
}

bool hostile_workstation::sign_on(uint32_t timeout_ms)
{
    if (!m_client->connect("127.0.0.1", m_port))
        return false;
    m_trader.reset(new trader(*m_client, m_user_id));
    trader_reply signed_on = m_trader->sign_on(timeout_ms);
    if (!signed_on.arrived || signed_on.error_code != 0)
        return false;
    trader_reply information = m_trader->system_information(timeout_ms);
    m_seen = m_client->received().size();
    return information.arrived && information.error_code == 0;
}

bool hostile_workstation::attack_round(uint32_t other_user, uint32_t timeout_ms)
{
    for (int16_t transcode : hostile_host_link_transcodes())
    {
        if (!m_client->send_record(workstation_make_record(transcode, m_user_id, k_host_link_record_length),
                                   timeout_ms))
            return false;
        m_counts.host_link_records_sent++;
    }
    std::vector<uint8_t> sign_on = workstation_make_record(k_sign_on_request, m_user_id, SIGN_ON_RECORD_SIZE);
    put_be32(sign_on, SIGN_ON_USER_OFFSET, other_user);
    if (!m_client->send_record(sign_on, timeout_ms))
        return false;
    m_counts.second_sign_ons_sent++;
    workstation_frame answer;
    if (m_client->wait_for_transcode(k_sign_on_response, &answer, timeout_ms))
    {
        int16_t error = static_cast<int16_t>((answer.record[VRX_ERROR_CODE_OFFSET] << 8) |
                                             answer.record[VRX_ERROR_CODE_OFFSET + 1]);
        if (error == k_already_signed_on)
            m_counts.already_signed_on_answers++;
        else
            m_counts.other_answers++;
    }
    take_answers();
    return connected();
}

void hostile_workstation::take_answers()
{
    const std::vector<workstation_frame> &received = m_client->received();
    // The sign-on answers were counted as they came; anything else is unexpected.
    for (; m_seen < received.size(); ++m_seen)
        if (workstation_record_transcode(received[m_seen].record) != k_sign_on_response)
            m_counts.other_answers++;
}

bool hostile_workstation::sign_off(uint32_t timeout_ms)
{
    return m_trader && m_trader->sign_off(timeout_ms).arrived;
}

std::vector<std::string> attacker_addresses(uint32_t count)
{
    std::vector<std::string> addresses;
    for (uint32_t i = 0; i < count; ++i)
        addresses.push_back("127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
    return addresses;
}

namespace
{
// Connects holder `i` as `how` says: from its address (for rotating holders, `i` counts
// their connections), then the first byte of a frame's length field (and nothing after it)
// unless it is silent.
bool hold_slot(raw_peer &peer, uint16_t port, uint32_t i, const slot_holding &how)
{
    const char *from = how.addresses.empty() ? nullptr : how.addresses[i % how.addresses.size()].c_str();
    return peer.connect(port, from) && (how.silent || peer.send_all(std::string(1, '\0'), 1000));
}
} // namespace

uint32_t slot_holders::open(uint16_t port, uint32_t count, const slot_holding &how)
{
    uint32_t opened = 0;
    for (uint32_t i = 0; i < count; ++i)
    {
        std::unique_ptr<raw_peer> peer(new raw_peer);
        if (!hold_slot(*peer, port, i, how))
            continue;
        m_peers.push_back(std::move(peer));
        ++opened;
    }
    return opened;
}

uint32_t slot_holders::wait_closed(uint32_t timeout_ms)
{
    auto deadline = deadline_after(timeout_ms);
    uint32_t closed = 0;
    for (std::unique_ptr<raw_peer> &peer : m_peers)
    {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
        if (peer->wait_closed(left > 0 ? static_cast<uint32_t>(left) : 0))
            ++closed;
    }
    return closed;
}

void slot_holders::close_all()
{
    m_peers.clear();
}

bool raw_peer::closed_by_peer()
{
    if (m_socket < 0)
        return true;
    char buffer[4096];
    int n = pf_socket_recv(m_socket, buffer, sizeof buffer);
    if (n > 0 || (n < 0 && transient(pf_get_last_error())))
        return false;
    close();
    return true;
}

reconnecting_slot_holders::~reconnecting_slot_holders()
{
    stop();
}

void reconnecting_slot_holders::start(uint16_t port, uint32_t count, const slot_holding &how)
{
    m_stop = false;
    m_thread = std::thread(
        [this, port, count, how]
        {
            std::vector<std::unique_ptr<raw_peer>> peers;
            std::vector<clock_type::time_point> dropped(count); // epoch: not seen dropped yet
            const std::chrono::milliseconds pause(how.reconnect_after_ms);
            uint32_t connects = 0;
            for (uint32_t i = 0; i < count; ++i)
                peers.emplace_back(new raw_peer);
            bool first = true;
            while (!m_stop)
            {
                const clock_type::time_point now = clock_type::now();
                for (uint32_t i = 0; i < count; ++i)
                {
                    if (!peers[i]->closed_by_peer())
                        continue;
                    if (!first && pause.count() > 0)
                    {
                        if (dropped[i] == clock_type::time_point())
                            dropped[i] = now;
                        if (now - dropped[i] < pause)
                            continue;
                        dropped[i] = clock_type::time_point();
                    }
                    if (hold_slot(*peers[i], port, how.rotate ? connects++ : i, how) && !first)
                        ++m_reconnects;
                }
                first = false;
                pause_briefly();
            }
        });
}

void reconnecting_slot_holders::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool console_request_and_vanish(uint16_t port, uint32_t requests)
{
    raw_peer peer;
    if (!peer.connect(port))
        return false;
    // A user information request: length 40 in the console's little-endian order, the
    // transcode 10001 at offset 20, zeros elsewhere.
    std::string request(40, '\0');
    request[0] = 40;
    request[20] = static_cast<char>(10001 & 0xFF);
    request[21] = static_cast<char>(10001 >> 8);
    std::string burst;
    burst.reserve(request.size() * requests);
    for (uint32_t i = 0; i < requests; ++i)
        burst += request;
    peer.send_all(burst, 2000);
    // Closing with the version check and every reply unread makes the kernel reset the
    // connection under the gateway's next send.
    peer.close();
    return true;
}

fix_flood_result fix_flood(uint16_t port, uint64_t limit_bytes, uint32_t timeout_ms)
{
    fix_flood_result result;
    raw_peer peer;
    if (!peer.connect(port))
        return result;
    result.connected = true;
    auto deadline = deadline_after(timeout_ms);
    std::string head = std::string("8=FIX.4.2") + '\x01' + "9=99999999" + '\x01' + "35=A" + '\x01';
    const std::string filler(65536, 'x');
    const std::string *next = &head;
    while (result.bytes_sent < limit_bytes && clock_type::now() < deadline)
    {
        bool timed_out = false;
        if (!peer.send_all(*next, 200, &timed_out))
        {
            if (!timed_out)
            {
                result.cut = true;
                return result;
            }
            continue; // the gateway reads slower than we write: keep at it
        }
        result.bytes_sent += next->size();
        next = &filler;
    }
    // Out of bytes or time: the connection may still be cut a little later.
    result.cut = peer.wait_closed(1000);
    return result;
}

std::string http_status(uint16_t port, const std::string &path, uint32_t timeout_ms)
{
    raw_peer peer;
    if (!peer.connect(port) || !peer.send_all("GET " + path + " HTTP/1.0\r\n\r\n", timeout_ms))
        return "";
    peer.wait_closed(timeout_ms);
    const std::string &answer = peer.received();
    return answer.substr(0, answer.find("\r\n"));
}

unsigned_connection_flood::~unsigned_connection_flood()
{
    stop();
}

void unsigned_connection_flood::start(uint16_t port, unsigned_connection_attack attack, uint32_t threads)
{
    m_stop = false;
    for (uint32_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this, port, attack] { run(port, attack); });
}

void unsigned_connection_flood::stop()
{
    m_stop = true;
    for (std::thread &t : m_threads)
        t.join();
    m_threads.clear();
}

void unsigned_connection_flood::run(uint16_t port, unsigned_connection_attack attack)
{
    // The gateway's invitation: a 22-byte network header and a 42-byte record.
    const size_t invitation_frame = 64;
    // A frame of 10 bytes (whole, but shorter than the 62 bytes of the two headers), then
    // the length field of a frame of 1 byte.
    const std::string bad_frames("\x00\x0a\x00\x00\x00\x01\x00\x00\x00\x00\x00\x01", 12);
    // Connections closed on this side (their FIN sent) without an invitation, until it is
    // known whether the gateway's system took them.
    std::vector<std::unique_ptr<raw_peer>> closing;
    while (!m_stop)
    {
        settle(closing, false);
        std::unique_ptr<raw_peer> peer(new raw_peer);
        ++m_attempts;
        if (!peer->connect(port))
        {
            pause_briefly();
            continue;
        }
        ++m_connections;
        if (attack != unsigned_connection_attack::close_at_once)
        {
            // Reads (keeping what comes) until the invitation is in or the gateway closed.
            auto deadline = deadline_after(2000);
            bool closed = false;
            while (!closed && peer->received().size() < invitation_frame && clock_type::now() < deadline)
                closed = peer->wait_closed(5);
            if (peer->received().size() >= invitation_frame)
            {
                ++m_invited;
                ++m_taken;
                if (attack == unsigned_connection_attack::bad_frame_after_invitation && !closed &&
                    peer->send_all(bad_frames, 1000))
                    peer->wait_closed(2000);
                continue;
            }
        }
        pf_socket_shutdown_send(peer->descriptor());
        closing.push_back(std::move(peer));
    }
    // An acknowledgement may still be on its way: the rest get a moment before they are
    // closed uncounted.
    const auto deadline = deadline_after(1000);
    while (!closing.empty() && clock_type::now() < deadline)
    {
        settle(closing, false);
        pause_briefly();
    }
    settle(closing, true);
}

void unsigned_connection_flood::settle(std::vector<std::unique_ptr<raw_peer>> &closing, bool last)
{
    for (size_t i = 0; i < closing.size();)
    {
        const pf_fin_state state = pf_socket_fin_state(closing[i]->descriptor());
        if (state == PF_FIN_UNACKNOWLEDGED && !last)
        {
            ++i;
            continue;
        }
        if (state == PF_FIN_ACKNOWLEDGED)
            ++m_taken;
        closing[i] = std::move(closing.back());
        closing.pop_back();
    }
}

sign_on_flood::sign_on_flood() = default;

sign_on_flood::~sign_on_flood()
{
    stop();
}

bool sign_on_flood::start(uint16_t port, const sign_on_flood_options &options)
{
    m_options = options;
    if (m_options.addresses.empty())
        m_options.addresses.push_back("127.0.0.1");
    if (m_options.attack == sign_on_attack::second_sign_on)
    {
        // The user signs on properly first, from the flood's first address, and stays.
        m_holder.reset(new workstation_client);
        m_holder_trader.reset(new trader(*m_holder, m_options.user_id, m_options.password));
        if (!m_holder->connect("127.0.0.1", port, m_options.addresses[0]))
            return false;
        trader_reply signed_on = m_holder_trader->sign_on(m_options.answer_ms);
        if (!signed_on.arrived || signed_on.error_code != 0 ||
            !m_holder_trader->system_information(m_options.answer_ms).arrived)
            return false;
    }
    m_stop = false;
    m_next_address = 0;
    for (uint32_t i = 0; i < m_options.threads; ++i)
    {
        const std::string address = m_options.addresses[i % m_options.addresses.size()];
        m_threads.emplace_back([this, port, address] { run(port, address); });
    }
    return true;
}

void sign_on_flood::stop()
{
    m_stop = true;
    for (std::thread &t : m_threads)
        t.join();
    m_threads.clear();
}

std::map<int16_t, uint32_t> sign_on_flood::refusals() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_refusals;
}

void sign_on_flood::run(uint16_t port, const std::string &address)
{
    const uint32_t user = m_options.attack == sign_on_attack::no_user ? 0 : m_options.user_id;
    workstation_client client;
    trader signing(client, user, m_options.password);
    const std::vector<uint8_t> sign_on = signing.sign_on_record();
    const std::vector<std::string> &pool = m_options.addresses;
    while (!m_stop)
    {
        ++m_attempts;
        const std::string &from = m_options.rotate ? pool[m_next_address++ % pool.size()] : address;
        if (!client.connect("127.0.0.1", port, from))
        {
            pause_briefly();
            continue;
        }
        ++m_connections;
        // The invitation comes first; a connection whose first frame the gateway leaves
        // unread waits for its answer like the others.
        if (!client.send_record(sign_on, m_options.answer_ms))
            continue;
        ++m_sign_ons;
        workstation_frame answer;
        if (client.wait_for_transcode(k_sign_on_response, &answer, m_options.answer_ms))
        {
            const int16_t error = static_cast<int16_t>((answer.record[VRX_ERROR_CODE_OFFSET] << 8) |
                                                       answer.record[VRX_ERROR_CODE_OFFSET + 1]);
            if (error == 0)
                ++m_accepted;
            else
            {
                ++m_refused;
                std::lock_guard<std::mutex> guard(m_lock);
                m_refusals[error]++;
            }
        }
        // The gateway ends a refused sign-on's connection itself.
        client.wait_for_close(m_options.answer_ms);
    }
    client.close();
}

namespace
{
const char k_soh = '\x01';

// SendingTime (52) now: YYYYMMDD-HH:MM:SS.sss in UTC.
std::string fix_sending_time()
{
    const auto now = std::chrono::system_clock::now();
    const time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[32];
    strftime(text, sizeof text, "%Y%m%d-%H:%M:%S", &utc);
    const std::string millis = std::to_string(1000 + ms);
    return text + ("." + millis.substr(1));
}

// BeginString, BodyLength and CheckSum around a body that begins with MsgType (35).
std::string fix_framed(const std::string &body)
{
    std::string message =
        std::string("8=FIX.4.2") + k_soh + "9=" + std::to_string(body.size()) + k_soh + body;
    unsigned sum = 0;
    for (unsigned char c : message)
        sum += c;
    char trailer[16];
    snprintf(trailer, sizeof trailer, "10=%03u", sum % 256);
    return message + trailer + k_soh;
}

// The value of a tag in one message, "" when it has none.
std::string fix_value(const std::string &message, const std::string &tag)
{
    const std::string key = k_soh + tag + "=";
    const std::string::size_type at = message.find(key);
    if (at == std::string::npos)
        return "";
    const std::string::size_type start = at + key.size();
    return message.substr(start, message.find(k_soh, start) - start);
}

// Takes the first whole message off the front of `bytes`; false while none is whole.
bool take_fix_message(std::string &bytes, std::string *message)
{
    const std::string::size_type checksum = bytes.find(std::string(1, k_soh) + "10=");
    if (checksum == std::string::npos)
        return false;
    const std::string::size_type end = bytes.find(k_soh, checksum + 1);
    if (end == std::string::npos)
        return false;
    *message = bytes.substr(0, end + 1);
    bytes.erase(0, end + 1);
    return true;
}

const uint32_t k_flood_wait_ms = 200;
} // namespace

silent_connect_flood::~silent_connect_flood()
{
    stop();
}

void silent_connect_flood::start(const std::string &local_address, uint16_t port, uint32_t threads,
                                 uint32_t per_second, uint32_t held)
{
    m_stop = false;
    for (uint32_t t = 0; t < threads; ++t)
        m_threads.emplace_back(
            [this, local_address, port, per_second, held]
            {
                std::vector<raw_peer> ring(held);
                size_t next = 0;
                uint64_t made = 0;
                const auto begin = clock_type::now();
                while (!m_stop)
                {
                    if (per_second != 0)
                    {
                        const auto due = begin + std::chrono::microseconds(made * 1000000 / per_second);
                        if (clock_type::now() < due)
                        {
                            std::this_thread::sleep_until(due);
                            continue;
                        }
                    }
                    raw_peer &oldest = ring[next];
                    if (oldest.connected())
                    {
                        // The acceptor closes the oldest connections once it holds too many:
                        // waiting for that a little keeps the flood to the pace at which
                        // the acceptor takes connections in, and the listen queue short.
                        // A full queue would hold back every connect, the flood's own too.
                        const auto until = deadline_after(k_flood_wait_ms);
                        while (!m_stop && !oldest.closed_by_peer() && clock_type::now() < until)
                            pause_briefly();
                        oldest.close();
                    }
                    if (!oldest.connect(port, local_address.c_str()))
                    {
                        pause_briefly();
                        continue;
                    }
                    next = (next + 1) % ring.size();
                    ++made;
                    ++m_connects;
                }
            });
}

void silent_connect_flood::stop()
{
    m_stop = true;
    for (std::thread &thread : m_threads)
        if (thread.joinable())
            thread.join();
    m_threads.clear();
}

const char *fix_late_logon_outcome_name(fix_late_logon_outcome outcome)
{
    switch (outcome)
    {
    case fix_late_logon_outcome::not_connected:
        return "not connected";
    case fix_late_logon_outcome::logged_on:
        return "logged on";
    case fix_late_logon_outcome::logged_out:
        return "logged out";
    case fix_late_logon_outcome::cut:
        return "cut";
    case fix_late_logon_outcome::no_answer:
        return "no answer";
    }
    return "?";
}

fix_late_logon_outcome fix_late_logon(const fix_late_logon_options &options, std::string *logout_text)
{
    raw_peer peer;
    if (!peer.connect(options.port, options.local_address.c_str()))
        return fix_late_logon_outcome::not_connected;
    const int fd = peer.descriptor();
    std::this_thread::sleep_for(std::chrono::milliseconds(options.pause_ms));

    const std::string logon = fix_framed(
        std::string("35=A") + k_soh + "34=1" + k_soh + "49=" + options.sender_comp_id + k_soh +
        "52=" + fix_sending_time() + k_soh + "56=" + options.target_comp_id + k_soh + "98=0" + k_soh +
        "108=30" + k_soh + "141=Y" + k_soh + "95=" + std::to_string(options.front_end_version.size()) +
        k_soh + "96=" + options.front_end_version + k_soh + "554=" + options.password + k_soh);
    const auto deadline = deadline_after(options.timeout_ms);
    fix_late_logon_outcome outcome = fix_late_logon_outcome::no_answer;
    size_t sent = 0;
    std::string received;
    bool answered = false;
    while (!answered && clock_type::now() < deadline)
    {
        if (sent < logon.size())
        {
            const int n = pf_socket_send(fd, logon.data() + sent, static_cast<int32_t>(logon.size() - sent));
            if (n > 0)
                sent += static_cast<size_t>(n);
            else if (n < 0 && !transient(pf_get_last_error()))
            {
                outcome = fix_late_logon_outcome::cut;
                break;
            }
        }
        char buffer[4096];
        const int n = pf_socket_recv(fd, buffer, sizeof buffer);
        const bool ended = n == 0 || (n < 0 && !transient(pf_get_last_error()));
        if (n > 0)
            received.append(buffer, static_cast<size_t>(n));
        std::string message;
        while (!answered && take_fix_message(received, &message))
        {
            const std::string type = fix_value(message, "35");
            if (type == "A")
                outcome = fix_late_logon_outcome::logged_on;
            else if (type == "5")
            {
                outcome = fix_late_logon_outcome::logged_out;
                if (logout_text != nullptr)
                    *logout_text = fix_value(message, "58");
            }
            answered = type == "A" || type == "5";
        }
        if (!answered && ended)
        {
            outcome = fix_late_logon_outcome::cut;
            break;
        }
        if (!answered && n <= 0)
            pause_briefly();
    }
    return outcome;
}

} // namespace qel_sim
