// The console's link to a gateway console port. Every dialog or page that talks to a
// gateway implements CConnectionListener and owns one CKOVAHelper, which connects to
// 127.0.0.1 on the port, reads the gateway's length-framed packets and hands each one
// whole, with its transcode, to RouteMessage; the owner builds its requests itself (40
// or 38 bytes, KovaRequestLength) and sends them with SendPacket.
//
// Calling order, on the user-interface thread: construct with the logger; SetListener;
// Create (the helper becomes a QObject child of its owner named "KOVA Helper");
// EstablishConnection("127.0.0.1", port). Then OnConnectionEstablished, RouteMessage for
// each packet, and OnConnectionLost exactly once when the link ends: the gateway closed
// it or reset it, a frame's length was outside 3 to 1023 (the stream cannot be followed
// after it), or the connect failed (refused: the gateway is not running). By then the
// socket is closed and the connected flag is 0. The helper never reconnects by itself.
// A thread other than the user-interface thread posts EstablishConnection to it
// (KovaPostToUiThread). The logger must outlive the helper.
//
// Console packets: u16 length at 0 (whole packet), zeros to 20, u16 transcode at 20,
// body; all numbers little-endian. Packets of 3 to 1023 bytes are read; a packet split
// over several segments is assembled, several in one segment are delivered one by one.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "console/kova_md5.h"
#include "console/kova_tcp.h"

class CLogger;
class QWidget;

class CConnectionListener
{
  public:
    virtual ~CConnectionListener() = default;
    // packet: the whole packet (its length field included) in a 1024-byte buffer.
    virtual void RouteMessage(const uint8_t *packet, uint16_t transcode) = 0;
    virtual void OnConnectionEstablished() = 0;
    virtual void OnConnectionLost() = 0;

    int32_t m_connected = 0; // 1 while the helper's connection stands
};

class CNetworkHeader
{
  public:
    explicit CNetworkHeader(CLogger *logger);
    ~CNetworkHeader();
    CNetworkHeader(const CNetworkHeader &) = delete;
    CNetworkHeader &operator=(const CNetworkHeader &) = delete;

    // MD5 of the body (total_length - 20 bytes) into the checksum slot at header + 4.
    bool GenerateChecksum(uint8_t *header, const uint8_t *body, int32_t total_length);
    // The console accepts every packet's checksum and sequence number.
    bool ValidateCheckSum(const uint8_t *header, const uint8_t *body, int32_t length);
    bool ValidateSequenceNo(const uint8_t *header);

  private:
    CMD5 *m_md5;
};

// The three process-wide widened-user-id flags (0 until a market's live event log page
// accepts its gateway's version).
extern int32_t TX_USERID_INCREASE_FLAG;
extern int32_t GUV_USERID_INCREASE_FLAG;
extern int32_t RAQE_USERID_INCREASE_FLAG;

enum : int32_t
{
    KOVA_MARKET_KR = 1,
    KOVA_MARKET_TX = 2,
    KOVA_MARKET_ZBL = 3,
    KOVA_MARKET_GUV = 4,
    KOVA_MARKET_HY = 5,
    KOVA_MARKET_RAQE = 6,
    KOVA_MARKET_JN = 7,
};

enum : uint16_t
{
    KOVA_PACKET_MAX = 1024,
    KOVA_REQUEST_WIDENED = 40,
    KOVA_REQUEST_NARROW = 38,
    KOVA_TRANSCODE_OFFSET = 20,
};

// The length of a request to a market's gateway: 40 for KR, for TX, GUV and RAQE while
// their flag is set; 38 otherwise.
uint16_t KovaRequestLength(int32_t market);

class CKOVAHelper : public QObject
{
    Q_OBJECT

  public:
    explicit CKOVAHelper(CLogger *logger);
    ~CKOVAHelper() override;

    void SetListener(CConnectionListener *listener, int32_t identifier);
    // Makes the helper a child of owner named "KOVA Helper" (message boxes of the link
    // are shown over owner when it is a widget).
    void Create(QObject *owner);
    // 1 when the connection attempt is under way, 0 on failure (logged and shown).
    int32_t EstablishConnection(const std::string &address, const std::string &port);
    // 1 when every byte (at most 1024) was sent, 0 on a socket error (logged and shown).
    int32_t SendPacket(const uint8_t *packet, int32_t length);

    // Request builders' header fills: the transcode at 20, the length at 0. Always 1.
    int32_t GeneratePacketHeader(uint8_t *packet, uint16_t transcode);
    int32_t GenerateNetworkHeader(uint8_t *packet, uint16_t length);
    // Fixed requests no console page sends (the gateway answers none of them).
    int32_t SendLogonMessage(const uint8_t (&request)[90]);
    int32_t SendChangeConfigurationRequest(const uint8_t (&request)[144]);
    int32_t SendQueryStatus(const uint8_t (&request)[32]);

    // The handler of the socket notification: wParam the socket, lParam the event in the
    // low word and the error in the high word. Answers 0.
    int32_t OnSocketMessage(uintptr_t wParam, intptr_t lParam);

    // The read path: one packet into buffer (1024 bytes) per read notification. 1 with
    // the packet's length in *length; 0 when no whole packet is there yet (or a read
    // failed); -1 when the length field is outside 3 to 1023 (the link must end).
    int32_t ReceivePacket(uint8_t *buffer, int32_t *length);
    void ReceiveData();

    // Changes the logger of the helper and its socket (null: the link writes no lines,
    // for an owner that logs a series of failed connects once).
    void SetLogger(CLogger *logger);
    CLogger *Logger() const { return m_logger; }

    CTcp *Tcp() const { return m_tcp.get(); }
    int32_t Identifier() const { return m_identifier; }
    QWidget *OwnerWidget() const;

  private:
    void EndLink();
    void ReadsBackOn();
    int32_t SendFixed(uint8_t *request, uint16_t length, uint16_t transcode);

    CLogger *m_logger;
    std::unique_ptr<CTcp> m_tcp;
    std::unique_ptr<CNetworkHeader> m_header;
    int32_t m_identifier;
    CConnectionListener *m_listener;
    uint8_t m_pending[KOVA_PACKET_MAX]; // the packet being assembled
    int32_t m_pendingBytes;
};
