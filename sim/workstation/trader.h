// A simulated trader: a user at a workstation who signs on, asks for system information,
// enters, modifies and cancels orders and signs off, each as the VRX record a trader's
// workstation sends (internal header order, fields at the offsets of the full 240-byte
// order record), waiting for the exchange's answer to each. For the end-to-end tests and
// the demo.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/workstation/workstation_client.h"

namespace qel_sim
{

enum : uint32_t
{
    ORDER_RECORD_SIZE = 240,
    ORDER_TOKEN_OFFSET = 54,
    ORDER_INSTRUMENT_OFFSET = 58, // 6 characters
    ORDER_SYMBOL_OFFSET = 64,     // 10 characters
    ORDER_EXPIRY_OFFSET = 74,
    ORDER_STRIKE_OFFSET = 78,
    ORDER_OPTION_OFFSET = 82,   // 2 characters
    ORDER_NUMBER_OFFSET = 98,   // 8-byte double, big-endian
    ORDER_ACCOUNT_OFFSET = 106, // 10 characters
    ORDER_BOOK_TYPE_OFFSET = 116,
    ORDER_SIDE_OFFSET = 118, // 1 buy, 2 sell
    ORDER_DISCLOSED_OFFSET = 120,
    ORDER_REMAINING_OFFSET = 128, // in a modification or cancellation
    ORDER_VOLUME_OFFSET = 132,
    ORDER_FILLED_OFFSET = 136,
    ORDER_PRICE_OFFSET = 140,
    SIGN_ON_RECORD_SIZE = 120,
    SIGN_ON_USER_OFFSET = 40,
    SIGN_ON_PASSWORD_OFFSET = 44, // 8 characters
    SYSTEM_INFORMATION_SIZE = 44,
};

struct trader_order
{
    std::string symbol = "ZORAX";
    int16_t side = 1;
    uint32_t volume = 50;
    int32_t price = 1850000; // hundredths
    double order_number = 0; // given by the exchange
};

struct trader_reply
{
    bool arrived = false; // the answer came (for a sign-off: the gateway closed the link)
    int16_t transcode = 0;
    int16_t error_code = 0;
    std::vector<uint8_t> record;
};

class trader
{
  public:
    trader(workstation_client &client, uint32_t user_id, std::string password = "");

    // Each sends one request and waits up to timeout_ms for the answer of the given
    // transcodes (the first to arrive counts); records of other transcodes are kept.
    trader_reply sign_on(uint32_t timeout_ms);
    trader_reply system_information(uint32_t timeout_ms);
    trader_reply enter(trader_order &order, uint32_t timeout_ms);
    trader_reply modify(trader_order &order, uint32_t new_volume, int32_t new_price, uint32_t timeout_ms);
    trader_reply cancel(const trader_order &order, uint32_t timeout_ms);
    // The exchange's sign-off response ends the user's session: the gateway closes the
    // workstation's connection instead of passing the response on.
    trader_reply sign_off(uint32_t timeout_ms);

    // Every line of what happened, in order.
    void on_line(std::function<void(const std::string &)> printer) { m_printer = std::move(printer); }

    std::vector<uint8_t> sign_on_record() const;
    std::vector<uint8_t> order_record(int16_t transcode, const trader_order &order) const;

  private:
    trader_reply exchange(const std::vector<uint8_t> &request, const std::vector<int16_t> &answers,
                          const std::string &what, uint32_t timeout_ms);
    void say(const std::string &line);

    workstation_client &m_client;
    uint32_t m_user_id;
    std::string m_password;
    std::function<void(const std::string &)> m_printer;
};

double trader_order_number(const std::vector<uint8_t> &record);
std::string trader_reply_text(const trader_reply &reply);

} // namespace qel_sim
