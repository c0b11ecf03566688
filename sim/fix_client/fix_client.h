// A simulated FIX 4.2 client of the gateway for tests, the demo and benchmarks: an
// initiator of the same FIX engine, validating what it receives against the dialect's
// client dictionary. It follows the gateway's logon road: its Logon carries the
// password, the front-end version and the engine's release mark; it waits for the
// gateway's Logon answer with the stream count (6014), asks for the journal with one
// LastHostMessageTime per stream (TradingSessionStatusRequest), takes the replayed
// messages and is ready at the TradingSessionStatus. It then sends the dialect's
// requests as the caller spells them, field by field, and keeps every message it receives.
//
// This header includes nothing of the engine, so C++17 tests and benchmarks can use it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qel_sim
{

// Tags the client itself writes or reads, from the dialect's tables.
enum : int
{
    FIX_TAG_PASSWORD = 554,
    FIX_TAG_NEW_PASSWORD = 925,
    FIX_TAG_RAW_DATA_LENGTH = 95,
    FIX_TAG_RAW_DATA = 96,
    FIX_TAG_TEXT = 58,
    FIX_TAG_NO_LEGS = 555,
    FIX_TAG_LEG_SYMBOL = 600,
    FIX_TAG_STREAM_COUNT = 6014,
    FIX_TAG_NO_LAST_HOST_TIMES = 6015,
    FIX_TAG_LAST_HOST_MESSAGE_TIME = 6001,
    FIX_TAG_VALID_LOGON_MARK = 99999,
};

struct fix_client_field
{
    int tag;
    std::string value;
};
using fix_client_fields = std::vector<fix_client_field>;

struct fix_client_options
{
    std::string address = "127.0.0.1";
    uint16_t port = 0;
    std::string local_address; // the client's own address (127.0.0.2, say); empty: the system's choice
    std::string sender_comp_id = "12,AB,0"; // trader id, member id, branch id
    std::string target_comp_id = "GATEWAY";
    std::string password = "secret";
    std::string new_password;                // sent when not empty
    std::string front_end_version = "12345"; // RawData; its length is RawDataLength
    int heart_beat_interval = 30;
    int logon_timeout_seconds = 30; // the gateway holds the Logon while the exchange signs the user on
    std::string dictionary;         // client dictionary file; empty: the one built with the project
    std::string work_folder;        // file store and logs; empty: memory store, no logs
};

enum class fix_client_state
{
    stopped,
    connecting, // Logon sent, no answer yet
    logged_on,  // the gateway's Logon arrived with the stream count
    journal_requested,
    ready,      // TradingSessionStatus received
    logged_out, // Logout received or the session ended
};

struct fix_client_message
{
    std::string type;    // MsgType
    std::string text;    // the whole message, fields separated by '|'
    bool poss_resend;    // PossResend (97) = Y
    bool administrative; // a session-level message
};

class fix_client
{
  public:
    explicit fix_client(const fix_client_options &options);
    ~fix_client();
    fix_client(const fix_client &) = delete;
    fix_client &operator=(const fix_client &) = delete;

    // Starts the initiator; false with the reason in *error.
    bool start(std::string *error);
    // Logs out (when logged on) and stops; also done by the destructor.
    void stop();

    fix_client_state state() const;
    // Waits until the state is at least `wanted` (or logged out); true when it got there.
    bool wait_for_state(fix_client_state wanted, uint32_t timeout_ms) const;
    // Stream count of the gateway's Logon answer, -1 before it.
    int stream_count() const;
    // Text (58) of the Logout that ended the session, empty when none came.
    std::string logout_text() const;

    // TradingSessionStatusRequest with one LastHostMessageTime per given time
    // ("YYYYMMDD-HH:MM:SS"); an empty list sends one time of 19800101-00:00:00 per stream.
    bool request_journal(const std::vector<std::string> &last_host_message_times);

    // Application messages of the dialect, body fields in the given order. Legs are the
    // entries of the NoLegs (555) group, each beginning with LegSymbol (600).
    bool send_new_order_single(const fix_client_fields &body);
    bool send_order_cancel_request(const fix_client_fields &body);
    bool send_order_cancel_replace_request(const fix_client_fields &body);
    bool send_spread_multi_leg_single(const fix_client_fields &body,
                                      const std::vector<fix_client_fields> &legs);
    bool send_spread_cancel_replace_request(const fix_client_fields &body,
                                            const std::vector<fix_client_fields> &legs);
    bool send_position_maintenance_request(const fix_client_fields &body);
    // Any message type, for requests the gateway must refuse.
    bool send_message(const std::string &type, const fix_client_fields &body,
                      const std::vector<fix_client_fields> &legs = {});

    // The session-level Rejects this client sent: every message its engine refused (a
    // value or a field the client dictionary does not take), as the Reject's text.
    std::vector<std::string> refused() const;

    // Every message received so far, in order (heart-beats left out).
    std::vector<fix_client_message> received() const;
    // Waits until at least `count` messages of the type have arrived.
    bool wait_for_messages(const std::string &type, size_t count, uint32_t timeout_ms) const;
    // Called with every message as it is kept (heart-beats left out), on the engine's
    // thread and under the client's lock: benchmarks time replies here instead of
    // scanning received(). It must not call back into the client.
    void on_message(std::function<void(const fix_client_message &)> observer);

  private:
    struct impl;
    std::unique_ptr<impl> m_impl;
};

const char *fix_client_state_name(fix_client_state state);

} // namespace qel_sim
