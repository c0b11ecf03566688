// The statistics page and reader: records split as qelstat writes them (a line's last
// record ending at its newline, older records left behind the newest), records reaching
// the pages of their id, names compared ignoring case, stale values blanked, files that
// are empty, short or hold a NUL skipped; a row keeps its newest record by time and is
// blanked when that record grows old.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "console/kova_generic_statistics.h"
#include "console/kova_logger.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_screenshot.h"
#include "support/kova_window_fixture.h"

namespace
{
struct statistics_fixture : kova_test::window_fixture
{
    std::unique_ptr<CLogger> logger;
    std::unique_ptr<QWidget> host;
    CGenericStatistics *pages[8] = {};
    int64_t now = 0;

    void SetUp() override
    {
        window_fixture::SetUp();
        logger.reset(new CLogger());
        host.reset(new QWidget());
        const int32_t ids[] = {100, 1, 2};
        for (int i = 0; i < 3; ++i)
        {
            pages[i] = i == 0 ? new CGenericStatistics(logger.get(), host.get())
                              : new CGenericStatistics(host.get());
            pages[i]->SetMarketId(ids[i]);
            pages[i]->Create(host.get());
            pages[i]->resize(400, 200);
        }
        now = static_cast<int64_t>(time(nullptr));
    }

    void TearDown() override
    {
        host.reset();
        logger.reset();
        window_fixture::TearDown();
    }

    // Writes the file and lets the reader post its records.
    void read(const std::string &name, const std::string &content, int64_t size = -1)
    {
        dir.write(name, content);
        ReadStatisticsFile(pages, dir.file(name).c_str(),
                           static_cast<uint64_t>(size < 0 ? static_cast<int64_t>(content.size()) : size));
        kova_test::pump_for(20);
    }

    std::vector<std::string> rows(int page)
    {
        std::vector<std::string> all;
        CListCtrl *list = pages[page]->List();
        for (int r = 0; r < list->GetItemCount(); ++r)
            all.push_back(list->GetItemText(r, 0).toStdString() + "=" +
                          list->GetItemText(r, 1).toStdString() + " " +
                          list->GetItemText(r, 2).toStdString());
        return all;
    }

    std::string at(int64_t offset) { return std::to_string(now + offset); }
};

using rows_t = std::vector<std::string>;
} // namespace

struct parse_case
{
    std::string text;
    std::vector<std::string> records; // "id|name|value|unit|time"
};

TEST(StatisticsParse, SplitsRecordsAndFieldsAsQelstatWritesThem)
{
    const parse_case cases[] = {
        {"100,P,12.50,%,1700000060\n", {"100|P|12.50|%|1700000060"}},
        {"1,A,1,ms,5|1,B,2,ms,6\n", {"1|A|1|ms|5", "1|B|2|ms|6"}},
        // The newline ends the time; the older line's first record is swallowed up to "|".
        {"1,A,2,ms,9\n1,A,1,ms,5|1,B,7,ms,5\n", {"1|A|2|ms|9", "1|B|7|ms|5"}},
        {"100,P,,%,7", {"100|P||%|7"}},
        {"100,X", {"100|X|||0"}},
        {"abc,N,1,u,3", {"0|N|1|u|3"}},
        {"", {"0||||0"}},
        {"2,A,1,u,5|", {"2|A|1|u|5", "0||||0"}},
        {"3,T,1,u, 42 extra", {"3|T|1|u|42"}},
    };
    for (const parse_case &c : cases)
    {
        std::vector<KovaStatisticsRecord> records = KovaParseStatistics(c.text.c_str(), c.text.size());
        std::vector<std::string> got;
        for (const KovaStatisticsRecord &r : records)
            got.push_back(std::to_string(r.id) + "|" + r.name + "|" + r.value + "|" + r.unit + "|" +
                          std::to_string(r.time));
        EXPECT_EQ(got, c.records) << c.text;
    }
}

