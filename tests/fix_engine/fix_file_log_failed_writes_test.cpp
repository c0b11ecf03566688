// The engine's file log when its folder is full: a line that cannot be written is lost
// whole (never written later, never left in part, and taken back only as far as the bytes
// are its own), and each file's spell of failures is said once as it begins and once as it
// ends (or as the file closes), on standard error, to the application's write alarm and,
// at the end, in the file itself with the number of lines lost. A file whose folder is
// removed under it is said once and made again under its name.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FileLog.h"
#include "fix_engine/fix_engine_test_support.h"
#include "support/full_disk.h"

namespace
{

const FIX::SessionID kSession("FIX.4.2", "GATEWAY", "CLIENT");

struct Alarm
{
    std::string fileName;
    bool failing;
    unsigned long long value;
};

void recordAlarm(void *context, const std::string &fileName, bool failing, unsigned long long value)
{
    static_cast<std::vector<Alarm> *>(context)->push_back(Alarm{fileName, failing, value});
}

// The text after " : " of each line.
std::vector<std::string> texts(const std::string &path)
{
    std::vector<std::string> out;
    for (const std::string &line : fix_test::readLines(path))
    {
        const std::string::size_type at = line.find(" : ");
        out.push_back(at == std::string::npos ? "(no time) " + line : line.substr(at + 3));
    }
    return out;
}

} // namespace

TEST(FileLogFailedWrites, LinesAreLostWholeAndEachSpellIsSaidOnceAsItBeginsAndEnds)
{
    fix_test::TempFolder folder;
    std::vector<Alarm> alarms;
    FIX::FileLog::setWriteAlarm(recordAlarm, &alarms);
    std::unique_ptr<FIX::FileLog> log(new FIX::FileLog(folder.path(), kSession));
    const std::string messages = *log->getMessagesFileName();
    const std::string events = *log->getEventFileName();
    log->onIncoming("8=FIX.4.2\x01"
                    "35=A\x01");
    log->onEvent("Created session");

    qel_test::stderr_capture capture;
    {
        qel_test::file_size_cap full(0); // the log folder is full
        log->onIncoming("8=FIX.4.2\x01"
                        "35=D\x01"
                        "11=lost-1\x01");
        log->onOutgoing("8=FIX.4.2\x01"
                        "35=8\x01"
                        "11=lost-1\x01");
        log->onIncoming("8=FIX.4.2\x01"
                        "35=D\x01"
                        "11=lost-2\x01");
        log->onEvent("lost event");
        ASSERT_EQ(alarms.size(), 2u);
        EXPECT_EQ(alarms[0].fileName, messages);
        EXPECT_TRUE(alarms[0].failing);
        EXPECT_EQ(alarms[0].value, static_cast<unsigned long long>(EFBIG));
        EXPECT_EQ(alarms[1].fileName, events);
    }
    // A spell ends at a write that succeeds a second or more after the last failure.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    log->onIncoming("8=FIX.4.2\x01"
                    "35=D\x01"
                    "11=kept\x01");
    log->onEvent("kept event");
    log->onEvent("and on");
    ASSERT_EQ(alarms.size(), 4u);
    EXPECT_EQ(alarms[2].fileName, messages);
    EXPECT_FALSE(alarms[2].failing);
    EXPECT_EQ(alarms[2].value, 3u);
    EXPECT_EQ(alarms[3].fileName, events);
    EXPECT_EQ(alarms[3].value, 1u);
    log.reset();
    FIX::FileLog::setWriteAlarm(0, 0);

    EXPECT_EQ(texts(messages), (std::vector<std::string>{
                                   "8=FIX.4.2\x01"
                                   "35=A\x01",
                                   "8=FIX.4.2\x01"
                                   "35=D\x01"
                                   "11=kept\x01",
                                   "Log writes to [" + messages + "] succeed again: [3] lines were lost",
                               }));
    EXPECT_EQ(texts(events), (std::vector<std::string>{
                                 "Created session",
                                 "kept event",
                                 "Log writes to [" + events + "] succeed again: [1] lines were lost",
                                 "and on",
                             }));

    const std::string said = capture.text();
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + messages +
                                     "] are failing ([File too large]): lines are lost until they succeed "
                                     "again\n"),
        1u)
        << said;
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + messages + "] succeed again: [3] lines were lost\n"), 1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + events + "] are failing"), 1u) << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + events + "] succeed again: [1] lines were lost\n"),
              1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to"), 4u) << said;
}

