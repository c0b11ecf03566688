// The simulated host's frame and packet encoding (see sim_host_records.h).
#include "sim/host/sim_host_records.h"

#include <openssl/md5.h>

namespace qel_sim
{

void host_md5(const uint8_t *data, size_t length, uint8_t digest[16])
{
    // The one-shot call is deprecated in OpenSSL 3 but still the plainest way to say it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    static const uint8_t empty = 0;
    MD5(length == 0 ? &empty : data, length, digest);
#pragma GCC diagnostic pop
}

bytes host_encode_frame(const bytes &body, uint16_t sequence_number, uint16_t last_sequence_number)
{
    bytes frame;
    frame.reserve(HOST_HEADER_SIZE + body.size());
    put_be16(frame, static_cast<uint16_t>(HOST_HEADER_SIZE + body.size()));
    put_be16(frame, sequence_number);
    put_be16(frame, last_sequence_number);
    uint8_t digest[16];
    host_md5(body.data(), body.size(), digest);
    frame.insert(frame.end(), digest, digest + 16);
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

bytes host_encode_packet(const std::vector<bytes> &records)
{
    bytes packet;
    put_be16(packet, static_cast<uint16_t>(records.size()));
    for (const bytes &record : records)
        packet.insert(packet.end(), record.begin(), record.end());
    return packet;
}

uint32_t host_record_size(const uint8_t *p, uint32_t available)
{
    if (available < 2)
        return 0;
    uint16_t transcode = be16(p);
    switch (transcode)
    {
    case 20000:
        return 110; // trimmed order entry
    case 20040:
    case 20060:
    case 20070:
        return 138; // trimmed modification and cancellation
    case 23000:
        return 22; // box sign-on request, behind the packet count
    case 23502:
        return 44; // box relogon request
    case 23004:
        return 4; // rate-control heart beat
    case 23506:
        return 2; // the gateway's heart beat: the transcode alone
    case 7777:
        return available >= 14 ? be16(p + 12) : 0;
    default:
        return available >= 40 ? be16(p + 38) : 0;
    }
}

bool host_decode_packet(const bytes &body, std::vector<bytes> *records)
{
    records->clear();
    if (body.size() < 2)
        return false;
    int16_t count = static_cast<int16_t>(be16(body.data()));
    if (count < 0)
        return false;
    uint32_t position = 2;
    for (int16_t i = 0; i < count; ++i)
    {
        uint32_t available = static_cast<uint32_t>(body.size()) - position;
        uint32_t size = host_record_size(body.data() + position, available);
        if (size == 0 || size > available)
            return false;
        records->emplace_back(body.begin() + position, body.begin() + position + size);
        position += size;
    }
    return true;
}

} // namespace qel_sim
