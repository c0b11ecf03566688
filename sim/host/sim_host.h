// The simulated exchange host. It listens on loopback, reassembles the frames the
// gateway sends, checks each frame's length, digest and sequence number, records every
// read, frame and packet with the tick at which it arrived, and sends frames it encodes
// itself. Faults can be injected on both directions: refused connections, drops before
// or in the middle of a frame, frames with a wrong digest, a short or bad length, a gap
// or a duplicate in the sequence, one-byte writes, coalesced frames and a slow reader.
//
// Behaviours (box sign-on, user replies) are added from outside: a handler is called
// for every record the host receives and may send records back through the host.
// One service thread owns the sockets; the calls below are safe from any thread, and a
// handler may call the send functions from the service thread itself.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/host/sim_host_records.h"

struct ea_sync_info;

namespace qel_sim
{

struct host_options
{
    std::string address = "127.0.0.1";
    uint16_t port = 0;             // 0: the system chooses one, port() tells which
    uint32_t lifetime_ms = 300000; // the host stops by itself after this
    bool check_sequence = true;    // report sequence numbers that do not follow on
};

// One read of the host socket.
struct host_read
{
    uint32_t tick;
    uint32_t connection; // 1 for the first accepted connection, and so on
    uint32_t length;
};

struct host_frame
{
    uint32_t tick;
    uint32_t connection;
    uint32_t read_index; // index in reads() of the read that completed the frame
    uint16_t sequence_number;
    uint16_t last_sequence_number;
    bool digest_ok;
    bool sequence_ok;
    bool packet_ok;  // the body split into whole records
    uint16_t weight; // records counted in the packet
    bytes frame;     // the whole frame, header included
    bytes body() const { return bytes(frame.begin() + HOST_HEADER_SIZE, frame.end()); }
};

// One record out of a received packet.
struct host_record
{
    uint32_t connection;
    uint32_t frame_index; // index in frames()
    uint16_t transcode;
    bytes data;
    // From the frame the record came in: its two sequence numbers, the number of records
    // the packet held and this record's place among them (from 0).
    uint16_t sequence_number = 0;
    uint16_t last_sequence_number = 0;
    uint16_t entries = 0;
    uint16_t entry = 0;
};

enum class host_error_kind
{
    bad_length, // framing lost: the host drops the connection
    digest,
    sequence,
    packet,
};

struct host_error
{
    host_error_kind kind;
    uint32_t connection;
    std::string detail;
};

enum class write_mode
{
    whole,    // one write per send call
    one_byte, // every byte in a write of its own, with a pause between
};

class sim_host
{
  public:
    typedef std::function<void(sim_host &, const host_record &)> record_handler;
    // Called once per received frame, before the record handler sees its records.
    typedef std::function<void(sim_host &, const host_frame &, const std::vector<host_record> &)>
        frame_handler;
    // Called on every pass of the service thread (at least every few milliseconds).
    typedef std::function<void(sim_host &)> tick_handler;
    // Called when a connection is accepted (open true) or closed by either side.
    typedef std::function<void(sim_host &, uint32_t connection, bool open)> connection_handler;

    explicit sim_host(host_options options = host_options());
    ~sim_host();
    sim_host(const sim_host &) = delete;
    sim_host &operator=(const sim_host &) = delete;

    // Listens and starts the service thread; false when the port cannot be had.
    bool start();
    void stop();
    uint16_t port() const { return m_port; }

    // What arrived so far (copies).
    std::vector<host_read> reads() const;
    std::vector<host_frame> frames() const;
    std::vector<host_record> records() const;
    std::vector<host_error> errors() const;
    size_t frame_count() const;
    uint32_t connections_accepted() const;
    uint32_t open_connections() const;
    // Connections that the gateway closed (the host saw the end of the stream).
    uint32_t connections_closed_by_peer() const;
    void clear_received();

    bool wait_for_frames(size_t count, int timeout_ms) const;
    bool wait_for_connections(uint32_t accepted, int timeout_ms) const;
    bool wait_for_peer_close(uint32_t closed, int timeout_ms) const;

    void on_record(record_handler handler);
    void on_frame(frame_handler handler);
    void on_tick(tick_handler handler);
    void on_connection(connection_handler handler);

    // Sending to the newest open connection. The host numbers its frames 1, 2, ... per
    // connection and puts the last sequence number it received in each. False when no
    // connection is open or the write did not complete.
    bool send_records(const std::vector<bytes> &records, frame_fault fault = frame_fault::none);
    bool send_body(const bytes &body, frame_fault fault = frame_fault::none);
    // Several frames in one write.
    bool send_coalesced(const std::vector<bytes> &bodies);
    bool send_raw(const bytes &raw);
    // A frame with the sequence numbers given by the caller, to one connection (0: the
    // newest); for behaviours that keep their own session numbering across connections.
    // Of the faults only wrong_digest, short_frame and bad_length apply here.
    bool send_frame(uint32_t connection, const bytes &body, uint16_t sequence_number,
                    uint16_t last_sequence_number, frame_fault fault = frame_fault::none);
    bool is_open(uint32_t connection);
    void set_write_mode(write_mode mode);

    // Faults of the connection.
    void refuse_connections(bool refuse); // closes or reopens the listener
    bool drop_connection();               // closes the newest connection now
    bool drop_connection(uint32_t connection);
    bool drop_mid_frame(const bytes &body); // half of a frame, then closes
    // Reads at most `bytes_per_read` bytes, then pauses `pause_ms`; 0, 0 for normal.
    void set_slow_reader(uint32_t bytes_per_read, uint32_t pause_ms);

  private:
    struct connection;

    void service();
    bool open_listener();
    void close_listener();
    void accept_all();
    void read_all();
    void read_connection(connection &c);
    void take_frames(connection &c, uint32_t read_index);
    void close_connection(connection &c);
    connection *newest();
    connection *numbered(uint32_t number); // 0: the newest
    void deliver_events();                 // connection events, then the tick handler
    bool write_all(connection &c, const uint8_t *data, size_t length, write_mode mode);
    bytes frame_for(connection &c, const bytes &body, frame_fault fault);
    // Runs `action` on the service thread and returns its result.
    bool on_service(const std::function<bool()> &action);

    host_options m_options;
    uint16_t m_port = 0;
    int32_t m_listener = -1;
    ea_sync_info *m_event = nullptr;
    std::thread m_thread;
    bool m_running = false;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::deque<std::function<void(bool)>> m_actions; // under m_lock; the argument: run it
    bool m_stop = false;                             // under m_lock
    std::vector<host_read> m_reads;
    std::vector<host_frame> m_frames;
    std::vector<host_record> m_records;
    std::vector<host_error> m_errors;
    uint32_t m_accepted = 0;
    uint32_t m_open = 0;
    uint32_t m_peer_closed = 0;
    record_handler m_handler;
    frame_handler m_frame_handler;
    tick_handler m_tick_handler;
    connection_handler m_connection_handler;
    write_mode m_write_mode = write_mode::whole;
    uint32_t m_slow_bytes = 0;
    uint32_t m_slow_pause_ms = 0;

    std::vector<std::unique_ptr<connection>> m_connections;     // service thread only
    std::vector<std::pair<uint32_t, bool>> m_connection_events; // service thread only
};

} // namespace qel_sim
