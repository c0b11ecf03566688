// The simulated host's box and session behaviour (see sim_host_box.h).
//
// Choices of this host where the exchange's behaviour is not laid down:
// - One session per box id. A box sign-on (23000) starts it afresh: the host numbers its
//   frames from 1 and expects the gateway's next number after the sign-on's own. The
//   session, with its numbers and the host's unacknowledged frames, outlives the
//   connection, so that a relogon (23502) on a new connection resumes it.
// - Sign-on answers: 23001 (error 0, or 16001 for a box or broker it does not know), and
//   after it 23007 with the base rate and the users allowed; both numbered.
// - Relogon answer 23503, unnumbered, carries at 18 (20 behind the packet count) the next
//   number the host expects from the gateway; 16002 when the box has no signed-on session.
//   The host then sends again, with their first numbers, its frames after the last one
//   the relogon says the gateway received.
// - Every numbered frame of a signed-on box that gets no numbered answer at once is
//   acknowledged with a numbered 25003 (its record: transcode, then the last number
//   received); every frame the host sends carries that number in its header.
// - Host heart beats (23006) and the relogon answer travel with number 0.
// - A frame numbered behind what the host already has is a duplicate and is dropped; one
//   numbered ahead is taken and reported as a gap.
#include "sim/host/sim_host_box.h"

#include <ctime>

namespace qel_sim
{

namespace
{
const uint16_t k_version = 41402;
const uint16_t k_error_unknown_box = 16001;
const uint16_t k_error_no_session = 16002;
const uint32_t k_max_kept = 4000;
const size_t k_entries_per_packet = 4;
const size_t k_packet_bytes = 1900;

uint16_t next_number(uint16_t number)
{
    return number >= 32000 ? 1 : static_cast<uint16_t>(number + 1);
}

// How far `number` lies behind `expected` on the 1..32000 circle (0: it is the expected one).
int32_t behind(uint16_t expected, uint16_t number)
{
    int32_t d = static_cast<int32_t>(expected) - static_cast<int32_t>(number);
    return d < 0 ? d + 32000 : d;
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::string describe(const std::vector<bytes> &records)
{
    std::string text;
    for (const bytes &r : records)
        text += (text.empty() ? "" : ", ") + std::to_string(r.size() >= 2 ? be16(r.data()) : 0);
    return text;
}
} // namespace

sim_box_host::sim_box_host(sim_host &host, box_options options, exchange_options exchange)
    : m_host(host), m_options(std::move(options)), m_exchange(std::move(exchange))
{
    m_host.on_frame([this](sim_host &h, const host_frame &f, const std::vector<host_record> &records)
                    { frame(h, f, records); });
    m_host.on_tick([this](sim_host &h) { tick(h); });
    m_host.on_connection([this](sim_host &, uint32_t connection, bool open)
                         { connection_event(connection, open); });
}

sim_box_host::~sim_box_host()
{
    m_host.on_frame(nullptr);
    m_host.on_tick(nullptr);
    m_host.on_connection(nullptr);
    // One round trip through the service thread: after it none of our handlers runs.
    m_host.is_open(0);
}

void sim_box_host::set_faults(const box_faults &faults)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_faults = faults;
    // The counting faults start now, for the box that is on (or the next one to sign on).
    for (auto &entry : m_sessions)
    {
        if (m_faults.lose_then_drop != 0)
            entry.second.lose = m_faults.lose_then_drop;
        if (m_faults.restart_sequence_after != 0)
            entry.second.until_restart = m_faults.restart_sequence_after;
    }
    if (!m_sessions.empty())
    {
        m_faults.lose_then_drop = 0;
        m_faults.restart_sequence_after = 0;
    }
}

box_faults sim_box_host::faults() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_faults;
}

void sim_box_host::on_line(std::function<void(const std::string &)> printer)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_printer = std::move(printer);
}

uint32_t sim_box_host::stamp() const
{
    // Exchange seconds: from 1980-01-01 00:00 at UTC+05:30.
    return static_cast<uint32_t>(static_cast<int64_t>(time(nullptr)) - 315513000);
}

