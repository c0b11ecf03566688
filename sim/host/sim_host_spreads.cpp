// The simulated exchange's multi-leg orders and exercise requests. Where the exchange's
// answer is not laid down, this simulator answers as members expect:
//
//   two-leg spread 2100  -> 2124 with a new order number; the spread rests in the book
//   two-leg order 2102, three-leg order 2104 -> 2125 / 2126, then at once 2131 / 2132: they
//                           are immediate-or-cancel and nothing matches them here
//   refusals             -> 2154 / 2155 / 2156 with 16111 (user not signed on) or 16273 (an
//                           instrument named by two legs, or a leg without a side or volume)
//   spread modification 2118 -> 2136 echoing the changed spread; 2133 with 16279 when the
//                           user has no such spread
//   spread cancellation 2106 -> 2130, the spread leaves the book; 2127 with 16279
//   exercise request 4000 -> 4000 with the exchange's new request number; 4002 with 16273
//                           for a future (only options are exercised) or 16111
//   replacement 4005, cancellation 4008 -> the same transcode; 4007 / 4010 with 16279 when
//                           the user has no request of that number
//   the exchange's own events (test or demo): 9004 cancels a resting spread, 2212 is the
//                           trade reply of an order of the book, 4506 / 4507 a give-up of
//                           one of its fills, broadcasts go to every signed-on user
//   journal download     -> stream 1 also replays the user's resting spreads as 2124
// Every record received is checked: its length field, its size, and the constants of
// the spread record; one that fails is answered with nothing and reported in the line.
#include "sim/host/sim_host_exchange.h"

#include <cstdio>
#include <set>

