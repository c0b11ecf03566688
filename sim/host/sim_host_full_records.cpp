// The simulated host's whole records (see sim_host_full_records.h). Bytes that no field
// names are zero.
#include "sim/host/sim_host_full_records.h"

#include <algorithm>

namespace qel_sim
{

bool decode_full_record(const bytes &record, uint32_t expected_size, exchange_header *out)
{
    return record.size() == expected_size && decode_exchange_header(record, out) &&
           out->length == expected_size;
}

bytes full_reply(const bytes &record, uint16_t transcode, uint16_t error, uint32_t stamp)
{
    bytes reply = record;
    set_be16(reply, 0, transcode);
    set_be32(reply, 2, stamp);
    set_be16(reply, 12, error);
    reply[37] = 1; // stream 1, binary
    return reply;
}

bytes internal_order(const bytes &record)
{
    bytes out = record;
    // Exchange order: transcode 0, second field 2, characters 6, user id 8. Internal:
    // user id 0, second field 4, characters 8, transcode 10. The rest stays in place.
    std::copy(record.begin() + 8, record.begin() + 12, out.begin());
    std::copy(record.begin() + 2, record.begin() + 6, out.begin() + 4);
    std::copy(record.begin() + 6, record.begin() + 8, out.begin() + 8);
    std::copy(record.begin(), record.begin() + 2, out.begin() + 10);
    return out;
}

std::vector<uint32_t> spread_tokens(const bytes &record, int legs)
{
    std::vector<uint32_t> tokens = {be32(record.data() + SPREAD_FIRST_TOKEN),
                                    be32(record.data() + SPREAD_SECOND_LEG + SPREAD_LEG_TOKEN)};
    if (legs == 3)
        tokens.push_back(be32(record.data() + SPREAD_THIRD_LEG + SPREAD_LEG_TOKEN));
    return tokens;
}

static bytes header_record(uint16_t transcode, uint32_t user_id, uint32_t stamp, uint16_t length)
{
    exchange_header header;
    header.transcode = transcode;
    header.second_field = stamp;
    header.user_id = user_id;
    bytes record = encode_exchange_record(header, length);
    record[37] = 1;
    return record;
}

bytes encode_trade_reply(const sim_order &o, const std::string &broker, uint32_t stamp)
{
    bytes r = header_record(TC_TRADE_REPLY, o.user_id, stamp, TRADE_RECORD_SIZE);
    set_double(r, 40, o.order_number);
    set_text(r, 48, 5, broker);
    set_text(r, 58, 10, o.account);
    set_be16(r, 68, static_cast<uint16_t>(o.side));
    set_be32(r, 74, o.disclosed);
    set_be32(r, 78, o.remaining);
    set_be32(r, 86, static_cast<uint32_t>(o.price));
    r[90] = o.terms[0];
    set_be32(r, 108, o.filled);
    set_be32(r, 132, o.token);
    set_text(r, 136, 6, o.kinds);
    set_text(r, 142, 10, o.symbol);
    set_be32(r, 152, o.expiry);
    set_be32(r, 156, static_cast<uint32_t>(o.strike));
    set_text(r, 160, 2, o.option);
    return r;
}

bytes encode_give_up(uint16_t transcode, const sim_order &o, uint32_t trade_number, uint32_t quantity,
                     int32_t price, char open_close, char status, uint32_t stamp)
{
    bytes r = header_record(transcode, o.user_id, stamp, GIVE_UP_RECORD_SIZE);
    set_double(r, 42, o.order_number);
    set_be32(r, 50, trade_number);
    set_text(r, 54, 6, o.kinds);
    set_text(r, 60, 10, o.symbol);
    set_be32(r, 70, o.expiry);
    set_be32(r, 74, static_cast<uint32_t>(o.strike));
    set_text(r, 78, 2, o.option);
    set_be32(r, 82, quantity);
    set_be32(r, 86, static_cast<uint32_t>(price));
    set_be16(r, 96, static_cast<uint16_t>(o.side));
    set_be32(r, 100, stamp);
    r[105] = static_cast<uint8_t>(open_close);
    r[106] = 'U';
    set_text(r, 107, 12, o.clearing);
    r[119] = static_cast<uint8_t>(status);
    return r;
}

bytes encode_broadcast(uint16_t transcode, uint32_t user_id, const std::string &prefix,
                       const std::string &text, uint32_t stamp)
{
    const bool control = transcode == TC_CONTROL_MESSAGE;
    const uint16_t size = control ? CONTROL_MESSAGE_SIZE : BROADCAST_SIZE;
    bytes r = header_record(transcode, user_id, stamp, size);
    const size_t prefix_at = control ? 44 : 47;
    const size_t length_at = control ? 48 : 78;
    const size_t text_at = control ? 50 : 80;
    const size_t room = size - text_at;
    const size_t length = std::min(text.size(), room);
    if (transcode == TC_GENERAL_BROADCAST || control)
        set_text(r, prefix_at, 3, prefix, 0);
    set_be16(r, length_at, static_cast<uint16_t>(length));
    set_text(r, text_at, length, text, 0);
    return r;
}

} // namespace qel_sim
