// The simulated exchange's answers to its users. Where the exchange's answer is not laid
// down, this simulator answers as members expect from an exchange:
//
//   sign-on 2300          -> 2301 (214 bytes): error 0, or 16042 unknown user, 16053 wrong
//                            password, 16004 already signed on (when so configured), or the
//                            user's configured refusal code, with a reason text at 54
//   system information 1600 -> 1601 (48 bytes): the user's login count in the first time
//                            field, the stream count in the header's two-character field,
//                            market status 1 (open) at 40; 16111 when not signed on
//   sign-off 2320         -> 2321 (40 bytes): error 0, or 16111 when not signed on
//   user status 23002     -> 23003: the query echoed, 'A' at 14 for a signed-on user, else 'I'
//   order entry 20000     -> 20073 entry confirmation with a new order number (16 digits,
//                            counted up), or 20231 order error 16111 (user not signed on) or
//                            16273 (side not 1 or 2, or no volume); with fill_on_entry also
//                            a 20222 trade for the whole volume at the order's price
//   modification 20040 and 20060 -> 20074 modification confirmation echoing the new fields,
//                            or 20042 (16279: no such order of this user; 16273: volume not
//                            above what is filled)
//   cancellation 20070    -> 20075 cancellation confirmation, the order leaves the book, or
//                            20072 (16279)
//   fills (from the test or the demo) -> 20222 trade; the order leaves the book when done
//   journal download 7000 -> for the stream asked: 7011 header, one 7021 per order of the
//                            user in the book entered at or after the start time (stream 1
//                            only: every order reply names stream 1), its inner record the
//                            full 2073 entry confirmation as the order stands now, in the
//                            book's order; then 7031 trailer; each with the login count in
//                            the first time field; header and trailer with 16111 when the
//                            user is not signed on
//   multi-leg orders and exercise requests: see sim_host_spreads.cpp
//   market status      -> 1601 says the configured status; with broadcast_after_journal the
//                            last stream's trailer is followed by a market open (6511) and a
//                            general broadcast (6501) for the user
// Order replies echo the order's fields as the exchange holds them.
#include "sim/host/sim_host_exchange.h"

#include <algorithm>
#include <cstdio>

