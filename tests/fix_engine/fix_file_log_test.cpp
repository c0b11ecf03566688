// The engine's file log with the gateway's changes: the local date in both file names,
// files for their owner only, the four accessors through which the gateway rolls a log to
// a new day, their null defaults on every other log, and the roll running while other
// threads write.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FileLog.h"
#include "Log.h"
#include "SessionState.h"
#include "fix_engine/fix_engine_test_support.h"

namespace
{

const FIX::SessionID kSession("FIX.4.2", "GATEWAY", "CLIENT");
const FIX::SessionID kQualified("FIX.4.2", "GATEWAY", "CLIENT", "EQ");

// Renames one stream of a log to the given date the way the gateway's roll does: under
// the log's lock, close, rewrite the 8 characters before the last dot, reopen truncated.
void rollStream(FIX::Log &log, std::ofstream *stream, std::string *name, const std::string &date)
{
    FIX::Locker lock(*log.getMutex());
    const std::string::size_type dot = name->rfind('.');
    *name = name->substr(0, dot - 8) + date + name->substr(dot);
    stream->close();
    stream->open(name->c_str(), std::ios::out | std::ios::trunc);
}

void roll(FIX::Log &log, const std::string &date)
{
    rollStream(log, log.getMessagesStream(), log.getMessagesFileName(), date);
    rollStream(log, log.getEventStream(), log.getEventFileName(), date);
}

struct NameCase
{
    const char *name;
    const FIX::SessionID *session; // null: the global log
    const char *messagesFile;      // %s: the date
    const char *eventFile;
};

class DatedName : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(DatedName, CarriesTheCreationDateBeforeTheLastDot)
{
    const NameCase &c = GetParam();
    fix_test::TempFolder folder;
    const std::string path = folder.file("logs/fix"); // created when missing
    const time_t before = ::time(nullptr);
    std::unique_ptr<FIX::FileLog> log(c.session ? new FIX::FileLog(path, *c.session)
                                                : new FIX::FileLog(path));
    const time_t after = ::time(nullptr);

