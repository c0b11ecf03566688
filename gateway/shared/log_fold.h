// log_fold: bounds what a flood of like happenings makes a thread write, to its logs or to
// the console. The first happenings of a spell go out at once (up to the fold's allowance
// in the spell's first second); the later ones are only counted, and a second after the
// spell began, and then every second while they go on, the thread writes one line or
// raises one event that carries the count. A second without any ends the spell, so the
// next one goes out at once again. The gateway folds this way what connections that
// never sign on make it write: a peer that has not signed on cannot fill the disk or push
// real events out of the console's view, while a quiet gateway writes every line as
// before. What is written about one connection is held until it signs on instead
// (log_hold.h, which folds the stories of those that never do); a fold takes what belongs to
// no one connection. A fold belongs to one thread and is not locked.
#pragma once

#include <cstdint>

#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"

enum
{
    LOG_FOLD_SECOND_MS = 1000,
    // Lines of a flood written at once in a spell (EA_LOG_FOLDED): a round or two of
    // admission lines, before only their count is written.
    LOG_FOLD_LINES_AT_ONCE = 8,
};

struct log_fold
{
    uint32_t tick;     // when the spell began, then when its last count went out
    uint32_t left_out; // counted since then
    uint16_t open;     // 1 during a spell
    uint16_t at_once;  // written at once in the spell's first second
};

// Whether the next happening goes out now (true) or is counted (false); `allowance` is how
// many go out at once at the start of a spell.
bool log_fold_admit(log_fold *fold, uint16_t allowance);
// The same at the tick `now`, for an owner that keeps its own clock.
bool log_fold_admit_at(log_fold *fold, uint16_t allowance, uint32_t now);

// The count due now: once the second after the spell's start or its last count is over,
// what was counted in it (the caller writes or raises it), or 0 when nothing is due. A
// second that counted nothing ends the spell. The owning thread asks on every pass.
uint32_t log_fold_due(log_fold *fold);
uint32_t log_fold_due_at(log_fold *fold, uint32_t now);
// Everything counted, due or not, and the spell ends: for the owning thread's stop, so that
// no count is lost with it.
uint32_t log_fold_due_now(log_fold *fold);

// Writes under `routine`, once a second while there are any (with `all`, now), the count of
// lines about admission rounds that `admission_lines` left out: a round serves every
// connection waiting at once, those that sign on as much as the others, so its lines belong
// to none of them.
void log_fold_report_admissions(log_fold *admission_lines, const char *routine, logger_object *logger,
                                bool all);

// Whether the logger writes lines of this level at all: a line it drops anyway neither
// spends a fold's allowance nor counts as left out.
inline bool log_fold_level_on(const logger_object *logger, int16_t level)
{
    return logger == nullptr || level <= logger->level;
}

// EA_LOG through a fold (none when `fold` is null: the line is always written).
#define EA_LOG_FOLDED(fold, logger, level, ...) EA_LOG_FOLDED_IN(__func__, fold, logger, level, __VA_ARGS__)
// The same under the name of the function whose line it is (EA_LOG_IN).
#define EA_LOG_FOLDED_IN(function, fold, logger, level, ...)                                                 \
    do                                                                                                       \
    {                                                                                                        \
        log_fold *fold_of_line = (fold);                                                                     \
        if (log_fold_level_on((logger), (level)) &&                                                          \
            (fold_of_line == nullptr || log_fold_admit(fold_of_line, LOG_FOLD_LINES_AT_ONCE)))               \
            EA_LOG_IN(function, logger, level, __VA_ARGS__);                                                 \
    } while (0)
