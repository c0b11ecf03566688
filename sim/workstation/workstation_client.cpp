// The simulated workstation. It encodes and checks with its own code: its own field
// offsets (workstation_client.h), its own framing, MD5 from OpenSSL. Sockets are
// non-blocking behind the library's network event, so every read and write is bounded by
// a deadline and the client never hangs a test.
#include "sim/workstation/workstation_client.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "common/ea_time.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/ea_sync_info.h"
#include "sim/sim_wire.h"

namespace qel_sim
{
namespace
{
void md5_of(const uint8_t *data, size_t length, uint8_t digest[WS_DIGEST_SIZE])
{
    unsigned int size = 0;
    EVP_Digest(data, length, digest, &size, EVP_md5(), nullptr);
}

uint32_t remaining(uint32_t deadline)
{
    int32_t left = static_cast<int32_t>(deadline - ea_get_tick_count());
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

// A check failure: the words around the two numbers ("sequence ", 5, " where ", 4, " was due").
std::string text(const char *first, uint32_t a, const char *second, uint32_t b, const char *last = "")
{
    return first + std::to_string(a) + second + std::to_string(b) + last;
}
} // namespace

std::vector<uint8_t> workstation_make_record(int16_t transcode, uint32_t user_id, uint16_t length)
{
    std::vector<uint8_t> record(length < VRX_HEADER_SIZE ? uint32_t{VRX_HEADER_SIZE} : uint32_t{length}, 0);
    set_be32(&record[VRX_USER_ID_OFFSET], user_id);
    set_be16(&record[VRX_TRANSCODE_OFFSET], static_cast<uint16_t>(transcode));
    set_be16(&record[VRX_LENGTH_OFFSET], static_cast<uint16_t>(record.size()));
    for (size_t i = VRX_HEADER_SIZE; i < record.size(); ++i)
        record[i] = static_cast<uint8_t>('A' + i % 26);
    return record;
}

int16_t workstation_record_transcode(const std::vector<uint8_t> &record)
{
    if (record.size() < VRX_TRANSCODE_OFFSET + 2)
        return 0;
    return static_cast<int16_t>(be16(&record[VRX_TRANSCODE_OFFSET]));
}

workstation_client::workstation_client() = default;

workstation_client::~workstation_client()
{
    close();
    if (m_event != nullptr)
        ea_sync_info_destroy(m_event);
    if (m_library_started)
        ea_socket_cleanup();
}

bool workstation_client::connect(const std::string &address, uint16_t port, const std::string &from)
{
    if (!m_library_started)
    {
        char failure[256];
        uint32_t size = sizeof failure;
        if (ea_socket_init(failure, &size) != EA_SUCCESS)
            return false;
        m_library_started = true;
    }
    if (m_event == nullptr && (m_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0)) == nullptr)
        return false;
    close();
    m_socket = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    if (m_socket < 0)
        return false;
    if ((!from.empty() && ea_bind(m_socket, from.c_str(), 0) != 0) ||
        ea_connect(m_socket, address.c_str(), port) != 0 ||
        ea_setsockopt(m_socket, EA_SOCKOPT_TCP_NODELAY) != 0 ||
        ea_sync_info_network_event_select(m_event, m_socket, EA_FD_READ | EA_FD_WRITE | EA_FD_CLOSE) != 0)
    {
        close();
        return false;
    }
    m_send_sequence = 0;
    m_receive_sequence = 0;
    m_credit = 0;
    m_peer_closed = false;
    return true;
}

void workstation_client::close()
{
    if (m_socket >= 0)
        ea_closesocket(m_socket);
    m_socket = -1;
}

bool workstation_client::wait_socket(uint32_t deadline)
{
    uint32_t left = remaining(deadline);
    int32_t index = -1;
    ea_status status = ea_sync_info_wait_for_multiple_netwrok_event_objects(&m_event, 1, false, left, &index);
    ea_network_events events;
    memset(&events, 0, sizeof events);
    ea_enum_network_events(m_socket, &events);
    return status == EA_SUCCESS || left > 0;
}

bool workstation_client::write_all(const uint8_t *bytes, uint32_t length)
{
    uint32_t deadline = ea_get_tick_count() + 5000;
    uint32_t done = 0;
    const uint32_t half = m_faults.mid_frame_pause_ms > 0 ? length / 2 : length;
    bool paused = false;
    while (done < length && m_socket >= 0)
    {
        if (done == half && half < length && !paused)
        {
            paused = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(m_faults.mid_frame_pause_ms));
            deadline = ea_get_tick_count() + 5000;
        }
        uint32_t end = done < half ? half : length;
        int32_t piece = m_faults.one_byte_writes ? 1 : static_cast<int32_t>(end - done);
        int32_t n = ea_send(m_socket, bytes + done, piece);
        if (n > 0)
        {
            done += static_cast<uint32_t>(n);
            continue;
        }
        int32_t error = ea_socket_last_error();
        if ((error != EA_WSAEWOULDBLOCK && error != EA_WSAEINTR) || remaining(deadline) == 0)
            return false;
        wait_socket(deadline);
    }
    return done == length;
}

