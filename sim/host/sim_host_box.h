// The simulated trading host's box and session behaviour, on top of the frame-level host
// of sim_host.h: box sign-on with its two answers (sign-on response, then box parameters),
// rate updates, relogon with the sequence number the host expects next, the host's box
// sign-off, heart beats, acknowledgements, and the session's sequence numbers, which are
// kept per box across its connections so that a relogon resumes where the link broke.
// Records of signed-on users go to the exchange (sim_host_exchange.h) and its answers go
// back to the connection the request came on.
//
// Each step can be made to fail (box_faults): late or refused sign-on response, late,
// withheld or invalid box parameters, a wrong box id, acknowledgements withheld, records
// lost and the link dropped with them outstanding, the host's numbering restarting, and
// relogon answers one off the right sequence number.
//
// Everything runs on the host's service thread; the public calls below are safe from any
// thread (actions are queued for the service thread, state is copied under a lock).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/host/sim_host.h"
#include "sim/host/sim_host_exchange.h"

namespace qel_sim
{

struct box_options
{
    uint16_t box_id = 0;   // the box the host knows; 0 takes any
    std::string broker_id; // the broker the host knows; empty takes any
    bool recovery_enabled = true;
    int16_t base_rate = 100;
    int16_t max_users = 10;
    uint32_t heart_beat_interval_ms = 0; // idle time before a host heart beat; 0: none
};

struct box_faults
{
    uint32_t sign_on_delay_ms = 0; // the sign-on response comes late
    bool withhold_sign_on_response = false;
    uint16_t sign_on_error = 0;       // not 0: the sign-on is refused with it
    uint32_t parameters_delay_ms = 0; // the box parameters come this long after the response
    bool withhold_parameters = false;
    bool invalid_parameters = false;   // base rate 0 and no users
    bool parameters_first = false;     // box parameters before the sign-on response
    bool wrong_box_id_sign_on = false; // the answer names another box
    bool wrong_box_id_parameters = false;
    bool wrong_box_id_relogon = false;
    bool wrong_box_id_sign_off = false;
    bool withhold_acknowledgements = false; // no acknowledgements, and replies acknowledge nothing new
    uint32_t lose_then_drop = 0;            // the next N numbered frames are lost, then the link is dropped
    uint32_t restart_sequence_after = 0;    // after N more numbered frames the host numbers from 1 again
    int16_t relogon_offset = 0;             // added to the next expected number in a relogon answer
    uint16_t relogon_error = 0;             // not 0: relogons are refused with it
    bool compress_replies = false;          // user replies travel LZO1Z-compressed
    // Users' sign-ons are acted on and answered this late, as by a host slow to sign users
    // on; the rest of the link (acknowledgements, heart beats, other users' records) goes
    // on meanwhile.
    uint32_t user_sign_on_delay_ms = 0;
};

// What the host saw the gateway do wrong (besides the frame errors of sim_host).
struct session_fault
{
    std::string what;
};

struct box_session_state
{
    bool exists = false;
    bool signed_on = false; // the sign-on response was sent, accepted
    bool parameters_sent = false;
    uint16_t box_id = 0;
    std::string broker_id;
    uint32_t connection = 0; // 0: no connection at the moment
    uint16_t next_send = 1;
    uint16_t last_received = 0;
    uint32_t sign_ons = 0;
    uint32_t relogons = 0;
    uint32_t heart_beats_received = 0;
    uint32_t rate_heart_beats_received = 0;
    uint32_t acknowledgements_sent = 0;
    uint32_t records_retransmitted = 0;
    uint16_t last_relogon_least_sent = 0;
    uint16_t last_relogon_last_received = 0;
};

class sim_box_host
{
  public:
    sim_box_host(sim_host &host, box_options options = box_options(),
                 exchange_options exchange = exchange_options());
    ~sim_box_host();
    sim_box_host(const sim_box_host &) = delete;
    sim_box_host &operator=(const sim_box_host &) = delete;

