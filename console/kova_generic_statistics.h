// CGenericStatistics: a real-time statistics page of the main window's statistics tabs
// ("Common", market id 100, or one market's page, market id = market number), one row
// per parameter name; and ReadStatisticsFile, which the main window's statistics thread
// calls once a second for every file of qelstat's current-files folder.
//
// A statistics file is records separated by "|", each "id,name,value,unit,time" (time in
// seconds since 1970: the time of qelstat's next sample); qelstat ends a line with a
// newline in place of the last "|" and writes each new line over the start of the file,
// so older records may follow the newest. A row therefore shows the newest record of its
// name by time, whichever file or position it came from; a value whose record is 300 s
// old or more is shown empty, and every pass blanks a row whose newest record has grown
// that old (its file may have gone).
//
// The reader runs on the statistics thread and posts every change to the user-interface
// thread; the pages' market ids are set before that thread starts.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "console/shim/kova_dialog.h"

class CLogger;
class CListCtrl;

class CGenericStatistics : public CDialog
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 145,
        IDC_LIST_STATISTICS = 1014,
        STALE_SECONDS = 300,
    };

    explicit CGenericStatistics(QWidget *parent = nullptr);
    CGenericStatistics(CLogger *logger, QWidget *parent);

    bool OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}

    void SetMarketId(int32_t id) { m_marketId = id; }
    int32_t MarketId() const { return m_marketId; }
    CListCtrl *List() const { return m_list; }

    // The first row whose name equals name ignoring case, or -1.
    int FindStatisticsRow(const QString &name) const;
    // Shows one record (user-interface thread); an older record than the row's newest is
    // left out.
    void UpdateStatisticsRow(int32_t id, const QString &name, const QString &value, const QString &unit,
                             int64_t time);
    // Blanks the value of every row whose newest record is 300 s old or more at now.
    void BlankStaleRows(int64_t now);

  private:
    CLogger *m_logger;
    int32_t m_marketId;
    CListCtrl *m_list;
    std::vector<int64_t> m_newest; // per row, the time of the record it shows
};

struct KovaStatisticsRecord
{
    int32_t id;
    std::string name;
    std::string value;
    std::string unit;
    int64_t time;
};

// The records of a statistics file's text (size bytes, no NUL among them).
std::vector<KovaStatisticsRecord> KovaParseStatistics(const char *text, size_t size);
// Reads a file of the size the folder listing gave: false when it cannot be opened, is
// shorter than that or holds a NUL byte (it is skipped until the next pass).
bool KovaReadStatisticsRecords(const char *path, uint64_t size, std::vector<KovaStatisticsRecord> *records);
// Reads one file and posts each record to every page (of the eight slots; null slots are
// skipped) whose market id is the record's id.
void ReadStatisticsFile(CGenericStatistics *const pages[8], const char *path, uint64_t size);
