// The simulated exchange's users and order book: what the trading host answers to the
// records of signed-on users once the box is on (see sim_host_exchange.cpp for the
// answers it chooses). It keeps no lock and does no input or output: the box host
// (sim_host_box.h) owns it, calls it under its own lock and sends what it returns.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/host/sim_host_encoding.h"
#include "sim/host/sim_host_full_records.h"

namespace qel_sim
{

// Error codes this exchange writes into its replies.
enum : uint16_t
{
    EXCHANGE_ERROR_ALREADY_SIGNED_ON = 16004,
    EXCHANGE_ERROR_UNKNOWN_USER = 16042,
    EXCHANGE_ERROR_WRONG_PASSWORD = 16053,
    EXCHANGE_ERROR_NOT_SIGNED_ON = 16111,
    EXCHANGE_ERROR_INVALID_ORDER = 16273,
    EXCHANGE_ERROR_ORDER_NOT_FOUND = 16279,
};

struct exchange_user
{
    uint32_t user_id = 0;
    std::string password;      // empty: any password is taken
    uint16_t refuse_error = 0; // not 0: every sign-on of this user is refused with it
};

struct exchange_options
{
    std::vector<exchange_user> users;     // the users the exchange knows
    bool accept_unknown_users = true;     // sign on users that are not in the list
    bool refuse_second_sign_on = false;   // a signed-on user signing on again gets 16004
    bool fill_on_entry = false;           // every order trades in full as it enters
    uint8_t streams = 1;                  // stream count given in system information
    uint16_t market_status = 1;           // in system information: 0 to 4 (1 open)
    bool broadcast_after_journal = false; // market open and a general broadcast after a download
    double first_order_number = 1000000000000001.0;
    double first_request_number = 5000000000000001.0; // exercise requests
    // A host that loses the answers to these users' sign-ons and status queries: it acts
    // on them as ever, but their answers wait (held_answers) until the test sends them late.
    std::vector<uint32_t> unanswered_users;
};

// One answer of the exchange: the records for the user, and a line saying what happened.
struct exchange_answer
{
    uint32_t user_id = 0;
    std::vector<bytes> replies;
    std::string line;
};

class sim_exchange
{
  public:
    explicit sim_exchange(exchange_options options = exchange_options());

    // One record from a user over the box `box_id` (its transcode first, exchange order
    // or short form); `stamp` is the exchange time in seconds for the replies.
    exchange_answer handle(uint16_t box_id, const bytes &record, uint32_t stamp);

    // A fill of a resting order, as the unsolicited trade for its user. False when the
    // order is not in the book or the quantity is more than it has left.
    bool fill(double order_number, uint32_t quantity, int32_t price, uint32_t stamp,
              const std::string &broker, exchange_answer *out);

    // The exchange's own events on a spread or an order of the book, for the test or the
    // demo: a spread cancelled by the exchange (9004), the trade reply of an order
    // (2212), a give-up of a fill of it (4506 or 4507, status 'A' or 'R'). False when the
    // order is not in the book.
    bool cancel_spread(double order_number, uint32_t stamp, exchange_answer *out);
    bool trade_reply(double order_number, uint32_t stamp, exchange_answer *out);
    bool give_up(uint16_t transcode, double order_number, uint32_t trade_number, char open_close, char status,
                 uint32_t stamp, exchange_answer *out);
    // A broadcast (6501 to 6571, 5295) to every signed-on user, one record each.
    std::vector<exchange_answer> broadcast(uint16_t transcode, const std::string &prefix,
                                           const std::string &text, uint32_t stamp);

    // Every user signed on over the box is signed off (the box left or signed on anew).
    void sign_off_box(uint16_t box_id);
    // The answers held back for unanswered users so far, in order; they are no longer held.
    std::vector<exchange_answer> held_answers();

    bool signed_on(uint32_t user_id) const;
    uint16_t box_of(uint32_t user_id) const; // 0 when not signed on
    int32_t login_count(uint32_t user_id) const;
    std::vector<sim_order> orders() const;
    // Resting spreads and exercise requests, as the exchange holds them (exchange order).
    std::vector<bytes> spreads() const;
    std::vector<bytes> position_requests() const;
    void set_broker(const std::string &broker) { m_broker = broker; }
    // The market status the next system information replies report.
    void set_market_status(uint16_t status) { m_options.market_status = status; }

  private:
    struct user_state
    {
        bool signed_on = false;
        uint16_t box_id = 0;
        int32_t login_count = 0;
    };

    exchange_answer answer_of(uint16_t box_id, const bytes &record, uint32_t stamp);
    exchange_answer sign_on(uint16_t box_id, const bytes &record);
    exchange_answer order_entry(const bytes &record, uint32_t stamp);
    exchange_answer order_change(const bytes &record, uint32_t stamp);
    exchange_answer journal(const bytes &record, uint32_t stamp);
    void trade(sim_order &order, uint32_t quantity, int32_t price, uint32_t stamp, exchange_answer *out);
    // Multi-leg orders and exercise requests (sim_host_spreads.cpp).
    exchange_answer spread_entry(const bytes &record, uint32_t stamp);
    exchange_answer spread_change(const bytes &record, uint32_t stamp);
    exchange_answer position(const bytes &record, uint32_t stamp);
    void replay_spreads(const journal_request &request, int32_t login_count, uint32_t stamp,
                        exchange_answer *out, size_t *replayed) const;

    exchange_options m_options;
    std::map<uint32_t, user_state> m_users;
    std::map<double, sim_order> m_book;
    std::vector<exchange_answer> m_held; // answers of unanswered users, not sent yet
    std::map<double, bytes> m_spreads;   // resting two-leg spreads, as last confirmed
    std::map<double, bytes> m_positions; // exercise requests, as last confirmed
    double m_next_order_number;
    double m_next_request_number;
    uint32_t m_next_fill = 1;
    std::string m_broker = "     ";
};

} // namespace qel_sim
