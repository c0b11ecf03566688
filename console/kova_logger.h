// CLogger: the console's own text log, one file per day in the folder that the registry
// value KOVA_LOG_FILES_PATH names ("." without it). The day's file is written as
// kova.<date>.<time>.current.txt and renamed to kova.<date>.<time>.repository.txt when
// it is finished: at start-up every other current file of the folder that no live
// program holds open (the system's rule for log files, platform/core/pf_log_file.h: the
// console holds a shared lock on its file, and a roll never replaces a file), and while
// running the day's file when the date changes (RollOverIfNewDay, called by the status
// thread). A console started again the same day appends to the day's file.
//
// Lines are "level|message|source|function|line|time\n"; a detail line has as many
// blanks as the last level name in place of the level. Every thread of the console
// writes through the one logger: each line (and the roll-over) is one step under the
// logger's mutex, so lines never interleave. The source is the caller's source path
// after its last "/" (callers pass names such as "KOVAHelper" too).
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

class CLogger
{
  public:
    CLogger();
    ~CLogger();
    CLogger(const CLogger &) = delete;
    CLogger &operator=(const CLogger &) = delete;

    void LogActivity(const char *message, const char *function, const char *source, int32_t line);
    void LogEvent(const char *message, const char *function, const char *source, int32_t line);
    void LogBusinessError(const char *message, const char *function, const char *source, int32_t line);
    void LogSystemError(const char *message, const char *function, const char *source, int32_t line);
    void LogDetail(const char *message, const char *function, const char *source, int32_t line);
    void RollOverIfNewDay();

    // The file being written (empty before the first line).
    const char *CurrentFilePath() const { return m_currentFilePath; }
    const char *Folder() const { return m_folder; }

    // Tests move the logger's clock (seconds since 1970 and milliseconds); null restores
    // the wall clock.
    using Clock = void (*)(int64_t *seconds, uint16_t *milliseconds);
    static void SetClockForTests(Clock clock);

  private:
    enum
    {
        TIME_TEXT_SIZE = 1024,
        LINE_SIZE = 5000,
        PATH_SIZE = 5000,
    };

    void LogLevelLine(const char *level, const char *message, const char *function, const char *source,
                      int32_t line);
    // Writes the line buffer, opening the day's file first when none is open; the
    // caller holds the guard.
    void WriteLineLocked();
    void WriteLine();
    void FormatTimeText();
    void TakeFileStamps();
    void FindTodaysFile(char *name, size_t size);
    void SweepOldCurrentFiles(const char *todays_file);

    char m_timeText[TIME_TEXT_SIZE];
    char m_line[LINE_SIZE];
    char m_currentFilePath[PATH_SIZE];
    char m_dateStamp[16];
    char m_timeStamp[16];
    char m_prefix[8];
    char m_folder[PATH_SIZE];
    FILE *m_file;
    std::mutex m_guard;
    int32_t m_indent;
};

enum KovaLogLevel
{
    KOVA_ACTIVITY,
    KOVA_EVENT,
    KOVA_BUSINESS_ERROR,
    KOVA_SYSTEM_ERROR,
    KOVA_DETAIL,
};

// Formats one line (printf style) and writes it at the level; nothing when logger is
// null. Lines longer than the logger's line buffer are cut.
void KovaLog(CLogger *logger, KovaLogLevel level, const char *function, const char *source, int32_t line,
             const char *format, ...) __attribute__((format(printf, 6, 7)));
