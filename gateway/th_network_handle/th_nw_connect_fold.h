// th_nw_connect_fold: bounds what one host link's failed connects make the host network
// thread write and raise. While the host is down, every box logon ends in a failed connect
// with its story (the order, the new handle, the connect, its failure, the drop of the
// box's session) and its console event 12009. A failed connect opens a spell: its story
// was written whole and its event goes out at once. An attempt that begins while the spell
// is open is quiet: its lines are counted, not written, and a second after the spell
// began, then every second while attempts go on, one line gives the counts. The events
// 12009 go out the same way, one a second carrying the count as its extra info. A second
// without a new attempt ends a spell (log_fold.h); so does the end of an attempt in
// anything but a failed connect (its connection established, the box's session dropped
// for another reason), whose story from then on is written after the count of what was
// left out. Attempts a second or more after a failed connect (session recovery's relogons,
// traders now and then) are written whole, each one. One per link, the host network
// thread's own; not locked.
#pragma once

#include <cstdint>

#include "gateway/shared/log_fold.h"

struct th_nw_connect_fold
{
    log_fold attempts;       // opened by a failed connect; counts the quiet attempts
    log_fold events;         // console events 12009
    uint32_t lines_left_out; // lines of quiet attempts, not yet said
    uint16_t quiet;          // 1 while the lines of the link's attempt are counted
};

// What a spell left out and that is due: lines, and the quiet attempts they were about.
struct th_nw_connect_fold_count
{
    uint32_t lines;
    uint32_t attempts;
};

// An attempt to connect begins (a box logon or relogon order): quiet when a spell is open,
// else written. It stays so until the next attempt or until it settles.
void th_nw_connect_fold_attempt(th_nw_connect_fold *fold);
// The attempt's connect failed.
void th_nw_connect_fold_failed(th_nw_connect_fold *fold);
// The attempt ended otherwise: the spell ends, and what it left out is due now.
th_nw_connect_fold_count th_nw_connect_fold_settled(th_nw_connect_fold *fold);
// Whether a line about the link goes out now (false: it is counted).
bool th_nw_connect_fold_line(th_nw_connect_fold *fold);
// Whether a console event 12009 goes out now (false: it is counted).
bool th_nw_connect_fold_event(th_nw_connect_fold *fold);
// The counts of lines due now (with `all`, everything counted, and the spell ends: the
// thread's stop). The owning thread asks on every pass, before the records of the pass.
th_nw_connect_fold_count th_nw_connect_fold_lines_due(th_nw_connect_fold *fold, bool all);
// The count of events 12009 due now, likewise.
uint32_t th_nw_connect_fold_events_due(th_nw_connect_fold *fold, bool all);
