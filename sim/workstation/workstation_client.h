// A simulated trader workstation for tests, the demo and benchmarks. It connects to the
// gateway's workstation port, frames each VRX record behind its own 22-byte network
// header (length, 32-bit sequence number, MD5 of the record through OpenSSL), honours the
// gateway's invitations, and checks every frame it receives (length, digest, sequence,
// VRX length). On request it misbehaves in the ways a broken workstation can.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ea_sync_info;

namespace qel_sim
{

// Layout of the workstation link, written from the exchange's record formats.
enum : uint32_t
{
    WS_HEADER_SIZE = 22,
    WS_LENGTH_OFFSET = 0,
    WS_SEQUENCE_OFFSET = 2,
    WS_DIGEST_OFFSET = 6,
    WS_DIGEST_SIZE = 16,
    WS_MAX_FRAME = 2047,
    VRX_HEADER_SIZE = 40,
    VRX_USER_ID_OFFSET = 0,
    VRX_TRANSCODE_OFFSET = 10,
    VRX_ERROR_CODE_OFFSET = 12,
    VRX_LENGTH_OFFSET = 38,
    INVITATION_TRANSCODE = 15000,
    INVITATION_SIZE = 42,
    INVITATION_COUNT_OFFSET = 40,
};

// How the next frames are spoilt; several may be combined.
struct workstation_faults
{
    bool bad_digest = false;         // one digest byte flipped
    int32_t frame_length_delta = 0;  // added to the length field (framing) of each frame
    int32_t vrx_length_delta = 0;    // added to the VRX header's length field (digest still right)
    int32_t sequence_delta = 0;      // added to each frame's sequence number once (wrong or skipped)
    bool ignore_invitations = false; // send whatever the invitation count says
    bool one_byte_writes = false;    // every frame written one byte per call
    uint32_t mid_frame_pause_ms = 0; // every frame written in two halves this far apart
};

struct workstation_frame
{
    uint32_t sequence = 0;
    std::vector<uint8_t> record; // the VRX record, network header stripped
};

// A VRX record in the internal header order: user id, transcode, error code 0, length.
std::vector<uint8_t> workstation_make_record(int16_t transcode, uint32_t user_id, uint16_t length);
int16_t workstation_record_transcode(const std::vector<uint8_t> &record);

class workstation_client
{
  public:
    workstation_client();
    ~workstation_client();
    workstation_client(const workstation_client &) = delete;
    workstation_client &operator=(const workstation_client &) = delete;

    // Connects to address:port; from a given local address when `from` is not empty (a
    // trader on 127.0.0.2, say, beside peers on 127.0.0.1).
    bool connect(const std::string &address, uint16_t port, const std::string &from = "");
    bool connected() const { return m_socket >= 0; }

    workstation_faults &faults() { return m_faults; }

    // Frames and sends one record. Unless invitations are ignored, waits (up to timeout_ms,
    // reading what arrives meanwhile) until the gateway has invited one more frame.
    bool send_record(const std::vector<uint8_t> &record, uint32_t timeout_ms);
    // Writes bytes as they are (frames built by the caller).
    bool send_raw(const std::vector<uint8_t> &bytes);
    // Builds the frame of a record as send_record would, with the faults applied; the
    // client's sequence number advances.
    std::vector<uint8_t> build_frame(const std::vector<uint8_t> &record);

    // Next frame other than an invitation (invitations only add credit). False on time-out,
    // on a frame that fails a check, or when the gateway closed the connection.
    bool receive(workstation_frame *out, uint32_t timeout_ms);
    // Reads until a record of this transcode arrives; others are kept in received().
    bool wait_for_transcode(int16_t transcode, workstation_frame *out, uint32_t timeout_ms);
    // Reads until an invitation arrives.
    bool wait_for_invitation(uint32_t timeout_ms);
    // Reads and discards until the connection is gone (closed by either side).
    bool wait_for_close(uint32_t timeout_ms);

    // Sends part of a frame, then drops the connection without reading what waits (so
    // the kernel resets it when anything is unread).
    void reset_mid_frame(const std::vector<uint8_t> &record, uint32_t bytes_sent);
    void close();

    uint32_t credit() const { return m_credit; }
    uint32_t invitations() const { return m_invitations; }
    uint32_t last_invitation_count() const { return m_last_invitation_count; }
    uint32_t next_send_sequence() const { return m_send_sequence + 1; }
    bool peer_closed() const { return m_peer_closed; }
    // Every check that failed on a received frame, in order (empty when all passed).
    const std::vector<std::string> &check_failures() const { return m_check_failures; }
    const std::vector<workstation_frame> &received() const { return m_received; }

  private:
    enum read_result
    {
        READ_FRAME,
        READ_TIMEOUT,
        READ_CLOSED,
        READ_INVALID,
    };
    read_result read_frame(workstation_frame *out, uint32_t deadline);
    bool read_exact(uint8_t *buffer, uint32_t length, uint32_t deadline, read_result *why);
    bool write_all(const uint8_t *bytes, uint32_t length);
    bool wait_socket(uint32_t deadline);
    // Reads one frame; an invitation is taken into the credit and reported as true too.
    read_result take_next(workstation_frame *out, bool *was_invitation, uint32_t deadline);

    int32_t m_socket = -1;
    ea_sync_info *m_event = nullptr;
    bool m_library_started = false;
    workstation_faults m_faults;
    uint32_t m_send_sequence = 0;
    uint32_t m_receive_sequence = 0;
    uint32_t m_credit = 0;
    uint32_t m_invitations = 0;
    uint32_t m_last_invitation_count = 0;
    bool m_peer_closed = false;
    std::vector<std::string> m_check_failures;
    std::vector<workstation_frame> m_received;
};

} // namespace qel_sim