TEST(FileLogFailedWrites, ALineThatGoesOutInPartIsTakenBack)
{
    fix_test::TempFolder folder;
    std::unique_ptr<FIX::FileLog> log(new FIX::FileLog(folder.path()));
    const std::string events = *log->getEventFileName();
    log->onEvent("first");
    const std::string before = fix_test::readFile(events);
    qel_test::stderr_capture capture;
    {
        // Room for a few bytes of the next line only.
        qel_test::file_size_cap full(before.size() + 10);
        log->onEvent("a line that does not fit in the room left");
        log->onEvent("nor this one");
        EXPECT_EQ(fix_test::readFile(events), before);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    log->onEvent("room again");
    log.reset();
    const std::vector<std::string> lines = texts(events);
    ASSERT_EQ(lines.size(), 3u) << fix_test::readFile(events);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[1], "room again");
    EXPECT_EQ(lines[2], "Log writes to [" + events + "] succeed again: [2] lines were lost");
}

TEST(FileLogFailedWrites, APartStaysWhenAnotherWriterHoldsTheFile)
{
    fix_test::TempFolder folder;
    // Two gateways sharing a FIX log folder write the one acceptor-wide log of the day.
    std::unique_ptr<FIX::FileLog> mine(new FIX::FileLog(folder.path()));
    std::unique_ptr<FIX::FileLog> theirs(new FIX::FileLog(folder.path()));
    const std::string events = *mine->getEventFileName();
    ASSERT_EQ(*theirs->getEventFileName(), events);
    mine->onEvent("mine");
    theirs->onEvent("theirs");
    const std::string before = fix_test::readFile(events);
    qel_test::stderr_capture capture;
    {
        qel_test::file_size_cap full(before.size() + 10);
        mine->onEvent("a line that does not fit in the room left");
    }
    // The other may have appended after the part at any moment: the part is not cut.
    const std::string after = fix_test::readFile(events);
    ASSERT_EQ(after.size(), before.size() + 10);
    EXPECT_EQ(after.substr(0, before.size()), before);
    theirs->onEvent("theirs again");
    EXPECT_EQ(texts(events).back(), "theirs again") << "the other writer's line stands whole";
    theirs.reset();

    // Alone with the file, the part is taken back.
    const std::string alone = fix_test::readFile(events);
    {
        qel_test::file_size_cap full(alone.size() + 10);
        mine->onEvent("a line that does not fit in the room left");
    }
    EXPECT_EQ(fix_test::readFile(events), alone);
}

TEST(FileLogFailedWrites, AFileClosedWhileItsWritesFailSaysTheLinesItLost)
{
    fix_test::TempFolder folder;
    std::unique_ptr<FIX::FileLog> log(new FIX::FileLog(folder.path(), kSession));
    const std::string messages = *log->getMessagesFileName();
    const std::string events = *log->getEventFileName();
    log->onIncoming("8=FIX.4.2\x01"
                    "35=A\x01");
    log->onEvent("Created session");
    qel_test::stderr_capture capture;
    {
        qel_test::file_size_cap full(0);
        log->onIncoming("lost 1");
        log->onOutgoing("lost 2");
        log->onEvent("lost 3");
    }
    // The gateway stops before any write ends the spells; the room is back for the line.
    log.reset();
    const std::string said = capture.text();
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + messages +
                                           "] were still failing when it was closed: [2] lines were lost\n"),
              1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + events +
                                           "] were still failing when it was closed: [1] lines were lost\n"),
              1u)
        << said;
    EXPECT_EQ(texts(messages).back(),
              "Log writes to [" + messages + "] were still failing when it was closed: [2] lines were lost");
}