TEST_F(statistics_fixture, ARecordShowsOnThePageOfItsIdAndUpdatesItsRow)
{
    read("p.current.txt", "100,P,12.50,%," + at(60) + "\n");
    EXPECT_EQ(rows(0), rows_t{"P=12.50 %"});
    EXPECT_TRUE(rows(1).empty());
    read("p.current.txt", "100,P,13.00,%," + at(61) + "\n");
    EXPECT_EQ(rows(0), rows_t{"P=13.00 %"});
    KovaSaveScreenshot(pages[0], "kova_statistics_common");
}

TEST_F(statistics_fixture, AValueThreeHundredSecondsOldIsBlankAndTheUnitStays)
{
    read("p.current.txt", "100,P,12.50,%," + at(-300) + "\n");
    EXPECT_EQ(rows(0), rows_t{"P= %"});
    read("q.current.txt", "100,Q,1,ms," + at(-240) + "\n");
    EXPECT_EQ(rows(0), (rows_t{"P= %", "Q=1 ms"}));
}

TEST_F(statistics_fixture, RecordsReachEveryPageOfTheirIdAndNoOther)
{
    read("kr.current.txt", "1,A,1,ms," + at(5) + "|1,B,2,ms," + at(5) + "|9,C,3,ms," + at(5) + "\n");
    EXPECT_EQ(rows(1), (rows_t{"A=1 ms", "B=2 ms"}));
    EXPECT_TRUE(rows(0).empty());
    EXPECT_TRUE(rows(2).empty());
}

TEST_F(statistics_fixture, NamesShareARowIgnoringCaseAndKeepTheirFirstSpelling)
{
    read("a.current.txt", "2,Latency,4,ms," + at(5) + "\n");
    read("b.current.txt", "2,LATENCY,5,ms," + at(6) + "\n");
    EXPECT_EQ(rows(2), rows_t{"Latency=5 ms"});
    EXPECT_EQ(pages[2]->FindStatisticsRow("latency"), 0);
    EXPECT_EQ(pages[2]->FindStatisticsRow("other"), -1);
}

TEST_F(statistics_fixture, EmptyShortAndNulFilesAreSkipped)
{
    read("empty.current.txt", "");
    read("nul.current.txt", std::string("100,N,1,u,") + at(5) + std::string(1, '\0') + "\n");
    read("short.current.txt", "100,S,1,u," + at(5) + "\n", 200);
    EXPECT_TRUE(rows(0).empty());
    ReadStatisticsFile(pages, dir.file("missing.current.txt").c_str(), 10);
    kova_test::pump_for(20);
    EXPECT_TRUE(rows(0).empty());
    read("value.current.txt", "100,E,,u," + at(5) + "\n");
    EXPECT_EQ(rows(0), rows_t{"E= u"});
}

TEST_F(statistics_fixture, AnOlderRecordLeftInAFileNeverReplacesTheNewest)
{
    // The newest line written over a longer, older one; then yesterday's file, read later.
    read("lat.20260101.current.txt",
         "100,P,13.00,%," + at(60) + "\n100,Q,1,%," + at(0) + "|100,P,12.5000,%," + at(0) + "\n");
    EXPECT_EQ(rows(0), rows_t{"P=13.00 %"});
    read("lat.20251231.current.txt", "100,P,99.00,%," + at(-80000) + "\n");
    EXPECT_EQ(rows(0), rows_t{"P=13.00 %"});
    read("lat.20260101.current.txt", "100,P,14.00,%," + at(60) + "\n");
    EXPECT_EQ(rows(0), rows_t{"P=14.00 %"}) << "a sample of the same time replaces";
}

TEST_F(statistics_fixture, EveryPassBlanksARowWhoseNewestRecordGrewOld)
{
    read("p.current.txt", "100,P,12.50,%," + at(60) + "\n");
    pages[0]->BlankStaleRows(now + 359);
    EXPECT_EQ(rows(0), rows_t{"P=12.50 %"});
    pages[0]->BlankStaleRows(now + 360);
    EXPECT_EQ(rows(0), rows_t{"P= %"}) << "its file may have gone; the value does not stay for ever";
    read("p.current.txt", "100,P,12.75,%," + at(61) + "\n");
    EXPECT_EQ(rows(0), rows_t{"P=12.75 %"});
}
