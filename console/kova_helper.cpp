// The link helper: connects, turns socket notifications into listener calls, reads the
// gateway's packets (assembling a packet that arrives in pieces) and sends requests.
#include "console/kova_helper.h"

#include <QWidget>
#include <cstring>

#include "console/kova_logger.h"
#include "console/shim/kova_message_box.h"
#include "platform/core/pf_error.h"

namespace
{
const char *const k_source = "KOVAHelper";
const char *const k_caption = "KOVA";

uint16_t get_u16_le(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void put_u16_le(uint8_t *bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

enum : int32_t
{
    PACKET_MIN = 3,
    PACKET_MAX_READ = 1023,
    LENGTH_FIELD = 2,
    NETWORK_HEADER = 20,
};
} // namespace

int32_t TX_USERID_INCREASE_FLAG = 0;
int32_t GUV_USERID_INCREASE_FLAG = 0;
int32_t RAQE_USERID_INCREASE_FLAG = 0;

uint16_t KovaRequestLength(int32_t market)
{
    switch (market)
    {
    case KOVA_MARKET_KR:
        return KOVA_REQUEST_WIDENED;
    case KOVA_MARKET_TX:
        return TX_USERID_INCREASE_FLAG ? KOVA_REQUEST_WIDENED : KOVA_REQUEST_NARROW;
    case KOVA_MARKET_GUV:
        return GUV_USERID_INCREASE_FLAG ? KOVA_REQUEST_WIDENED : KOVA_REQUEST_NARROW;
    case KOVA_MARKET_RAQE:
        return RAQE_USERID_INCREASE_FLAG ? KOVA_REQUEST_WIDENED : KOVA_REQUEST_NARROW;
    default:
        return KOVA_REQUEST_NARROW;
    }
}

CNetworkHeader::CNetworkHeader(CLogger *) : m_md5(new CMD5()) {}

CNetworkHeader::~CNetworkHeader()
{
    delete m_md5;
}

bool CNetworkHeader::GenerateChecksum(uint8_t *header, const uint8_t *body, int32_t total_length)
{
    return m_md5->Digest(body, total_length - NETWORK_HEADER, header + 4, 1) == CMD5::RESULT_WRITTEN;
}

bool CNetworkHeader::ValidateCheckSum(const uint8_t *, const uint8_t *, int32_t)
{
    return true;
}

bool CNetworkHeader::ValidateSequenceNo(const uint8_t *)
{
    return true;
}

CKOVAHelper::CKOVAHelper(CLogger *logger)
    : m_logger(logger), m_tcp(new CTcp(this, logger)), m_header(new CNetworkHeader(logger)), m_identifier(0),
      m_listener(nullptr), m_pending(), m_pendingBytes(0)
{
}

CKOVAHelper::~CKOVAHelper()
{
    // The socket closes without a word to the listener, which may be going too.
    m_tcp.reset();
}

void CKOVAHelper::SetListener(CConnectionListener *listener, int32_t identifier)
{
    m_listener = listener;
    m_identifier = identifier;
}

void CKOVAHelper::Create(QObject *owner)
{
    setParent(owner);
    setObjectName(QStringLiteral("KOVA Helper"));
}

void CKOVAHelper::SetLogger(CLogger *logger)
{
    m_logger = logger;
    m_tcp->SetLogger(logger);
}

QWidget *CKOVAHelper::OwnerWidget() const
{
    return qobject_cast<QWidget *>(parent());
}

int32_t CKOVAHelper::EstablishConnection(const std::string &address, const std::string &port)
{
    int32_t error = m_tcp->Initialize();
    if (error != 0)
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, "CKOVAHelper::EstablishConnection", k_source, __LINE__,
                "System Error, Unable to Initialize TCP. Error  - %s", KovaStartupErrorText(error));
        KovaMessageBox(OwnerWidget(), "System Error, Unable to Initialize TCP", k_caption);
    }
    m_tcp->SetAddress(address);
    m_tcp->SetPort(port);
    m_pendingBytes = 0;
    if (m_listener != nullptr)
    {
        m_listener->m_connected = 0;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, "CKOVAHelper::EstablishConnection", k_source, __LINE__,
            "Establishing connection to %s:%s", address.c_str(), port.c_str());
    if (m_tcp->OpenConnection() == 0)
    {
        KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::EstablishConnection", k_source, __LINE__,
                "Error in Establishing connection");
        KovaMessageBox(OwnerWidget(), "KOVA network error", k_caption);
        return 0;
    }
    return 1;
}

