// Set-up of the FIX application through its entry points: what makes creation fail, the
// dummy session of a settings file without sessions, FIX_LOGGING, the poll of a stopped
// acceptor, the acceptor's daily roll of the FIX logs, and the admission test with its
// message allowance.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "gateway/fix_network_handle/fix_front_end_test_support.h"
#include "gateway/runtime/logger.h"

using namespace fix_front_end_test;

namespace
{
bool folderExists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes the acceptor's listening socket on the port stop listening, as a broken listener
// does; false when this process has no such socket.
bool breakListener(uint16_t port)
{
    for (int fd = 0; fd < 1024; ++fd)
    {
        sockaddr_in address = {};
        socklen_t length = sizeof(address);
        int listening = 0;
        socklen_t size = sizeof(listening);
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
            address.sin_family != AF_INET || ntohs(address.sin_port) != port ||
            getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening == 0)
            continue;
        return shutdown(fd, SHUT_RDWR) == 0;
    }
    return false;
}
} // namespace

TEST(FixApplicationSetUp, MissingContractExpiryOffsetOrSettingsGiveNoApplication)
{
    GatewaySide side;
    Application noOffset(side, 4, true, "FIX_LOGGING=Y\n");
    EXPECT_EQ(noOffset.app, nullptr);
    // A blank value reads as an empty one and is refused the same way.
    Application blankOffset(side, 4, true, "CONTRACT_EXPIRY_OFFSET= \nFIX_LOGGING=Y\n");
    EXPECT_EQ(blankOffset.app, nullptr);

    fix_test::TempFolder dir;
    std::ofstream(dir.file("qel_ip.cfg")) << "CONTRACT_EXPIRY_OFFSET=15:30:00\n";
    FixNwInfoClass *app =
        fix_nw_info_create(1, dir.file("missing.cfg").c_str(), dir.file("qel_ip.cfg").c_str(),
                           side.toUserSession(), side.toBoxComm(), side.toInterface(), 4, &side.shutdown,
                           side.allowInvitations, side.recoveryQueueOverflow, &side.holdWord,
                           side.sessionRecovery, side.userLogoffInProgress, &side.dayFlag14, nullptr);
    EXPECT_EQ(app, nullptr);
    fix_nw_info_destroy(nullptr);
}

TEST(FixApplicationSetUp, StartThatFailsPartWayLeavesNoEngineSessionBehind)
{
    GatewaySide side;
    Application listening(side, 4);
    ASSERT_NE(listening.app, nullptr);
    // A second application on the same port makes its session, then cannot listen.
    const char *const other = "1002,MEMBR,1";
    fix_test::TempFolder dir;
    std::ofstream(dir.file("fix_settings.cfg")) << acceptorSettings(dir, listening.port, true, {other});
    std::ofstream(dir.file("qel_ip.cfg")) << "CONTRACT_EXPIRY_OFFSET=15:30:00\n";
    FixNwInfoClass *app =
        fix_nw_info_create(2, dir.file("fix_settings.cfg").c_str(), dir.file("qel_ip.cfg").c_str(),
                           side.toUserSession(), side.toBoxComm(), side.toInterface(), 4, &side.shutdown,
                           side.allowInvitations, side.recoveryQueueOverflow, &side.holdWord,
                           side.sessionRecovery, side.userLogoffInProgress, &side.dayFlag14, nullptr);
    EXPECT_EQ(app, nullptr);
    fix_nw_info_destroy(app);
    EXPECT_EQ(FIX::Session::lookupSession(FIX::SessionID("FIX.4.2", GATEWAY_COMP_ID, other)), nullptr);
    // The first application is untouched.
    EXPECT_NE(FIX::Session::lookupSession(FIX::SessionID("FIX.4.2", GATEWAY_COMP_ID, CLIENT_COMP_ID)),
              nullptr);
    EXPECT_EQ(fix_nw_info_poll_acceptor(listening.app), 0);
}

TEST(FixApplicationSetUp, SettingsWithoutSessionsGiveTheDummySession)
{
    GatewaySide side;
    Application a(side, 4, false);
    ASSERT_NE(a.app, nullptr);
    FIX::SessionID dummy("FIX.4.2", "000,000000,0", "000,000000,0");
    EXPECT_NE(FIX::Session::lookupSession(dummy), nullptr);
    // Only configured sessions have their logs rolled.
    EXPECT_EQ(a.app->loggerObject()->count, 0u);
    EXPECT_TRUE(fix_test::canConnect("127.0.0.1", a.port));
    EXPECT_EQ(fix_nw_info_poll_acceptor(a.app), 0);
    fix_nw_info_stop(a.app);
    EXPECT_EQ(fix_nw_info_poll_acceptor(a.app), 10000);
}

TEST(FixApplicationSetUp, ListenerEndingOnItsOwnIsSeenByThePoll)
{
    GatewaySide side;
    Application a(side, 4, true);
    ASSERT_NE(a.app, nullptr);
    ASSERT_EQ(fix_nw_info_poll_acceptor(a.app), 0);
    ASSERT_TRUE(breakListener(a.port));
    EXPECT_TRUE(fix_test::waitUntil([&] { return fix_nw_info_poll_acceptor(a.app) == 10000; }, 10000))
        << "the acceptor's thread went on without a listener";
    EXPECT_FALSE(fix_test::canConnect("127.0.0.1", a.port));
}