    void set_faults(const box_faults &faults);
    box_faults faults() const;
    // Every line of what happens goes here as well (the program prints them).
    void on_line(std::function<void(const std::string &)> printer);

    // Actions, carried out on the host's service thread soon after the call.
    void send_rate_update(int16_t percent);
    void send_box_parameters(int16_t base_rate, int16_t max_users);
    void sign_off_box(uint16_t error = 0);
    void send_heart_beat();
    void send_to_user(uint32_t user_id, const bytes &record);
    void fill(double order_number, uint32_t quantity, int32_t price);
    // The exchange's own events (sim_exchange): a resting spread cancelled (9004), the
    // trade reply of an order (2212), a give-up of one of its fills, a broadcast to every
    // signed-on user.
    void cancel_spread(double order_number);
    void trade_reply(double order_number);
    void give_up(uint16_t transcode, double order_number, uint32_t trade_number, char open_close,
                 char status);
    void broadcast(uint16_t transcode, const std::string &prefix, const std::string &text);
    // The market status that system information reports from now on (0 to 4; 1 open).
    void set_market_status(uint16_t status);
    void drop_link();
    // The answers the exchange held back for its unanswered users, sent now (late).
    void send_held_answers();

    box_session_state state() const;
    std::vector<std::string> lines() const;
    std::vector<session_fault> session_faults() const;
    bool user_signed_on(uint32_t user_id) const;
    std::vector<sim_order> orders() const;
    std::vector<bytes> spreads() const;
    std::vector<bytes> position_requests() const;
    // Waits until a line containing `text` was written (counting from the start).
    bool wait_for_line(const std::string &text, int timeout_ms) const;
    bool wait_for_state(const std::function<bool(const box_session_state &)> &condition,
                        int timeout_ms) const;

  private:
    typedef std::chrono::steady_clock steady;
    struct session
    {
        box_session_state state;
        std::deque<std::pair<uint16_t, bytes>> sent; // numbered bodies not yet acknowledged
        uint16_t acknowledged = 0;                   // the last received number told to the gateway
        uint32_t lose = 0;
        uint32_t until_restart = 0;
        steady::time_point last_send = steady::now();
    };
    struct action
    {
        steady::time_point due;
        std::function<void()> run;
    };

    void frame(sim_host &host, const host_frame &f, const std::vector<host_record> &records);
    void tick(sim_host &host);
    void connection_event(uint32_t connection, bool open);
    void box_sign_on(uint32_t connection, const host_record &record);
    void box_relogon(uint32_t connection, const host_record &record);
    // A user's sign-on under user_sign_on_delay_ms: handed to the exchange and answered
    // that much later, on the box's session as it then is.
    void late_sign_on(uint16_t box_id, const bytes &record, const std::string &where);
    bool check_sequence(session &s, const host_frame &f);
    void send_numbered(session &s, const bytes &body);
    void send_unnumbered(session &s, const bytes &body);
    void send_replies(session &s, const std::vector<bytes> &replies);
    // Sends an answer of the exchange's own to the session of its user.
    void send_answer(const exchange_answer &answer);
    void later(uint32_t delay_ms, std::function<void()> run);
    void queue_action(std::function<void()> run);
    session *session_of_connection(uint32_t connection);
    session *only_session();
    uint16_t ack_value(session &s);
    void line(const std::string &text);
    void fault(const std::string &text);
    uint32_t stamp() const;

    sim_host &m_host;
    box_options m_options;
    sim_exchange m_exchange;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    box_faults m_faults;
    std::function<void(const std::string &)> m_printer;
    std::map<uint16_t, session> m_sessions;          // by box id
    std::map<uint32_t, uint16_t> m_connection_boxes; // connection to box id
    std::vector<action> m_actions;
    std::vector<std::string> m_lines;
    std::vector<session_fault> m_faults_seen;
};

} // namespace qel_sim
