// The trader's records, written field by field with the simulator's own big-endian
// writers, and the wait for each answer.
#include "sim/workstation/trader.h"

#include <chrono>
#include <cstring>

#include "sim/sim_wire.h"

namespace qel_sim
{

namespace
{
void put_text(std::vector<uint8_t> &r, uint32_t at, const std::string &text, uint32_t width)
{
    for (uint32_t i = 0; i < width; ++i)
        r[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

void put_double(std::vector<uint8_t> &r, uint32_t at, double value)
{
    uint64_t bits;
    memcpy(&bits, &value, sizeof(bits));
    set_be32(r, at, static_cast<uint32_t>(bits >> 32));
    set_be32(r, at + 4, static_cast<uint32_t>(bits));
}

std::vector<uint8_t> header(int16_t transcode, uint32_t user_id, uint16_t length)
{
    std::vector<uint8_t> r(length, 0);
    set_be32(r, VRX_USER_ID_OFFSET, user_id);
    set_be16(r, VRX_TRANSCODE_OFFSET, static_cast<uint16_t>(transcode));
    set_be16(r, VRX_LENGTH_OFFSET, length);
    return r;
}
} // namespace

double trader_order_number(const std::vector<uint8_t> &record)
{
    if (record.size() < ORDER_NUMBER_OFFSET + 8)
        return 0;
    uint64_t bits = (static_cast<uint64_t>(be32(record, ORDER_NUMBER_OFFSET)) << 32) |
                    be32(record, ORDER_NUMBER_OFFSET + 4);
    double value;
    memcpy(&value, &bits, sizeof(value));
    return value;
}

std::string trader_reply_text(const trader_reply &reply)
{
    if (!reply.arrived)
        return "no answer";
    std::string text = "transcode " + std::to_string(reply.transcode) + ", " +
                       std::to_string(reply.record.size()) + " bytes";
    if (reply.error_code != 0)
        text += ", error " + std::to_string(reply.error_code);
    return text;
}

trader::trader(workstation_client &client, uint32_t user_id, std::string password)
    : m_client(client), m_user_id(user_id), m_password(std::move(password))
{
}

void trader::say(const std::string &line)
{
    if (m_printer)
        m_printer(line);
}

std::vector<uint8_t> trader::sign_on_record() const
{
    std::vector<uint8_t> r = header(2300, m_user_id, SIGN_ON_RECORD_SIZE);
    set_be32(r, SIGN_ON_USER_OFFSET, m_user_id);
    put_text(r, SIGN_ON_PASSWORD_OFFSET, m_password, 8);
    return r;
}

std::vector<uint8_t> trader::order_record(int16_t transcode, const trader_order &order) const
{
    std::vector<uint8_t> r = header(transcode, m_user_id, ORDER_RECORD_SIZE);
    set_be32(r, ORDER_TOKEN_OFFSET, 35001);
    put_text(r, ORDER_INSTRUMENT_OFFSET, "FUTIDX", 6);
    put_text(r, ORDER_SYMBOL_OFFSET, order.symbol, 10);
    set_be32(r, ORDER_EXPIRY_OFFSET, 0);
    set_be32(r, ORDER_STRIKE_OFFSET, static_cast<uint32_t>(-1));
    put_text(r, ORDER_OPTION_OFFSET, "XX", 2);
    put_double(r, ORDER_NUMBER_OFFSET, order.order_number);
    put_text(r, ORDER_ACCOUNT_OFFSET, "ACC001", 10);
    set_be16(r, ORDER_BOOK_TYPE_OFFSET, 1);
    set_be16(r, ORDER_SIDE_OFFSET, static_cast<uint16_t>(order.side));
    set_be32(r, ORDER_REMAINING_OFFSET, order.volume);
    set_be32(r, ORDER_VOLUME_OFFSET, order.volume);
    set_be32(r, ORDER_PRICE_OFFSET, static_cast<uint32_t>(order.price));
    return r;
}

trader_reply trader::exchange(const std::vector<uint8_t> &request, const std::vector<int16_t> &answers,
                              const std::string &what, uint32_t timeout_ms)
{
    trader_reply reply;
    say("user " + std::to_string(m_user_id) + " sends " + what);
    if (!m_client.send_record(request, timeout_ms))
    {
        say("  sending failed");
        return reply;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    workstation_frame frame;
    while (std::chrono::steady_clock::now() < deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (!m_client.receive(&frame, static_cast<uint32_t>(left.count() > 0 ? left.count() : 1)))
            break;
        int16_t transcode = workstation_record_transcode(frame.record);
        for (int16_t wanted : answers)
        {
            if (transcode != wanted)
                continue;
            reply.arrived = true;
            reply.transcode = transcode;
            reply.error_code = frame.record.size() >= VRX_ERROR_CODE_OFFSET + 2
                                   ? static_cast<int16_t>((frame.record[VRX_ERROR_CODE_OFFSET] << 8) |
                                                          frame.record[VRX_ERROR_CODE_OFFSET + 1])
                                   : 0;
            reply.record = frame.record;
            say("  answer: " + trader_reply_text(reply));
            return reply;
        }
        say("  also received transcode " + std::to_string(transcode));
    }
    say("  " + trader_reply_text(reply));
    return reply;
}

trader_reply trader::sign_on(uint32_t timeout_ms)
{
    return exchange(sign_on_record(), {2301}, "sign-on (2300)", timeout_ms);
}

trader_reply trader::system_information(uint32_t timeout_ms)
{
    std::vector<uint8_t> r = header(1600, m_user_id, SYSTEM_INFORMATION_SIZE);
    return exchange(r, {1601}, "system information request (1600)", timeout_ms);
}

trader_reply trader::enter(trader_order &order, uint32_t timeout_ms)
{
    trader_reply reply =
        exchange(order_record(2000, order), {2073, 2231},
                 "order entry (2000): " + std::string(order.side == 1 ? "buy " : "sell ") +
                     std::to_string(order.volume) + " " + order.symbol + " at " + std::to_string(order.price),
                 timeout_ms);
    if (reply.arrived && reply.transcode == 2073)
    {
        order.order_number = trader_order_number(reply.record);
        char text[64];
        snprintf(text, sizeof(text), "%.0f", order.order_number);
        say("  order number " + std::string(text));
    }
    return reply;
}

trader_reply trader::modify(trader_order &order, uint32_t new_volume, int32_t new_price, uint32_t timeout_ms)
{
    trader_order changed = order;
    changed.volume = new_volume;
    changed.price = new_price;
    trader_reply reply = exchange(order_record(2040, changed), {2074, 2042},
                                  "order modification (2040): " + std::to_string(new_volume) + " at " +
                                      std::to_string(new_price),
                                  timeout_ms);
    if (reply.arrived && reply.transcode == 2074)
        order = changed;
    return reply;
}

trader_reply trader::cancel(const trader_order &order, uint32_t timeout_ms)
{
    return exchange(order_record(2070, order), {2075, 2072}, "order cancellation (2070)", timeout_ms);
}

trader_reply trader::sign_off(uint32_t timeout_ms)
{
    std::vector<uint8_t> r = header(2320, m_user_id, VRX_HEADER_SIZE);
    trader_reply reply;
    say("user " + std::to_string(m_user_id) + " sends sign-off (2320)");
    if (!m_client.send_record(r, timeout_ms))
    {
        say("  sending failed");
        return reply;
    }
    reply.arrived = m_client.wait_for_close(timeout_ms);
    say(reply.arrived ? "  the gateway closed the session" : "  the session stayed open");
    return reply;
}

} // namespace qel_sim
