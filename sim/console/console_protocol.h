// The console protocol as the simulated console sees it: its own offsets and lengths of
// the packets a gateway sends and the requests it accepts, the reason-code texts the
// operator sees, and a checker that says what is wrong with a received packet. Written
// from the console packet formats, independently of the gateway's code, so that it catches the
// gateway's faults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim_console
{

// Transcodes.
enum : uint16_t
{
    TC_KOVA_LOG_MESSAGE = 10000,
    TC_USER_INFORMATION_REQUEST = 10001,
    TC_VERSION_CHECK = 10002,
    TC_USER_INFORMATION_HEADER = 10003,
    TC_USER_INFORMATION_DATA = 10004,
    TC_USER_INFORMATION_RESPONSE = 10005,
    TC_BOX_INFORMATION_REQUEST = 6500,
    TC_BOX_INFORMATION_HEADER = 6501,
    TC_BOX_INFORMATION_DATA = 6502,
    TC_BOX_INFORMATION_RESPONSE = 6503,
    TC_RESTART = 8000,
};

enum : uint32_t
{
    GATEWAY_VERSION = 41402,
    REQUEST_LENGTH = 40,     // what this console sends to a gateway of version 41402
    OLD_REQUEST_LENGTH = 38, // what it sends to an older gateway
};

// A packet as received: its bytes, length field included.
struct packet
{
    std::vector<uint8_t> bytes;

    uint16_t u16(size_t offset) const
    {
        return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
    }
    uint32_t u32(size_t offset) const
    {
        return static_cast<uint32_t>(u16(offset)) | (static_cast<uint32_t>(u16(offset + 2)) << 16);
    }
    uint16_t length() const { return u16(0); }
    uint16_t transcode() const { return u16(20); }
    uint32_t time() const { return u32(22); }
};

// Decoded fields of the packets that carry them.
struct log_event
{
    uint16_t box_id;
    uint32_t user_id;
    uint16_t reason_code;
    uint32_t extra_info;
};
log_event decode_log_event(const packet &p);

// A request of `length` bytes: the length, the transcode at 20 (as far as it fits), zeros.
std::vector<uint8_t> build_request(uint16_t transcode, uint16_t length = REQUEST_LENGTH);
// The bytes of a frame with an arbitrary length field and `size` bytes in all.
std::vector<uint8_t> build_frame(uint16_t length_field, size_t size, uint16_t transcode);

// Packets as a gateway sends them: the version check (34 bytes, version at 30) and a
// console event (42 bytes: time at 22, box id at 30, user id at 32, reason at 36, extra
// information at 38).
std::vector<uint8_t> build_version_message(uint32_t version = GATEWAY_VERSION);
std::vector<uint8_t> build_log_event(const log_event &event, uint32_t time);

// The console's text for a reason code, or "No description for reason code [%d]".
std::string reason_text(uint16_t code);
// The console's text of a logon status.
std::string logon_status_text(uint16_t status);
// Empty when the packet is as the layout says (its length fits its transcode, the bytes
// that no field names are zero, the version check carries time 0); otherwise what is wrong.
std::string check_packet(const packet &p);
// One line in readable form.
std::string describe(const packet &p);

} // namespace sim_console
