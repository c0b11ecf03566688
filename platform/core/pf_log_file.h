// Log files that several programs write in one folder. The gateway, qelstat, qelmon and
// each qelmon command, parmset and the console may log under one name in one folder (the
// gateway and qelstat both log as "main"), and each rolls "current" files to "repository"
// names. Every logger of the system keeps one rule, written here:
//   - a logger holds a shared lock (flock) on each log file for as long as it has it open;
//   - a roll moves a "current" file only while it holds that file's exclusive lock, so a
//     file that a live process writes keeps its name (and its writer writes on into it),
//     while one a finished or crashed process left is rolled;
//   - a roll never replaces a file: it renames without replacing and takes the next free
//     name.
// And one rule for writing: a line or record goes out whole or not at all, and a log whose
// writes fail says so once on standard error when they begin to fail and once when they
// succeed again, with the count of lines lost (pf_log_write_note); a file that cannot be
// opened is such a write. And one for a cleaned folder: a log file whose folder is missing
// makes it as it opens, at a start as later, and the writer that made it says so once
// (pf_log_file_open_making_folder); a writer looks every few seconds, at a write, and as it
// closes whether its file still stands under its name, and says once a file found without
// it before it writes it under its name again (pf_log_name_watch).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

enum pf_log_open_mode
{
    PF_LOG_APPEND,     // write on after what the file holds
    PF_LOG_START_EMPTY // empty the file first, unless another live process holds it
};

// Opens a log file for appending, not inherited by child processes, and holds the shared
// lock on it until it is closed. A missing file is created readable and writable by its
// owner only (0600, whatever the umask): logs hold what clients and the host sent, and
// the files of programs that share a name share their lines. A file rolled away between
// its opening and its lock is opened anew under its name, and "start empty" empties the
// file only while it still stands under its name. The descriptor, or -1 with errno set.
int pf_log_file_open(const char *path, pf_log_open_mode how);

// Appends one line or record as a whole: a write that stops part way (a full disk) has its
// part cut off again, so that the file keeps whole lines and records. Only its own bytes:
// the part is cut only while it is the end of the file and no other process holds the
// file, for another writer of a shared file may append after it at any moment; else the
// part stays. False with errno set.
bool pf_log_file_append(int descriptor, const void *data, size_t length);

enum pf_log_roll_result
{
    PF_LOG_ROLLED,
    PF_LOG_ROLL_HELD,   // a live process has the file open, or it cannot be opened to learn
                        // whether one has: left under its name
    PF_LOG_ROLL_FAILED, // errno says why
};

// Rolls the file `path` to head + "repository" + tail, or, while that name is taken, to
// head + "repository." + n + tail with n = *counter, *counter + 1, ... (the counter moves
// on, so one counter can serve every file of one roll). Never replaces a file, and moves
// only the file it holds the exclusive lock of while that file stands under `path`: a file
// gone or moved meanwhile (another process rolled it) counts as rolled, and whatever
// stands under the name since is another process's new file, not this roll's to move.
pf_log_roll_result pf_log_file_roll(const char *path, const char *head, const char *tail, uint32_t *counter);

// Rolls every file that matches the shell pattern and holds ".current." in its name (the
// gateway's and the tools' "<name>_<kind>.<stamp>.current.<ext>") to the name with
// "repository" in place of "current", numbered as above, each found once. 0, or -1 at
// the first file that could not be moved (the roll stops there: it would find it again).
int pf_log_files_roll(const char *pattern, uint32_t *counter);

// Whether one log file's writes are failing, and the lines lost since they began to. One
// per open log file, kept by its writer.
//
// On a full disk a short line may still fit in the room left in a file's last block
// while a longer one fails: a spell ends only at a write that succeeds a second or more
// after the last one that failed, so that a file on a full disk is one spell, not one
// per line or two.
struct pf_log_write_watch
{
    bool failing;
    uint64_t lost;              // lines lost in the spell that runs, or in the last one once it ended
    uint32_t last_failure_tick; // pf_tick_count() of the spell's last failed write
    int error;                  // the errno of the spell's first failed write
};

enum
{
    PF_LOG_SPELL_QUIET_MS = 1000, // how long writes succeed before a spell ends
};

enum pf_log_write_turn
{
    PF_LOG_WRITES_AS_BEFORE,
    PF_LOG_WRITES_FAILING, // the first failure of a spell; the error number is the caller's errno
    PF_LOG_WRITES_RESUMED, // a spell ended (see above); watch->lost counts the lines lost
};

pf_log_write_turn pf_log_write_turn_of(pf_log_write_watch *watch, const char *path, bool written, int error);
// The same at a given pf_tick_count() (tests).
pf_log_write_turn pf_log_write_turn_at(pf_log_write_watch *watch, const char *path, bool written, int error,
                                       uint32_t now_tick);

// Notes the result of one write (of one line or record) to the log file `path`, with the
// errno of a failed write: a failure counts a lost line, and the first failure of a spell
// and its end are said on standard error. A write that succeeds while none failed costs
// one test.
inline pf_log_write_turn pf_log_write_note(pf_log_write_watch *watch, const char *path, bool written,
                                           int error)
{
    if (written && !watch->failing)
        return PF_LOG_WRITES_AS_BEFORE;
    return pf_log_write_turn_of(watch, path, written, error);
}

