// scripts/run.sh names a demo port as taken exactly when the demo's listener could not bind
// 127.0.0.1 on it: the kernel decides, for listeners on each kind of address, and the
// script's own check (port_holders, taken out of the script as it stands) must agree,
// through ss and through its fallback without ss. A listener on every IPv6 address alone
// (IPV6_V6ONLY) leaves 127.0.0.1 free; one on every address of both families does not.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace
{

struct Listener
{
    const char *name;
    int family;
    const char *address;
    int v6only; // -1: not set (an IPv4 socket)
};

// A port no socket of any address holds now: the kernel picks it for a socket on every
// address of both families (every IPv4 address where there is no IPv6), which no other
// socket on that port may share. Picked for the listener's own address alone, the port
// could be one that a program beside this one (a gateway of another suite) holds on
// 127.0.0.1, and the case would judge that program's listener instead of its own.
uint16_t freeOnEveryAddress()
{
    for (const int family : {AF_INET6, AF_INET})
    {
        const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        sockaddr_storage address = {};
        address.ss_family = static_cast<sa_family_t>(family);
        socklen_t size = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        const int off = 0;
        if (family == AF_INET6)
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        uint16_t port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
            port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port
                                            : reinterpret_cast<sockaddr_in *>(&address)->sin_port);
        ::close(fd);
        if (port != 0)
            return port;
    }
    return 0;
}

// A listening socket on the address with a port free on every address (0 when it cannot
// be made here, as without IPv6); *fd is kept open for the caller.
uint16_t listenOn(const Listener &l, int *fd)
{
    *fd = ::socket(l.family, SOCK_STREAM | SOCK_CLOEXEC, 0); // held by this process alone
    if (*fd < 0)
        return 0;
    const int on = 1;
    setsockopt(*fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (l.v6only >= 0)
        setsockopt(*fd, IPPROTO_IPV6, IPV6_V6ONLY, &l.v6only, sizeof l.v6only);
    sockaddr_storage address = {};
    socklen_t size = 0;
    if (l.family == AF_INET)
    {
        sockaddr_in *in = reinterpret_cast<sockaddr_in *>(&address);
        in->sin_family = AF_INET;
        inet_pton(AF_INET, l.address, &in->sin_addr);
        in->sin_port = htons(freeOnEveryAddress());
        size = sizeof *in;
    }
    else
    {
        sockaddr_in6 *in6 = reinterpret_cast<sockaddr_in6 *>(&address);
        in6->sin6_family = AF_INET6;
        inet_pton(AF_INET6, l.address, &in6->sin6_addr);
        in6->sin6_port = htons(freeOnEveryAddress());
        size = sizeof *in6;
    }
    if (::bind(*fd, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(*fd, 4) != 0 ||
        getsockname(*fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return 0;
    return ntohs(l.family == AF_INET ? reinterpret_cast<sockaddr_in *>(&address)->sin_port
                                     : reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port);
}

// Whether a listener of the demo's kind (127.0.0.1, address reuse set, as the gateway's and
// the simulated host's) can take the port now.
bool demoBinds(uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in in = {};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &in.sin_addr);
    const bool binds = ::bind(fd, reinterpret_cast<sockaddr *>(&in), sizeof in) == 0 && ::listen(fd, 1) == 0;
    ::close(fd);
    return binds;
}

// What run.sh's port_holders says of the port; with `withoutSs`, as on a machine without ss.
std::string portHolders(uint16_t port, bool withoutSs)
{
    const std::string script = "eval \"$(sed -n '/^port_holders() {$/,/^}$/p' \"$1\")\"\n"
                               "declare -F port_holders > /dev/null || exit 3\n" +
                               std::string(withoutSs ? "PATH=/nonexistent " : "") + "port_holders \"$2\"\n";
    const qel_test::process_result r =
        qel_test::run_process({"/bin/bash", "-c", script, "bash",
                               std::string(QEL_SOURCE_DIR) + "/scripts/run.sh", std::to_string(port)},
                              "/", 10000);
    EXPECT_EQ(0, r.exit_code) << r.output;
    return r.output;
}

TEST(RunPortCheck, APortIsNamedTakenExactlyWhenTheDemoCouldNotBindIt)
{
    const Listener listeners[] = {
        {"127.0.0.1", AF_INET, "127.0.0.1", -1},
        {"every IPv4 address", AF_INET, "0.0.0.0", -1},
        {"another loopback address", AF_INET, "127.0.0.2", -1},
        {"every IPv6 address alone", AF_INET6, "::", 1},
        {"every address of both families", AF_INET6, "::", 0},
        {"the IPv6 loopback", AF_INET6, "::1", 1},
        {"127.0.0.1 mapped into IPv6", AF_INET6, "::ffff:127.0.0.1", 0},
        {"every IPv4 address mapped into IPv6", AF_INET6, "::ffff:0.0.0.0", 0},
    };
    bool sawFree = false;
    bool sawTaken = false;
    for (const Listener &l : listeners)
    {
        SCOPED_TRACE(l.name);
        int fd = -1;
        const uint16_t port = listenOn(l, &fd);
        if (port == 0)
        {
            ::close(fd);
            continue; // no such address here
        }
        const bool taken = !demoBinds(port);
        (taken ? sawTaken : sawFree) = true;
        const std::string said = portHolders(port, false);
        if (taken)
        {
            EXPECT_NE(said.find(":" + std::to_string(port) + " held by "), std::string::npos) << said;
            EXPECT_NE(said.find("run_port_check"), std::string::npos) << said;
        }
        else
            EXPECT_EQ("", said);
        const std::string saidWithoutSs = portHolders(port, true);
        if (taken)
            EXPECT_NE(saidWithoutSs.find("127.0.0.1:" + std::to_string(port) + " accepts connections"),
                      std::string::npos)
                << saidWithoutSs;
        else
            EXPECT_EQ("", saidWithoutSs);
        ::close(fd);
    }
    EXPECT_TRUE(sawFree);
    EXPECT_TRUE(sawTaken);
}

} // namespace