TEST(FixApplicationSetUp, FixLoggingOtherThanYTurnsFileLogsOff)
{
    struct
    {
        const char *config;
        bool fileLogs;
    } cases[] = {
        {"CONTRACT_EXPIRY_OFFSET=15:30:00\n", true},
        {"CONTRACT_EXPIRY_OFFSET=15:30:00\nFIX_LOGGING=Y\n", true},
        {"CONTRACT_EXPIRY_OFFSET=15:30:00\nFIX_LOGGING=y\n", false},
        {"CONTRACT_EXPIRY_OFFSET=15:30:00\nFIX_LOGGING=N\n", false},
    };
    for (const auto &c : cases)
    {
        GatewaySide side;
        Application a(side, 4, true, c.config);
        ASSERT_NE(a.app, nullptr) << c.config;
        EXPECT_EQ(folderExists(a.dir.file("fixlog")), c.fileLogs) << c.config;
    }
}

TEST(FixApplicationSetUp, DayFlagRollsTheSessionLogsOnTheAcceptorThread)
{
    fix_test::TempFolder logs;
    std::ofstream(logs.file("log.cfg")) << "LOG_FILE_PATH=" << logs.path() << "\n";
    const char *names[] = {"fix_network_handler_recv_thread"};
    logger_object_container *loggers = logger_object_container_create(logs.file("log.cfg").c_str(), names, 1);
    ASSERT_NE(loggers, nullptr);
    {
        GatewaySide side;
        Application a(side, 4, true, "CONTRACT_EXPIRY_OFFSET=15:30:00\n", CLIENT_COMP_ID, "",
                      loggers->loggers[0]);
        ASSERT_NE(a.app, nullptr);
        ASSERT_EQ(a.app->loggerObject()->count, 1u);
        FIX::Log *log =
            fixNwInfoGetSessionLog(FIX::Session::lookupSession(*a.app->loggerObject()->session_id_array[0]));
        ASSERT_NE(log, nullptr);
        std::string &name = *log->getMessagesFileName();
        const std::string::size_type dot = name.rfind('.');
        const std::string today = name.substr(dot - 8, 8);
        name.replace(dot - 8, 8, "20000101");
        const std::string rolled = name.substr(0, dot - 8) + today + name.substr(dot);

        ea_flag_set(&side.dayFlag14, 1);
        // The acceptor thread rolls between two socket waits.
        EXPECT_TRUE(fix_test::waitUntil([&] { return ea_flag_get(&side.dayFlag14) == 0; }));
        EXPECT_EQ(*log->getMessagesFileName(), rolled);
        EXPECT_EQ(ea_flag_get(&side.shutdown), 0);
    }
    logger_object_container_destroy(loggers);
}

TEST(FixAdmission, AllowanceIsRefreshedOnlyWhileTheLinkIsFree)
{
    GatewaySide side;
    Application a(side, 4, true, "CONTRACT_EXPIRY_OFFSET=15:30:00\n");
    ASSERT_NE(a.app, nullptr);
    FixSessionInfoContainer *c = a.app->sessionContainer();
    c->flow_control_count = 1;
    FIX::SessionID id("FIX.4.2", GATEWAY_COMP_ID, CLIENT_COMP_ID);
    int32_t handle = 0;
    uint16_t slot = 0;
    ASSERT_EQ(c->fixSessionInfoContainerAddSession(new FIX::SessionID(id), &handle, &slot, nullptr), 0);
    FixSessionSlot &s = c->slots[slot];
    s.link_index = 0;

    struct
    {
        uint16_t state;
        int32_t result;
    } states[] = {{0, -5}, {1, -4}, {3, -6}};
    for (const auto &st : states)
    {
        s.state = st.state;
        EXPECT_EQ(a.app->fixNwInfoProcessSession(id, &slot, nullptr), st.result) << st.state;
    }
    s.state = FIX_SLOT_READY;
    s.pending = 1;
    EXPECT_EQ(a.app->fixNwInfoProcessSession(id, &slot, nullptr), -300);
    s.pending = 0;
    EXPECT_EQ(a.app->fixNwInfoProcessSession(id, &slot, nullptr), 0);
    // The allowance of one is used up; a busy link keeps it so.
    ea_flag_set(&side.holdWord, 1);
    EXPECT_EQ(a.app->fixNwInfoProcessSession(id, &slot, nullptr), -300);
    ea_flag_set(&side.holdWord, 0);
    ea_flag_set(&side.userLogoffInProgress[slot + c->index_base], 1);
    EXPECT_EQ(a.app->fixNwInfoProcessSession(id, &slot, nullptr), -300);
    ea_flag_set(&side.userLogoffInProgress[slot + c->index_base], 0);
    ea_flag_set(&side.allowInvitations[0], 0);
    EXPECT_EQ(a.app->fixNwInfoProcessSession(id, &slot, nullptr), -300);
    ea_flag_set(&side.allowInvitations[0], 1);
    EXPECT_EQ(a.app->fixNwInfoProcessSession(id, &slot, nullptr), 0);
    FIX::SessionID unknown("FIX.4.2", GATEWAY_COMP_ID, "9,X,1");
    EXPECT_EQ(a.app->fixNwInfoProcessSession(unknown, &slot, nullptr), -1);
}