void sim_box_host::line(const std::string &text)
{
    m_lines.push_back(text);
    if (m_printer)
        m_printer(text);
    m_changed.notify_all();
}

void sim_box_host::fault(const std::string &text)
{
    m_faults_seen.push_back(session_fault{text});
    line("FAULT: " + text);
}

sim_box_host::session *sim_box_host::session_of_connection(uint32_t connection)
{
    auto box = m_connection_boxes.find(connection);
    if (box == m_connection_boxes.end())
        return nullptr;
    auto s = m_sessions.find(box->second);
    return s == m_sessions.end() || s->second.state.connection != connection ? nullptr : &s->second;
}

sim_box_host::session *sim_box_host::only_session()
{
    session *found = nullptr;
    for (auto &entry : m_sessions)
    {
        if (found == nullptr || entry.second.state.connection != 0)
            found = &entry.second;
    }
    return found;
}

uint16_t sim_box_host::ack_value(session &s)
{
    if (!m_faults.withhold_acknowledgements)
        s.acknowledged = s.state.last_received;
    return s.acknowledged;
}

void sim_box_host::send_numbered(session &s, const bytes &body)
{
    uint16_t number = s.state.next_send;
    s.state.next_send = next_number(number);
    if (s.until_restart != 0 && --s.until_restart == 0)
    {
        s.state.next_send = 1;
        line("host numbering restarts at 1 after frame " + std::to_string(number));
    }
    s.sent.emplace_back(number, body);
    if (s.sent.size() > k_max_kept)
        s.sent.pop_front();
    s.last_send = steady::now();
    if (s.state.connection == 0)
    {
        line("frame " + std::to_string(number) + " kept: box " + std::to_string(s.state.box_id) +
             " has no link");
        return;
    }
    m_host.send_frame(s.state.connection, body, number, ack_value(s));
}

void sim_box_host::send_unnumbered(session &s, const bytes &body)
{
    s.last_send = steady::now();
    if (s.state.connection != 0)
        m_host.send_frame(s.state.connection, body, 0, ack_value(s));
}

void sim_box_host::send_replies(session &s, const std::vector<bytes> &replies)
{
    std::vector<bytes> packet;
    size_t size = 2;
    auto flush = [&]
    {
        if (packet.empty())
            return;
        std::vector<bool> compress(packet.size(), m_faults.compress_replies);
        line("-> " + describe(packet) + (m_faults.compress_replies ? " (compressed)" : ""));
        send_numbered(s, host_encode_packet_entries(packet, compress));
        packet.clear();
        size = 2;
    };
    for (const bytes &reply : replies)
    {
        if (packet.size() == k_entries_per_packet || size + reply.size() > k_packet_bytes)
            flush();
        packet.push_back(reply);
        size += reply.size();
    }
    flush();
}

void sim_box_host::later(uint32_t delay_ms, std::function<void()> run)
{
    if (delay_ms == 0)
    {
        run();
        return;
    }
    m_actions.push_back(action{steady::now() + std::chrono::milliseconds(delay_ms), std::move(run)});
}

void sim_box_host::queue_action(std::function<void()> run)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_actions.push_back(action{steady::now(), std::move(run)});
}

bool sim_box_host::check_sequence(session &s, const host_frame &f)
{
    if (f.sequence_number == 0)
        return true;
    if (s.lose != 0)
    {
        line("frame " + std::to_string(f.sequence_number) + " lost on the way in");
        if (--s.lose == 0)
        {
            line("link of box " + std::to_string(s.state.box_id) + " dropped with frames outstanding");
            m_host.drop_connection(f.connection);
        }
        return false;
    }
    uint16_t expected = next_number(s.state.last_received);
    int32_t distance = behind(expected, f.sequence_number);
    if (distance == 0)
    {
        s.state.last_received = f.sequence_number;
        return true;
    }
    if (distance <= 1000)
    {
        fault("duplicate frame " + std::to_string(f.sequence_number) + " where " + std::to_string(expected) +
              " was due; dropped");
        return false;
    }
    fault("frame " + std::to_string(f.sequence_number) + " where " + std::to_string(expected) +
          " was due (gap)");
    s.state.last_received = f.sequence_number;
    return true;
}

