// The client that stops reading: the engine's message class frames what it sends and its
// parser splits what it reads during the logon road; the socket is driven directly, so
// that nothing reads behind the client's back once it stops.
#include "sim/fix_client/fix_deaf_client.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "FieldTypes.h"
#include "Message.h"
#include "Parser.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_socket.h"
#include "sim/fix_client/fix_sample_order.h"

namespace qel_sim
{

namespace
{

using clock_type = std::chrono::steady_clock;

const char *const FIRST_EXCHANGE_SECOND = "19800101-00:00:00";
// Orders framed at a time: enough to keep the connection full between two sends.
const size_t ORDERS_PER_BATCH = 64;

bool transient(uint32_t error)
{
    return error == PF_WSAEWOULDBLOCK || error == PF_WSAEINTR;
}

void pause_briefly()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The value of `tag` in a message, empty when it has none.
std::string value_of(const std::string &message, int tag)
{
    const std::string key = "\x01" + std::to_string(tag) + "=";
    const size_t at = message.find(key);
    if (at == std::string::npos)
        return "";
    const size_t begin = at + key.size();
    return message.substr(begin, message.find('\x01', begin) - begin);
}

} // namespace

fix_deaf_client::fix_deaf_client(const fix_deaf_client_options &options) : m_options(options) {}

fix_deaf_client::~fix_deaf_client()
{
    close();
}

void fix_deaf_client::close()
{
    if (m_socket >= 0)
        pf_socket_close(m_socket);
    m_socket = -1;
}

// A message of the session with the next sequence number and the sending time of now;
// `body` holds the body's fields, each ended by SOH.
std::string fix_deaf_client::next_message(const std::string &type, const std::string &body)
{
    FIX::Message message;
    FIX::Header &header = message.getHeader();
    header.setField(FIX::BeginString("FIX.4.2"));
    header.setField(FIX::MsgType(type));
    header.setField(FIX::MsgSeqNum(static_cast<int>(m_next_sequence++)));
    header.setField(FIX::SenderCompID(m_options.sender_comp_id));
    header.setField(FIX::SendingTime(FIX::UtcTimeStamp()));
    header.setField(FIX::TargetCompID(m_options.target_comp_id));
    std::string framed = message.toString();
    if (body.empty())
        return framed;
    // The body goes in front of the CheckSum; length and sum are counted again.
    const size_t trailer = framed.rfind("10=");
    std::string text = framed.substr(0, trailer) + body;
    const size_t length_at = text.find("\x01"
                                       "9=") +
                             3;
    const size_t length_end = text.find('\x01', length_at);
    text.replace(length_at, length_end - length_at, std::to_string(text.size() - length_end - 1));
    unsigned sum = 0;
    for (unsigned char c : text)
        sum += c;
    char checksum[8];
    snprintf(checksum, sizeof checksum, "%03u", sum % 256);
    return text + "10=" + checksum + "\x01";
}

bool fix_deaf_client::read_until(const std::string &type, std::string *message, std::string *error)
{
    const auto deadline = clock_type::now() + std::chrono::milliseconds(m_options.logon_timeout_ms);
    FIX::Parser parser;
    parser.addToStream(m_unread);
    m_unread.clear();
    while (clock_type::now() < deadline)
    {
        std::string next;
        while (parser.readFixMessage(next))
        {
            const std::string got = value_of(next, 35);
            if (got == type)
            {
                *message = next;
                return true;
            }
            if (got == "5")
            {
                *error = "logged out: " + value_of(next, 58);
                return false;
            }
        }
        char buffer[4096];
        const int n = pf_socket_recv(m_socket, buffer, sizeof buffer);
        if (n > 0)
            parser.addToStream(buffer, static_cast<size_t>(n));
        else if (n == 0 || !transient(pf_get_last_error()))
        {
            *error = "the gateway closed the connection";
            return false;
        }
        else
            pause_briefly();
    }
    *error = "no message of type " + type + " in time";
    return false;
}

bool fix_deaf_client::log_on(std::string *error, bool take_journal)
{
    close();
    pf_ignore_sigpipe();
    m_socket = pf_socket_create(2, 1, 6);
    if (m_socket < 0 ||
        (!m_options.local_address.empty() &&
         pf_socket_bind(m_socket, pf_inet_addr(m_options.local_address.c_str()), 0) != 0) ||
        pf_socket_connect(m_socket, pf_inet_addr("127.0.0.1"), m_options.port) != 0 ||
        pf_socket_set_nonblocking(m_socket, true) != 0)
    {
        *error = "cannot connect";
        close();
        return false;
    }
    m_next_sequence = 1;
    const std::string version = m_options.front_end_version;
    const std::string logon = next_message("A", "98=0\x01"
                                                "108=30\x01"
                                                "141=Y\x01"
                                                "95=" +
                                                    std::to_string(version.size()) +
                                                    "\x01"
                                                    "96=" +
                                                    version +
                                                    "\x01"
                                                    "554=" +
                                                    m_options.password + "\x01");
    std::string answer;
    if (pf_socket_send(m_socket, logon.data(), static_cast<int32_t>(logon.size())) !=
            static_cast<int>(logon.size()) ||
        !read_until("A", &answer, error))
        return false;

    const long streams = std::strtol(value_of(answer, 6014).c_str(), nullptr, 10);
    std::string request = "263=0\x01"
                          "335=1\x01"
                          "6015=" +
                          std::to_string(streams) + "\x01";
    for (long i = 0; i < streams; ++i)
        request += std::string("6001=") + FIRST_EXCHANGE_SECOND + "\x01";
    const std::string journal = next_message("g", request);
    if (pf_socket_send(m_socket, journal.data(), static_cast<int32_t>(journal.size())) !=
        static_cast<int>(journal.size()))
    {
        *error = "the journal request was not taken";
        return false;
    }
    std::string status;
    return !take_journal || read_until("h", &status, error);
}

fix_deaf_client_outcome fix_deaf_client::send_without_reading(uint32_t duration_ms)
{
    fix_deaf_client_outcome outcome;
    const auto began = clock_type::now();
    const auto end = began + std::chrono::milliseconds(duration_ms);
    std::string pending;      // framed orders not yet taken
    size_t taken = 0;         // bytes of `pending` the connection took
    std::vector<size_t> ends; // where each framed order of `pending` ends
    size_t next_end = 0;
    uint64_t id = 0;
    while (m_socket >= 0 && clock_type::now() < end)
    {
        if (taken == pending.size())
        {
            pending.clear();
            ends.clear();
            taken = 0;
            next_end = 0;
            const std::string now = utc_timestamp();
            for (size_t i = 0; i < ORDERS_PER_BATCH; ++i)
            {
                std::string body;
                for (const fix_client_field &field : sample_new_order("D" + std::to_string(++id), now))
                    body += std::to_string(field.tag) + "=" + field.value + "\x01";
                pending += next_message("D", body);
                ends.push_back(pending.size());
            }
        }
        const int n =
            pf_socket_send(m_socket, pending.data() + taken, static_cast<int32_t>(pending.size() - taken));
        if (n > 0)
        {
            taken += static_cast<size_t>(n);
            while (next_end < ends.size() && ends[next_end] <= taken)
            {
                ++next_end;
                ++outcome.orders_sent;
            }
            continue;
        }
        if (n < 0 && !transient(pf_get_last_error()))
        {
            outcome.ended_by_gateway = true;
            outcome.ended_after_seconds = std::chrono::duration<double>(clock_type::now() - began).count();
            close();
            break;
        }
        // The connection is full: the client waits, reading nothing.
        pause_briefly();
    }
    return outcome;
}

} // namespace qel_sim