int32_t CKOVAHelper::OnSocketMessage(uintptr_t wParam, intptr_t lParam)
{
    if (static_cast<int32_t>(wParam) != m_tcp->Socket())
    {
        return 0; // a notification of a socket that is closed already
    }
    uint32_t event = static_cast<uint32_t>(lParam) & 0xFFFF;
    uint32_t error = (static_cast<uint32_t>(lParam) >> 16) & 0xFFFF;
    if (event == FD_CLOSE)
    {
        if (m_tcp->Ended())
        {
            EndLink();
        }
        return 0;
    }
    if (event == FD_CONNECT && error != 0)
    {
        // A refused connect ends the link, so that the owner is not left waiting.
        KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::OnSocketMessage", k_source, __LINE__,
                "Can not connect to socket. Error [%u] - %s", error, pf_error_text(error));
        EndLink();
        return 0;
    }
    if (error != 0)
    {
        return 0;
    }
    if (event == FD_CONNECT)
    {
        if (m_listener != nullptr)
        {
            m_listener->m_connected = 1;
        }
        KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::OnSocketMessage", k_source, __LINE__,
                "Connection established.");
        if (m_listener != nullptr)
        {
            m_listener->OnConnectionEstablished();
        }
        return 0;
    }
    if (event == FD_READ)
    {
        ReceiveData();
    }
    return 0;
}

// The socket is closed and the owner told, once; the listener call comes last, as the
// owner may destroy the helper in it.
void CKOVAHelper::EndLink()
{
    m_tcp->Process(static_cast<uintptr_t>(m_tcp->Socket()), FD_CLOSE);
    m_pendingBytes = 0;
    if (m_listener != nullptr)
    {
        m_listener->m_connected = 0;
        m_listener->OnConnectionLost();
    }
}

void CKOVAHelper::ReadsBackOn()
{
    m_tcp->SelectEvents(FD_READ | FD_CONNECT | FD_CLOSE);
}

int32_t CKOVAHelper::ReceivePacket(uint8_t *buffer, int32_t *length)
{
    m_tcp->SelectEvents(FD_CONNECT | FD_CLOSE);
    int32_t wanted = m_pendingBytes < LENGTH_FIELD ? int32_t{LENGTH_FIELD} : int32_t{get_u16_le(m_pending)};
    int32_t n = m_tcp->Receive(m_pending + m_pendingBytes, wanted - m_pendingBytes, 0);
    if (n < 0)
    {
        uint32_t error = pf_get_last_error();
        if (error == PF_WSAEWOULDBLOCK || error == PF_WSAEINTR)
        {
            KovaLog(m_logger, KOVA_ACTIVITY, "CKOVAHelper::ReceivePacket", k_source, __LINE__,
                    "recv would have blocked or was interrupted: [%u] - [%s]>", error, pf_error_text(error));
        }
        else if (error == PF_WSAECONNRESET)
        {
            KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::ReceivePacket", k_source, __LINE__,
                    "recv failed due to connection reset by peer.");
        }
        else
        {
            KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::ReceivePacket", k_source, __LINE__,
                    "Error in recv: [%u] - [%s].", error, pf_error_text(error));
            KovaMessageBox(OwnerWidget(), "KOVA Network Error.", k_caption);
        }
        ReadsBackOn();
        return 0;
    }
    if (n == 0)
    {
        KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::ReceivePacket", k_source, __LINE__,
                "recv failed due to connection reset by peer.");
        ReadsBackOn();
        return 0;
    }
    m_pendingBytes += n;
    if (m_pendingBytes == LENGTH_FIELD && wanted == LENGTH_FIELD)
    {
        int32_t packet_length = get_u16_le(m_pending);
        if (packet_length < PACKET_MIN || packet_length > PACKET_MAX_READ)
        {
            KovaLog(m_logger, KOVA_ACTIVITY, "CKOVAHelper::ReceivePacket", k_source, __LINE__,
                    "Error in length field of Recieved Packet");
            m_pendingBytes = 0;
            return -1;
        }
        // The rest is read at once when it is there; otherwise at the next notification.
        return ReceivePacket(buffer, length);
    }
    ReadsBackOn();
    if (m_pendingBytes < wanted)
    {
        return 0;
    }
    memcpy(buffer, m_pending, static_cast<size_t>(wanted));
    *length = wanted;
    m_pendingBytes = 0;
    return 1;
}