void sim_box_host::frame(sim_host &, const host_frame &f, const std::vector<host_record> &records)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (records.empty())
        return;
    std::string where =
        "conn " + std::to_string(f.connection) + " frame " + std::to_string(f.sequence_number) + ": ";
    if (records[0].transcode == TC_BOX_SIGN_ON)
    {
        box_sign_on(f.connection, records[0]);
        return;
    }
    if (records[0].transcode == TC_BOX_RELOGON)
    {
        box_relogon(f.connection, records[0]);
        return;
    }
    session *s = session_of_connection(f.connection);
    if (s == nullptr)
    {
        fault(where + "records " + describe(std::vector<bytes>(1, records[0].data)) +
              " before any box sign-on");
        return;
    }
    // The gateway's last received number releases the host's frames up to it.
    for (size_t i = 0; i < s->sent.size(); ++i)
    {
        if (s->sent[i].first == f.last_sequence_number)
        {
            s->sent.erase(s->sent.begin(), s->sent.begin() + static_cast<long>(i) + 1);
            break;
        }
    }
    if (!check_sequence(*s, f))
        return;
    uint16_t sent_before = s->state.next_send;
    std::vector<bytes> replies;
    for (const host_record &r : records)
    {
        switch (r.transcode)
        {
        case TC_GATEWAY_HEART_BEAT:
            ++s->state.heart_beats_received;
            line(where + "<- 23506 heart beat");
            break;
        case TC_RATE_HEART_BEAT:
            ++s->state.rate_heart_beats_received;
            line(where + "<- 23004 rate-control heart beat");
            break;
        case TC_BOX_SIGN_ON:
        case TC_BOX_RELOGON:
            fault(where + "box record " + std::to_string(r.transcode) + " packed with others; ignored");
            break;
        default:
        {
            if (!s->state.signed_on)
            {
                fault(where + "record " + std::to_string(r.transcode) +
                      " before the box sign-on was answered");
                break;
            }
            if (r.transcode == TC_SIGN_ON_REQUEST && m_faults.user_sign_on_delay_ms != 0)
            {
                late_sign_on(s->state.box_id, r.data, where);
                break;
            }
            exchange_answer answer = m_exchange.handle(s->state.box_id, r.data, stamp());
            line(where + "<- " + std::to_string(r.transcode) + " " + answer.line);
            replies.insert(replies.end(), answer.replies.begin(), answer.replies.end());
            break;
        }
        }
    }
    send_replies(*s, replies);
    if (f.sequence_number != 0 && s->state.signed_on && s->state.next_send == sent_before &&
        !m_faults.withhold_acknowledgements && s->state.connection == f.connection)
    {
        ++s->state.acknowledgements_sent;
        send_numbered(*s, host_encode_packet({encode_acknowledgement(s->state.last_received)}));
    }
}

void sim_box_host::late_sign_on(uint16_t box_id, const bytes &record, const std::string &where)
{
    const uint32_t delay_ms = m_faults.user_sign_on_delay_ms;
    line(where + "<- 2300 sign-on held for " + std::to_string(delay_ms) + " ms");
    later(delay_ms,
          [this, box_id, record, where]
          {
              auto found = m_sessions.find(box_id);
              if (found == m_sessions.end() || !found->second.state.signed_on)
              {
                  line(where + "late 2300 sign-on dropped: box " + std::to_string(box_id) + " is not on");
                  return;
              }
              exchange_answer answer = m_exchange.handle(box_id, record, stamp());
              line("late: " + where + "<- 2300 " + answer.line);
              send_replies(found->second, answer.replies);
          });
}

