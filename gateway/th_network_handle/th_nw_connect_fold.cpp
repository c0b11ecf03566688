// The fold of a host link's failed connects (th_nw_connect_fold.h): which attempts are
// quiet, and the counts of their lines and events, on log_fold's spells.
#include "gateway/th_network_handle/th_nw_connect_fold.h"

void th_nw_connect_fold_attempt(th_nw_connect_fold *fold)
{
    // Within a spell the allowance of one (its failed connect) is spent: the attempt counts.
    fold->quiet = fold->attempts.open != 0 && !log_fold_admit(&fold->attempts, 1) ? 1 : 0;
}

void th_nw_connect_fold_failed(th_nw_connect_fold *fold)
{
    // A written attempt's failure opens a spell; a quiet one's was counted as it began.
    if (fold->quiet == 0 && fold->attempts.open == 0)
        log_fold_admit(&fold->attempts, 1);
}

th_nw_connect_fold_count th_nw_connect_fold_settled(th_nw_connect_fold *fold)
{
    fold->quiet = 0;
    return th_nw_connect_fold_lines_due(fold, true);
}

bool th_nw_connect_fold_line(th_nw_connect_fold *fold)
{
    if (fold->quiet == 0)
        return true;
    fold->lines_left_out++;
    return false;
}

bool th_nw_connect_fold_event(th_nw_connect_fold *fold)
{
    return log_fold_admit(&fold->events, 1);
}

th_nw_connect_fold_count th_nw_connect_fold_lines_due(th_nw_connect_fold *fold, bool all)
{
    th_nw_connect_fold_count due = {};
    due.attempts = all ? log_fold_due_now(&fold->attempts) : log_fold_due(&fold->attempts);
    // The lines go with their attempts' second, or once the spell is over.
    if (all || due.attempts > 0 || fold->attempts.open == 0)
    {
        due.lines = fold->lines_left_out;
        fold->lines_left_out = 0;
    }
    return due;
}

uint32_t th_nw_connect_fold_events_due(th_nw_connect_fold *fold, bool all)
{
    return all ? log_fold_due_now(&fold->events) : log_fold_due(&fold->events);
}
