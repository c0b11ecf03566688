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
    std::vector<exchange_user> users;   // the users the exchange knows
    bool accept_unknown_users = true;   // sign on users that are not in the list
    bool refuse_second_sign_on = false; // a signed-on user signing on again gets 16004
    bool fill_on_entry = false;         // every order trades in full as it enters
    uint8_t streams = 1;                // stream count given in system information
    double first_order_number = 1000000000000001.0;
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

    // Every user signed on over the box is signed off (the box left or signed on anew).
    void sign_off_box(uint16_t box_id);

    bool signed_on(uint32_t user_id) const;
    uint16_t box_of(uint32_t user_id) const; // 0 when not signed on
    int32_t login_count(uint32_t user_id) const;
    std::vector<sim_order> orders() const;
    void set_broker(const std::string &broker) { m_broker = broker; }

  private:
    struct user_state
    {
        bool signed_on = false;
        uint16_t box_id = 0;
        int32_t login_count = 0;
    };

    exchange_answer sign_on(uint16_t box_id, const bytes &record);
    exchange_answer order_entry(const bytes &record, uint32_t stamp);
    exchange_answer order_change(const bytes &record, uint32_t stamp);
    exchange_answer journal(const bytes &record, uint32_t stamp);
    void trade(sim_order &order, uint32_t quantity, int32_t price, uint32_t stamp, exchange_answer *out);

    exchange_options m_options;
    std::map<uint32_t, user_state> m_users;
    std::map<double, sim_order> m_book;
    double m_next_order_number;
    uint32_t m_next_fill = 1;
    std::string m_broker = "     ";
};

} // namespace qel_sim