void sim_box_host::box_sign_on(uint32_t connection, const host_record &record)
{
    box_request request;
    std::string where = "conn " + std::to_string(connection) + ": ";
    if (!decode_box_request(record.data, &request))
    {
        fault(where + "unreadable box sign-on");
        return;
    }
    std::string broker = trimmed(request.broker_id);
    line(where + "<- 23000 box sign-on: box " + std::to_string(request.box_id) + " broker '" + broker +
         "' version " + std::to_string(request.version) + " frame " + std::to_string(record.sequence_number));
    if (request.after_broker != 0 || request.version != k_version)
        fault(where + "box sign-on with byte " + std::to_string(request.after_broker) +
              " after the broker and version " + std::to_string(request.version));
    if (record.sequence_number != 1)
        fault(where + "box sign-on numbered " + std::to_string(record.sequence_number) + ", not 1");

    uint16_t error = 0;
    if ((m_options.box_id != 0 && request.box_id != m_options.box_id) ||
        (!m_options.broker_id.empty() && broker != m_options.broker_id))
        error = k_error_unknown_box;
    if (m_faults.sign_on_error != 0)
        error = m_faults.sign_on_error;

    session &s = m_sessions[request.box_id];
    if (s.state.connection != 0 && s.state.connection != connection)
    {
        line("box " + std::to_string(request.box_id) + " signs on anew; connection " +
             std::to_string(s.state.connection) + " closed");
        m_host.drop_connection(s.state.connection);
    }
    m_exchange.sign_off_box(request.box_id);
    m_exchange.set_broker(request.broker_id);
    box_session_state fresh;
    fresh.exists = true;
    fresh.box_id = request.box_id;
    fresh.broker_id = broker;
    fresh.connection = connection;
    fresh.last_received = record.sequence_number;
    fresh.sign_ons = s.state.sign_ons + 1;
    fresh.relogons = s.state.relogons;
    s.state = fresh;
    s.sent.clear();
    s.acknowledged = record.sequence_number;
    s.lose = m_faults.lose_then_drop;
    s.until_restart = m_faults.restart_sequence_after;
    m_faults.lose_then_drop = 0;
    m_faults.restart_sequence_after = 0;
    m_connection_boxes[connection] = request.box_id;

    if (m_faults.withhold_sign_on_response)
    {
        line("sign-on response withheld");
        return;
    }
    uint16_t box = request.box_id;
    uint16_t answer_box = m_faults.wrong_box_id_sign_on ? static_cast<uint16_t>(box + 1) : box;
    uint16_t parameters_box = m_faults.wrong_box_id_parameters ? static_cast<uint16_t>(box + 1) : box;
    bool recovery = m_options.recovery_enabled;
    int16_t base = m_faults.invalid_parameters ? 0 : m_options.base_rate;
    int16_t users = m_faults.invalid_parameters ? 0 : m_options.max_users;
    // The delayed answers go out only while the same session is on the same connection.
    uint32_t sign_ons = s.state.sign_ons;
    auto still = [this, box, connection, sign_ons]() -> session *
    {
        auto found = m_sessions.find(box);
        if (found == m_sessions.end() || found->second.state.connection != connection ||
            found->second.state.sign_ons != sign_ons)
            return nullptr;
        return &found->second;
    };
    auto response = [this, still, answer_box, error, recovery]
    {
        session *current = still();
        if (current == nullptr)
            return;
        current->state.signed_on = error == 0;
        line("-> 23001 box sign-on response: box " + std::to_string(answer_box) + " error " +
             std::to_string(error) + (recovery ? " recovery enabled" : " recovery disabled"));
        send_numbered(*current,
                      host_encode_packet({encode_box_sign_on_response(answer_box, error, recovery)}));
    };
    auto parameters = [this, still, parameters_box, base, users]
    {
        session *current = still();
        if (current == nullptr)
            return;
        current->state.parameters_sent = true;
        line("-> 23007 box parameters: base rate " + std::to_string(base) + " users " +
             std::to_string(users) + " box " + std::to_string(parameters_box));
        send_numbered(*current, host_encode_packet({encode_box_parameters(base, users, parameters_box)}));
    };
    bool with_parameters = error == 0 && !m_faults.withhold_parameters;
    if (m_faults.parameters_first)
    {
        later(m_faults.sign_on_delay_ms,
              [parameters, response, with_parameters]
              {
                  if (with_parameters)
                      parameters();
                  response();
              });
        return;
    }
    later(m_faults.sign_on_delay_ms, response);
    if (!with_parameters)
    {
        if (error == 0)
            line("box parameters withheld");
        return;
    }
    later(m_faults.sign_on_delay_ms + m_faults.parameters_delay_ms, parameters);
}

