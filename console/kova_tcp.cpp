// The console's TCP client over a non-blocking platform socket and two Qt socket
// notifiers: the write notifier tells the connect's outcome once, the read notifier
// tells that data (or the end) waits. Reads themselves are the owner's.
#include "console/kova_tcp.h"

#include <QSocketNotifier>
#include <cstdlib>

#include "console/kova_helper.h"
#include "console/kova_logger.h"
#include "console/shim/kova_message_box.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_socket.h"

namespace
{
const char *const k_source = "Tcp";

enum
{
    SOCKET_FAMILY_INET = 2,
    SOCKET_TYPE_STREAM = 1,
    INVALID_SOCKET_HANDLE = -1,
};
} // namespace

int32_t CNetwork::Receive(uint8_t *, int32_t, int32_t)
{
    return 0;
}

int32_t CNetwork::SelectEvents(uint32_t)
{
    return 0;
}

int32_t CNetwork::Send(const uint8_t *, int32_t, int32_t)
{
    return 0;
}

const char *KovaStartupErrorText(int32_t error)
{
    switch (error)
    {
    case PF_WSAEFAULT:
        return "The lpWSAData is not a valid pointer.";
    case PF_WSAEINPROGRESS:
        return "A blocking Windows Sockets 1.1 operation is in progress.";
    case PF_WSAEPROCLIM:
        return "Limit on the number of tasks supported by the Windows Sockets implementation has been reached.";
    case PF_WSASYSNOTREADY:
        return "Underlying network subsystem is not ready for network communication.\n";
    case PF_WSAVERNOTSUPPORTED:
        return "The version of Windows Sockets support requested is not provided by this particular Windows Sockets implementation.";
    default:
        return "Unknown Error.";
    }
}

CTcp::CTcp(CKOVAHelper *owner, CLogger *logger)
    : m_socket(INVALID_SOCKET_HANDLE), m_owner(owner), m_logger(logger), m_events(0), m_connecting(false),
      m_ended(false), m_readNotifier(nullptr), m_writeNotifier(nullptr)
{
}

CTcp::~CTcp()
{
    CloseConnection();
}

int32_t CTcp::Initialize()
{
    uint16_t version = 0;
    const char *description = nullptr;
    return pf_socket_startup(0x0001, &version, &description);
}

int32_t CTcp::OpenConnection()
{
    CloseConnection();
    int fd = pf_socket_create(SOCKET_FAMILY_INET, SOCKET_TYPE_STREAM, 0);
    if (fd < 0)
    {
        uint32_t error = pf_get_last_error();
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, "CTcp::OpenConnection", k_source, __LINE__,
                "Unable to create socket. Error [%u] - %s", error, pf_error_text(error));
        KovaMessageBox(m_owner != nullptr ? m_owner->OwnerWidget() : nullptr, "Unable to Create Socket",
                       "KOVA");
        return 0;
    }
    if (pf_socket_set_option(fd, PF_SOCKET_REUSEADDR, true) != 0 ||
        pf_socket_set_option(fd, PF_SOCKET_TCP_NODELAY, true) != 0 ||
        pf_socket_set_nonblocking(fd, true) != 0)
    {
        pf_socket_close(fd);
        return 0;
    }
    m_socket = fd;
    m_connecting = true;
    m_ended = false;
    SelectEvents(FD_READ | FD_CONNECT | FD_CLOSE);
    int port = atoi(m_port.c_str());
    if (pf_socket_connect(fd, pf_inet_addr(m_address.c_str()), static_cast<uint16_t>(port)) != 0 &&
        pf_get_last_error() != PF_WSAEWOULDBLOCK)
    {
        uint32_t error = pf_get_last_error();
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, "CTcp::OpenConnection", k_source, __LINE__,
                "Can not connect to socket. Error [%u] - %s", error, pf_error_text(error));
        KovaMessageBox(m_owner != nullptr ? m_owner->OwnerWidget() : nullptr, "KOVA network error.", "KOVA");
        CloseConnection();
        return 0;
    }
    return m_socket;
}

