// The fold of a host link's failed connects (th_nw_connect_fold.h): which attempts are
// quiet, and the counts of their lines and events, on log_fold's spells. An attempt's lines
// join the count only with the attempt, once its story is over, so a count never speaks of
// lines without the attempts they were about.
#include "gateway/th_network_handle/th_nw_connect_fold.h"

namespace
{
// The current attempt's story is over: a failed quiet one joins the count with its lines.
void end_story(th_nw_connect_fold *fold)
{
    if (fold->current_lines > 0 || fold->current == TH_NW_ATTEMPT_COUNTED)
    {
        fold->ended.attempts++;
        fold->ended.lines += fold->current_lines;
    }
    fold->held_lines = 0;
    fold->current_lines = 0;
    fold->current = TH_NW_ATTEMPT_WRITTEN;
}

th_nw_connect_fold_count take_ended(th_nw_connect_fold *fold)
{
    const th_nw_connect_fold_count due = fold->ended;
    fold->ended = {};
    return due;
}
} // namespace

th_nw_connect_fold_count th_nw_connect_fold_attempt(th_nw_connect_fold *fold)
{
    end_story(fold);
    th_nw_connect_fold_count due = {};
    if (fold->attempts.open == 0)
        due = take_ended(fold);
    // Within a spell the allowance of one (its failed connect) is spent: the attempt is quiet.
    const bool quiet = fold->attempts.open != 0 && !log_fold_admit(&fold->attempts, 1);
    fold->current = quiet ? TH_NW_ATTEMPT_HELD : TH_NW_ATTEMPT_WRITTEN;
    return due;
}

void th_nw_connect_fold_failed(th_nw_connect_fold *fold)
{
    if (fold->current == TH_NW_ATTEMPT_HELD)
    {
        fold->current = TH_NW_ATTEMPT_COUNTED;
        fold->current_lines += fold->held_lines;
        fold->held_lines = 0;
    }
    // A written attempt's failure opens a spell.
    else if (fold->current == TH_NW_ATTEMPT_WRITTEN && fold->attempts.open == 0)
        log_fold_admit(&fold->attempts, 1);
}

th_nw_connect_fold_count th_nw_connect_fold_settled(th_nw_connect_fold *fold)
{
    // Lines of a held attempt that did not fit were counted: they are said with it.
    end_story(fold);
    log_fold_due_now(&fold->attempts);
    return take_ended(fold);
}

th_nw_attempt_lines th_nw_connect_fold_line(th_nw_connect_fold *fold, bool can_hold)
{
    if (fold->current == TH_NW_ATTEMPT_WRITTEN)
        return TH_NW_ATTEMPT_WRITTEN;
    if (fold->current == TH_NW_ATTEMPT_HELD && can_hold)
    {
        fold->held_lines++;
        return TH_NW_ATTEMPT_HELD;
    }
    fold->current_lines++;
    return TH_NW_ATTEMPT_COUNTED;
}

bool th_nw_connect_fold_event(th_nw_connect_fold *fold)
{
    return log_fold_admit(&fold->events, 1);
}

th_nw_connect_fold_count th_nw_connect_fold_lines_due(th_nw_connect_fold *fold, bool all)
{
    if (all)
    {
        end_story(fold);
        log_fold_due_now(&fold->attempts);
        return take_ended(fold);
    }
    const bool was_open = fold->attempts.open != 0;
    const bool second_over = log_fold_due(&fold->attempts) > 0;
    const bool spell_over = was_open && fold->attempts.open == 0;
    // A spell that ends takes the story under way with it, but not lines still held.
    if (spell_over && fold->current != TH_NW_ATTEMPT_HELD)
        end_story(fold);
    if (!second_over && !spell_over)
        return {};
    return take_ended(fold);
}

uint32_t th_nw_connect_fold_events_due(th_nw_connect_fold *fold, bool all)
{
    return all ? log_fold_due_now(&fold->events) : log_fold_due(&fold->events);
}
