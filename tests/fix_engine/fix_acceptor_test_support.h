// An acceptor of the engine with file stores and file logs, for the listener suites.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "FieldConvertors.h"
#include "FileLog.h"
#include "FileStore.h"
#include "SocketAcceptor.h"
#include "fix_engine/fix_engine_test_support.h"

namespace fix_test
{

inline std::string acceptorSettings(const std::string &folder, uint16_t port, const std::string &defaults,
                                    const std::string &sessionExtra = "",
                                    const std::string &target = "CLIENT")
{
    return "[DEFAULT]\n"
           "ConnectionType=acceptor\n"
           "StartTime=00:00:00\nEndTime=00:00:00\n"
           "UseDataDictionary=N\n"
           "SocketAcceptPort=" +
           std::to_string(port) + "\nFileStorePath=" + folder + "/store\nFileLogPath=" + folder + "/log\n" +
           defaults + "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=GATEWAY\nTargetCompID=" + target + "\n" +
           sessionExtra;
}

// A message of the acceptor's session with `sender` (by default "CLIENT") as its client
// sends it, framed with the sending time of now and its real CheckSum, which the session
// checks; `body` holds the body's fields, each ended by SOH.
inline std::string clientMessage(const std::string &type, int sequence, const std::string &body,
                                 const std::string &sender = "CLIENT")
{
    const std::string soh(1, '\x01');
    const std::string fields = "35=" + type + soh + "34=" + std::to_string(sequence) + soh + "49=" + sender +
                               soh + "52=" + FIX::UtcTimeStampConvertor::convert(FIX::UtcTimeStamp(), 3) +
                               soh + "56=GATEWAY" + soh + body;
    std::string message = "8=FIX.4.2" + soh + "9=" + std::to_string(fields.size()) + soh + fields;
    unsigned sum = 0;
    for (unsigned char c : message)
        sum += c;
    char checksum[8];
    snprintf(checksum, sizeof(checksum), "%03u", sum % 256);
    return message + "10=" + checksum + soh;
}

// The client's Logon: sequence number 1 and a reset.
inline std::string clientLogon()
{
    return clientMessage("A", 1,
                         "98=0\x01"
                         "108=30\x01"
                         "141=Y\x01");
}

// One acceptor with file stores and file logs and an application of the given kind (by
// default the gateway's part), started in its own thread unless told otherwise; the
// application's constructor takes the arguments after startNow.
template <typename AcceptorApplication> struct RunningAcceptorOf
{
    template <typename... ApplicationArguments>
    explicit RunningAcceptorOf(const std::string &settingsText, bool startNow = true,
                               ApplicationArguments... applicationArguments)
        : application(applicationArguments...), settings(settingsFrom(settingsText)), stores(settings),
          logs(settings), acceptor(new FIX::SocketAcceptor(application, stores, settings, logs))
    {
        if (startNow)
            start();
    }
    // The engine's stop after a failed start would unbalance its shared HTTP server.
    ~RunningAcceptorOf()
    {
        if (started)
            acceptor->stop(true);
    }
    void start()
    {
        acceptor->start();
        started = true;
    }

    AcceptorApplication application;
    FIX::SessionSettings settings;
    FIX::FileStoreFactory stores;
    FIX::FileLogFactory logs;
    std::unique_ptr<FIX::SocketAcceptor> acceptor;
    bool started = false;
};

typedef RunningAcceptorOf<GatewayLikeApplication> RunningAcceptor;

} // namespace fix_test