    // Midnight may pass during construction: either side's date is right.
    std::string messages = *log->getMessagesFileName();
    std::string date = fix_test::localDate(before);
    if (messages.find(date) == std::string::npos)
        date = fix_test::localDate(after);
    EXPECT_EQ(path + "/" + fix_test::fill(c.messagesFile, date), messages);
    EXPECT_EQ(path + "/" + fix_test::fill(c.eventFile, date), *log->getEventFileName());
    EXPECT_EQ(date, messages.substr(messages.rfind('.') - 8, 8));
    EXPECT_TRUE(fix_test::fileExists(messages));
    EXPECT_TRUE(fix_test::fileExists(*log->getEventFileName()));
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, DatedName,
    ::testing::Values(NameCase{"Global", nullptr, "GLOBAL.messages.%s.log", "GLOBAL.event.%s.log"},
                      NameCase{"Session", &kSession, "FIX.4.2-GATEWAY-CLIENT.messages.%s.log",
                               "FIX.4.2-GATEWAY-CLIENT.event.%s.log"},
                      NameCase{"Qualified", &kQualified, "FIX.4.2-GATEWAY-CLIENT-EQ.messages.%s.log",
                               "FIX.4.2-GATEWAY-CLIENT-EQ.event.%s.log"}),
    [](const ::testing::TestParamInfo<NameCase> &info) { return std::string(info.param.name); });

TEST(FileLog, EmptyPathWritesInTheWorkingFolder)
{
    fix_test::TempFolder folder;
    char previous[PATH_MAX];
    ASSERT_NE(nullptr, getcwd(previous, sizeof(previous)));
    ASSERT_EQ(0, chdir(folder.path().c_str()));
    {
        FIX::FileLog log("");
        EXPECT_EQ(0u, log.getMessagesFileName()->find("./GLOBAL.messages."));
        log.onEvent("started");
    }
    const std::string date = fix_test::localDate(::time(nullptr));
    EXPECT_TRUE(fix_test::fileExists(folder.file("GLOBAL.event." + date + ".log")) ||
                fix_test::fileExists(
                    folder.file("GLOBAL.event." + fix_test::localDate(::time(nullptr) - 60) + ".log")));
    ASSERT_EQ(0, chdir(previous));
}

TEST(FileLog, SameDayAppendsAndOldDaysStayInPlace)
{
    fix_test::TempFolder folder;
    const std::string yesterday = folder.file("GLOBAL.messages.20261207.log");
    {
        std::ofstream old(yesterday.c_str());
        old << "yesterday's line\n";
    }
    std::string messages;
    {
        FIX::FileLog first(folder.path());
        first.onIncoming("first run");
        messages = *first.getMessagesFileName();
    }
    {
        FIX::FileLog second(folder.path());
        if (*second.getMessagesFileName() == messages) // not across midnight
        {
            second.onOutgoing("second run");
            std::vector<std::string> lines = fix_test::readLines(messages);
            ASSERT_EQ(2u, lines.size());
            EXPECT_NE(std::string::npos, lines[0].find(" : first run"));
            EXPECT_NE(std::string::npos, lines[1].find(" : second run"));
        }
    }
    EXPECT_EQ(std::vector<std::string>{"yesterday's line"}, fix_test::readLines(yesterday));
}

TEST(FileLog, AccessorsHandOutTheLogsOwnMembers)
{
    fix_test::TempFolder folder;
    FIX::FileLog log(folder.path(), kSession);
    EXPECT_TRUE(log.getMessagesStream()->is_open());
    EXPECT_TRUE(log.getEventStream()->is_open());
    ASSERT_NE(nullptr, log.getMutex());

    // What goes through a stream pointer lands in the file its name pointer names, next to
    // the log's own lines.
    log.onIncoming("before");
    log.onEvent("event before");
    *log.getMessagesStream() << "through the messages stream" << std::endl;
    *log.getEventStream() << "through the event stream" << std::endl;
    const std::string oldMessages = *log.getMessagesFileName();
    const std::string oldEvent = *log.getEventFileName();
    EXPECT_NE(oldMessages, oldEvent);
    std::vector<std::string> messages = fix_test::readLines(oldMessages);
    ASSERT_EQ(2u, messages.size());
    EXPECT_NE(std::string::npos, messages[0].find(" : before"));
    EXPECT_EQ("through the messages stream", messages[1]);
    std::vector<std::string> events = fix_test::readLines(oldEvent);
    ASSERT_EQ(2u, events.size());
    EXPECT_NE(std::string::npos, events[0].find(" : event before"));
    EXPECT_EQ("through the event stream", events[1]);

    // The mutex is the one the log's own writes take: a write waits while a caller holds it.
    std::atomic<bool> written{false};
    std::thread writer;
    {
        FIX::Locker lock(*log.getMutex());
        writer = std::thread(
            [&]
            {
                log.onEvent("while held");
                written = true;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(written.load()) << "the write went on under the caller's lock";
    }
    writer.join();
    EXPECT_TRUE(written.load());

    // Through the pointers a caller renames and reopens; the log writes on under the new name.
    roll(log, "20991231");
    log.onIncoming("after");
    log.onEvent("event after");
    EXPECT_EQ(folder.file("FIX.4.2-GATEWAY-CLIENT.messages.20991231.log"), *log.getMessagesFileName());
    EXPECT_EQ(2u, fix_test::readLines(oldMessages).size());
    EXPECT_EQ(3u, fix_test::readLines(oldEvent).size());
    ASSERT_EQ(1u, fix_test::readLines(*log.getMessagesFileName()).size());
    EXPECT_NE(std::string::npos, fix_test::readLines(*log.getMessagesFileName())[0].find(" : after"));
    EXPECT_EQ(1u, fix_test::readLines(folder.file("FIX.4.2-GATEWAY-CLIENT.event.20991231.log")).size());
}

// Both files hold what clients send, passwords included: whatever the umask, they are
// created for their owner only, again after a clear and a backup; a file that was there
// keeps its mode and its lines.
TEST(FileLog, FilesAreCreatedForTheirOwnerOnly)
{
    for (mode_t mask : {mode_t(022), mode_t(0277), mode_t(0)})
    {
        SCOPED_TRACE("umask " + std::to_string(mask));
        fix_test::TempFolder folder;
        const std::string path = folder.file("logs");
        ASSERT_EQ(0, mkdir(path.c_str(), 0700));
        fix_test::ScopedUmask umask(mask);
        FIX::FileLog global(path);
        FIX::FileLog session(path, kSession);
        for (FIX::FileLog *log : {&global, &session})
        {
            log->onIncoming("8=FIX.4.2|35=A|554=secret|");
            log->onEvent("Received logon request");
            EXPECT_EQ(0600, fix_test::fileMode(*log->getMessagesFileName())) << *log->getMessagesFileName();
            EXPECT_EQ(0600, fix_test::fileMode(*log->getEventFileName())) << *log->getEventFileName();
        }
        session.backup();
        session.onIncoming("after the backup");
        EXPECT_EQ(0600, fix_test::fileMode(*session.getMessagesFileName()));
        EXPECT_EQ(0600, fix_test::fileMode(*session.getEventFileName()));
        const std::string backup = path + "/FIX.4.2-GATEWAY-CLIENT.messages.backup.1.log";
        EXPECT_EQ(0600, fix_test::fileMode(backup));
        EXPECT_NE(std::string::npos, fix_test::readFile(backup).find("554=secret"));
        // A clear makes a file that has gone anew.
        ASSERT_EQ(0, ::remove(global.getEventFileName()->c_str()));
        global.clear();
        EXPECT_EQ(0600, fix_test::fileMode(*global.getMessagesFileName()));
        EXPECT_EQ(0600, fix_test::fileMode(*global.getEventFileName()));
    }

    fix_test::TempFolder folder;
    const std::string date = fix_test::localDate(::time(nullptr));
    const std::string earlier = folder.file("GLOBAL.messages." + date + ".log");
    {
        std::ofstream old(earlier.c_str());
        old << "an earlier line\n";
    }
    ASSERT_EQ(0, chmod(earlier.c_str(), 0640));
    FIX::FileLog log(folder.path());
    if (*log.getMessagesFileName() == earlier) // not across midnight
    {
        log.onIncoming("a later line");
        EXPECT_EQ(0640, fix_test::fileMode(earlier));
        EXPECT_EQ(2u, fix_test::readLines(earlier).size());
    }
}

TEST(FileLog, OtherLogsAnswerNull)
{
    FIX::NullLog nullLog;
    FIX::ScreenLog screenLog(false, false, false);
    FIX::SessionState state; // the session's own log forwards none of the four
    FIX::Log *logs[] = {&nullLog, &screenLog, &state};
    for (FIX::Log *log : logs)
    {
        EXPECT_EQ(nullptr, log->getMessagesStream());
        EXPECT_EQ(nullptr, log->getEventStream());
        EXPECT_EQ(nullptr, log->getMessagesFileName());
        EXPECT_EQ(nullptr, log->getEventFileName());
        EXPECT_EQ(nullptr, log->getMutex());
    }
}

TEST(FileLog, FilesThatCannotBeOpenedFailConstruction)
{
    fix_test::TempFolder folder;
    {
        std::ofstream plain(folder.file("plain").c_str());
    }
    try
    {
        FIX::FileLog log(folder.file("plain/sub"));
        ADD_FAILURE() << "no exception";
    }
    catch (const FIX::ConfigError &e)
    {
        EXPECT_EQ("Configuration failed", e.type);
        EXPECT_EQ(
            0u, e.detail.find("Could not open messages file: " + folder.file("plain/sub/GLOBAL.messages.")));
    }

    // A folder where the event file should be: the messages file opens, the event file does not.
    const std::string date = fix_test::localDate(::time(nullptr));
    ASSERT_EQ(0, mkdir(folder.file("GLOBAL.event." + date + ".log").c_str(), 0700));
    try
    {
        FIX::FileLog log(folder.path());
        ADD_FAILURE() << "no exception (unless midnight passed)";
    }
    catch (const FIX::ConfigError &e)
    {
        EXPECT_EQ("Could not open event file: " + folder.file("GLOBAL.event." + date + ".log"), e.detail);
    }
}

// Writers on several threads while another thread rolls the files again and again: every
// line lands whole in exactly one of the files, and nothing crashes.
TEST(FileLog, RollUnderConcurrentWritersLosesNoLine)
{
    fix_test::TempFolder folder;
    FIX::FileLog log(folder.path(), kSession);
    const int writers = 4;
    const int linesPerWriter = 2000;
    const int rolls = 40;
    std::atomic<int> running{writers};

    std::vector<std::thread> threads;
    for (int w = 0; w < writers; w++)
        threads.emplace_back(
            [&, w]
            {
                for (int i = 0; i < linesPerWriter; i++)
                {
                    const std::string line = "writer " + std::to_string(w) + " line " + std::to_string(i);
                    if (i % 2 == 0)
                        log.onOutgoing(line);
                    else
                        log.onEvent(line);
                }
                running--;
            });
    int rolled = 0;
    for (; rolled < rolls; rolled++)
        roll(log, "209901" + std::string(rolled < 9 ? "0" : "") + std::to_string(rolled + 1));
    for (std::thread &t : threads)
        t.join();

    // Count what every day's files hold.
    int messageLines = 0;
    int eventLines = 0;
    std::vector<std::string> names = {*log.getMessagesFileName()};
    for (int day = 0; day <= rolled; day++)
    {
        const std::string date = day == 0 ? fix_test::localDate(::time(nullptr))
                                          : "209901" + std::string(day < 10 ? "0" : "") + std::to_string(day);
        for (const char *kind : {"messages", "event"})
        {
            for (const std::string &line : fix_test::readLines(
                     folder.file(std::string("FIX.4.2-GATEWAY-CLIENT.") + kind + "." + date + ".log")))
            {
                ASSERT_NE(std::string::npos, line.find(" : writer ")) << line;
                (std::string(kind) == "messages" ? messageLines : eventLines)++;
            }
        }
    }
    EXPECT_EQ(writers * linesPerWriter / 2, messageLines);
    EXPECT_EQ(writers * linesPerWriter / 2, eventLines);
}

} // namespace