void CTcp::CloseConnection()
{
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    if (m_socket != INVALID_SOCKET_HANDLE)
    {
        if (pf_socket_close(m_socket) == 0)
        {
            KovaLog(m_logger, KOVA_EVENT, "CTcp::CloseConnection", k_source, __LINE__,
                    "Socket closed successfully.");
        }
    }
    m_socket = INVALID_SOCKET_HANDLE;
    m_connecting = false;
    m_ended = false;
    m_events = 0;
}

int32_t CTcp::Process(uintptr_t wParam, intptr_t lParam)
{
    (void)wParam;
    if ((static_cast<uint32_t>(lParam) & 0xFFFF) != FD_CLOSE)
    {
        return 0;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, "CTcp::Process", k_source, __LINE__,
            "Attempting to close connection...");
    CloseConnection();
    return 1;
}

int32_t CTcp::Send(const uint8_t *buffer, int32_t count, int32_t flags)
{
    (void)flags;
    if (m_socket == INVALID_SOCKET_HANDLE)
    {
        pf_set_last_error(PF_WSAENOTSOCK);
        return -1;
    }
    return pf_socket_send(m_socket, buffer, count);
}

int32_t CTcp::Receive(uint8_t *buffer, int32_t count, int32_t flags)
{
    (void)flags;
    if (m_socket == INVALID_SOCKET_HANDLE)
    {
        pf_set_last_error(PF_WSAENOTSOCK);
        return -1;
    }
    if (count > 1024)
    {
        count = 1024;
    }
    int n = pf_socket_recv(m_socket, buffer, count);
    if (n == 0 && count > 0)
    {
        PostClose(0);
    }
    else if (n < 0 && pf_get_last_error() == PF_WSAECONNRESET)
    {
        PostClose(PF_WSAECONNRESET);
        pf_set_last_error(PF_WSAECONNRESET);
    }
    return n;
}

int32_t CTcp::SelectEvents(uint32_t mask)
{
    m_events = mask;
    Watch();
    return 0;
}

// Notifiers follow the state: the write notifier only while connecting, the read
// notifier once connected, while reads are wanted and the peer has not ended.
void CTcp::Watch()
{
    if (m_socket == INVALID_SOCKET_HANDLE || m_owner == nullptr)
    {
        return;
    }
    if (m_writeNotifier == nullptr)
    {
        m_writeNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Write, m_owner);
        QObject::connect(m_writeNotifier, &QSocketNotifier::activated, m_owner, [this] { OnWritable(); });
        m_readNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, m_owner);
        QObject::connect(m_readNotifier, &QSocketNotifier::activated, m_owner, [this] { OnReadable(); });
    }
    m_writeNotifier->setEnabled(m_connecting && (m_events & FD_CONNECT) != 0);
    m_readNotifier->setEnabled(!m_connecting && !m_ended && (m_events & FD_READ) != 0);
}

void CTcp::OnWritable()
{
    m_connecting = false;
    uint32_t error = pf_socket_pending_error(m_socket);
    Watch();
    m_owner->OnSocketMessage(static_cast<uintptr_t>(m_socket),
                             static_cast<intptr_t>(FD_CONNECT | (error << 16)));
}

void CTcp::OnReadable()
{
    // Reads are off until the owner has read (SelectEvents turns them on again).
    m_readNotifier->setEnabled(false);
    m_owner->OnSocketMessage(static_cast<uintptr_t>(m_socket), static_cast<intptr_t>(FD_READ));
}

// The end of the stream is reported once, after the read that saw it has returned.
void CTcp::PostClose(uint32_t error)
{
    if (m_ended)
    {
        return;
    }
    m_ended = true;
    if (m_readNotifier != nullptr)
    {
        m_readNotifier->setEnabled(false);
    }
    int32_t socket = m_socket;
    CKOVAHelper *owner = m_owner;
    if (owner == nullptr)
    {
        return;
    }
    QMetaObject::invokeMethod(
        owner,
        [owner, socket, error] {
            owner->OnSocketMessage(static_cast<uintptr_t>(socket),
                                   static_cast<intptr_t>(FD_CLOSE | (error << 16)));
        },
        Qt::QueuedConnection);
}