void sim_box_host::box_relogon(uint32_t connection, const host_record &record)
{
    box_request request;
    std::string where = "conn " + std::to_string(connection) + ": ";
    if (!decode_box_request(record.data, &request))
    {
        fault(where + "unreadable box relogon");
        return;
    }
    line(where + "<- 23502 box relogon: box " + std::to_string(request.box_id) + " gateway holds from " +
         std::to_string(request.least_sent) + ", received up to " + std::to_string(request.last_received) +
         ", address '" + trimmed(request.address) + "'");
    if (record.sequence_number != 0)
        fault(where + "box relogon numbered " + std::to_string(record.sequence_number));
    uint16_t answer_box =
        m_faults.wrong_box_id_relogon ? static_cast<uint16_t>(request.box_id + 1) : request.box_id;
    auto found = m_sessions.find(request.box_id);
    uint16_t error = m_faults.relogon_error;
    if (found == m_sessions.end() || !found->second.state.signed_on)
        error = k_error_no_session;
    if (found == m_sessions.end())
    {
        line("-> 23503 relogon refused: no session, error " + std::to_string(error));
        m_host.send_frame(connection, host_encode_packet({encode_box_relogon_response(answer_box, error, 0)}),
                          0, 0);
        return;
    }
    session &s = found->second;
    ++s.state.relogons;
    s.state.last_relogon_least_sent = request.least_sent;
    s.state.last_relogon_last_received = request.last_received;
    if (s.state.connection != 0 && s.state.connection != connection)
    {
        line("box " + std::to_string(s.state.box_id) + " relogs on; connection " +
             std::to_string(s.state.connection) + " closed");
        m_host.drop_connection(s.state.connection);
    }
    s.state.connection = connection;
    m_connection_boxes[connection] = request.box_id;
    if (error != 0)
    {
        line("-> 23503 relogon refused with " + std::to_string(error));
        send_unnumbered(s, host_encode_packet({encode_box_relogon_response(answer_box, error, 0)}));
        return;
    }
    uint16_t expected = next_number(s.state.last_received);
    int32_t missing = behind(request.least_sent, expected);
    if (request.least_sent != 0 && missing != 0 && missing <= 1000)
        fault("gateway holds from " + std::to_string(request.least_sent) + " but the host expects " +
              std::to_string(expected) + ": frames lost");
    int32_t told = static_cast<int32_t>(expected) + m_faults.relogon_offset;
    if (told < 1)
        told += 32000;
    if (told > 32000)
        told -= 32000;
    line("-> 23503 relogon accepted: next expected " + std::to_string(told));
    send_unnumbered(
        s, host_encode_packet({encode_box_relogon_response(answer_box, 0, static_cast<uint16_t>(told))}));
    // The host's own frames the gateway did not get go again, with their numbers.
    size_t from = s.sent.size();
    for (size_t i = 0; i < s.sent.size(); ++i)
    {
        if (s.sent[i].first == request.last_received)
            from = i + 1;
    }
    if (from == s.sent.size() && !s.sent.empty() &&
        s.sent.front().first == next_number(request.last_received))
        from = 0;
    for (size_t i = from; i < s.sent.size(); ++i)
    {
        ++s.state.records_retransmitted;
        line("-> frame " + std::to_string(s.sent[i].first) + " again");
        m_host.send_frame(connection, s.sent[i].second, s.sent[i].first, ack_value(s));
    }
}

