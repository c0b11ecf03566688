// The spell of a fold (log_fold.h): its start, its allowance and its counts, on the tick
// count.
#include "gateway/shared/log_fold.h"

#include "common/ea_time.h"

namespace
{
// at_once once the spell's first second is over: from then on everything is counted.
const uint16_t k_allowance_spent = 0xFFFF;
} // namespace

bool log_fold_admit(log_fold *fold, uint16_t allowance)
{
    return log_fold_admit_at(fold, allowance, ea_get_tick_count());
}

bool log_fold_admit_at(log_fold *fold, uint16_t allowance, uint32_t now)
{
    if (fold->open == 0)
    {
        fold->open = 1;
        fold->tick = now;
        fold->left_out = 0;
        fold->at_once = 1;
        return true;
    }
    if (fold->at_once < allowance)
    {
        fold->at_once++;
        return true;
    }
    fold->left_out++;
    return false;
}

uint32_t log_fold_due(log_fold *fold)
{
    return log_fold_due_at(fold, ea_get_tick_count());
}

uint32_t log_fold_due_at(log_fold *fold, uint32_t now)
{
    if (fold->open == 0)
        return 0;
    if (ea_get_tick_difference(now, fold->tick) < LOG_FOLD_SECOND_MS)
        return 0;
    if (fold->left_out == 0)
    {
        fold->open = 0;
        return 0;
    }
    uint32_t counted = fold->left_out;
    fold->left_out = 0;
    fold->tick = now;
    fold->at_once = k_allowance_spent;
    return counted;
}

uint32_t log_fold_due_now(log_fold *fold)
{
    const uint32_t counted = fold->open != 0 ? fold->left_out : 0;
    *fold = log_fold{};
    return counted;
}

void log_fold_report_admissions(log_fold *admission_lines, const char *routine, logger_object *logger,
                                bool all)
{
    const uint32_t left_out = all ? log_fold_due_now(admission_lines) : log_fold_due(admission_lines);
    if (left_out > 0)
        EA_LOG_IN(
            routine, logger, EA_LEVEL_EVENT,
            "Left out [%u] log lines about admission rounds, each serving every new connection waiting at once.",
            left_out);
}