void CKOVAHelper::ReceiveData()
{
    uint8_t buffer[KOVA_PACKET_MAX] = {};
    int32_t length = 0;
    int32_t result = ReceivePacket(buffer, &length);
    if (result < 0)
    {
        EndLink();
        return;
    }
    if (result == 0)
    {
        return;
    }
    if (!m_header->ValidateCheckSum(buffer, buffer + NETWORK_HEADER, length))
    {
        KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::ReceiveData", k_source, __LINE__,
                "Error in validating CheckSum");
        KovaMessageBox(OwnerWidget(), "Error in validating CheckSum", k_caption);
    }
    if (!m_header->ValidateSequenceNo(buffer))
    {
        KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::ReceiveData", k_source, __LINE__,
                "Error in Validating Sequence No.");
        KovaMessageBox(OwnerWidget(), "Error in Validating Sequence No.", k_caption);
    }
    if (m_listener != nullptr)
    {
        m_listener->RouteMessage(buffer, get_u16_le(buffer + KOVA_TRANSCODE_OFFSET));
    }
}

int32_t CKOVAHelper::SendPacket(const uint8_t *packet, int32_t length)
{
    uint8_t copy[KOVA_PACKET_MAX];
    int32_t total = length < 0 ? 0 : length > int32_t{KOVA_PACKET_MAX} ? int32_t{KOVA_PACKET_MAX} : length;
    if (total > 0)
    {
        memcpy(copy, packet, static_cast<size_t>(total));
    }
    int32_t sent = 0;
    while (sent < total)
    {
        int32_t n = m_tcp->Send(copy + sent, total - sent, 0);
        if (n <= 0)
        {
            KovaLog(m_logger, KOVA_EVENT, "CKOVAHelper::SendPacket", k_source, __LINE__,
                    " Error in sending packet Error code [%u]", pf_get_last_error());
            KovaMessageBox(OwnerWidget(), "KOVA network error.", k_caption);
            return 0;
        }
        sent += n;
    }
    return 1;
}

int32_t CKOVAHelper::GeneratePacketHeader(uint8_t *packet, uint16_t transcode)
{
    put_u16_le(packet + KOVA_TRANSCODE_OFFSET, transcode);
    return 1;
}

int32_t CKOVAHelper::GenerateNetworkHeader(uint8_t *packet, uint16_t length)
{
    put_u16_le(packet, length);
    return 1;
}

int32_t CKOVAHelper::SendFixed(uint8_t *request, uint16_t length, uint16_t transcode)
{
    GeneratePacketHeader(request, transcode);
    GenerateNetworkHeader(request, length);
    return SendPacket(request, length);
}

int32_t CKOVAHelper::SendLogonMessage(const uint8_t (&request)[90])
{
    uint8_t copy[90];
    memcpy(copy, request, sizeof copy);
    return SendFixed(copy, sizeof copy, 1000);
}

int32_t CKOVAHelper::SendChangeConfigurationRequest(const uint8_t (&request)[144])
{
    uint8_t copy[144];
    memcpy(copy, request, sizeof copy);
    return SendFixed(copy, sizeof copy, 2100);
}

int32_t CKOVAHelper::SendQueryStatus(const uint8_t (&request)[32])
{
    uint8_t copy[32];
    memcpy(copy, request, sizeof copy);
    return SendFixed(copy, sizeof copy, 3000);
}
