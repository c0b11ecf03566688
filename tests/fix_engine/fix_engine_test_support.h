// Helpers of the FIX engine suites: temporary folders, reserved ports, connections from
// a chosen loopback address, waiting for a condition, reading files and their modes under
// a chosen umask, a transport that records what a session sends, and an application that
// plays the gateway's part (handles kept in m_nwHandle, no Logon answer).
// Header-only and C++14, like every target that includes the engine's headers.
#pragma once

#include <arpa/inet.h>
#include <ftw.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Application.h"
#include "Responder.h"
#include "Session.h"
#include "SessionSettings.h"
#include "support/test_support.h"

namespace fix_test
{

class TempFolder
{
  public:
    TempFolder()
    {
        char name[] = "/tmp/qel_fix_engine_XXXXXX";
        if (mkdtemp(name) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = name;
    }
    ~TempFolder()
    {
        nftw(
            m_path.c_str(),
            [](const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

inline bool fileExists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// The permission bits of a file, or -1 when it cannot be read.
inline int fileMode(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

// The process's umask for as long as it lives.
class ScopedUmask
{
  public:
    explicit ScopedUmask(mode_t mask) : m_previous(umask(mask)) {}
    ~ScopedUmask() { umask(m_previous); }
    ScopedUmask(const ScopedUmask &) = delete;
    ScopedUmask &operator=(const ScopedUmask &) = delete;

  private:
    mode_t m_previous;
};

inline std::vector<std::string> readLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path.c_str());
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path.c_str());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The local date as the engine's file log writes it into its file names.
inline std::string localDate(time_t when)
{
    tm local;
    localtime_r(&when, &local);
    char date[16];
    strftime(date, sizeof(date), "%Y%m%d", &local);
    return date;
}

// A connected socket to ip:port, or -1.
inline int connectTo(uint16_t port, const char *ip = "127.0.0.1")
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip, &address.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0)
    {
        ::close(s);
        return -1;
    }
    return s;
}

// A socket connected from the local address `from` to 127.0.0.1:port, or -1: peers on
// different loopback addresses.
inline int connectFrom(const char *from, uint16_t port)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (bind(s, reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0 ||
        connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0)
    {
        ::close(s);
        return -1;
    }
    return s;
}

inline bool canConnect(const char *ip, uint16_t port)
{
    const int s = connectTo(port, ip);
    if (s >= 0)
        ::close(s);
    return s >= 0;
}

inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline FIX::SessionSettings settingsFrom(const std::string &text)
{
    std::istringstream in(text);
    return FIX::SessionSettings(in);
}

// Turns the engine's SOH-separated text into "|"-separated text for assertions.
// Puts a value in place of the first "%s" of a pattern.
inline std::string fill(std::string pattern, const std::string &value)
{
    const std::string::size_type at = pattern.find("%s");
    if (at != std::string::npos)
        pattern.replace(at, 2, value);
    return pattern;
}

inline std::string readable(std::string text)
{
    for (char &c : text)
        if (c == '\x01')
            c = '|';
    return text;
}

// Records every string a session hands to its transport.
class RecordingResponder : public FIX::Responder
{
  public:
    bool send(const std::string &text) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sent.push_back(readable(text));
        return true;
    }
    void disconnect() override { m_disconnected = true; }

    std::vector<std::string> sent()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sent;
    }
    std::atomic<bool> m_disconnected{false};

  private:
    std::mutex m_mutex;
    std::vector<std::string> m_sent;
};

// Callbacks are noexcept: tighter than the engine's dynamic throw() lists,
// which C++11 deprecated.
// The acceptor side as the gateway runs it: -1 in onCreate, a new handle for each
// admitted Logon, -1 again in onLogout; toAdmin adds nothing, so the engine's own Logon
// answers are held back.
class GatewayLikeApplication : public FIX::Application
{
  public:
    void onCreate(const FIX::SessionID &id) override
    {
        FIX::Session *session = FIX::Session::lookupSession(id);
        if (session != nullptr)
            session->m_nwHandle = -1;
        m_created++;
    }
    void onLogon(const FIX::SessionID &) override { m_logons++; }
    void onLogout(const FIX::SessionID &id) override
    {
        FIX::Session *session = FIX::Session::lookupSession(id);
        if (session != nullptr)
            session->m_nwHandle = -1;
        m_logouts++;
    }
    void toAdmin(FIX::Message &, const FIX::SessionID &) override {}
    void toApp(FIX::Message &, const FIX::SessionID &) noexcept override {}
    void fromAdmin(const FIX::Message &message, const FIX::SessionID &id) noexcept override
    {
        FIX::MsgType type;
        message.getHeader().getField(type);
        if (type != FIX::MsgType_Logon)
            return;
        FIX::Session *session = FIX::Session::lookupSession(id);
        if (session != nullptr)
            session->m_nwHandle = ++m_lastHandle;
        m_admitted++;
    }
    void fromApp(const FIX::Message &, const FIX::SessionID &) noexcept override {}
    void onMessageNotStored(const FIX::SessionID &, const std::string &fileName, int error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notStored.push_back(fileName + " " + std::to_string(error));
    }
    void onStoreNotMade(const FIX::SessionID &, const std::string &fileName, int error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_storesNotMade.push_back(fileName + " " + std::to_string(error));
    }
    // "<file> <error number>" of each message the store could not take.
    std::vector<std::string> notStored()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_notStored;
    }
    // "<file> <error number>" each time the session's store could not be made.
    std::vector<std::string> storesNotMade()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_storesNotMade;
    }

    std::atomic<int32_t> m_lastHandle{5};
    std::atomic<int> m_created{0};
    std::atomic<int> m_logons{0};
    std::atomic<int> m_logouts{0};
    std::atomic<int> m_admitted{0};

  private:
    std::mutex m_mutex;
    std::vector<std::string> m_notStored;
    std::vector<std::string> m_storesNotMade;
};

// A client of the same engine: it marks its own Logon (the engine holds any other), and
// records the raw text of every message it receives.
class ClientApplication : public FIX::Application
{
  public:
    void onCreate(const FIX::SessionID &) override {}
    void onLogon(const FIX::SessionID &) override { m_logons++; }
    void onLogout(const FIX::SessionID &) override { m_logouts++; }
    void toAdmin(FIX::Message &message, const FIX::SessionID &) override
    {
        if (message.getHeader().getField(FIX::FIELD::MsgType) == FIX::MsgType_Logon)
            message.getHeader().setField(99999, "VALID_LOGON");
    }
    void toApp(FIX::Message &, const FIX::SessionID &) noexcept override {}
    void fromAdmin(const FIX::Message &message, const FIX::SessionID &) noexcept override { record(message); }
    void fromApp(const FIX::Message &message, const FIX::SessionID &) noexcept override { record(message); }

    std::vector<std::string> received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    std::atomic<int> m_logons{0};
    std::atomic<int> m_logouts{0};

  private:
    void record(const FIX::Message &message)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(readable(message.toString()));
    }
    std::mutex m_mutex;
    std::vector<std::string> m_received;
};

} // namespace fix_test