namespace qel_sim
{

namespace
{
std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::string order_text(double number)
{
    char text[32];
    snprintf(text, sizeof text, "%.0f", number);
    return text;
}
} // namespace

sim_exchange::sim_exchange(exchange_options options)
    : m_options(std::move(options)), m_next_order_number(m_options.first_order_number),
      m_next_request_number(m_options.first_request_number)
{
}

exchange_answer sim_exchange::handle(uint16_t box_id, const bytes &record, uint32_t stamp)
{
    exchange_answer answer = answer_of(box_id, record, stamp);
    uint16_t transcode = record.size() >= 2 ? be16(record.data()) : 0;
    const std::vector<uint32_t> &lost = m_options.unanswered_users;
    if ((transcode == TC_SIGN_ON_REQUEST || transcode == TC_USER_STATUS_QUERY) && !answer.replies.empty() &&
        std::find(lost.begin(), lost.end(), answer.user_id) != lost.end())
    {
        m_held.push_back(answer);
        answer.replies.clear();
        answer.line += ", answer held back";
    }
    return answer;
}

std::vector<exchange_answer> sim_exchange::held_answers()
{
    std::vector<exchange_answer> held;
    held.swap(m_held);
    return held;
}

exchange_answer sim_exchange::answer_of(uint16_t box_id, const bytes &record, uint32_t stamp)
{
    exchange_answer answer;
    uint16_t transcode = record.size() >= 2 ? be16(record.data()) : 0;
    switch (transcode)
    {
    case TC_ORDER_ENTRY_SHORT:
        return order_entry(record, stamp);
    case TC_ORDER_MODIFY_SHORT:
    case TC_ORDER_CHANGE_SHORT:
    case TC_ORDER_CANCEL_SHORT:
        return order_change(record, stamp);
    case TC_SIGN_ON_REQUEST:
        return sign_on(box_id, record);
    case TC_JOURNAL_REQUEST:
        return journal(record, stamp);
    case TC_TWO_LEG_SPREAD:
    case TC_TWO_LEG_ORDER:
    case TC_THREE_LEG_ORDER:
        return spread_entry(record, stamp);
    case TC_SPREAD_MODIFY:
    case TC_SPREAD_CANCEL:
        return spread_change(record, stamp);
    case TC_POSITION_NEW:
    case TC_POSITION_REPLACE:
    case TC_POSITION_CANCEL:
        return position(record, stamp);
    default:
        break;
    }
    exchange_header header;
    if (!decode_exchange_header(record, &header))
    {
        answer.line = "record " + std::to_string(transcode) + " too short, ignored";
        return answer;
    }
    answer.user_id = header.user_id;
    std::string user = " user " + std::to_string(header.user_id);
    bool on = signed_on(header.user_id);
    switch (transcode)
    {
    case TC_SYSTEM_INFORMATION_IN:
        answer.replies.push_back(encode_system_information_out(
            header.user_id, on ? 0 : EXCHANGE_ERROR_NOT_SIGNED_ON, on ? login_count(header.user_id) : -1,
            m_options.streams, m_options.market_status));
        answer.line =
            "system information" + user +
            (on ? ": login count " + std::to_string(login_count(header.user_id)) : ": not signed on");
        break;
    case TC_SIGN_OFF_REQUEST:
        answer.replies.push_back(
            encode_user_sign_off_response(header.user_id, on ? 0 : EXCHANGE_ERROR_NOT_SIGNED_ON));
        if (on)
            m_users[header.user_id].signed_on = false;
        answer.line = "sign-off" + user + (on ? ": signed off" : ": was not signed on");
        break;
    case TC_USER_STATUS_QUERY:
        answer.replies.push_back(encode_user_status_reply(record, on));
        answer.line = "user status" + user + (on ? ": active" : ": inactive");
        break;
    default:
        answer.line = "record " + std::to_string(transcode) + user + " not handled by this exchange";
        break;
    }
    return answer;
}

exchange_answer sim_exchange::sign_on(uint16_t box_id, const bytes &record)
{
    exchange_answer answer;
    if (record.size() < 52)
    {
        answer.line = "sign-on request of " + std::to_string(record.size()) + " bytes, too short, ignored";
        return answer;
    }
    uint32_t user_id = be32(record.data() + 40);
    answer.user_id = user_id;
    std::string password = trimmed(get_text(record, 44, 8));
    const exchange_user *known = nullptr;
    for (const exchange_user &u : m_options.users)
    {
        if (u.user_id == user_id)
            known = &u;
    }
    uint16_t error = 0;
    std::string reason;
    if (known == nullptr && !m_options.accept_unknown_users)
    {
        error = EXCHANGE_ERROR_UNKNOWN_USER;
        reason = "Dealer does not exist.";
    }
    else if (known != nullptr && known->refuse_error != 0)
    {
        error = known->refuse_error;
        reason = "Sign-on refused.";
    }
    else if (known != nullptr && !known->password.empty() && trimmed(known->password) != password)
    {
        error = EXCHANGE_ERROR_WRONG_PASSWORD;
        reason = "Invalid password.";
    }
    else if (signed_on(user_id) && m_options.refuse_second_sign_on)
    {
        error = EXCHANGE_ERROR_ALREADY_SIGNED_ON;
        reason = "The user is already signed on.";
    }
    if (error == 0)
    {
        user_state &state = m_users[user_id];
        state.signed_on = true;
        state.box_id = box_id;
        ++state.login_count;
    }
    answer.replies.push_back(encode_user_sign_on_response(user_id, error, reason));
    answer.line = "sign-on user " + std::to_string(user_id) +
                  (error == 0 ? ": accepted, login count " + std::to_string(m_users[user_id].login_count)
                              : ": refused with " + std::to_string(error));
    return answer;
}

exchange_answer sim_exchange::order_entry(const bytes &record, uint32_t stamp)
{
    exchange_answer answer;
    sim_order order;
    if (!decode_short_entry(record, &order))
    {
        answer.line = "order entry of " + std::to_string(record.size()) + " bytes, ignored";
        return answer;
    }
    answer.user_id = order.user_id;
    std::string user = " user " + std::to_string(order.user_id);
    uint16_t error = 0;
    if (!signed_on(order.user_id))
        error = EXCHANGE_ERROR_NOT_SIGNED_ON;
    else if ((order.side != 1 && order.side != 2) || order.volume == 0)
        error = EXCHANGE_ERROR_INVALID_ORDER;
    if (error != 0)
    {
        answer.replies.push_back(encode_short_reply(TC_ORDER_ERROR + 18000, order, error, stamp));
        answer.line = "order entry" + user + ": refused with " + std::to_string(error);
        return answer;
    }
    order.order_number = m_next_order_number;
    m_next_order_number += 1;
    order.order_time = stamp;
    order.restatement = ' ';
    answer.replies.push_back(encode_short_reply(TC_ORDER_ENTERED + 18000, order, 0, stamp));
    answer.line = "order entry" + user + ": order " + order_text(order.order_number) + ", " +
                  (order.side == 1 ? "buy " : "sell ") + std::to_string(order.volume) + " at " +
                  std::to_string(order.price);
    m_book[order.order_number] = order;
    if (m_options.fill_on_entry)
        trade(m_book[order.order_number], order.volume, order.price, stamp, &answer);
    return answer;
}

exchange_answer sim_exchange::order_change(const bytes &record, uint32_t stamp)
{
    exchange_answer answer;
    sim_order change;
    if (!decode_short_change(record, &change))
    {
        answer.line = "order change of " + std::to_string(record.size()) + " bytes, ignored";
        return answer;
    }
    answer.user_id = change.user_id;
    bool cancel = be16(record.data()) == TC_ORDER_CANCEL_SHORT;
    uint16_t refused = cancel ? TC_ORDER_CANCEL_REFUSED + 18000 : TC_ORDER_MODIFY_REFUSED + 18000;
    std::string what = (cancel ? "cancellation user " : "modification user ") +
                       std::to_string(change.user_id) + " order " + order_text(change.order_number);
    auto found = m_book.find(change.order_number);
    uint16_t error = 0;
    if (!signed_on(change.user_id))
        error = EXCHANGE_ERROR_NOT_SIGNED_ON;
    else if (found == m_book.end() || found->second.user_id != change.user_id)
        error = EXCHANGE_ERROR_ORDER_NOT_FOUND;
    else if (!cancel && change.volume <= found->second.filled)
        error = EXCHANGE_ERROR_INVALID_ORDER;
    if (error != 0)
    {
        answer.replies.push_back(encode_short_reply(refused, change, error, stamp));
        answer.line = what + ": refused with " + std::to_string(error);
        return answer;
    }
    sim_order &order = found->second;
    order.restatement = ' ';
    if (cancel)
    {
        answer.replies.push_back(encode_short_reply(TC_ORDER_CANCELLED + 18000, order, 0, stamp));
        answer.line = what + ": cancelled";
        m_book.erase(found);
        return answer;
    }
    order.price = change.price;
    order.trigger = change.trigger;
    order.disclosed = change.disclosed;
    order.volume = change.volume;
    order.remaining = change.volume - order.filled;
    order.terms[0] = change.terms[0];
    order.terms[1] = change.terms[1];
    order.account = change.account;
    order.client_order = change.client_order;
    answer.replies.push_back(encode_short_reply(TC_ORDER_MODIFIED + 18000, order, 0, stamp));
    answer.line = what + ": now " + std::to_string(order.remaining) + " at " + std::to_string(order.price);
    return answer;
}

exchange_answer sim_exchange::journal(const bytes &record, uint32_t stamp)
{
    exchange_answer answer;
    journal_request request;
    if (!decode_journal_request(record, &request))
    {
        answer.line = "journal download request of " + std::to_string(record.size()) + " bytes, ignored";
        return answer;
    }
    answer.user_id = request.user_id;
    std::string what = "journal download user " + std::to_string(request.user_id) + " stream " +
                       std::to_string(request.stream);
    if (!signed_on(request.user_id))
    {
        for (uint16_t transcode : {TC_JOURNAL_HEADER, TC_JOURNAL_TRAILER})
            answer.replies.push_back(
                encode_journal_record(transcode, request, EXCHANGE_ERROR_NOT_SIGNED_ON, -1, stamp));
        answer.line = what + ": not signed on";
        return answer;
    }
    int32_t count = login_count(request.user_id);
    answer.replies.push_back(encode_journal_record(TC_JOURNAL_HEADER, request, 0, count, stamp));
    size_t replayed = 0;
    for (const auto &entry : m_book)
    {
        const sim_order &order = entry.second;
        if (request.stream != 1 || order.user_id != request.user_id ||
            static_cast<int64_t>(order.order_time) * 65536 < request.start_time)
            continue;
        bytes inner =
            expand_short_reply(encode_short_reply(TC_ORDER_ENTERED + 18000, order, 0, order.order_time));
        answer.replies.push_back(encode_journal_record(TC_JOURNAL_DATA, request, 0, count, stamp, inner));
        ++replayed;
    }
    replay_spreads(request, count, stamp, &answer, &replayed);
    answer.replies.push_back(encode_journal_record(TC_JOURNAL_TRAILER, request, 0, count, stamp));
    answer.line = what + ": " + std::to_string(replayed) + " orders replayed";
    if (m_options.broadcast_after_journal && request.stream == m_options.streams)
    {
        answer.replies.push_back(
            encode_broadcast(TC_MARKET_OPEN, request.user_id, "", "NORMAL MARKET", stamp));
        answer.replies.push_back(encode_broadcast(TC_GENERAL_BROADCAST, request.user_id, "EXC",
                                                  "WELCOME TO ZORAX TRADING", stamp));
        answer.line += "; market open and a general broadcast sent";
    }
    return answer;
}

void sim_exchange::trade(sim_order &order, uint32_t quantity, int32_t price, uint32_t stamp,
                         exchange_answer *out)
{
    order.filled += quantity;
    order.remaining -= quantity;
    sim_fill fill;
    fill.fill_number = m_next_fill++;
    fill.quantity = quantity;
    fill.price = price;
    out->replies.push_back(encode_short_trade(order, fill, m_broker, stamp));
    out->line += (out->line.empty() ? "" : "; ") + std::string("trade ") + std::to_string(fill.fill_number) +
                 " order " + order_text(order.order_number) + ": " + std::to_string(quantity) + " at " +
                 std::to_string(price);
    if (order.remaining == 0)
        m_book.erase(order.order_number);
}

bool sim_exchange::fill(double order_number, uint32_t quantity, int32_t price, uint32_t stamp,
                        const std::string &broker, exchange_answer *out)
{
    auto found = m_book.find(order_number);
    if (found == m_book.end() || quantity == 0 || quantity > found->second.remaining)
        return false;
    m_broker = broker;
    out->user_id = found->second.user_id;
    trade(found->second, quantity, price, stamp, out);
    return true;
}

void sim_exchange::sign_off_box(uint16_t box_id)
{
    for (auto &user : m_users)
    {
        if (user.second.box_id == box_id)
            user.second.signed_on = false;
    }
}

bool sim_exchange::signed_on(uint32_t user_id) const
{
    auto found = m_users.find(user_id);
    return found != m_users.end() && found->second.signed_on;
}

uint16_t sim_exchange::box_of(uint32_t user_id) const
{
    auto found = m_users.find(user_id);
    return found != m_users.end() && found->second.signed_on ? found->second.box_id : 0;
}

int32_t sim_exchange::login_count(uint32_t user_id) const
{
    auto found = m_users.find(user_id);
    return found == m_users.end() ? 0 : found->second.login_count;
}

std::vector<sim_order> sim_exchange::orders() const
{
    std::vector<sim_order> out;
    for (const auto &entry : m_book)
        out.push_back(entry.second);
    return out;
}

} // namespace qel_sim
