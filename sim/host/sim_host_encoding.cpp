// The simulated host's record encoding (see sim_host_encoding.h). Every offset is written
// out here from the exchange's record formats; bytes that no field names are zero.
#include "sim/host/sim_host_encoding.h"

#include <lzo/lzo1z.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace qel_sim
{

void set_text(bytes &out, size_t offset, size_t width, const std::string &text, uint8_t fill)
{
    for (size_t i = 0; i < width; ++i)
        out[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : fill;
}

std::string get_text(const bytes &in, size_t offset, size_t width)
{
    return std::string(in.begin() + static_cast<long>(offset),
                       in.begin() + static_cast<long>(offset + width));
}

static bytes get_bytes(const bytes &in, size_t offset, size_t width)
{
    return bytes(in.begin() + static_cast<long>(offset), in.begin() + static_cast<long>(offset + width));
}

static void set_bytes(bytes &out, size_t offset, const bytes &value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        out[offset + i] = i < value.size() ? value[i] : 0;
}

double get_double(const uint8_t *p)
{
    uint64_t bits = (static_cast<uint64_t>(be32(p)) << 32) | be32(p + 4);
    double value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

void set_double(bytes &out, size_t offset, double value)
{
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    set_be32(out, offset, static_cast<uint32_t>(bits >> 32));
    set_be32(out, offset + 4, static_cast<uint32_t>(bits));
}

bool decode_box_request(const bytes &record, box_request *out)
{
    if (record.size() < 22)
        return false;
    out->transcode = be16(record.data());
    if (out->transcode != TC_BOX_SIGN_ON && out->transcode != TC_BOX_RELOGON)
        return false;
    out->box_id = be16(record.data() + 2);
    out->broker_id = get_text(record, 4, 5);
    out->after_broker = record[9];
    out->version = be32(record.data() + 10);
    if (out->transcode == TC_BOX_RELOGON)
    {
        if (record.size() < 44)
            return false;
        out->address = get_text(record, 22, 18);
        out->least_sent = be16(record.data() + 40);
        out->last_received = be16(record.data() + 42);
    }
    return true;
}

static bytes box_record(uint16_t transcode, size_t size)
{
    bytes record(size, 0);
    set_be16(record, 0, transcode);
    return record;
}

bytes encode_box_sign_on_response(uint16_t box_id, uint16_t error, bool recovery_enabled)
{
    bytes record = box_record(TC_BOX_SIGN_ON_RESPONSE, HOST_BOX_RECORD_SIZE);
    set_be16(record, 2, box_id);
    set_be16(record, 4, error);
    record[14] = recovery_enabled ? 'E' : 'D';
    return record;
}

bytes encode_box_parameters(int16_t base_rate, int16_t max_users, uint16_t box_id)
{
    bytes record = box_record(TC_BOX_PARAMETERS, HOST_BOX_RECORD_SIZE);
    set_be16(record, 2, static_cast<uint16_t>(base_rate));
    set_be16(record, 4, static_cast<uint16_t>(max_users));
    set_be16(record, 6, box_id);
    return record;
}

bytes encode_box_relogon_response(uint16_t box_id, uint16_t error, uint16_t next_expected)
{
    bytes record = box_record(TC_BOX_RELOGON_RESPONSE, HOST_BOX_RECORD_SIZE);
    set_be16(record, 2, box_id);
    set_be16(record, 4, error);
    set_be16(record, 18, next_expected);
    return record;
}

bytes encode_box_sign_off(uint16_t box_id, uint16_t error)
{
    bytes record = box_record(TC_BOX_SIGN_OFF, HOST_BOX_RECORD_SIZE);
    set_be16(record, 2, box_id);
    set_be16(record, 8, error);
    return record;
}

bytes encode_rate_update(int16_t percent)
{
    bytes record = box_record(TC_RATE_UPDATE, 4);
    set_be16(record, 2, static_cast<uint16_t>(percent));
    return record;
}

bytes encode_host_heart_beat()
{
    return box_record(TC_HOST_HEART_BEAT, 2);
}

bytes encode_acknowledgement(uint16_t last_received)
{
    bytes record = box_record(TC_ACKNOWLEDGEMENT, 4);
    set_be16(record, 2, last_received);
    return record;
}

bool decode_exchange_header(const bytes &record, exchange_header *out)
{
    if (record.size() < EXCHANGE_HEADER_SIZE)
        return false;
    out->transcode = be16(record.data());
    out->second_field = be32(record.data() + 2);
    out->two_chars[0] = record[6];
    out->two_chars[1] = record[7];
    out->user_id = be32(record.data() + 8);
    out->error = be16(record.data() + 12);
    out->length = be16(record.data() + 38);
    return true;
}

bytes encode_exchange_record(const exchange_header &header, uint16_t length)
{
    bytes record(length, 0);
    set_be16(record, 0, header.transcode);
    set_be32(record, 2, header.second_field);
    record[6] = header.two_chars[0];
    record[7] = header.two_chars[1];
    set_be32(record, 8, header.user_id);
    set_be16(record, 12, header.error);
    set_be16(record, 38, length);
    return record;
}

bytes encode_user_sign_on_response(uint32_t user_id, uint16_t error, const std::string &reason)
{
    exchange_header header;
    header.transcode = TC_SIGN_ON_RESPONSE;
    header.user_id = user_id;
    header.error = error;
    bytes record = encode_exchange_record(header, SIGN_ON_RESPONSE_SIZE);
    set_be32(record, 40, user_id);
    set_text(record, 44, 10, "");
    // The reason text stops short of the journal time at 160, which stays zero.
    set_text(record, 54, 100, reason, 0);
    return record;
}

bytes encode_system_information_out(uint32_t user_id, uint16_t error, int32_t login_count, uint8_t streams,
                                    uint16_t market_status)
{
    exchange_header header;
    header.transcode = TC_SYSTEM_INFORMATION_OUT;
    header.user_id = user_id;
    header.error = error;
    header.two_chars[0] = streams; // a binary count, not a digit
    bytes record = encode_exchange_record(header, SYSTEM_INFORMATION_OUT_SIZE);
    // The login count is the low half of the first time field, read as one 64-bit number.
    uint32_t high = login_count < 0 ? 0xffffffffu : 0;
    set_be32(record, 14, high);
    set_be32(record, 18, static_cast<uint32_t>(login_count));
    set_be16(record, 40, market_status); // 1: open
    return record;
}

bytes encode_user_sign_off_response(uint32_t user_id, uint16_t error)
{
    exchange_header header;
    header.transcode = TC_SIGN_OFF_RESPONSE;
    header.user_id = user_id;
    header.error = error;
    return encode_exchange_record(header, EXCHANGE_HEADER_SIZE);
}

bytes encode_user_status_reply(const bytes &query, bool active)
{
    bytes record = query;
    record.resize(EXCHANGE_HEADER_SIZE, ' ');
    set_be16(record, 0, TC_USER_STATUS_REPLY);
    set_be16(record, 12, 0);
    record[14] = active ? 'A' : 'I';
    set_be16(record, 38, EXCHANGE_HEADER_SIZE);
    return record;
}

bool decode_short_entry(const bytes &r, sim_order *o)
{
    if (r.size() < SHORT_ENTRY_SIZE || be16(r.data()) != TC_ORDER_ENTRY_SHORT)
        return false;
    const uint8_t *p = r.data();
    o->user_id = be32(p + 2);
    o->token = be32(p + 8);
    o->kinds = get_text(r, 12, 6);
    o->symbol = get_text(r, 18, 10);
    o->expiry = be32(p + 28);
    o->strike = static_cast<int32_t>(be32(p + 32));
    o->option = get_text(r, 36, 2);
    o->account = get_text(r, 38, 10);
    o->book_type = static_cast<int16_t>(be16(p + 48));
    o->side = static_cast<int16_t>(be16(p + 50));
    o->disclosed = be32(p + 52);
    o->volume = be32(p + 56);
    o->price = static_cast<int32_t>(be32(p + 60));
    o->trigger = be32(p + 64);
    o->terms[0] = r[68];
    o->terms[1] = r[69];
    o->extra_166 = get_bytes(r, 70, 2);
    o->extra_168 = get_bytes(r, 72, 4);
    o->extra_172 = get_bytes(r, 76, 5);
    o->extra_201 = r[81];
    o->clearing = get_text(r, 82, 12);
    o->client_or_firm = static_cast<int16_t>(be16(p + 94));
    o->extra_218 = r[96];
    o->client_order = get_bytes(r, 98, 4);
    o->extra_224 = get_bytes(r, 102, 4);
    o->extra_228 = get_bytes(r, 106, 4);
    o->remaining = o->volume;
    o->filled = 0;
    return true;
}

bool decode_short_change(const bytes &r, sim_order *o)
{
    uint16_t transcode = r.size() >= 2 ? be16(r.data()) : 0;
    if (r.size() < SHORT_CHANGE_SIZE ||
        (transcode != TC_ORDER_MODIFY_SHORT && transcode != TC_ORDER_CHANGE_SHORT &&
         transcode != TC_ORDER_CANCEL_SHORT))
        return false;
    const uint8_t *p = r.data();
    o->user_id = be32(p + 2);
    o->restatement = r[6];
    o->token = be32(p + 8);
    o->kinds = get_text(r, 12, 6);
    o->symbol = get_text(r, 18, 10);
    o->expiry = be32(p + 28);
    o->strike = static_cast<int32_t>(be32(p + 32));
    o->option = get_text(r, 36, 2);
    o->order_number = get_double(p + 38);
    o->account = get_text(r, 46, 10);
    o->book_type = static_cast<int16_t>(be16(p + 56));
    o->side = static_cast<int16_t>(be16(p + 58));
    o->disclosed = be32(p + 60);
    o->remaining = be32(p + 68);
    o->volume = be32(p + 72);
    o->filled = be32(p + 76);
    o->price = static_cast<int32_t>(be32(p + 80));
    o->trigger = be32(p + 84);
    o->order_time = be32(p + 92);
    o->terms[0] = r[96];
    o->terms[1] = r[97];
    o->extra_166 = get_bytes(r, 98, 2);
    o->extra_168 = get_bytes(r, 100, 4);
    o->extra_172 = get_bytes(r, 104, 5);
    o->extra_201 = r[109];
    o->clearing = get_text(r, 110, 12);
    o->client_or_firm = static_cast<int16_t>(be16(p + 122));
    o->extra_218 = r[124];
    o->client_order = get_bytes(r, 126, 4);
    o->extra_224 = get_bytes(r, 130, 4);
    o->extra_228 = get_bytes(r, 134, 4);
    return true;
}

bytes encode_short_reply(uint16_t short_transcode, const sim_order &o, uint16_t error, uint32_t stamp)
{
    bytes r(SHORT_REPLY_SIZE, 0);
    set_be16(r, 0, short_transcode);
    set_be32(r, 2, stamp);
    set_be32(r, 6, o.user_id);
    set_be16(r, 10, error);
    r[20] = '1'; // stream number as a digit
    r[21] = o.restatement;
    set_be32(r, 24, o.token);
    set_text(r, 28, 6, o.kinds);
    set_text(r, 34, 10, o.symbol);
    set_be32(r, 44, o.expiry);
    set_be32(r, 48, static_cast<uint32_t>(o.strike));
    set_text(r, 52, 2, o.option);
    r[54] = ' ';
    set_double(r, 56, o.order_number);
    set_text(r, 64, 10, o.account);
    set_be16(r, 74, static_cast<uint16_t>(o.book_type));
    set_be16(r, 76, static_cast<uint16_t>(o.side));
    set_be32(r, 78, o.disclosed);
    set_be32(r, 86, o.remaining);
    set_be32(r, 90, o.volume);
    set_be32(r, 94, o.filled);
    set_be32(r, 98, static_cast<uint32_t>(o.price));
    set_be32(r, 102, o.trigger);
    set_be32(r, 110, o.order_time);
    r[114] = o.terms[0];
    r[115] = o.terms[1];
    set_bytes(r, 116, o.extra_166, 2);
    set_bytes(r, 118, o.extra_168, 4);
    set_bytes(r, 122, o.extra_172, 5);
    r[127] = o.extra_201;
    set_text(r, 128, 12, o.clearing);
    set_be16(r, 140, static_cast<uint16_t>(o.client_or_firm));
    r[142] = o.extra_218;
    set_bytes(r, 144, o.client_order, 4);
    set_bytes(r, 148, o.extra_224, 4);
    set_bytes(r, 152, o.extra_228, 4);
    return r;
}

bytes encode_short_trade(const sim_order &o, const sim_fill &fill, const std::string &broker, uint32_t stamp)
{
    bytes r(SHORT_TRADE_SIZE, 0);
    set_be16(r, 0, TC_TRADE_SHORT);
    set_be32(r, 2, stamp);
    set_be32(r, 6, o.user_id);
    set_double(r, 34, o.order_number);
    set_text(r, 42, 5, broker);
    r[47] = ' ';
    set_text(r, 48, 10, o.account);
    set_be16(r, 58, static_cast<uint16_t>(o.side));
    set_be32(r, 64, o.disclosed);
    set_be32(r, 68, o.remaining);
    set_be32(r, 76, static_cast<uint32_t>(o.price));
    r[80] = o.terms[0];
    r[81] = o.terms[1];
    set_be32(r, 86, fill.fill_number);
    set_be32(r, 90, fill.quantity);
    set_be32(r, 94, static_cast<uint32_t>(fill.price));
    set_be32(r, 98, o.filled);
    set_be32(r, 108, o.token);
    set_text(r, 112, 6, o.kinds);
    set_text(r, 118, 10, o.symbol);
    set_be32(r, 128, o.expiry);
    set_be32(r, 132, static_cast<uint32_t>(o.strike));
    set_text(r, 136, 2, o.option);
    r[138] = ' ';
    r[139] = ' ';
    set_text(r, 140, 12, "");
    r[152] = ' ';
    return r;
}

namespace
{
// Where each field of the short order reply stands in the full one.
struct reply_field
{
    size_t short_offset;
    size_t width;
    size_t full_offset;
};
const reply_field k_reply_fields[] = {
    {2, 4, 4},     {6, 4, 0},     {10, 2, 12},   {12, 4, 22},   {16, 4, 26},   {21, 1, 46},    {22, 2, 48},
    {24, 4, 54},   {28, 6, 58},   {34, 10, 64},  {44, 4, 74},   {48, 4, 78},   {52, 2, 82},    {54, 1, 94},
    {56, 4, 98},   {60, 4, 102},  {64, 10, 106}, {74, 2, 116},  {76, 2, 118},  {78, 4, 120},   {82, 4, 124},
    {86, 4, 128},  {90, 4, 132},  {94, 4, 136},  {98, 4, 140},  {102, 4, 148}, {106, 4, 152},  {110, 4, 160},
    {114, 2, 164}, {116, 2, 166}, {118, 4, 168}, {122, 5, 172}, {127, 1, 201}, {128, 12, 202}, {140, 2, 214},
    {142, 1, 218}, {144, 4, 220}, {148, 4, 224}, {152, 4, 228},
};
} // namespace

bytes expand_short_reply(const bytes &s)
{
    bytes full(FULL_ORDER_REPLY_SIZE, 0);
    if (s.size() < SHORT_REPLY_SIZE)
        return bytes();
    for (const reply_field &f : k_reply_fields)
        std::copy(s.begin() + static_cast<long>(f.short_offset),
                  s.begin() + static_cast<long>(f.short_offset + f.width),
                  full.begin() + static_cast<long>(f.full_offset));
    set_be16(full, 10, static_cast<uint16_t>(be16(s.data()) - 18000));
    set_be16(full, 38, FULL_ORDER_REPLY_SIZE);
    full[8] = s[34]; // the symbol's first two characters
    full[9] = s[35];
    full[37] = s[20] >= '0' && s[20] <= '9' ? static_cast<uint8_t>(s[20] - '0') : 0;
    full[216] = 0x0a;
    full[217] = 0x00;
    full[219] = 'P';
    return full;
}

bool decode_journal_request(const bytes &record, journal_request *out)
{
    if (record.size() < JOURNAL_REQUEST_SIZE || be16(record.data()) != TC_JOURNAL_REQUEST ||
        be16(record.data() + 38) != JOURNAL_REQUEST_SIZE)
        return false;
    out->user_id = be32(record.data() + 8);
    out->stream_chars[0] = record[6];
    out->stream_chars[1] = record[7];
    out->stream = 0;
    if (record[6] >= '1' && record[6] <= '9')
    {
        out->stream = record[6] - '0';
        if (record[7] >= '0' && record[7] <= '9')
            out->stream = out->stream * 10 + (record[7] - '0');
        else if (record[7] != 0)
            out->stream = 0;
    }
    uint64_t start = (static_cast<uint64_t>(be32(record.data() + 40)) << 32) | be32(record.data() + 44);
    out->start_time = static_cast<int64_t>(start);
    return true;
}

bytes encode_journal_record(uint16_t transcode, const journal_request &request, uint16_t error,
                            int32_t login_count, uint32_t stamp, const bytes &inner)
{
    exchange_header header;
    header.transcode = transcode;
    header.second_field = stamp;
    header.two_chars[0] = request.stream_chars[0];
    header.two_chars[1] = request.stream_chars[1];
    header.user_id = request.user_id;
    header.error = error;
    bytes record = encode_exchange_record(header, static_cast<uint16_t>(EXCHANGE_HEADER_SIZE + inner.size()));
    set_be32(record, 14, login_count < 0 ? 0xffffffffu : 0);
    set_be32(record, 18, static_cast<uint32_t>(login_count));
    record[37] = static_cast<uint8_t>(request.stream);
    std::copy(inner.begin(), inner.end(), record.begin() + EXCHANGE_HEADER_SIZE);
    return record;
}

bytes host_lzo1z_compress(const bytes &record)
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = lzo_init() == LZO_E_OK; });
    if (!ready || record.empty())
        return bytes();
    std::vector<uint8_t> work(LZO1Z_999_MEM_COMPRESS);
    bytes out(record.size() + record.size() / 16 + 64 + 3);
    lzo_uint length = out.size();
    if (lzo1z_999_compress(record.data(), record.size(), out.data(), &length, work.data()) != LZO_E_OK)
        return bytes();
    out.resize(length);
    return out;
}

bytes host_encode_packet_entries(const std::vector<bytes> &records, const std::vector<bool> &compress)
{
    bytes packet;
    put_be16(packet, static_cast<uint16_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i)
    {
        bytes packed = i < compress.size() && compress[i] ? host_lzo1z_compress(records[i]) : bytes();
        if (packed.empty())
        {
            packet.insert(packet.end(), records[i].begin(), records[i].end());
            continue;
        }
        put_be16(packet, static_cast<uint16_t>(-static_cast<int16_t>(packed.size())));
        packet.insert(packet.end(), packed.begin(), packed.end());
    }
    return packet;
}

} // namespace qel_sim
