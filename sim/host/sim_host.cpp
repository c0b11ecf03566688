// The simulated exchange host's service thread: listener, connections, reassembly and
// checks of what the gateway sends, and the frames it sends back (see sim_host.h).
#include "sim/host/sim_host.h"

#include <chrono>
#include <cstring>

#include "common/ea_time.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/ea_sync_info.h"
#include "platform/core/pf_socket.h"

namespace qel_sim
{

namespace
{
typedef std::chrono::steady_clock steady;

const uint32_t k_read_size = 65536;
const int k_write_deadline_ms = 5000;
const int k_service_call_deadline_ms = 10000;

// The host whose service thread this is, so that a handler's sends run in place.
thread_local const sim_host *t_serving = nullptr;
} // namespace

struct sim_host::connection
{
    int32_t socket = -1;
    uint32_t number = 0;
    bytes buffer;
    bool have_sequence = false;
    uint16_t last_received_sequence = 0;
    uint16_t next_send_sequence = 1;
    steady::time_point resume_reading;
};

sim_host::sim_host(host_options options) : m_options(std::move(options)) {}

sim_host::~sim_host()
{
    stop();
}

bool sim_host::open_listener()
{
    int32_t listener = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    if (listener < 0)
        return false;
    // Without a port given the system chooses one, and port() tells it.
    bool bound = ea_bind(listener, m_options.address.c_str(), m_port) == 0 &&
                 pf_socket_local_port(listener, &m_port) == 0;
    if (!bound || ea_listen(listener, 16) != 0 ||
        ea_sync_info_network_event_select(m_event, listener, EA_FD_ACCEPT) != 0)
    {
        ea_closesocket(listener);
        return false;
    }
    m_listener = listener;
    return true;
}

void sim_host::close_listener()
{
    if (m_listener >= 0)
        ea_closesocket(m_listener);
    m_listener = -1;
}

bool sim_host::start()
{
    if (m_running)
        return true;
    char text[256];
    uint32_t length = sizeof text;
    if (ea_socket_init(text, &length) != EA_SUCCESS)
        return false;
    m_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    m_port = m_options.port;
    if (m_event == nullptr || !open_listener())
    {
        if (m_event != nullptr)
            ea_sync_info_destroy(m_event);
        m_event = nullptr;
        ea_socket_cleanup();
        return false;
    }
    m_stop = false;
    m_running = true;
    m_thread = std::thread(
        [this]
        {
            t_serving = this;
            service();
        });
    return true;
}

void sim_host::stop()
{
    if (!m_running)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    ea_sync_info_set_network_event(m_event);
    m_thread.join();
    m_running = false;
    ea_sync_info_destroy(m_event);
    m_event = nullptr;
    ea_socket_cleanup();
}

void sim_host::service()
{
    steady::time_point end = steady::now() + std::chrono::milliseconds(m_options.lifetime_ms);
    for (;;)
    {
        std::deque<std::function<void(bool)>> actions;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stop)
                break;
            actions.swap(m_actions);
        }
        for (std::function<void(bool)> &action : actions)
            action(true);
        if (steady::now() >= end)
            break;
        int32_t index = -1;
        ea_sync_info_wait_for_multiple_netwrok_event_objects(&m_event, 1, false, 2, &index);
        ea_sync_info_reset_network_event(m_event);
        accept_all();
        read_all();
        deliver_events();
    }
    for (std::unique_ptr<connection> &c : m_connections)
        close_connection(*c);
    m_connections.clear();
    close_listener();
    m_connection_events.clear();
    std::deque<std::function<void(bool)>> late;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
        late.swap(m_actions);
    }
    // Calls that came too late are answered as failed.
    for (std::function<void(bool)> &action : late)
        action(false);
    m_changed.notify_all();
}

void sim_host::accept_all()
{
    if (m_listener < 0)
        return;
    ea_network_events events;
    ea_enum_network_events(m_listener, &events);
    for (;;)
    {
        int32_t socket = ea_accept(m_listener, nullptr, 0, nullptr);
        if (socket < 0)
            return;
        ea_setsockopt(socket, EA_SOCKOPT_TCP_NODELAY);
        if (ea_sync_info_network_event_select(m_event, socket, EA_FD_READ | EA_FD_CLOSE) != 0)
        {
            ea_closesocket(socket);
            continue;
        }
        std::unique_ptr<connection> c(new connection);
        c->socket = socket;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            c->number = ++m_accepted;
            ++m_open;
        }
        m_connection_events.push_back(std::make_pair(c->number, true));
        m_connections.push_back(std::move(c));
        m_changed.notify_all();
    }
}

