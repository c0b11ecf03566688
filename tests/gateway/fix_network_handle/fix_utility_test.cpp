// Shared pieces of the FIX side: the exact price conversion, SessionID copies, the split
// of dated FIX log names and the roll of a file log onto today's files (its owner's only).
#include "gateway/fix_network_handle/fix_utility.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#include "FileLog.h"
#include "FileStore.h"
#include "Session.h"
#include "fix_engine/fix_engine_test_support.h"
#include "platform/core/pf_log_file.h"
#include "support/full_disk.h"

TEST(FixPriceConversion, TruncatesTowardsZeroThroughTheDecimalText)
{
    struct
    {
        double value;
        int64_t hundredths;
    } cases[] = {
        {12.345, 1234}, {12.3, 1230}, {12, 1200},   {0.00001, 0},
        {-0.019, -1},   {0.29, 29},   {1.005, 100}, {99999999.99, 9999999999},
        {-12.3, -1230}, {0, 0},
    };
    for (const auto &c : cases)
    {
        int64_t out = -777;
        fixNwInfoConvertDoubleToLong(c.value, &out, 2, 100, 44);
        EXPECT_EQ(out, c.hundredths) << c.value;
    }
}

TEST(FixPriceConversion, ValuesOfTenToTheFifteenAreRefusedWithTheCallersTag)
{
    int64_t out = 0;
    try
    {
        fixNwInfoConvertDoubleToLong(1e15, &out, 2, 100, 44);
        FAIL() << "no exception";
    }
    catch (const LogException &e)
    {
        EXPECT_STREQ(e.what(), "Invalid value for field id 44");
    }
    EXPECT_THROW(fixValidateLessUnsigned(5, 5, 0), FIX::Exception);
    EXPECT_NO_THROW(fixValidateLessUnsigned(4, 5, 0));
}

TEST(FixSessionIdCopy, CopiesAllFourPartsAndRefusesOversizedTexts)
{
    FIX::SessionID source("FIX.4.2", "QEL", "1001,MEMBR,1", "q");
    FIX::SessionID *copy = nullptr;
    ASSERT_EQ(fixNwInfoGetCopyOfSessionId(&source, &copy, nullptr), 0);
    EXPECT_EQ(*copy, source);
    EXPECT_EQ(copy->getSessionQualifier(), "q");
    delete copy;

    copy = nullptr;
    FIX::SessionID longQualifier("FIX.4.2", "QEL", "C", std::string(2047, 'x'));
    EXPECT_EQ(fixNwInfoGetCopyOfSessionId(&longQualifier, &copy, nullptr), 203);
    EXPECT_EQ(copy, nullptr);
    FIX::SessionID emptySender("FIX.4.2", "", "C");
    EXPECT_EQ(fixNwInfoGetCopyOfSessionId(&emptySender, &copy, nullptr), 203);
    EXPECT_EQ(fixNwInfoGetCopyOfSessionId(nullptr, &copy, nullptr), 203);
}

TEST(FixLogNames, SplitAtTheLastDotAroundAnEightCharacterDate)
{
    std::string prefix = "p", date = "d", extension = "e";
    fixNwInfoSplitLogFileName("logs/FIX.4.2-QEL-C.messages20261208.log", &prefix, &date, &extension);
    EXPECT_EQ(prefix, "logs/FIX.4.2-QEL-C.messages");
    EXPECT_EQ(date, "20261208");
    EXPECT_EQ(extension, ".log");
    fixNwInfoSplitLogFileName("no_dot_here", &prefix, &date, &extension);
    EXPECT_EQ(prefix, "logs/FIX.4.2-QEL-C.messages");
    EXPECT_EQ(extension, ".log");
}

TEST(FixLogRoll, AFileDatedYesterdayMovesToTodayAndTodaysStaysOpen)
{
    fix_test::TempFolder dir;
    FIX::SessionID id("FIX.4.2", "QEL", "1001,MEMBR,1");
    FIX::FileLog log(dir.path(), id);
    const std::string today = fixNwInfoGetCurrentDate();
    ASSERT_EQ(today, fix_test::localDate(time(nullptr)));
    const std::string eventBefore = *log.getEventFileName();

    // Pretend the messages file was opened yesterday.
    std::string &messagesName = *log.getMessagesFileName();
    const std::string::size_type dot = messagesName.rfind('.');
    const std::string yesterday = fix_test::localDate(time(nullptr) - 86400);
    messagesName.replace(dot - 8, 8, yesterday);
    const std::string rolledName = messagesName.substr(0, dot - 8) + today + messagesName.substr(dot);

    fixNwInfoLogReinitialize(&log);
    EXPECT_EQ(*log.getMessagesFileName(), rolledName);
    EXPECT_EQ(*log.getEventFileName(), eventBefore);
    log.onIncoming("8=FIX.4.2|after the roll");
    log.getMessagesStream()->flush();
    EXPECT_NE(fix_test::readFile(rolledName).find("after the roll"), std::string::npos);

    // Logs without files are left alone.
    FIX::NullLog none;
    fixNwInfoLogReinitialize(&none);
    fixNwInfoLogReinitialize(nullptr);
}

