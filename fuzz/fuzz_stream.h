// What the fuzz entries of the network parsers share: a connected pair of local stream
// sockets through which the bytes under test reach the parser in chunks of the fuzzer's
// choosing, and the signing of frames, so that the fuzzer gets past the digest checks
// into what lies behind them. The first byte of such an input is a control byte (chunk
// size and the FUZZ_ flags), the rest is the stream.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/md5.h"
#include "platform/core/pf_socket.h"

enum : uint8_t
{
    FUZZ_CHUNK_MASK = 0x3F, // bytes per write; 0 writes the whole stream at once
    FUZZ_SIGN_FRAMES = 0x40,
    FUZZ_FIX_LENGTHS = 0x80,
};

enum : size_t
{
    FUZZ_MAX_STREAM = 16384,
    FUZZ_NETWORK_HEADER_SIZE = 22,
    FUZZ_DIGEST_OFFSET = 6,
};

struct fuzz_stream
{
    int reader = -1; // the parser's end, non-blocking; whoever takes it sets this to -1
    int writer = -1;

    fuzz_stream()
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
            abort();
        reader = fds[0];
        writer = fds[1];
        pf_socket_set_nonblocking(reader, true);
    }
    ~fuzz_stream()
    {
        close_writer();
        if (reader >= 0)
            close(reader);
    }
    fuzz_stream(const fuzz_stream &) = delete;
    fuzz_stream &operator=(const fuzz_stream &) = delete;

    void close_writer()
    {
        if (writer >= 0)
            close(writer);
        writer = -1;
    }

    void write_all(const uint8_t *bytes, size_t length)
    {
        while (length > 0)
        {
            ssize_t n = write(writer, bytes, length);
            if (n <= 0)
                abort();
            bytes += n;
            length -= static_cast<size_t>(n);
        }
    }
};

// The length field of a frame at `at`: 16 bits, big-endian unless `little_endian`.
inline size_t fuzz_frame_length(const std::vector<uint8_t> &stream, size_t at, bool little_endian)
{
    return little_endian ? (stream[at] | (stream[at + 1] << 8)) : ((stream[at] << 8) | stream[at + 1]);
}

// Walks the stream frame by frame and writes into each whole frame that is longer than the
// network header the digest of the bytes behind the header. Stops at a length below 2.
inline void fuzz_sign_frames(std::vector<uint8_t> &stream, bool little_endian)
{
    size_t at = 0;
    while (at + 2 <= stream.size())
    {
        size_t length = fuzz_frame_length(stream, at, little_endian);
        if (length < 2 || at + length > stream.size())
            return;
        if (length > FUZZ_NETWORK_HEADER_SIZE)
            md5_checksum(stream.data() + at + FUZZ_NETWORK_HEADER_SIZE,
                         static_cast<int32_t>(length - FUZZ_NETWORK_HEADER_SIZE),
                         stream.data() + at + FUZZ_DIGEST_OFFSET, MD5_MODE_COMPUTE);
        at += length;
    }
}

// Splits an input into its control byte and its stream (at most FUZZ_MAX_STREAM bytes).
inline uint8_t fuzz_split(const uint8_t *data, size_t size, std::vector<uint8_t> *stream)
{
    if (size == 0)
        return 0;
    size_t length = size - 1 > FUZZ_MAX_STREAM ? FUZZ_MAX_STREAM : size - 1;
    stream->assign(data + 1, data + 1 + length);
    return data[0];
}

// Writes the stream in chunks and calls `drain` after each chunk and once more after the
// writer's end is closed; drain returns false when the parser has finished with the
// connection.
template <typename Drain>
void fuzz_feed(fuzz_stream &pair, const std::vector<uint8_t> &stream, uint8_t control, Drain drain)
{
    size_t chunk = control & FUZZ_CHUNK_MASK;
    if (chunk == 0)
        chunk = stream.size();
    for (size_t at = 0; at < stream.size(); at += chunk)
    {
        size_t n = stream.size() - at < chunk ? stream.size() - at : chunk;
        pair.write_all(stream.data() + at, n);
        if (!drain())
            return;
    }
    pair.close_writer();
    drain();
}
