// A tiny scripted gateway for the simulated host's tests: it connects to the host, frames
// packets with its own code (length, both sequence numbers, MD5 of the body from OpenSSL's
// EVP interface) and reads the host's frames back, checking their digests. Records are
// built here byte by byte from their layouts, never with the simulator's encoders.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gateway/runtime/ea_socket.h"
#include "sim/sim_wire.h"
#include "support/hex.h"

namespace sim_host_test
{

typedef std::vector<uint8_t> bytes;
using qel_sim::be16;
using qel_sim::be32;
using qel_sim::set_be16;
using qel_sim::set_be32;
using qel_test::from_hex;

// A record of `size` bytes, zero except for the pieces given as (offset, hex).
inline bytes layout(size_t size, const std::vector<std::pair<size_t, std::string>> &pieces, uint8_t fill = 0)
{
    bytes out(size, fill);
    for (const auto &piece : pieces)
    {
        bytes value = from_hex(piece.second);
        std::copy(value.begin(), value.end(), out.begin() + static_cast<long>(piece.first));
    }
    return out;
}

inline std::string ascii(const std::string &text)
{
    return qel_test::to_hex(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

inline bytes packet(const std::vector<bytes> &records)
{
    bytes out{0, static_cast<uint8_t>(records.size())};
    for (const bytes &r : records)
        out.insert(out.end(), r.begin(), r.end());
    return out;
}

struct peer_frame
{
    uint16_t sequence = 0;
    uint16_t last = 0;
    bytes body;
    uint16_t count() const { return be16(body, 0); }
    // The first record, when the packet holds one plain record.
    bytes record() const { return bytes(body.begin() + 2, body.end()); }
    uint16_t transcode() const { return body.size() >= 4 ? be16(body, 2) : 0; }
};

class peer
{
  public:
    peer()
    {
        char text[256];
        uint32_t length = sizeof text;
        ea_socket_init(text, &length);
    }
    ~peer()
    {
        close();
        ea_socket_cleanup();
    }

    bool connect(uint16_t port)
    {
        close();
        m_socket = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        if (m_socket < 0 || ea_connect(m_socket, "127.0.0.1", port) != 0)
            return false;
        ea_setsockopt(m_socket, EA_SOCKOPT_NONBLOCKING);
        m_buffer.clear();
        m_closed = false;
        return true;
    }

    void close()
    {
        if (m_socket >= 0)
            ea_closesocket(m_socket);
        m_socket = -1;
    }

    static void md5(const bytes &body, uint8_t digest[16])
    {
        unsigned int length = 16;
        EVP_Digest(body.data(), body.size(), digest, &length, EVP_md5(), nullptr);
    }

    bool send(const bytes &body, uint16_t sequence, uint16_t last)
    {
        bytes frame;
        uint16_t length = static_cast<uint16_t>(22 + body.size());
        for (uint16_t v : {length, sequence, last})
        {
            frame.push_back(static_cast<uint8_t>(v >> 8));
            frame.push_back(static_cast<uint8_t>(v));
        }
        uint8_t digest[16];
        md5(body, digest);
        frame.insert(frame.end(), digest, digest + 16);
        frame.insert(frame.end(), body.begin(), body.end());
        return ea_send(m_socket, frame.data(), static_cast<int32_t>(frame.size())) ==
               static_cast<int32_t>(frame.size());
    }

    // The next frame within the time, or false.
    bool receive(peer_frame *out, int timeout_ms = 5000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;)
        {
            if (m_buffer.size() >= 2 && m_buffer.size() >= be16(m_buffer, 0))
            {
                uint16_t length = be16(m_buffer, 0);
                EXPECT_GE(length, 22u);
                out->sequence = be16(m_buffer, 2);
                out->last = be16(m_buffer, 4);
                out->body.assign(m_buffer.begin() + 22, m_buffer.begin() + length);
                uint8_t digest[16];
                md5(out->body, digest);
                EXPECT_TRUE(std::equal(digest, digest + 16, m_buffer.begin() + 6))
                    << "digest of a host frame";
                m_buffer.erase(m_buffer.begin(), m_buffer.begin() + length);
                return true;
            }
            uint8_t chunk[4096];
            int32_t n = m_socket < 0 ? 0 : ea_recv(m_socket, chunk, sizeof chunk);
            if (n > 0)
            {
                m_buffer.insert(m_buffer.end(), chunk, chunk + n);
                continue;
            }
            if (n == 0 || ea_socket_last_error() != EA_WSAEWOULDBLOCK)
            {
                m_closed = true;
                return false;
            }
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Frames until one whose first record has this transcode (others are skipped).
    bool receive_transcode(uint16_t transcode, peer_frame *out, int timeout_ms = 5000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end)
        {
            if (receive(out, 50) && out->transcode() == transcode)
                return true;
        }
        return false;
    }

    // True when the host closed the connection within the time.
    bool closed_by_host(int timeout_ms)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        peer_frame ignored;
        while (!m_closed && std::chrono::steady_clock::now() < end)
            receive(&ignored, 20);
        return m_closed;
    }

  private:
    int32_t m_socket = -1;
    bytes m_buffer;
    bool m_closed = false;
};

// The gateway's records, from their layouts (offsets from the transcode).
// Box sign-on: transcode 23000, box id, broker (5, space-filled), 0, version 41402, 0, 0.
inline bytes box_sign_on(uint16_t box, const std::string &broker)
{
    bytes r =
        layout(22, {{0, "59d8"}, {4, ascii(broker + std::string(5 - broker.size(), ' '))}, {10, "0000a1ba"}});
    set_be16(r, 2, box);
    return r;
}

// Box relogon: the sign-on's fields with 23502, the address (18), least sent, last received.
inline bytes box_relogon(uint16_t box, const std::string &broker, uint16_t least_sent, uint16_t last_received)
{
    bytes r = box_sign_on(box, broker);
    set_be16(r, 0, 23502);
    bytes address = from_hex(ascii("127.0.0.1" + std::string(9, ' ')));
    r.insert(r.end(), address.begin(), address.end());
    r.resize(44, 0);
    set_be16(r, 40, least_sent);
    set_be16(r, 42, last_received);
    return r;
}

// A record with the 40-byte exchange-order header and `length` bytes in all.
inline bytes exchange_record(uint16_t transcode, uint32_t user, uint16_t length)
{
    bytes r(length, 0);
    set_be16(r, 0, transcode);
    r[6] = ' ';
    r[7] = ' ';
    set_be32(r, 8, user);
    set_be16(r, 38, length);
    return r;
}

inline bytes user_sign_on(uint32_t user, const std::string &password)
{
    bytes r = exchange_record(2300, user, 214);
    set_be32(r, 40, user);
    for (size_t i = 0; i < 8; ++i)
        r[44 + i] = i < password.size() ? static_cast<uint8_t>(password[i]) : ' ';
    return r;
}

// Short order entry (110 bytes): spaces, then the fields at their places.
inline bytes order_entry(uint32_t user, uint16_t side, uint32_t volume, int32_t price, uint32_t client_order)
{
    bytes r(110, ' ');
    set_be16(r, 0, 20000);
    set_be32(r, 2, user);
    set_be32(r, 8, 4711);                              // instrument token
    bytes kinds = from_hex(ascii("FUTIDXZORAX     ")); // kinds (6) and symbol (10) at 12
    std::copy(kinds.begin(), kinds.end(), r.begin() + 12);
    set_be32(r, 28, 900000000); // expiry
    set_be32(r, 32, 0);         // strike
    set_be16(r, 48, 1);         // book type
    set_be16(r, 50, side);
    set_be32(r, 52, 0); // disclosed volume
    set_be32(r, 56, volume);
    set_be32(r, 60, static_cast<uint32_t>(price));
    set_be32(r, 64, 0);
    set_be16(r, 68, 0x0800); // order terms: day
    set_be16(r, 94, 1);      // client order
    set_be32(r, 98, client_order);
    return r;
}

// Short order change (138 bytes) of transcode 20040, 20060 or 20070.
inline bytes order_change(uint16_t transcode, uint32_t user, const std::string &order_number_hex,
                          uint32_t volume, int32_t price, uint32_t client_order)
{
    bytes r(138, ' ');
    set_be16(r, 0, transcode);
    set_be32(r, 2, user);
    set_be32(r, 8, 4711);
    bytes kinds = from_hex(ascii("FUTIDXZORAX     "));
    std::copy(kinds.begin(), kinds.end(), r.begin() + 12);
    bytes number = from_hex(order_number_hex);
    std::copy(number.begin(), number.end(), r.begin() + 38);
    set_be16(r, 56, 1);
    set_be16(r, 58, 1);
    set_be32(r, 60, 0);
    set_be32(r, 68, volume);
    set_be32(r, 72, volume);
    set_be32(r, 76, 0);
    set_be32(r, 80, static_cast<uint32_t>(price));
    set_be16(r, 96, 0x0800);
    set_be16(r, 122, 1);
    set_be32(r, 126, client_order);
    return r;
}

} // namespace sim_host_test
