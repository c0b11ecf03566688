// console_client: a simulated operator console on one of a gateway's two loopback
// console ports. It frames its own packets, reads the gateway's packets whole, and can
// misbehave on purpose: arbitrary length fields, short requests, unknown transcodes,
// requests split over many writes, or never reading at all. Every wait has a deadline
// on the steady clock (not the gateway's tick, which tests move).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/console/console_protocol.h"

namespace sim_console
{

enum class receive_result
{
    packet,    // a whole packet arrived
    timed_out, // nothing whole within the time
    closed,    // the gateway closed the connection (or it failed)
};

class console_client
{
  public:
    console_client() = default;
    ~console_client();
    console_client(const console_client &) = delete;
    console_client &operator=(const console_client &) = delete;

    // Connects to 127.0.0.1:port; false when refused.
    bool connect(uint16_t port);
    void close();
    // Ends the connection with a reset instead of an orderly close.
    void reset();
    bool connected() const { return m_socket >= 0; }

    // Writes all bytes within the time; false when the connection failed or it took too long.
    bool send_bytes(const std::vector<uint8_t> &bytes, int timeout_ms = 2000);
    // Writes the bytes in pieces of `piece` bytes with a pause between them.
    bool send_split(const std::vector<uint8_t> &bytes, size_t piece, int pause_ms);
    bool send_request(uint16_t transcode, uint16_t length = REQUEST_LENGTH);

    receive_result receive(packet *out, int timeout_ms);
    // Receives until `count` packets arrived; fewer when the time ran out or it closed.
    std::vector<packet> receive_many(size_t count, int timeout_ms);
    // True once the gateway has closed the connection (reading and dropping what comes).
    bool wait_closed(int timeout_ms);
    // True when nothing arrives (and the connection stays up) for the whole time.
    bool stays_silent(int timeout_ms);

  private:
    int m_socket = -1;
    std::vector<uint8_t> m_pending; // bytes read but not yet a whole packet
};

} // namespace sim_console
