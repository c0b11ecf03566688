// Hostile and broken peers of the gateway, for the tests and the attack benchmark. Each
// repeats one thing a user with a workstation, a console or a FIX connection can do to
// the gateway, and counts what the gateway did about it:
//   - a signed-on workstation user who sends the records of the box's own conversation
//     with the host and signs on again for other users;
//   - connections that take workstation slots and send one byte (or nothing), never a
//     sign-on, from one peer address or spread over many;
//   - connections that sign on for no user, with a wrong password, or again for a user
//     who is signed on already, again and again;
//   - a console that fills the interactive port with requests and goes away unread;
//   - a FIX connection without a logon that announces a huge message and sends filler;
//   - a caller of the FIX engine's HTTP status page that asks it to change the sessions;
//   - connections to the FIX port from one address that send nothing, beside a FIX client
//     from another address whose Logon comes late (the party the flood must not push out).
// They build their bytes with their own code (the workstation peer through the simulated
// workstation) and never wait without a deadline.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qel_sim
{

class workstation_client;
class trader;

// The box and host-session transcodes a hostile user sends, in the order sent.
const std::vector<int16_t> &hostile_host_link_transcodes();

// A socket connected to 127.0.0.1, non-blocking underneath, every call bounded in time.
class raw_peer
{
  public:
    raw_peer() = default;
    ~raw_peer();
    raw_peer(const raw_peer &) = delete;
    raw_peer &operator=(const raw_peer &) = delete;

    // Connects from `local_address` when one is given (else from the address the system
    // picks).
    bool connect(uint16_t port, const char *local_address = nullptr);
    bool connected() const { return m_socket >= 0; }
    // The connected socket (-1 when closed), for a caller that drives the connection itself.
    int descriptor() const { return m_socket; }
    // True once the gateway has closed or reset the connection (reads and drops what came).
    bool closed_by_peer();
    // Writes everything; false when the gateway closed or reset the connection, or the time
    // ran out with bytes still unsent (then *timed_out is set).
    bool send_all(const std::string &bytes, uint32_t timeout_ms, bool *timed_out = nullptr);
    // Reads until the gateway closes the connection; true when it did within the time.
    // What arrived is kept in received().
    bool wait_closed(uint32_t timeout_ms);
    const std::string &received() const { return m_received; }
    void close();

  private:
    int m_socket = -1;
    std::string m_received;
};

struct hostile_workstation_counts
{
    uint32_t host_link_records_sent = 0;
    uint32_t second_sign_ons_sent = 0;
    uint32_t already_signed_on_answers = 0; // 2301 with 16004 for a second sign-on
    uint32_t other_answers = 0;             // anything else that came back
};

// A workstation user who signs on properly, then attacks the host link through its own
// session.
class hostile_workstation
{
  public:
    hostile_workstation(uint16_t port, uint32_t user_id);
    ~hostile_workstation();

    bool sign_on(uint32_t timeout_ms);
    // One round: every transcode of hostile_host_link_transcodes(), then a sign-on for
    // `other_user`. False when the gateway closed the connection or stopped inviting.
    bool attack_round(uint32_t other_user, uint32_t timeout_ms);
    // Signs off; true when the gateway ended the session for it.
    bool sign_off(uint32_t timeout_ms);
    const hostile_workstation_counts &counts() const { return m_counts; }
    bool connected() const;

  private:
    void take_answers();

    uint16_t m_port;
    uint32_t m_user_id;
    std::unique_ptr<workstation_client> m_client;
    std::unique_ptr<trader> m_trader;
    hostile_workstation_counts m_counts;
    size_t m_seen = 0; // records of m_client->received() already counted
};

// The local addresses of `count` attackers: 127.1.0.1, 127.1.0.2, ... (the whole of 127/8
// is loopback), apart from 127.0.0.1 and from the honest parties' 127.0.0.2.
std::vector<std::string> attacker_addresses(uint32_t count);

// How slot holders hold: from which local addresses (holder i from address i modulo their
// number; none: the address the system picks), whether they send the first byte of a frame
// or nothing at all, and (when they reconnect) how soon. Rotating holders take the next
// address of the pool for every connection instead, so that no address is seen twice
// until the pool has gone round.
struct slot_holding
{
    std::vector<std::string> addresses;
    bool silent = false;
    uint32_t reconnect_after_ms = 0; // a reconnecting holder's pause after it was dropped
    bool rotate = false;
};

// Connections that each take a workstation slot and send one byte of a frame (or nothing).
class slot_holders
{
  public:
    // Opens up to `count` connections; the number opened.
    uint32_t open(uint16_t port, uint32_t count, const slot_holding &how = slot_holding());
    // How many of them the gateway has closed within the time (waiting for all).
    uint32_t wait_closed(uint32_t timeout_ms);
    void close_all();

  private:
    std::vector<std::unique_ptr<raw_peer>> m_peers;
};

// Slot holders that connect again whenever the gateway drops them (at once, or after the
// pause `how` names), each holding as `how` says again, on a thread of their own until
// stop().
class reconnecting_slot_holders
{
  public:
    ~reconnecting_slot_holders();
    void start(uint16_t port, uint32_t count, const slot_holding &how = slot_holding());
    void stop();
    uint32_t reconnects() const { return m_reconnects; }

  private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<uint32_t> m_reconnects{0};
};

// Connects to the console's interactive port, reads nothing, sends `requests` user
// information requests in one write and closes with the replies unread, so that the
// gateway's replies meet a reset. False when the port refused the connection.
bool console_request_and_vanish(uint16_t port, uint32_t requests);

struct fix_flood_result
{
    bool connected = false;
    bool cut = false;        // the gateway closed or reset the connection
    uint64_t bytes_sent = 0; // before it was cut (or before the limit or time ran out)
};

// A FIX connection that sends "8=FIX.4.2|9=99999999|35=A|" and then filler, up to
// `limit_bytes`, until the gateway cuts it or the time runs out.
fix_flood_result fix_flood(uint16_t port, uint64_t limit_bytes, uint32_t timeout_ms);

// The status line of the HTTP answer to "GET <path>", or "" when none came.
std::string http_status(uint16_t port, const std::string &path, uint32_t timeout_ms);

// What a connection to the workstation port does before it would sign on, in an
// unsigned_connection_flood.
enum class unsigned_connection_attack
{
    close_at_once,              // closes as soon as it is connected
    close_after_invitation,     // waits for its first invitation, then closes
    bad_frame_after_invitation, // after its invitation: a whole frame too short for the network
                                // and VRX headers, then a length field below 3; waits to be closed
};

// Connections from 127.0.0.1 that each do one thing of unsigned_connection_attack and then
// connect again, on `threads` threads of their own until stop(). None ever signs on.
class unsigned_connection_flood
{
  public:
    ~unsigned_connection_flood();
    void start(uint16_t port, unsigned_connection_attack attack, uint32_t threads);
    void stop();
    uint32_t connections() const { return m_connections; } // connects that succeeded
    // Connects tried: one that failed here may still have reached the gateway (a connect
    // given up on this side after the gateway's kernel completed it).
    uint32_t attempts() const { return m_attempts; }
    uint32_t invited() const { return m_invited; } // connections that got an invitation
    // Connections the gateway's system took: it sent something on them or acknowledged their
    // close, so the gateway accepts each and accounts for it. A connect that succeeded need
    // not be one: when the listen queue is full, the gateway's system drops the handshake's
    // last ACK and everything after it, and the connection reaches the gateway later, or
    // never (pf_socket_fin_state).
    uint32_t taken() const { return m_taken; }

  private:
    void run(uint16_t port, unsigned_connection_attack attack);
    // Closes the connections whose close the gateway's system acknowledged (counted as taken)
    // or that ended without it; at the end (`last`), the rest too, uncounted.
    void settle(std::vector<std::unique_ptr<raw_peer>> &closing, bool last);

    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop{false};
    std::atomic<uint32_t> m_connections{0};
    std::atomic<uint32_t> m_attempts{0};
    std::atomic<uint32_t> m_invited{0};
    std::atomic<uint32_t> m_taken{0};
};

// What the connections of a sign_on_flood sign on as.
enum class sign_on_attack
{
    no_user,        // user id 0: the gateway refuses it itself (16042)
    wrong_password, // a user the host knows, with a password that is not the user's (16053)
    second_sign_on, // a user signed on already, on a new connection (16004); the flood signs
                    // the user on first, on a connection it keeps
};

struct sign_on_flood_options
{
    sign_on_attack attack = sign_on_attack::no_user;
    // The user a wrong password or a second sign-on names, and the password sent (for a
    // wrong one: not the user's).
    uint32_t user_id = 0;
    std::string password;
    // Threads, each with one connection at a time; thread i connects from address i modulo
    // their number, or (rotating) every connection of any thread from the next address of
    // the pool.
    uint32_t threads = 4;
    std::vector<std::string> addresses = {"127.0.0.1"};
    bool rotate = false;
    // The most a connection waits for its answer, and then for its close.
    uint32_t answer_ms = 5000;
};

// Connections to the workstation port that each send one sign-on, wait for the answer and
// for the gateway to close them, and connect again, on threads of their own until stop().
class sign_on_flood
{
  public:
    sign_on_flood();
    ~sign_on_flood();
    // False when the user of a second_sign_on could not be signed on first (nothing runs).
    bool start(uint16_t port, const sign_on_flood_options &options);
    void stop();
    uint32_t attempts() const { return m_attempts; }       // connects tried
    uint32_t connections() const { return m_connections; } // connects that succeeded
    uint32_t sign_ons() const { return m_sign_ons; }       // sign-ons sent (after an invitation)
    uint32_t refused() const { return m_refused; }         // answered with an error code
    uint32_t accepted() const { return m_accepted; }       // answered without one: got through
    // The refusals by error code.
    std::map<int16_t, uint32_t> refusals() const;

  private:
    void run(uint16_t port, const std::string &address);

    sign_on_flood_options m_options;
    std::unique_ptr<workstation_client> m_holder; // the signed-on user of a second_sign_on
    std::unique_ptr<trader> m_holder_trader;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop{false};
    std::atomic<uint32_t> m_attempts{0}, m_connections{0}, m_sign_ons{0}, m_refused{0}, m_accepted{0};
    std::atomic<uint32_t> m_next_address{0}; // of a rotating flood
    mutable std::mutex m_lock;
    std::map<int16_t, uint32_t> m_refusals;
};

// Connections to the FIX port that send nothing, from one local address, on threads of
// their own until stop(): each thread connects again and again, `per_second` times a
// second at most (0: no limit), and keeps its newest `held` connections open. Before it
// opens one more it waits up to 200 ms for the gateway to close its oldest, and then
// closes it itself: the flood goes as fast as the acceptor takes connections in, and the
// acceptor always has a crowd of new silent connections from that address.
class silent_connect_flood
{
  public:
    ~silent_connect_flood();
    void start(const std::string &local_address, uint16_t port, uint32_t threads, uint32_t per_second,
               uint32_t held = 160);
    void stop();
    uint64_t connects() const { return m_connects; }

  private:
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_connects{0};
};

struct fix_late_logon_options
{
    std::string local_address = "127.0.0.2"; // the client's own address
    uint16_t port = 0;
    std::string sender_comp_id;
    std::string target_comp_id;
    std::string password = "secret";
    std::string front_end_version = "12345";
    uint32_t pause_ms = 100;     // between the connect and the Logon
    uint32_t timeout_ms = 10000; // for sending the Logon and for its answer
};

enum class fix_late_logon_outcome
{
    not_connected,
    logged_on,  // the gateway answered with a Logon
    logged_out, // it answered with a Logout
    cut,        // it closed the connection without an answer
    no_answer,  // nothing came within the time
};

const char *fix_late_logon_outcome_name(fix_late_logon_outcome outcome);

// A FIX client whose Logon comes a while after its connect, as one across a WAN or behind
// a proxy: it connects from its own local address, pauses, sends a Logon (sequence number
// 1 with ResetSeqNumFlag, the password and the front-end version the gateway asks for)
// and waits for the first answer, then closes the connection. *logout_text gets the Text
// (58) of a Logout answer.
fix_late_logon_outcome fix_late_logon(const fix_late_logon_options &options,
                                      std::string *logout_text = nullptr);

} // namespace qel_sim
