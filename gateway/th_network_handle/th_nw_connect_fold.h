// th_nw_connect_fold: bounds what one host link's failed connects make the host network
// thread write and raise. While the host is down, every box logon ends in a failed connect
// with its story (the order, the new handle, the connect, its failure, the drop of the
// box's session) and its console event 12009. A failed connect opens a spell: its story
// was written whole and its event goes out at once. An attempt that begins while the spell
// is open is quiet: its lines are held until its outcome is known. When its connect fails,
// they and the rest of its story are counted, and a second after the spell began, then
// every second while attempts go on, one line gives the count of the lines and of the
// attempts whose stories are over. The events 12009 go out the same way, one a second
// carrying the count as its extra info. A second without a new attempt ends a spell
// (log_fold.h); so does the end of an attempt in anything but a failed connect (its
// connection established, the box's session dropped for another reason): the count goes
// out, then the lines the attempt held, and its story from then on is written. Attempts a
// second or more after a failed connect (session recovery's relogons, traders now and then)
// are written whole, each one. One per link, the host network thread's own; not locked.
#pragma once

#include <cstdint>

#include "gateway/shared/log_fold.h"

// The way of the lines of the link's current attempt.
enum th_nw_attempt_lines : uint16_t
{
    TH_NW_ATTEMPT_WRITTEN = 0, // not quiet, or its story is over: written
    TH_NW_ATTEMPT_HELD = 1,    // quiet, its outcome unknown: held by the caller
    TH_NW_ATTEMPT_COUNTED = 2, // quiet, its connect failed: counted
};

// What the fold counted and that is due: lines, and the attempts they were about.
struct th_nw_connect_fold_count
{
    uint32_t lines;
    uint32_t attempts;
};

struct th_nw_connect_fold
{
    log_fold attempts;              // the spell, opened by a failed connect
    log_fold events;                // console events 12009
    uint16_t current;               // th_nw_attempt_lines of the current attempt
    uint32_t held_lines;            // its lines the caller holds
    uint32_t current_lines;         // its lines counted so far (COUNTED, or held ones that did not fit)
    th_nw_connect_fold_count ended; // failed quiet attempts whose stories are over, not yet said
};

// An attempt to connect begins (a box logon or relogon order), after the caller settled an
// attempt whose lines it held: the story before it is over. Quiet when a spell is open, else
// written. Gives what is due now (a count that a spell over left to say).
th_nw_connect_fold_count th_nw_connect_fold_attempt(th_nw_connect_fold *fold);
// The attempt's connect failed: the lines it held are counted (the caller drops them).
void th_nw_connect_fold_failed(th_nw_connect_fold *fold);
// The attempt ended otherwise: the spell ends and what it left out is due now; after it the
// caller writes the lines the attempt held, and what follows is written.
th_nw_connect_fold_count th_nw_connect_fold_settled(th_nw_connect_fold *fold);
// The way of the next line about the link; `can_hold` says whether the caller has room to
// hold it (a line it cannot hold is counted with its attempt).
th_nw_attempt_lines th_nw_connect_fold_line(th_nw_connect_fold *fold, bool can_hold);
// Whether a console event 12009 goes out now (false: it is counted).
bool th_nw_connect_fold_event(th_nw_connect_fold *fold);
// The count of lines due now (with `all`, everything counted, and the spell ends: the
// thread's stop, after the caller settled an attempt whose lines it held). The owning thread
// asks on every pass, before the records of the pass.
th_nw_connect_fold_count th_nw_connect_fold_lines_due(th_nw_connect_fold *fold, bool all);
// The count of events 12009 due now, likewise.
uint32_t th_nw_connect_fold_events_due(th_nw_connect_fold *fold, bool all);