bool workstation_client::read_exact(uint8_t *buffer, uint32_t length, uint32_t deadline, read_result *why)
{
    uint32_t done = 0;
    while (done < length)
    {
        if (m_socket < 0)
        {
            *why = READ_CLOSED;
            return false;
        }
        int32_t n = ea_recv(m_socket, buffer + done, static_cast<int32_t>(length - done));
        if (n > 0)
        {
            done += static_cast<uint32_t>(n);
            continue;
        }
        int32_t error = n == 0 ? 0 : ea_socket_last_error();
        if (n == 0 || (error != EA_WSAEWOULDBLOCK && error != EA_WSAEINTR))
        {
            m_peer_closed = true;
            *why = READ_CLOSED;
            return false;
        }
        if (remaining(deadline) == 0)
        {
            *why = READ_TIMEOUT;
            return false;
        }
        wait_socket(deadline);
    }
    return true;
}

workstation_client::read_result workstation_client::read_frame(workstation_frame *out, uint32_t deadline)
{
    uint8_t frame[WS_MAX_FRAME + 1];
    read_result why = READ_FRAME;
    if (!read_exact(frame, 2, deadline, &why))
        return why;
    uint16_t length = be16(frame + WS_LENGTH_OFFSET);
    if (length < WS_HEADER_SIZE || length > WS_MAX_FRAME)
    {
        // Framing is lost for good; nothing more can be read from this connection.
        m_check_failures.push_back(text("frame length ", length, " outside ", WS_HEADER_SIZE, "..2047"));
        close();
        return READ_INVALID;
    }
    // Any time-out from here on leaves the connection mid-frame, so the rest is awaited
    // a little longer than the caller asked.
    if (!read_exact(frame + 2, length - 2u, deadline + 2000, &why))
        return why;

    out->sequence = be32(frame + WS_SEQUENCE_OFFSET);
    out->record.assign(frame + WS_HEADER_SIZE, frame + length);
    bool valid = true;
    if (out->sequence != m_receive_sequence + 1)
    {
        m_check_failures.push_back(
            text("sequence ", out->sequence, " where ", m_receive_sequence + 1, " was due"));
        valid = false;
    }
    m_receive_sequence = out->sequence;
    uint8_t digest[WS_DIGEST_SIZE];
    md5_of(out->record.data(), out->record.size(), digest);
    if (memcmp(digest, frame + WS_DIGEST_OFFSET, WS_DIGEST_SIZE) != 0)
    {
        m_check_failures.push_back(
            text("digest mismatch on frame ", out->sequence, " of ", length, " bytes"));
        valid = false;
    }
    if (out->record.size() >= VRX_HEADER_SIZE &&
        be16(&out->record[VRX_LENGTH_OFFSET]) != static_cast<uint16_t>(out->record.size()))
    {
        m_check_failures.push_back(text("VRX length ", be16(&out->record[VRX_LENGTH_OFFSET]),
                                        " in a record of ", static_cast<uint32_t>(out->record.size()),
                                        " bytes"));
        valid = false;
    }
    return valid ? READ_FRAME : READ_INVALID;
}

workstation_client::read_result workstation_client::take_next(workstation_frame *out, bool *was_invitation,
                                                              uint32_t deadline)
{
    *was_invitation = false;
    read_result result = read_frame(out, deadline);
    if (result != READ_FRAME)
        return result;
    if (workstation_record_transcode(out->record) == static_cast<int16_t>(INVITATION_TRANSCODE))
    {
        if (out->record.size() != INVITATION_SIZE)
        {
            m_check_failures.push_back(text("invitation of ", static_cast<uint32_t>(out->record.size()),
                                            " bytes, expected ", INVITATION_SIZE));
            return READ_INVALID;
        }
        m_last_invitation_count = be16(&out->record[INVITATION_COUNT_OFFSET]);
        m_credit = m_last_invitation_count;
        m_invitations += 1;
        *was_invitation = true;
    }
    return READ_FRAME;
}