void sim_box_host::tick(sim_host &)
{
    std::lock_guard<std::mutex> guard(m_lock);
    steady::time_point now = steady::now();
    std::vector<action> due;
    for (size_t i = 0; i < m_actions.size();)
    {
        if (m_actions[i].due <= now)
        {
            due.push_back(std::move(m_actions[i]));
            m_actions.erase(m_actions.begin() + static_cast<long>(i));
        }
        else
            ++i;
    }
    for (action &a : due)
        a.run();
    if (m_options.heart_beat_interval_ms == 0)
        return;
    for (auto &entry : m_sessions)
    {
        session &s = entry.second;
        if (s.state.connection != 0 && s.state.signed_on &&
            now - s.last_send > std::chrono::milliseconds(m_options.heart_beat_interval_ms))
        {
            line("-> 23006 heart beat");
            send_unnumbered(s, host_encode_packet({encode_host_heart_beat()}));
        }
    }
}

void sim_box_host::connection_event(uint32_t connection, bool open)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (open)
    {
        line("conn " + std::to_string(connection) + " accepted");
        return;
    }
    line("conn " + std::to_string(connection) + " closed");
    for (auto &entry : m_sessions)
    {
        if (entry.second.state.connection == connection)
        {
            entry.second.state.connection = 0;
            line("box " + std::to_string(entry.first) + " keeps its session for a relogon");
        }
    }
    m_connection_boxes.erase(connection);
}

void sim_box_host::send_rate_update(int16_t percent)
{
    queue_action(
        [this, percent]
        {
            session *s = only_session();
            if (s == nullptr)
                return;
            line("-> 23504 rate update " + std::to_string(percent) + "%");
            send_numbered(*s, host_encode_packet({encode_rate_update(percent)}));
        });
}

void sim_box_host::send_box_parameters(int16_t base_rate, int16_t max_users)
{
    queue_action(
        [this, base_rate, max_users]
        {
            session *s = only_session();
            if (s == nullptr)
                return;
            line("-> 23007 box parameters: base rate " + std::to_string(base_rate) + " users " +
                 std::to_string(max_users));
            send_numbered(*s,
                          host_encode_packet({encode_box_parameters(base_rate, max_users, s->state.box_id)}));
        });
}

void sim_box_host::sign_off_box(uint16_t error)
{
    queue_action(
        [this, error]
        {
            session *s = only_session();
            if (s == nullptr)
                return;
            uint16_t box =
                m_faults.wrong_box_id_sign_off ? static_cast<uint16_t>(s->state.box_id + 1) : s->state.box_id;
            line("-> 20322 box sign-off: box " + std::to_string(box) + " error " + std::to_string(error));
            send_numbered(*s, host_encode_packet({encode_box_sign_off(box, error)}));
            s->state.signed_on = false;
            m_exchange.sign_off_box(s->state.box_id);
        });
}

void sim_box_host::send_heart_beat()
{
    queue_action(
        [this]
        {
            session *s = only_session();
            if (s == nullptr)
                return;
            line("-> 23006 heart beat");
            send_unnumbered(*s, host_encode_packet({encode_host_heart_beat()}));
        });
}

void sim_box_host::send_to_user(uint32_t user_id, const bytes &record)
{
    queue_action(
        [this, user_id, record]
        {
            auto found = m_sessions.find(m_exchange.box_of(user_id));
            if (found == m_sessions.end())
            {
                line("user " + std::to_string(user_id) + " is not signed on; record not sent");
                return;
            }
            send_replies(found->second, std::vector<bytes>(1, record));
        });
}

void sim_box_host::fill(double order_number, uint32_t quantity, int32_t price)
{
    queue_action(
        [this, order_number, quantity, price]
        {
            exchange_answer answer;
            session *s = only_session();
            if (s == nullptr ||
                !m_exchange.fill(order_number, quantity, price, stamp(), s->state.broker_id, &answer))
            {
                line("fill not possible");
                return;
            }
            line(answer.line);
            auto found = m_sessions.find(m_exchange.box_of(answer.user_id));
            send_replies(found == m_sessions.end() ? *s : found->second, answer.replies);
        });
}

