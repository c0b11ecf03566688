// An acceptor of the engine with file stores and file logs, for the listener suites.
#pragma once

#include <memory>
#include <string>

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

// One acceptor with file stores and file logs, started in its own thread.
struct RunningAcceptor
{
    RunningAcceptor(const std::string &settingsText, bool startNow = true)
        : settings(settingsFrom(settingsText)), stores(settings), logs(settings),
          acceptor(new FIX::SocketAcceptor(application, stores, settings, logs))
    {
        if (startNow)
            start();
    }
    // The engine's stop after a failed start would unbalance its shared HTTP server.
    ~RunningAcceptor()
    {
        if (started)
            acceptor->stop(true);
    }
    void start()
    {
        acceptor->start();
        started = true;
    }

    GatewayLikeApplication application;
    FIX::SessionSettings settings;
    FIX::FileStoreFactory stores;
    FIX::FileLogFactory logs;
    std::unique_ptr<FIX::SocketAcceptor> acceptor;
    bool started = false;
};

} // namespace fix_test
