// A plain acceptor of the same FIX engine that plays the gateway's part only as far as a
// FIX client sees it: it answers a Logon with the stream count, a journal request with
// the trading session status, and each NewOrderSingle at once with an ExecutionReport of
// the same fields the gateway's entry confirmation carries. Benchmarks measure it beside
// the gateway to show what the engine alone costs on the same machine.
//
// This header includes nothing of the engine, so C++17 benchmarks can use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qel_sim
{

struct fix_echo_acceptor_options
{
    uint16_t port = 0;
    std::string sender_comp_id = "GATEWAY";
    std::vector<std::string> clients = {"12,AB,0"}; // the TargetCompIDs it knows
    int stream_count = 1;
    std::string dictionary; // acceptor dictionary; empty: the one built with the project
};

class fix_echo_acceptor
{
  public:
    explicit fix_echo_acceptor(const fix_echo_acceptor_options &options);
    ~fix_echo_acceptor();
    fix_echo_acceptor(const fix_echo_acceptor &) = delete;
    fix_echo_acceptor &operator=(const fix_echo_acceptor &) = delete;

    // Listens on the port; false with the reason in *error.
    bool start(std::string *error);
    void stop();
    // NewOrderSingles answered so far.
    uint64_t orders_answered() const;

  private:
    struct impl;
    std::unique_ptr<impl> m_impl;
};

} // namespace qel_sim
