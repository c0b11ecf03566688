// The FIX and HTTP listeners bind to the DEFAULT NicIpAddress, or to every interface
// without it; a second session on the same port shares the one listener. Its own
// executable: the engine's HTTP server is shared by the process and counts every acceptor
// that stops, with or without an HTTP port, so other suites would unbalance it.
#include <gtest/gtest.h>

#include "fix_engine/fix_acceptor_test_support.h"

namespace
{

using fix_test::acceptorSettings;
using fix_test::RunningAcceptor;

struct BindCase
{
    const char *name;
    const char *defaults; // %s: the HTTP port
    bool onFirst;         // 127.0.0.1
    bool onSecond;        // 127.0.0.2
};

class BindAddress : public ::testing::TestWithParam<BindCase>
{
};

TEST_P(BindAddress, FixAndHttpListenersBindWhereTold)
{
    const BindCase &c = GetParam();
    fix_test::TempFolder folder;
    qel_test::reserved_port fixReservation;
    qel_test::reserved_port httpReservation;
    const uint16_t fixPort = fixReservation.number();
    const uint16_t httpPort = httpReservation.number();
    const std::string defaults = fix_test::fill(c.defaults, std::to_string(httpPort));
    // A second session on the same port: one listener, bound to the same address.
    RunningAcceptor running(acceptorSettings(folder.path(), fixPort, defaults,
                                             "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=GATEWAY\n"
                                             "TargetCompID=OTHER\n"));

    for (uint16_t port : {fixPort, httpPort})
    {
        SCOPED_TRACE(port == fixPort ? "FIX listener" : "HTTP listener");
        EXPECT_EQ(c.onFirst, fix_test::canConnect("127.0.0.1", port));
        EXPECT_EQ(c.onSecond, fix_test::canConnect("127.0.0.2", port));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, BindAddress,
    ::testing::Values(BindCase{"Absent", "HttpAcceptPort=%s\n", true, true},
                      BindCase{"First", "HttpAcceptPort=%s\nNicIpAddress=127.0.0.1\n", true, false},
                      BindCase{"Second", "HttpAcceptPort=%s\nNicIpAddress=127.0.0.2\n", false, true}),
    [](const ::testing::TestParamInfo<BindCase> &info) { return std::string(info.param.name); });

} // namespace