void sim_host::read_all()
{
    for (std::unique_ptr<connection> &c : m_connections)
    {
        if (c->socket >= 0)
            read_connection(*c);
    }
    for (size_t i = 0; i < m_connections.size();)
    {
        if (m_connections[i]->socket < 0)
            m_connections.erase(m_connections.begin() + static_cast<long>(i));
        else
            ++i;
    }
}

void sim_host::read_connection(connection &c)
{
    ea_network_events events;
    ea_enum_network_events(c.socket, &events);
    uint32_t slow_bytes;
    uint32_t slow_pause;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        slow_bytes = m_slow_bytes;
        slow_pause = m_slow_pause_ms;
    }
    if (slow_bytes != 0 && steady::now() < c.resume_reading)
        return;
    static thread_local uint8_t buffer[k_read_size];
    for (;;)
    {
        uint32_t wanted = slow_bytes != 0 ? slow_bytes : k_read_size;
        int32_t n = ea_recv(c.socket, buffer, static_cast<int32_t>(wanted));
        if (n < 0 && ea_socket_last_error() == EA_WSAEWOULDBLOCK)
            return;
        if (n <= 0)
        {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                ++m_peer_closed;
            }
            close_connection(c);
            return;
        }
        uint32_t read_index;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            read_index = static_cast<uint32_t>(m_reads.size());
            m_reads.push_back(host_read{ea_get_tick_count(), c.number, static_cast<uint32_t>(n)});
        }
        c.buffer.insert(c.buffer.end(), buffer, buffer + n);
        take_frames(c, read_index);
        if (c.socket < 0)
            return;
        if (slow_bytes != 0)
        {
            c.resume_reading = steady::now() + std::chrono::milliseconds(slow_pause);
            return;
        }
    }
}

void sim_host::take_frames(connection &c, uint32_t read_index)
{
    std::vector<std::pair<host_frame, std::vector<host_record>>> arrived;
    size_t position = 0;
    while (c.buffer.size() - position >= 2)
    {
        uint16_t length = be16(c.buffer.data() + position);
        if (length < HOST_HEADER_SIZE || length > HOST_MAX_FRAME)
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_errors.push_back(
                host_error{host_error_kind::bad_length, c.number, "frame length " + std::to_string(length)});
            close_connection(c);
            break;
        }
        if (c.buffer.size() - position < length)
            break;
        host_frame f;
        f.tick = ea_get_tick_count();
        f.connection = c.number;
        f.read_index = read_index;
        f.frame.assign(c.buffer.begin() + static_cast<long>(position),
                       c.buffer.begin() + static_cast<long>(position + length));
        position += length;
        f.sequence_number = be16(f.frame.data() + 2);
        f.last_sequence_number = be16(f.frame.data() + 4);
        uint8_t digest[16];
        host_md5(f.frame.data() + HOST_HEADER_SIZE, length - HOST_HEADER_SIZE, digest);
        f.digest_ok = memcmp(digest, f.frame.data() + 6, 16) == 0;
        f.sequence_ok = true;
        // Heart beats travel with sequence number 0, outside the numbering.
        if (f.sequence_number != 0)
        {
            if (c.have_sequence && f.sequence_number != static_cast<uint16_t>(c.last_received_sequence + 1))
                f.sequence_ok = false;
            c.have_sequence = true;
            c.last_received_sequence = f.sequence_number;
        }
        std::vector<bytes> records;
        f.packet_ok = host_decode_packet(f.body(), &records);
        f.weight = static_cast<uint16_t>(records.size());

        std::lock_guard<std::mutex> guard(m_lock);
        uint32_t frame_index = static_cast<uint32_t>(m_frames.size());
        if (!f.digest_ok)
            m_errors.push_back(
                host_error{host_error_kind::digest, c.number, "frame " + std::to_string(frame_index)});
        if (!f.sequence_ok && m_options.check_sequence)
            m_errors.push_back(host_error{host_error_kind::sequence, c.number,
                                          "frame " + std::to_string(frame_index) + " sequence " +
                                              std::to_string(f.sequence_number)});
        if (!f.packet_ok)
            m_errors.push_back(
                host_error{host_error_kind::packet, c.number, "frame " + std::to_string(frame_index)});
        m_frames.push_back(f);
        arrived.emplace_back(std::move(f), std::vector<host_record>());
        uint16_t entry = 0;
        for (bytes &record : records)
        {
            host_record r{c.number, frame_index, be16(record.data()), std::move(record)};
            r.sequence_number = arrived.back().first.sequence_number;
            r.last_sequence_number = arrived.back().first.last_sequence_number;
            r.entries = static_cast<uint16_t>(records.size());
            r.entry = entry++;
            m_records.push_back(r);
            arrived.back().second.push_back(m_records.back());
        }
    }
    if (c.socket >= 0)
        c.buffer.erase(c.buffer.begin(), c.buffer.begin() + static_cast<long>(position));
    m_changed.notify_all();

    record_handler handler;
    frame_handler on_frame;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        handler = m_handler;
        on_frame = m_frame_handler;
    }
    for (const auto &group : arrived)
    {
        if (on_frame)
            on_frame(*this, group.first, group.second);
        if (handler)
        {
            for (const host_record &r : group.second)
                handler(*this, r);
        }
    }
}