// Says one line of the log rule on standard error, whole or not at all. The gateway's
// standard error goes to a file beside its logs, so a full disk takes it too: a line it
// cannot take is kept (the first PF_LOG_SAID_KEPT of them; the rest only counted) and said
// before the next line once it takes lines again, so that the operator still reads what
// failed after the disk has room.
enum
{
    PF_LOG_SAID_KEPT = 256,
};
void pf_log_say(const char *line);

// The line that says a spell ended, for the log itself: "Log writes to [path] succeed
// again: [n] lines were lost", without a line break. The length snprintf gives.
int pf_log_writes_resumed_text(char *buffer, size_t size, const char *path, uint64_t lost);

// A file closed while its writes still fail (a program stopped with its folder full): its
// spell ends there, and standard error hears "Log writes to [path] were still failing when
// it was closed: [n] lines were lost". True when a spell was open; the watch starts afresh.
bool pf_log_write_watch_close(pf_log_write_watch *watch, const char *path);
// That line, for the log itself, without a line break. The length snprintf gives.
int pf_log_writes_closed_text(char *buffer, size_t size, const char *path, uint64_t lost);

// A log file that no longer stands under its name (its folder removed, or the file moved
// by another program): the lines written into it since it was last seen under its name
// went with it. Said once, on standard error and by the caller in the new file, as the
// file is written under its name again ("...; written under its name again") or as it is
// closed. The length snprintf gives.
enum
{
    PF_LOG_NAME_CHECK_MS = 5000, // how often a writer looks whether its file still has its name
};
int pf_log_name_lost_text(char *buffer, size_t size, const char *path, uint64_t lines, bool written_again);

// Whether one open log file still stands under its name. One per open log file, kept by
// its writer: opening the file by its name sees it there; a write looks again once
// PF_LOG_NAME_CHECK_MS have passed since the last look (so the first write long after the
// open looks at once), or at once when a writer of the process has found a file without
// its name or made a log folder since (a clean-up takes every file of the folder: each
// file's next write finds it), and the close looks once more. A write between two looks
// costs a subtraction and a load.
struct pf_log_name_watch
{
    uint32_t seen_tick;        // pf_tick_count() when the file was last seen under its name
    uint64_t lines_since_seen; // lines and records written into it since
    uint32_t names_lost;       // pf_log_names_lost() at that look
};

// The file was opened under its name at the given pf_tick_count().
void pf_log_name_watch_opened(pf_log_name_watch *watch, uint32_t now_tick);

// A line or record went into the file.
inline void pf_log_name_watch_wrote(pf_log_name_watch *watch)
{
    ++watch->lines_since_seen;
}

// Before a write to `descriptor`, the file `path`: true when a look was due and found it
// without its name. The caller then closes the file, opens it again under its name
// (pf_log_file_open_making_folder) and says so (pf_log_name_lost_say) with
// lines_since_seen, which is left as it was for that.
bool pf_log_name_watch_lost(pf_log_name_watch *watch, int descriptor, const char *path, uint32_t now_tick);

// As the file closes: true when it no longer stands under its name, which is then said on
// standard error with the lines that went with it.
bool pf_log_name_watch_close(pf_log_name_watch *watch, int descriptor, const char *path);

// How many times a writer of this process has found a log file without its name or made a
// log folder: a count that moves on, for the watches to compare.
uint32_t pf_log_names_lost();

// Says on standard error (through pf_log_say, so kept while standard error cannot take it)
// that the file `path` was found without its name, with the lines that went with it and
// whether it is written under its name again, and gives the same text, without a line
// break, for the caller's own log. The length snprintf gives.
int pf_log_name_lost_say(char *buffer, size_t size, const char *path, uint64_t lines, bool written_again);

// Makes the folder of the log file `path` when it is missing, and every missing folder
// above it, each readable, writable and searchable by its owner only. The writer whose
// call made it (of several that find it missing at once, in this process or another, one
// does) says so on standard error, "Log folder [folder] was missing (never made, or removed
// by a clean-up): made it to write [path]", and gets the same text in `said` (when not
// null) for its own log; else `said` is left empty. False, with errno set, when the folder
// cannot be made.
bool pf_log_folder_make_for(const char *path, char *said, size_t size);
// That line, without a line break. The length snprintf gives.
int pf_log_folder_made_text(char *buffer, size_t size, const char *folder, const char *path);

// Opens a log file as pf_log_file_open does, its folder made first when the file cannot
// be opened for want of it (pf_log_folder_make_for, with `said`): at a start on a cleaned
// disk as under a running program. -1 with errno set, the folder's when it cannot be made.
int pf_log_file_open_making_folder(const char *path, pf_log_open_mode how, char *said, size_t size);

// The steps of the rule at which a test steps in, as another process would, to force an
// interleaving that the scheduler gives only rarely. None is on the path of a line that is
// written whole; without a hook (the default) each costs one load.
enum pf_log_step
{
    PF_LOG_STEP_ROLL_OPENED,     // a roll opened the file by its name (descriptor -1: it found none)
    PF_LOG_STEP_WRITER_OPENED,   // a writer opened the file, before its lock (and its emptying)
    PF_LOG_STEP_WRITE_CUT_SHORT, // a write went out in part and failed: before the take-back
};
typedef void (*pf_log_step_hook)(pf_log_step step, const char *path, int descriptor, void *context);
void pf_log_file_set_step_hook(pf_log_step_hook hook, void *context);