TEST(FileLogFailedWrites, AFileWhoseFolderWasRemovedIsSaidOnceAndMadeAgainUnderItsName)
{
    fix_test::TempFolder folder;
    const std::string logs = folder.path() + "/fix_logs";
    std::vector<Alarm> alarms;
    FIX::FileLog::setWriteAlarm(recordAlarm, &alarms);
    std::unique_ptr<FIX::FileLog> log(new FIX::FileLog(logs, kSession));
    const std::string messages = *log->getMessagesFileName();
    log->onIncoming("before");
    // An operator's clean-up removes the folder.
    ASSERT_EQ(unlink(messages.c_str()), 0);
    ASSERT_EQ(unlink(log->getEventFileName()->c_str()), 0);
    ASSERT_EQ(rmdir(logs.c_str()), 0);
    log->onIncoming("into the removed file");
    qel_test::stderr_capture capture;
    // The log looks every five seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(5100));
    log->onIncoming("after");
    std::this_thread::sleep_for(std::chrono::milliseconds(5100));
    log->onIncoming("and on");
    FIX::FileLog::setWriteAlarm(0, 0);

    ASSERT_EQ(alarms.size(), 2u);
    EXPECT_EQ(alarms[0].fileName, messages);
    EXPECT_TRUE(alarms[0].failing);
    EXPECT_EQ(alarms[0].value, static_cast<unsigned long long>(ENOENT));
    EXPECT_FALSE(alarms[1].failing);
    EXPECT_EQ(alarms[1].value, 2u) << "the lines that went with the removed file";
    const std::string text =
        "Log file [" + messages +
        "] no longer stood under its name (removed or moved by another program): the [2] "
        "lines written since it was last seen there went with it; written under its name "
        "again";
    EXPECT_EQ(qel_test::count_of(capture.text(), text + "\n"), 1u) << capture.text();
    EXPECT_EQ(texts(messages), (std::vector<std::string>{text, "after", "and on"}));
    struct stat status;
    ASSERT_EQ(stat(messages.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

// A session that logs on long after its log was made, and out again within seconds: its
// first line looks at once, and a file removed after the last look is said as it closes.
TEST(FileLogFailedWrites, TheFirstLineAfterTheOpenAndTheCloseLookWhetherTheFileKeptItsName)
{
    fix_test::TempFolder folder;
    const std::string logs = folder.path() + "/fix_logs";
    std::vector<Alarm> alarms;
    FIX::FileLog::setWriteAlarm(recordAlarm, &alarms);
    std::unique_ptr<FIX::FileLog> log(new FIX::FileLog(logs, kSession));
    const std::string messages = *log->getMessagesFileName();
    const std::string events = *log->getEventFileName();
    log->onEvent("Created session");
    ASSERT_EQ(unlink(messages.c_str()), 0);
    ASSERT_EQ(unlink(events.c_str()), 0);
    ASSERT_EQ(rmdir(logs.c_str()), 0);

    qel_test::stderr_capture capture;
    log->onIncoming("logon, the first message since the open");
    log->onIncoming("an order");
    const std::string again = "Log file [" + messages +
                              "] no longer stood under its name (removed or moved by another program): the "
                              "[0] lines written since it was last seen there went with it; written under "
                              "its name again";
    EXPECT_EQ(texts(messages),
              (std::vector<std::string>{again, "logon, the first message since the open", "an order"}));
    ASSERT_EQ(alarms.size(), 2u);
    EXPECT_EQ(alarms[0].value, static_cast<unsigned long long>(ENOENT));
    EXPECT_EQ(alarms[1].value, 0u);

    // Removed again within the five seconds between looks; the session ends.
    ASSERT_EQ(unlink(messages.c_str()), 0);
    log->onOutgoing("the logout");
    log.reset();
    FIX::FileLog::setWriteAlarm(0, 0);
    const std::string said = capture.text();
    const std::string lost = "] no longer stood under its name (removed or moved by another program): the ";
    EXPECT_EQ(qel_test::count_of(said, "Log file [" + messages + lost +
                                           "[3] lines written since it was last seen there went with it\n"),
              1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log file [" + events + lost +
                                           "[1] lines written since it was last seen there went with it\n"),
              1u)
        << "the event log, never written since the removal: " << said;
    EXPECT_EQ(qel_test::count_of(said, "Log file ["), 3u) << said;
    ASSERT_EQ(alarms.size(), 4u);
    EXPECT_TRUE(alarms[2].failing);
    EXPECT_TRUE(alarms[3].failing);
    EXPECT_EQ(alarms[3].value, static_cast<unsigned long long>(ENOENT));
}

// A session that logs on a second or more after its log's last line, within the five
// seconds since the log last looked: its first line looks at once, and the session stands
// whole in the file made again.
TEST(FileLogFailedWrites, TheFirstLineAfterAQuietSecondLooksWhetherTheFileKeptItsName)
{
    fix_test::TempFolder folder;
    const std::string logs = folder.path() + "/fix_logs";
    std::unique_ptr<FIX::FileLog> log(new FIX::FileLog(logs, kSession));
    const std::string events = *log->getEventFileName();
    log->onEvent("Created session");
    log->onIncoming("an earlier session's logout");
    ASSERT_EQ(unlink(events.c_str()), 0);
    ASSERT_EQ(unlink(log->getMessagesFileName()->c_str()), 0);
    ASSERT_EQ(rmdir(logs.c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));

    qel_test::stderr_capture capture;
    log->onEvent("Received logon request");
    log->onIncoming("logon");
    log->onIncoming("an order");
    const std::string again =
        "] no longer stood under its name (removed or moved by another program): the [1] "
        "lines written since it was last seen there went with it; written under its name "
        "again";
    EXPECT_EQ(texts(events),
              (std::vector<std::string>{"Log file [" + events + again, "Received logon request"}));
    EXPECT_EQ(
        texts(*log->getMessagesFileName()),
        (std::vector<std::string>{"Log file [" + *log->getMessagesFileName() + again, "logon", "an order"}));
    log.reset();
    EXPECT_EQ(qel_test::count_of(capture.text(), "Log file ["), 2u)
        << "each file said once: " << capture.text();
}

namespace
{
std::vector<std::string> *g_said = nullptr;

void recordSaid(const char *line)
{
    g_said->push_back(line);
}
} // namespace

// An application whose standard error may itself be full (the gateway's lies beside its
// logs) says the lines itself: every line about a file goes to its teller, none to
// standard error.
TEST(FileLogFailedWrites, TheLinesAboutItsFilesGoToTheApplicationsTellerWhenItSetsOne)
{
    fix_test::TempFolder folder;
    const std::string logs = folder.path() + "/fix_logs";
    std::vector<std::string> said;
    g_said = &said;
    FIX::FileLog::setSay(recordSaid);
    std::unique_ptr<FIX::FileLog> log(new FIX::FileLog(logs, kSession));
    const std::string messages = *log->getMessagesFileName();
    const std::string events = *log->getEventFileName();
    log->onEvent("Created session");

    qel_test::stderr_capture capture;
    {
        qel_test::file_size_cap full(0);
        log->onIncoming("lost");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    log->onIncoming("kept");
    {
        qel_test::file_size_cap full(0);
        log->onIncoming("lost at the close");
    }
    ASSERT_EQ(unlink(events.c_str()), 0);
    log.reset();
    FIX::FileLog::setSay(0);
    g_said = nullptr;

    const std::string lost = "] no longer stood under its name (removed or moved by another program): the ";
    EXPECT_EQ(
        said,
        (std::vector<std::string>{
            "Log writes to [" + messages +
                "] are failing ([File too large]): lines are lost until they succeed again",
            "Log writes to [" + messages + "] succeed again: [1] lines were lost",
            "Log writes to [" + messages +
                "] are failing ([File too large]): lines are lost until they succeed again",
            "Log writes to [" + messages + "] were still failing when it was closed: [1] lines were lost",
            "Log file [" + events + lost + "[1] lines written since it was last seen there went with it",
        }));
    EXPECT_EQ(capture.text(), "") << "nothing on standard error itself";
}
