// CNetwork and CTcp: the console's TCP client socket to a gateway console port. The
// socket is a non-blocking platform socket watched by Qt socket notifiers on the
// user-interface thread; what it sees reaches its owner, the link helper, as the
// notification the console was written against: OnSocketMessage(socket, event | error
// << 16) with the events FD_CONNECT (writable after the connect, with the connect's
// error), FD_READ (data waits) and FD_CLOSE. A close is seen through a read: a read of
// 0 bytes or a reset posts one FD_CLOSE (with 0 or 10054), after which the socket is
// never watched again, so an ended socket that stays readable never spins the loop.
//
// Errors are Windows Sockets numbers (platform/core/pf_error.h). Create and use a CTcp on
// the user-interface thread only.
#pragma once

#include <cstdint>
#include <string>

class CKOVAHelper;
class CLogger;
class QSocketNotifier;

enum : uint32_t
{
    FD_READ = 0x01,
    FD_WRITE = 0x02,
    FD_OOB = 0x04,
    FD_ACCEPT = 0x08,
    FD_CONNECT = 0x10,
    FD_CLOSE = 0x20,
    KOVA_SOCKET_MESSAGE = 0x8065, // the notification message of the console's helper window
};

class CNetwork
{
  public:
    virtual int32_t Receive(uint8_t *buffer, int32_t count, int32_t flags);
    virtual int32_t SelectEvents(uint32_t mask);
    virtual int32_t Send(const uint8_t *buffer, int32_t count, int32_t flags);
    virtual ~CNetwork() = default;
    virtual int32_t Initialize() = 0;
    virtual int32_t OpenConnection() = 0;
    virtual void CloseConnection() = 0;
    virtual int32_t Process(uintptr_t wParam, intptr_t lParam) = 0;
    virtual std::string GetAddress() const { return std::string(); }
    virtual void SetAddress(const std::string &) {}
    virtual std::string GetPort() const { return std::string(); }
    virtual void SetPort(const std::string &) {}
};

class CTcp : public CNetwork
{
  public:
    // owner receives the notifications; logger may be null.
    CTcp(CKOVAHelper *owner, CLogger *logger);
    ~CTcp() override;
    CTcp(const CTcp &) = delete;
    CTcp &operator=(const CTcp &) = delete;

    // Bytes read, 0 when the peer closed, -1 with the error in pf_get_last_error.
    int32_t Receive(uint8_t *buffer, int32_t count, int32_t flags) override;
    // Which of FD_READ, FD_CONNECT and FD_CLOSE the owner wants to hear of.
    int32_t SelectEvents(uint32_t mask) override;
    // Bytes sent or -1 with the error in pf_get_last_error.
    int32_t Send(const uint8_t *buffer, int32_t count, int32_t flags) override;
    // Starts the socket library (version 1.0): 0 or its start-up error number.
    int32_t Initialize() override;
    // Creates the socket and starts connecting to the address and port set: the socket
    // (the connect's outcome comes as FD_CONNECT), or 0 on failure (logged and shown).
    int32_t OpenConnection() override;
    void CloseConnection() override;
    // A close notification (with or without error) closes the socket: 1; else 0.
    int32_t Process(uintptr_t wParam, intptr_t lParam) override;
    std::string GetAddress() const override { return m_address; }
    void SetAddress(const std::string &address) override { m_address = address; }
    std::string GetPort() const override { return m_port; }
    void SetPort(const std::string &port) override { m_port = port; }

    void SetLogger(CLogger *logger) { m_logger = logger; }

    int32_t Socket() const { return m_socket; }
    // True once a read saw the end of the stream (its FD_CLOSE is on its way).
    bool Ended() const { return m_ended; }

  private:
    void Watch();
    void OnReadable();
    void OnWritable();
    void PostClose(uint32_t error);

    int32_t m_socket;
    CKOVAHelper *m_owner;
    std::string m_address;
    std::string m_port;
    CLogger *m_logger;
    uint32_t m_events;
    bool m_connecting;
    bool m_ended; // the peer closed; nothing more is watched
    QSocketNotifier *m_readNotifier;
    QSocketNotifier *m_writeNotifier;
};

// The Windows Sockets start-up error texts of the console's log.
const char *KovaStartupErrorText(int32_t error);
