// A FIX client whose reader hangs while its sender runs: over a plain socket it takes the
// gateway's logon road (Logon, the Logon answer with the stream count, the journal
// request, the trading session status), then sends NewOrderSingles as fast as the
// connection takes them and never reads again. It tells how many orders the connection
// took and whether, and when, the gateway ended the connection.
//
// This header includes nothing of the engine, so C++17 tests and benchmarks can use it.
#pragma once

#include <cstdint>
#include <string>

namespace qel_sim
{

struct fix_deaf_client_options
{
    uint16_t port = 0;
    std::string local_address; // the client's own address (127.0.0.2, say); empty: the system's choice
    std::string sender_comp_id = "12,AB,0";
    std::string target_comp_id = "GATEWAY";
    std::string password = "secret";
    std::string front_end_version = "12345";
    uint32_t logon_timeout_ms = 30000; // for the whole logon road
};

struct fix_deaf_client_outcome
{
    uint64_t orders_sent = 0; // whole orders the connection took
    bool ended_by_gateway = false;
    double ended_after_seconds = 0; // from the first order, when the gateway ended it
};

class fix_deaf_client
{
  public:
    explicit fix_deaf_client(const fix_deaf_client_options &options);
    ~fix_deaf_client();
    fix_deaf_client(const fix_deaf_client &) = delete;
    fix_deaf_client &operator=(const fix_deaf_client &) = delete;

    // Connects and takes the logon road up to the trading session status; false with the
    // reason in *error. Without take_journal it stops reading once it has asked for the
    // journal: the gateway's replay then waits unread.
    bool log_on(std::string *error, bool take_journal = true);
    // Sends orders without reading for `duration_ms`, or until the gateway ends the
    // connection.
    fix_deaf_client_outcome send_without_reading(uint32_t duration_ms);
    void close();

  private:
    std::string next_message(const std::string &type, const std::string &body);
    bool read_until(const std::string &type, std::string *message, std::string *error);

    fix_deaf_client_options m_options;
    int m_socket = -1;
    uint32_t m_next_sequence = 1;
    std::string m_unread;
};

} // namespace qel_sim