std::vector<uint8_t> workstation_client::build_frame(const std::vector<uint8_t> &record)
{
    std::vector<uint8_t> body = record;
    if (m_faults.vrx_length_delta != 0 && body.size() >= VRX_HEADER_SIZE)
        set_be16(&body[VRX_LENGTH_OFFSET], static_cast<uint16_t>(body.size() + m_faults.vrx_length_delta));
    std::vector<uint8_t> frame(WS_HEADER_SIZE + body.size());
    set_be16(&frame[WS_LENGTH_OFFSET], static_cast<uint16_t>(frame.size() + m_faults.frame_length_delta));
    m_send_sequence += 1u + static_cast<uint32_t>(m_faults.sequence_delta);
    m_faults.sequence_delta = 0;
    set_be32(&frame[WS_SEQUENCE_OFFSET], m_send_sequence);
    md5_of(body.data(), body.size(), &frame[WS_DIGEST_OFFSET]);
    if (m_faults.bad_digest)
        frame[WS_DIGEST_OFFSET] ^= 0xFF;
    if (!body.empty())
        memcpy(&frame[WS_HEADER_SIZE], body.data(), body.size());
    return frame;
}

bool workstation_client::send_record(const std::vector<uint8_t> &record, uint32_t timeout_ms)
{
    uint32_t deadline = ea_get_tick_count() + timeout_ms;
    while (!m_faults.ignore_invitations && m_credit == 0)
    {
        workstation_frame frame;
        bool was_invitation = false;
        read_result result = take_next(&frame, &was_invitation, deadline);
        if (result == READ_TIMEOUT || result == READ_CLOSED)
            return false;
        if (!was_invitation)
            m_received.push_back(frame);
    }
    std::vector<uint8_t> frame = build_frame(record);
    if (!write_all(frame.data(), static_cast<uint32_t>(frame.size())))
        return false;
    if (m_credit > 0)
        m_credit -= 1;
    return true;
}

bool workstation_client::send_raw(const std::vector<uint8_t> &bytes)
{
    return write_all(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool workstation_client::receive(workstation_frame *out, uint32_t timeout_ms)
{
    uint32_t deadline = ea_get_tick_count() + timeout_ms;
    for (;;)
    {
        bool was_invitation = false;
        read_result result = take_next(out, &was_invitation, deadline);
        if (result != READ_FRAME)
            return false;
        if (!was_invitation)
        {
            m_received.push_back(*out);
            return true;
        }
    }
}

bool workstation_client::wait_for_transcode(int16_t transcode, workstation_frame *out, uint32_t timeout_ms)
{
    uint32_t deadline = ea_get_tick_count() + timeout_ms;
    for (;;)
    {
        if (!receive(out, remaining(deadline)))
            return false;
        if (workstation_record_transcode(out->record) == transcode)
            return true;
    }
}

bool workstation_client::wait_for_invitation(uint32_t timeout_ms)
{
    uint32_t deadline = ea_get_tick_count() + timeout_ms;
    for (;;)
    {
        workstation_frame frame;
        bool was_invitation = false;
        if (take_next(&frame, &was_invitation, deadline) != READ_FRAME)
            return false;
        if (was_invitation)
            return true;
        m_received.push_back(frame);
    }
}

bool workstation_client::wait_for_close(uint32_t timeout_ms)
{
    uint32_t deadline = ea_get_tick_count() + timeout_ms;
    while (m_socket >= 0)
    {
        uint8_t scratch[512];
        int32_t n = ea_recv(m_socket, scratch, sizeof scratch);
        if (n > 0)
            continue;
        int32_t error = n == 0 ? 0 : ea_socket_last_error();
        if (n == 0 || (error != EA_WSAEWOULDBLOCK && error != EA_WSAEINTR))
        {
            m_peer_closed = true;
            return true;
        }
        if (remaining(deadline) == 0)
            return false;
        wait_socket(deadline);
    }
    return true;
}

void workstation_client::reset_mid_frame(const std::vector<uint8_t> &record, uint32_t bytes_sent)
{
    std::vector<uint8_t> frame = build_frame(record);
    if (bytes_sent > frame.size())
        bytes_sent = static_cast<uint32_t>(frame.size());
    write_all(frame.data(), bytes_sent);
    close();
}

} // namespace qel_sim