// The new day's files hold what clients send, passwords included: whatever the umask,
// the roll creates them for their owner only.
TEST(FixLogRoll, TheNewDaysFilesAreTheirOwnersOnly)
{
    fix_test::TempFolder dir;
    fix_test::ScopedUmask umask(022);
    FIX::FileLog log(dir.path(), FIX::SessionID("FIX.4.2", "QEL", "1001,MEMBR,1"));
    const std::string yesterday = fix_test::localDate(time(nullptr) - 86400);
    // Opened yesterday; today's files are not there yet.
    for (std::string *name : {log.getMessagesFileName(), log.getEventFileName()})
    {
        ::remove(name->c_str());
        name->replace(name->rfind('.') - 8, 8, yesterday);
    }

    fixNwInfoLogReinitialize(&log);
    log.onIncoming("8=FIX.4.2|35=A|554=secret|");
    const std::string today = fixNwInfoGetCurrentDate();
    for (const std::string *name : {log.getMessagesFileName(), log.getEventFileName()})
    {
        EXPECT_NE(std::string::npos, name->find(today)) << *name;
        EXPECT_EQ(0600, fix_test::fileMode(*name)) << *name;
    }
}

// A clean-up just before the day's roll takes the folder of the new day's files: the first
// line makes it again (its owner's only) through the maker the application sets, which says
// so once, and no line is lost.
TEST(FixLogRoll, AFolderRemovedBeforeTheRollIsMadeAgainForTheNewDaysFiles)
{
    fix_test::TempFolder dir;
    const std::string logs = dir.path() + "/logs";
    FIX::FileLog log(logs, FIX::SessionID("FIX.4.2", "QEL", "1001,MEMBR,1"));
    const std::string yesterday = fix_test::localDate(time(nullptr) - 86400);
    for (std::string *name : {log.getMessagesFileName(), log.getEventFileName()})
    {
        ::remove(name->c_str());
        name->replace(name->rfind('.') - 8, 8, yesterday);
    }
    ASSERT_EQ(::rmdir(logs.c_str()), 0);
    static std::vector<std::string> made;
    made.clear();
    FIX::FileLog::setMakeFolder(
        [](const char *fileName)
        {
            made.push_back(fileName);
            return pf_log_folder_make_for(fileName, nullptr, 0);
        });
    qel_test::stderr_capture capture;
    fixNwInfoLogReinitialize(&log);
    log.onIncoming("8=FIX.4.2|after the roll");
    log.onEvent("an event after the roll");
    FIX::FileLog::setMakeFolder(nullptr);

    EXPECT_EQ(made, (std::vector<std::string>{*log.getMessagesFileName()}));
    EXPECT_EQ(0700, fix_test::fileMode(logs));
    EXPECT_NE(fix_test::readFile(*log.getMessagesFileName()).find("after the roll"), std::string::npos);
    EXPECT_NE(fix_test::readFile(*log.getEventFileName()).find("an event after the roll"), std::string::npos);
    const std::string said = capture.text();
    EXPECT_EQ(said, "Log folder [" + logs +
                        "] was missing (never made, or removed by a clean-up): made it to write [" +
                        *log.getMessagesFileName() + "]\n");
}

TEST(FixStoreFiles, RemovedFromDiskWhileTheSessionKeepsItsStore)
{
    fix_test::TempFolder folder;
    FIX::FileStoreFactory stores(folder.path());
    fix_test::GatewayLikeApplication application;
    FIX::SessionID id("FIX.4.2", "QEL", "CLIENT");
    FIX::DataDictionaryProvider dictionaries;
    FIX::TimeRange always(FIX::UtcTimeOnly(0, 0, 0), FIX::UtcTimeOnly(23, 59, 59));
    FIX::Session *session = new FIX::Session(application, stores, id, dictionaries, always, 30, nullptr);

    auto count_files = [&]
    {
        int n = 0;
        for (const char *suffix : {".body", ".header", ".seqnums", ".session"})
            n += access((folder.path() + "/FIX.4.2-QEL-CLIENT" + suffix).c_str(), F_OK) == 0;
        return n;
    };
    ASSERT_EQ(count_files(), 4);
    fixNwInfoRemoveStoreFiles(id);
    EXPECT_EQ(count_files(), 0);
    // The session still has its store: it can go on numbering.
    EXPECT_EQ(session->getExpectedSenderNum(), 1);
    fixNwInfoRemoveStoreFiles(FIX::SessionID("FIX.4.2", "NOBODY", "CLIENT"));
    delete session;
}