void sim_host::deliver_events()
{
    connection_handler on_connection;
    tick_handler on_tick;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        on_connection = m_connection_handler;
        on_tick = m_tick_handler;
    }
    std::vector<std::pair<uint32_t, bool>> events;
    events.swap(m_connection_events);
    if (on_connection)
    {
        for (const auto &event : events)
            on_connection(*this, event.first, event.second);
    }
    if (on_tick)
        on_tick(*this);
}

void sim_host::close_connection(connection &c)
{
    if (c.socket < 0)
        return;
    ea_closesocket(c.socket);
    c.socket = -1;
    c.buffer.clear();
    // Told to the behaviour on the next pass, never from inside one of its own calls.
    m_connection_events.push_back(std::make_pair(c.number, false));
    {
        std::lock_guard<std::mutex> guard(m_lock);
        --m_open;
    }
    m_changed.notify_all();
}

sim_host::connection *sim_host::numbered(uint32_t number)
{
    if (number == 0)
        return newest();
    for (std::unique_ptr<connection> &c : m_connections)
    {
        if (c->number == number && c->socket >= 0)
            return c.get();
    }
    return nullptr;
}

sim_host::connection *sim_host::newest()
{
    for (auto it = m_connections.rbegin(); it != m_connections.rend(); ++it)
    {
        if ((*it)->socket >= 0)
            return it->get();
    }
    return nullptr;
}

bool sim_host::write_all(connection &c, const uint8_t *data, size_t length, write_mode mode)
{
    steady::time_point deadline = steady::now() + std::chrono::milliseconds(k_write_deadline_ms);
    size_t done = 0;
    while (done < length)
    {
        size_t piece = mode == write_mode::one_byte ? 1 : length - done;
        int32_t n = ea_send(c.socket, data + done, static_cast<int32_t>(piece));
        if (n > 0)
        {
            done += static_cast<size_t>(n);
            if (mode == write_mode::one_byte)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (ea_socket_last_error() != EA_WSAEWOULDBLOCK || steady::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bytes sim_host::frame_for(connection &c, const bytes &body, frame_fault fault)
{
    uint16_t sequence = c.next_send_sequence;
    switch (fault)
    {
    case frame_fault::sequence_gap:
        sequence = static_cast<uint16_t>(sequence + 1);
        c.next_send_sequence = static_cast<uint16_t>(sequence + 1);
        break;
    case frame_fault::sequence_duplicate:
        sequence = static_cast<uint16_t>(sequence - 1);
        break;
    default:
        c.next_send_sequence = static_cast<uint16_t>(sequence + 1);
        break;
    }
    bytes frame = host_encode_frame(body, sequence, c.last_received_sequence);
    switch (fault)
    {
    case frame_fault::wrong_digest:
        frame[6] ^= 0x01;
        break;
    case frame_fault::short_frame:
        frame.resize(HOST_HEADER_SIZE - 1);
        frame[0] = 0;
        frame[1] = static_cast<uint8_t>(HOST_HEADER_SIZE - 1);
        break;
    case frame_fault::bad_length:
        frame[0] = 0x08; // 2048
        frame[1] = 0x00;
        break;
    default:
        break;
    }
    return frame;
}

bool sim_host::on_service(const std::function<bool()> &action)
{
    if (!m_running)
        return false;
    if (t_serving == this)
        return action();
    struct call
    {
        bool done = false;
        bool result = false;
    };
    std::shared_ptr<call> state = std::make_shared<call>();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stop)
            return false;
        m_actions.push_back(
            [this, state, action](bool run)
            {
                bool result = run && action();
                std::lock_guard<std::mutex> inner(m_lock);
                state->result = result;
                state->done = true;
                m_changed.notify_all();
            });
    }
    ea_sync_info_set_network_event(m_event);
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_for(guard, std::chrono::milliseconds(k_service_call_deadline_ms),
                       [&] { return state->done; });
    return state->done && state->result;
}

std::vector<host_read> sim_host::reads() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_reads;
}

std::vector<host_frame> sim_host::frames() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_frames;
}

std::vector<host_record> sim_host::records() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records;
}

std::vector<host_error> sim_host::errors() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_errors;
}

size_t sim_host::frame_count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_frames.size();
}

uint32_t sim_host::connections_accepted() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_accepted;
}

