// Socket helpers of the gateway's library: start-up with its failure texts, the socket
// options by the gateway's codes, the network-event record, and thin wrappers that the
// network layers call (and name in their log lines).
#include "gateway/runtime/ea_socket.h"

#include <cstdio>
#include <cstring>

#include "platform/core/pf_error.h"
#include "platform/core/pf_net_event.h"
#include "platform/core/pf_socket.h"

namespace
{
const uint16_t k_version_2_0 = 0x0002; // major 2 in the low byte, minor 0 in the high byte

void copy_text(char *text, uint32_t *length, const char *message)
{
    if (text == nullptr || length == nullptr)
    {
        return;
    }
    size_t size = std::strlen(message);
    if (*length > 0)
    {
        size_t room = *length - 1;
        size_t copied = size < room ? size : room;
        std::memcpy(text, message, copied);
        text[copied] = '\0';
    }
    *length = static_cast<uint32_t>(size);
}

// Slot of an event's error code in the record; -1 for the bits that carry none here.
int error_index(int32_t event_bit)
{
    switch (event_bit)
    {
    case EA_FD_READ:
        return EA_FD_READ_BIT;
    case EA_FD_WRITE:
        return EA_FD_WRITE_BIT;
    case EA_FD_ACCEPT:
        return EA_FD_ACCEPT_BIT;
    case EA_FD_CONNECT:
        return EA_FD_CONNECT_BIT;
    case EA_FD_CLOSE:
        return EA_FD_CLOSE_BIT;
    default:
        return -1;
    }
}

uint32_t address_of(const char *ip_address)
{
    // No address binds to every interface.
    if (ip_address == nullptr || ip_address[0] == '\0')
    {
        return 0;
    }
    return pf_inet_addr(ip_address);
}
} // namespace

static_assert(static_cast<int>(EA_FD_MAX_EVENTS) == static_cast<int>(PF_FD_MAX_EVENTS), "event record sizes");
static_assert(int32_t{EA_FD_READ} == int32_t{PF_FD_READ} && int32_t{EA_FD_WRITE} == int32_t{PF_FD_WRITE} &&
                  int32_t{EA_FD_OOB} == int32_t{PF_FD_OOB} &&
                  int32_t{EA_FD_ACCEPT} == int32_t{PF_FD_ACCEPT} &&
                  int32_t{EA_FD_CONNECT} == int32_t{PF_FD_CONNECT} &&
                  int32_t{EA_FD_CLOSE} == int32_t{PF_FD_CLOSE},
              "event bits");

ea_status ea_socket_init(char *text, uint32_t *length)
{
    uint16_t version = 0;
    const char *description = "";
    int32_t error = pf_socket_startup(k_version_2_0, &version, &description);
    if (error == 0)
    {
        if (version == k_version_2_0)
        {
            return EA_SUCCESS;
        }
        pf_socket_cleanup();
        copy_text(text, length, "ea_socket_init failed: Winsock 2.0 not available");
        return EA_ERROR;
    }
    // Each text is "ea_socket_init failed: " and the error's name, then the description.
    const char *name;
    switch (error)
    {
    case PF_WSAEFAULT:
        name = "WSAEFAULT - ";
        break;
    case PF_WSAEINPROGRESS:
        name = "WSAEINPROGRESS - ";
        break;
    case PF_WSAEPROCLIM:
        name = "WSAEPROCLIM - ";
        break;
    case PF_WSASYSNOTREADY:
        name = "WSASYSNOTREADY - ";
        break;
    case PF_WSAVERNOTSUPPORTED:
        name = "WSAVERNOTSUPPORTED - ";
        break;
    default:
        name = "";
        break;
    }
    char message[512];
    snprintf(message, sizeof message, "ea_socket_init failed: %s%s", name, description);
    copy_text(text, length, message);
    return EA_ERROR;
}

ea_status ea_socket_cleanup()
{
    return pf_socket_cleanup() == 0 ? EA_SUCCESS : EA_ERROR;
}

int32_t ea_setsockopt(int32_t socket, int32_t option_code)
{
    int rc;
    switch (option_code)
    {
    case EA_SOCKOPT_TCP_NODELAY:
        rc = pf_socket_set_option(socket, PF_SOCKET_TCP_NODELAY, true);
        break;
    case EA_SOCKOPT_NONBLOCKING:
        rc = pf_socket_set_nonblocking(socket, true);
        break;
    case EA_SOCKOPT_KEEPALIVE:
        rc = pf_socket_set_option(socket, PF_SOCKET_KEEPALIVE, true);
        break;
    case EA_SOCKOPT_REUSEADDR:
        rc = pf_socket_set_option(socket, PF_SOCKET_REUSEADDR, true);
        break;
    default:
        return 0;
    }
    return rc == 0 ? 0 : EA_NOT_FOUND;
}

int32_t ea_enum_network_events(int32_t socket, ea_network_events *events)
{
    if (events == nullptr)
    {
        return -1;
    }
    return pf_net_event_enum(socket, &events->network_events, events->error_code);
}

int32_t ea_check_network_event(const ea_network_events *events, int32_t event_bit, int32_t *error_out)
{
    if ((events->network_events & event_bit) == 0)
    {
        return 0;
    }
    int index = error_index(event_bit);
    if (index >= 0 && error_out != nullptr)
    {
        *error_out = events->error_code[index];
    }
    return 1;
}

int32_t ea_socket(int32_t domain, int32_t type, int32_t protocol)
{
    return pf_socket_create(domain, type, protocol);
}

int32_t ea_bind(int32_t socket, const char *ip_address, uint16_t port)
{
    return pf_socket_bind(socket, address_of(ip_address), port);
}

int32_t ea_listen(int32_t socket, int32_t backlog)
{
    return pf_socket_listen(socket, backlog);
}

int32_t ea_accept(int32_t socket, char *peer_ip_out, size_t peer_ip_size, uint16_t *peer_port_out)
{
    uint32_t address = 0;
    int32_t accepted = pf_socket_accept(socket, &address, peer_port_out);
    if (accepted >= 0 && peer_ip_out != nullptr && peer_ip_size > 0)
    {
        pf_inet_ntoa(address, peer_ip_out, peer_ip_size);
    }
    return accepted;
}

int32_t ea_connect(int32_t socket, const char *ip_address, uint16_t port)
{
    return pf_socket_connect(socket, address_of(ip_address), port);
}

int32_t ea_recv(int32_t socket, void *buffer, int32_t length)
{
    return pf_socket_recv(socket, buffer, length);
}

int32_t ea_send(int32_t socket, const void *buffer, int32_t length)
{
    return pf_socket_send(socket, buffer, length);
}

int32_t ea_closesocket(int32_t socket)
{
    return pf_socket_close(socket);
}

int32_t ea_socket_peer_ended(int32_t socket)
{
    return pf_socket_peer_ended(socket) ? 1 : 0;
}

uint32_t ea_inet_addr(const char *ip_address)
{
    return pf_inet_addr(ip_address);
}

void ea_inet_ntoa(uint32_t address, char *text, size_t size)
{
    pf_inet_ntoa(address, text, size);
}

int32_t ea_socket_last_error()
{
    return static_cast<int32_t>(pf_get_last_error());
}

const char *ea_socket_error_text(int32_t error_code)
{
    return pf_error_text(static_cast<uint32_t>(error_code));
}