void sim_box_host::send_answer(const exchange_answer &answer)
{
    line(answer.line);
    auto found = m_sessions.find(m_exchange.box_of(answer.user_id));
    if (found == m_sessions.end())
    {
        line("user " + std::to_string(answer.user_id) + " is not signed on; record not sent");
        return;
    }
    send_replies(found->second, answer.replies);
}

void sim_box_host::cancel_spread(double order_number)
{
    queue_action(
        [this, order_number]
        {
            exchange_answer answer;
            if (m_exchange.cancel_spread(order_number, stamp(), &answer))
                send_answer(answer);
            else
                line("spread cancellation not possible");
        });
}

void sim_box_host::trade_reply(double order_number)
{
    queue_action(
        [this, order_number]
        {
            exchange_answer answer;
            if (m_exchange.trade_reply(order_number, stamp(), &answer))
                send_answer(answer);
            else
                line("trade reply not possible");
        });
}

void sim_box_host::give_up(uint16_t transcode, double order_number, uint32_t trade_number, char open_close,
                           char status)
{
    queue_action(
        [this, transcode, order_number, trade_number, open_close, status]
        {
            exchange_answer answer;
            if (m_exchange.give_up(transcode, order_number, trade_number, open_close, status, stamp(),
                                   &answer))
                send_answer(answer);
            else
                line("give-up not possible");
        });
}

void sim_box_host::broadcast(uint16_t transcode, const std::string &prefix, const std::string &text)
{
    queue_action(
        [this, transcode, prefix, text]
        {
            for (const exchange_answer &answer : m_exchange.broadcast(transcode, prefix, text, stamp()))
                send_answer(answer);
        });
}

void sim_box_host::set_market_status(uint16_t status)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_exchange.set_market_status(status);
}

void sim_box_host::send_held_answers()
{
    queue_action(
        [this]
        {
            for (exchange_answer &answer : m_exchange.held_answers())
            {
                answer.line = "late: " + answer.line;
                send_answer(answer);
            }
        });
}

void sim_box_host::drop_link()
{
    queue_action(
        [this]
        {
            session *s = only_session();
            if (s == nullptr || s->state.connection == 0)
                return;
            line("link of box " + std::to_string(s->state.box_id) + " dropped");
            m_host.drop_connection(s->state.connection);
        });
}

box_session_state sim_box_host::state() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto &entry : m_sessions)
    {
        if (entry.second.state.connection != 0)
            return entry.second.state;
    }
    return m_sessions.empty() ? box_session_state() : m_sessions.begin()->second.state;
}

std::vector<std::string> sim_box_host::lines() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lines;
}

std::vector<session_fault> sim_box_host::session_faults() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_faults_seen;
}

bool sim_box_host::user_signed_on(uint32_t user_id) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_exchange.signed_on(user_id);
}

std::vector<sim_order> sim_box_host::orders() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_exchange.orders();
}

std::vector<bytes> sim_box_host::spreads() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_exchange.spreads();
}

std::vector<bytes> sim_box_host::position_requests() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_exchange.position_requests();
}

bool sim_box_host::wait_for_line(const std::string &text, int timeout_ms) const
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [&]
                              {
                                  for (const std::string &l : m_lines)
                                  {
                                      if (l.find(text) != std::string::npos)
                                          return true;
                                  }
                                  return false;
                              });
}

bool sim_box_host::wait_for_state(const std::function<bool(const box_session_state &)> &condition,
                                  int timeout_ms) const
{
    steady::time_point end = steady::now() + std::chrono::milliseconds(timeout_ms);
    for (;;)
    {
        if (condition(state()))
            return true;
        if (steady::now() >= end)
            return false;
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait_for(guard, std::chrono::milliseconds(10));
    }
}

} // namespace qel_sim