namespace qel_sim
{

namespace
{
std::string number_text(double number)
{
    char text[32];
    snprintf(text, sizeof text, "%.0f", number);
    return text;
}

int legs_of(uint16_t transcode)
{
    return transcode == TC_THREE_LEG_ORDER ? 3 : 2;
}

// 0 for the spread, 1 and 2 for the two- and three-leg orders.
uint16_t family_of(uint16_t transcode)
{
    return static_cast<uint16_t>((transcode - TC_TWO_LEG_SPREAD) / 2);
}

// A leg names its side (1 or 2) and a volume.
bool legs_complete(const bytes &record, int legs)
{
    const size_t sides[] = {SPREAD_FIRST_SIDE, SPREAD_SECOND_LEG + SPREAD_LEG_SIDE,
                            SPREAD_THIRD_LEG + SPREAD_LEG_SIDE};
    const size_t volumes[] = {SPREAD_FIRST_VOLUME, SPREAD_SECOND_LEG + SPREAD_LEG_VOLUME,
                              SPREAD_THIRD_LEG + SPREAD_LEG_VOLUME};
    for (int i = 0; i < legs; ++i)
    {
        uint16_t side = be16(record.data() + sides[i]);
        if ((side != 1 && side != 2) || be32(record.data() + volumes[i]) == 0)
            return false;
    }
    return true;
}

// The constants every spread record carries where the gateway builds it.
bool spread_constants(const bytes &record)
{
    return be16(record.data() + 216) == 10 && record[218] == 'U' && record[201] == 'O';
}
} // namespace

exchange_answer sim_exchange::spread_entry(const bytes &record, uint32_t stamp)
{
    exchange_answer answer;
    exchange_header header;
    if (!decode_full_record(record, SPREAD_RECORD_SIZE, &header) || !spread_constants(record))
    {
        answer.line = "spread order of " + std::to_string(record.size()) + " bytes, malformed, ignored";
        return answer;
    }
    answer.user_id = header.user_id;
    const int legs = legs_of(header.transcode);
    const uint16_t family = family_of(header.transcode);
    std::string what = std::string(family == 0   ? "two-leg spread"
                                   : family == 1 ? "two-leg order"
                                                 : "three-leg order") +
                       " user " + std::to_string(header.user_id);
    std::vector<uint32_t> tokens = spread_tokens(record, legs);
    uint16_t error = 0;
    if (!signed_on(header.user_id))
        error = EXCHANGE_ERROR_NOT_SIGNED_ON;
    else if (std::set<uint32_t>(tokens.begin(), tokens.end()).size() != tokens.size() ||
             !legs_complete(record, legs))
        error = EXCHANGE_ERROR_INVALID_ORDER;
    if (error != 0)
    {
        answer.replies.push_back(
            full_reply(record, static_cast<uint16_t>(TC_SPREAD_REFUSED + family), error, stamp));
        answer.line = what + ": refused with " + std::to_string(error);
        return answer;
    }
    bytes order = full_reply(record, static_cast<uint16_t>(TC_SPREAD_CONFIRMED + family), 0, stamp);
    const double number = m_next_order_number;
    m_next_order_number += 1;
    set_double(order, SPREAD_ORDER_NUMBER, number);
    set_be32(order, SPREAD_ORDER_TIME, stamp);
    order[SPREAD_RESTATEMENT] = ' ';
    answer.replies.push_back(order);
    answer.line = what + ": order " + number_text(number);
    if (family == 0)
    {
        m_spreads[number] = order;
        return answer;
    }
    answer.replies.push_back(
        full_reply(order, static_cast<uint16_t>(TC_SPREAD_CANCELLED + family), 0, stamp));
    answer.line += ", immediate or cancel: the rest cancelled";
    return answer;
}

exchange_answer sim_exchange::spread_change(const bytes &record, uint32_t stamp)
{
    exchange_answer answer;
    exchange_header header;
    if (!decode_full_record(record, SPREAD_RECORD_SIZE, &header) || !spread_constants(record))
    {
        answer.line = "spread change of " + std::to_string(record.size()) + " bytes, malformed, ignored";
        return answer;
    }
    answer.user_id = header.user_id;
    const bool cancel = header.transcode == TC_SPREAD_CANCEL;
    const double number = get_double(record.data() + SPREAD_ORDER_NUMBER);
    std::string what = std::string(cancel ? "spread cancellation" : "spread modification") + " user " +
                       std::to_string(header.user_id) + " order " + number_text(number);
    auto found = m_spreads.find(number);
    uint16_t error = 0;
    if (!signed_on(header.user_id))
        error = EXCHANGE_ERROR_NOT_SIGNED_ON;
    else if (found == m_spreads.end() || be32(found->second.data() + 8) != header.user_id)
        error = EXCHANGE_ERROR_ORDER_NOT_FOUND;
    else if (!cancel && !legs_complete(record, 2))
        error = EXCHANGE_ERROR_INVALID_ORDER;
    if (error != 0)
    {
        answer.replies.push_back(
            full_reply(record, cancel ? TC_SPREAD_CANCEL_REFUSED : TC_SPREAD_MODIFY_REFUSED, error, stamp));
        answer.line = what + ": refused with " + std::to_string(error);
        return answer;
    }
    if (cancel)
    {
        answer.replies.push_back(full_reply(found->second, TC_SPREAD_CANCELLED, 0, stamp));
        m_spreads.erase(found);
        answer.line = what + ": cancelled";
        return answer;
    }
    // The spread as changed, under its number and with the time it was entered.
    bytes changed = full_reply(record, TC_SPREAD_MODIFIED, 0, stamp);
    std::copy(found->second.begin() + SPREAD_ORDER_TIME, found->second.begin() + SPREAD_ORDER_TIME + 4,
              changed.begin() + SPREAD_ORDER_TIME);
    changed[SPREAD_RESTATEMENT] = ' ';
    found->second = full_reply(changed, TC_SPREAD_CONFIRMED, 0, stamp);
    answer.replies.push_back(changed);
    answer.line =
        what + ": now at " + std::to_string(static_cast<int32_t>(be32(record.data() + SPREAD_PRICE)));
    return answer;
}

exchange_answer sim_exchange::position(const bytes &record, uint32_t stamp)
{
    exchange_answer answer;
    exchange_header header;
    if (!decode_full_record(record, POSITION_RECORD_SIZE, &header))
    {
        answer.line = "exercise request of " + std::to_string(record.size()) + " bytes, malformed, ignored";
        return answer;
    }
    answer.user_id = header.user_id;
    const uint16_t refused = static_cast<uint16_t>(header.transcode + 2);
    std::string what = "exercise request user " + std::to_string(header.user_id);
    uint16_t error = 0;
    if (!signed_on(header.user_id))
        error = EXCHANGE_ERROR_NOT_SIGNED_ON;
    if (error == 0 && header.transcode == TC_POSITION_NEW)
    {
        if (get_text(record, POSITION_INSTRUMENT, 3) != "OPT")
            error = EXCHANGE_ERROR_INVALID_ORDER;
        if (error == 0)
        {
            const double number = m_next_request_number;
            m_next_request_number += 1;
            bytes accepted = full_reply(record, TC_POSITION_NEW, 0, stamp);
            set_double(accepted, POSITION_REQUEST_NUMBER, number);
            m_positions[number] = accepted;
            answer.replies.push_back(accepted);
            answer.line = what + ": request " + number_text(number) + " for " +
                          std::to_string(be32(record.data() + POSITION_QUANTITY));
            return answer;
        }
    }
    const double number = get_double(record.data() + POSITION_REQUEST_NUMBER);
    auto found = m_positions.find(number);
    if (error == 0 && (found == m_positions.end() || be32(found->second.data() + 8) != header.user_id))
        error = EXCHANGE_ERROR_ORDER_NOT_FOUND;
    if (error != 0)
    {
        answer.replies.push_back(full_reply(record, refused, error, stamp));
        answer.line = what + ": refused with " + std::to_string(error);
        return answer;
    }
    answer.replies.push_back(full_reply(record, header.transcode, 0, stamp));
    if (header.transcode == TC_POSITION_CANCEL)
    {
        m_positions.erase(found);
        answer.line = what + " " + number_text(number) + ": cancelled";
    }
    else
    {
        found->second = full_reply(record, TC_POSITION_NEW, 0, stamp);
        answer.line = what + " " + number_text(number) + ": now for " +
                      std::to_string(be32(record.data() + POSITION_QUANTITY));
    }
    return answer;
}

void sim_exchange::replay_spreads(const journal_request &request, int32_t login_count, uint32_t stamp,
                                  exchange_answer *out, size_t *replayed) const
{
    if (request.stream != 1)
        return;
    for (const auto &entry : m_spreads)
    {
        if (be32(entry.second.data() + 8) != request.user_id ||
            static_cast<int64_t>(be32(entry.second.data() + SPREAD_ORDER_TIME)) * 65536 < request.start_time)
            continue;
        out->replies.push_back(encode_journal_record(TC_JOURNAL_DATA, request, 0, login_count, stamp,
                                                     internal_order(entry.second)));
        ++*replayed;
    }
}

bool sim_exchange::cancel_spread(double order_number, uint32_t stamp, exchange_answer *out)
{
    auto found = m_spreads.find(order_number);
    if (found == m_spreads.end())
        return false;
    out->user_id = be32(found->second.data() + 8);
    out->replies.push_back(full_reply(found->second, TC_SPREAD_CANCELLED_BY_EXCHANGE, 0, stamp));
    out->line = "spread " + number_text(order_number) + " cancelled by the exchange";
    m_spreads.erase(found);
    return true;
}

bool sim_exchange::trade_reply(double order_number, uint32_t stamp, exchange_answer *out)
{
    auto found = m_book.find(order_number);
    if (found == m_book.end())
        return false;
    out->user_id = found->second.user_id;
    out->replies.push_back(encode_trade_reply(found->second, m_broker, stamp));
    out->line = "trade reply of order " + number_text(order_number);
    return true;
}

bool sim_exchange::give_up(uint16_t transcode, double order_number, uint32_t trade_number, char open_close,
                           char status, uint32_t stamp, exchange_answer *out)
{
    auto found = m_book.find(order_number);
    if (found == m_book.end())
        return false;
    const sim_order &order = found->second;
    out->user_id = order.user_id;
    out->replies.push_back(
        encode_give_up(transcode, order, trade_number, order.volume, order.price, open_close, status, stamp));
    out->line = "give-up " + std::to_string(transcode) + " of trade " + std::to_string(trade_number) +
                " order " + number_text(order_number) + ": " + std::string(1, status);
    return true;
}

std::vector<exchange_answer> sim_exchange::broadcast(uint16_t transcode, const std::string &prefix,
                                                     const std::string &text, uint32_t stamp)
{
    std::vector<exchange_answer> answers;
    for (const auto &user : m_users)
    {
        if (!user.second.signed_on)
            continue;
        exchange_answer answer;
        answer.user_id = user.first;
        answer.replies.push_back(encode_broadcast(transcode, user.first, prefix, text, stamp));
        answer.line = "broadcast " + std::to_string(transcode) + " to user " + std::to_string(user.first);
        answers.push_back(answer);
    }
    return answers;
}

std::vector<bytes> sim_exchange::spreads() const
{
    std::vector<bytes> out;
    for (const auto &entry : m_spreads)
        out.push_back(entry.second);
    return out;
}

std::vector<bytes> sim_exchange::position_requests() const
{
    std::vector<bytes> out;
    for (const auto &entry : m_positions)
        out.push_back(entry.second);
    return out;
}

} // namespace qel_sim
