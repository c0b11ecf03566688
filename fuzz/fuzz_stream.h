// Fuzz input as a peer's TCP stream: the bytes are written into one end of a connected
// pair of local sockets and that end is shut, so the gateway's framing code reads them
// from a non-blocking socket as it reads a peer's, and meets the end of the stream after
// the last byte. Shared by the fuzz targets and their corpus replays.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

enum : size_t
{
    FUZZ_STREAM_MAX_BYTES = 32768, // well inside what a local socket buffers
};

class fuzz_stream
{
  public:
    // False when the pair cannot be made; the input is cut to FUZZ_STREAM_MAX_BYTES.
    bool open(const uint8_t *data, size_t size)
    {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0)
            return false;
        if (size > FUZZ_STREAM_MAX_BYTES)
            size = FUZZ_STREAM_MAX_BYTES;
        size_t written = 0;
        while (written < size)
        {
            ssize_t n = write(m_fds[1], data + written, size - written);
            if (n <= 0)
                return false;
            written += static_cast<size_t>(n);
        }
        shutdown(m_fds[1], SHUT_WR);
        return fcntl(m_fds[0], F_SETFL, O_NONBLOCK) == 0;
    }
    ~fuzz_stream()
    {
        for (int fd : m_fds)
            if (fd >= 0)
                close(fd);
    }
    // The gateway's end; it stays owned by the stream.
    int reader() const { return m_fds[0]; }

  private:
    int m_fds[2] = {-1, -1};
};

// Bounds the reads of one input: framing that neither delivers a frame nor ends the
// stream within this many calls has stopped making progress.
enum : int
{
    FUZZ_STREAM_MAX_CALLS = 4 * static_cast<int>(FUZZ_STREAM_MAX_BYTES),
};