uint32_t sim_host::open_connections() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open;
}

uint32_t sim_host::connections_closed_by_peer() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_peer_closed;
}

void sim_host::clear_received()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_reads.clear();
    m_frames.clear();
    m_records.clear();
    m_errors.clear();
}

bool sim_host::wait_for_frames(size_t count, int timeout_ms) const
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [&] { return m_frames.size() >= count; });
}

bool sim_host::wait_for_connections(uint32_t accepted, int timeout_ms) const
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [&] { return m_accepted >= accepted; });
}

bool sim_host::wait_for_peer_close(uint32_t closed, int timeout_ms) const
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [&] { return m_peer_closed >= closed; });
}

void sim_host::on_record(record_handler handler)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_handler = std::move(handler);
}

void sim_host::on_frame(frame_handler handler)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_frame_handler = std::move(handler);
}

void sim_host::on_tick(tick_handler handler)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_tick_handler = std::move(handler);
}

void sim_host::on_connection(connection_handler handler)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_connection_handler = std::move(handler);
}

void sim_host::set_write_mode(write_mode mode)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_write_mode = mode;
}

void sim_host::set_slow_reader(uint32_t bytes_per_read, uint32_t pause_ms)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_slow_bytes = bytes_per_read;
    m_slow_pause_ms = pause_ms;
}

bool sim_host::send_body(const bytes &body, frame_fault fault)
{
    return on_service(
        [this, &body, fault]
        {
            connection *c = newest();
            if (c == nullptr)
                return false;
            bytes frame = frame_for(*c, body, fault);
            write_mode mode;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                mode = m_write_mode;
            }
            return write_all(*c, frame.data(), frame.size(), mode);
        });
}

bool sim_host::send_frame(uint32_t number, const bytes &body, uint16_t sequence_number,
                          uint16_t last_sequence_number, frame_fault fault)
{
    return on_service(
        [this, number, &body, sequence_number, last_sequence_number, fault]
        {
            connection *c = numbered(number);
            if (c == nullptr)
                return false;
            bytes frame = host_encode_frame(body, sequence_number, last_sequence_number);
            switch (fault)
            {
            case frame_fault::wrong_digest:
                frame[6] ^= 0x01;
                break;
            case frame_fault::short_frame:
                frame.resize(HOST_HEADER_SIZE - 1);
                frame[0] = 0;
                frame[1] = static_cast<uint8_t>(HOST_HEADER_SIZE - 1);
                break;
            case frame_fault::bad_length:
                frame[0] = 0x08;
                frame[1] = 0x00;
                break;
            default:
                break;
            }
            write_mode mode;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                mode = m_write_mode;
            }
            return write_all(*c, frame.data(), frame.size(), mode);
        });
}

bool sim_host::is_open(uint32_t number)
{
    return on_service([this, number] { return number != 0 && numbered(number) != nullptr; });
}

bool sim_host::send_records(const std::vector<bytes> &records, frame_fault fault)
{
    return send_body(host_encode_packet(records), fault);
}

bool sim_host::send_coalesced(const std::vector<bytes> &bodies)
{
    return on_service(
        [this, &bodies]
        {
            connection *c = newest();
            if (c == nullptr)
                return false;
            bytes all;
            for (const bytes &body : bodies)
            {
                bytes frame = frame_for(*c, body, frame_fault::none);
                all.insert(all.end(), frame.begin(), frame.end());
            }
            return write_all(*c, all.data(), all.size(), write_mode::whole);
        });
}

bool sim_host::send_raw(const bytes &raw)
{
    return on_service(
        [this, &raw]
        {
            connection *c = newest();
            return c != nullptr && write_all(*c, raw.data(), raw.size(), write_mode::whole);
        });
}

void sim_host::refuse_connections(bool refuse)
{
    on_service(
        [this, refuse]
        {
            if (refuse)
            {
                close_listener();
                return true;
            }
            return m_listener >= 0 || open_listener();
        });
}

bool sim_host::drop_connection()
{
    return on_service(
        [this]
        {
            connection *c = newest();
            if (c == nullptr)
                return false;
            close_connection(*c);
            return true;
        });
}

bool sim_host::drop_connection(uint32_t number)
{
    return on_service(
        [this, number]
        {
            connection *c = numbered(number);
            if (c == nullptr)
                return false;
            close_connection(*c);
            return true;
        });
}

bool sim_host::drop_mid_frame(const bytes &body)
{
    return on_service(
        [this, &body]
        {
            connection *c = newest();
            if (c == nullptr)
                return false;
            bytes frame = frame_for(*c, body, frame_fault::none);
            bool written = write_all(*c, frame.data(), frame.size() / 2, write_mode::whole);
            close_connection(*c);
            return written;
        });
}

} // namespace qel_sim
