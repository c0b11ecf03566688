// A crowd of honest traders who sign on together, as at the start of a day or when every
// workstation connects again after a restart of the gateway: each on a thread and a
// connection of its own, each from one of the crowd's local addresses (one office behind
// one address, or several). Each connects, signs on, asks for system information and
// enters one order, and says how far it got and how long its sign-on took. For the
// end-to-end tests and the attack benchmark.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/workstation/trader.h"
#include "sim/workstation/workstation_client.h"

namespace qel_sim
{

// How a crowd connects. The gateway's listen queue holds as many connects as it has
// workstation slots, so a crowd no larger than the table may connect in the same instant,
// as an office does when its workstations start together. (Connects beyond a full queue
// would meet the kernel's SYN cookies, which leave a connect established on the trader's
// side only: a workstation sends nothing before its invitation, so the gateway would never
// hear of it.) Its sign-ons come together whichever way it connected.
enum class crowd_connects
{
    in_turn, // each once the gateway has invited the one before
    paced,   // one every 100 ms, without waiting for the invitations
    at_once, // all in the same instant
};

struct crowd_member
{
    uint32_t user = 0;
    std::string address; // the local address it connected from
    bool connected = false;
    bool invited = false;   // the gateway's first invitation came
    bool signed_on = false; // the sign-on answered without an error
    int16_t sign_on_error = 0;
    bool informed = false; // system information answered
    bool traded = false;   // its order confirmed
    double sign_on_ms = 0; // from the release of the sign-ons to the sign-on's answer
};

class trader_crowd
{
  public:
    // `count` traders, users first_user, first_user + 1, ...; trader i connects from
    // addresses[i modulo their number].
    trader_crowd(uint16_t port, uint32_t first_user, uint32_t count,
                 const std::vector<std::string> &addresses);
    ~trader_crowd();
    trader_crowd(const trader_crowd &) = delete;
    trader_crowd &operator=(const trader_crowd &) = delete;

    // Connects every trader as `how` says, each trying again for up to `connect_ms` (the
    // gateway may be starting) and waiting up to `answer_ms` for an invitation it waits for.
    void connect(crowd_connects how, uint32_t connect_ms, uint32_t answer_ms);
    // Releases their sign-ons at once and returns when each is done or out of time: a
    // trader not invited yet waits for its invitation first, and each waits up to
    // `answer_ms` for each answer. The connections stay open.
    void sign_on_together(uint32_t answer_ms);
    const std::vector<crowd_member> &members() const { return m_members; }
    uint32_t signed_on() const;
    uint32_t traded() const;
    // Every signed-on trader signs off; how many the gateway let go.
    uint32_t sign_off(uint32_t timeout_ms);
    // The check failures of every connection's frames, "user: failure" each.
    std::vector<std::string> check_failures() const;

  private:
    uint16_t m_port;
    std::vector<crowd_member> m_members;
    std::vector<std::unique_ptr<workstation_client>> m_clients;
    std::vector<std::unique_ptr<trader>> m_traders;
};

} // namespace qel_sim
