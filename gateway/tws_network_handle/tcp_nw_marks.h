// tcp_nw_marks: what the workstation server remembers of peer addresses, and of the users
// each address signs on as, for the admission of connections that have not signed on
// (tcp_nw_admission.h). A mark carries information only for a while: the connections its
// address holds now, a budget of failed sign-ons not yet back to full, a place it lost
// lately, a sign-on that succeeded lately. A mark with none of it is forgotten, and its room
// serves another.
//
// The table is sized by its owner from what can be in play at once, and a mark that still
// carries information is never forgotten for one that would carry less. A mark that is to
// count a connection is always made: when no mark is free of information it takes the room
// of the oldest mark of a success alone, else of the oldest mark of a budget or a lost place
// (which the sizing never lets happen; counted in `forgotten`). Any other mark is not made
// when there is no room (counted in `not_made`), and whoever wanted it fails toward the
// honest party. Lookups hash the key; nothing is allocated after creation. One thread owns it.
#pragma once

#include <cstdint>

enum : uint8_t
{
    TCP_NW_MARK_NONE = 0,
    TCP_NW_MARK_ADDRESS = 1, // a peer address
    TCP_NW_MARK_USER = 2,    // a user signing on from a peer address
};

// A budget of failed sign-ons that comes back with time: what is left of it, in thousandths
// of a sign-on, as it stood at `tick` (0: it is full).
struct tcp_nw_budget
{
    int32_t left;
    uint32_t tick;
};

// What is left now of a budget `full` thousandths large that comes back at `refill_per_ms`
// thousandths a millisecond; the budget is brought up to now.
int32_t tcp_nw_budget_now(tcp_nw_budget *budget, int32_t full, int32_t refill_per_ms, uint32_t now);
// One sign-on off the budget (never below 0). True when it was full before.
bool tcp_nw_budget_spend(tcp_nw_budget *budget, int32_t full, int32_t refill_per_ms, uint32_t now);
// Whether it is below full now (the budget is left as it is).
bool tcp_nw_budget_spent(const tcp_nw_budget *budget, int32_t full, int32_t refill_per_ms, uint32_t now);

struct tcp_nw_mark
{
    uint32_t address;
    uint32_t user; // a user mark's user id (0: a first frame that named none)
    uint8_t kind;
    uint16_t held;         // address: its connections that have not signed on (places held)
    uint16_t signed_on;    // address: its connections that have signed on
    uint16_t under_way;    // sign-ons of the address (or of the user there) under way
    tcp_nw_budget budget;  // failed sign-ons it may still have
    uint32_t lost_tick;    // address: when it last lost a place to a newcomer; 0: not lately
    uint32_t success_tick; // address: when a sign-on of it last succeeded; 0: never
    uint32_t next;         // the next mark of its hash chain
};

// How long each kind of information lasts.
struct tcp_nw_marks_rules
{
    int32_t budget;        // full budget, in thousandths
    int32_t refill_per_ms; // thousandths back per millisecond (2 a second: 2)
    uint32_t lost_ms;      // a lost place is remembered this long
    uint32_t success_ms;   // a success is remembered this long
};

struct tcp_nw_marks
{
    tcp_nw_marks_rules rules;
    uint32_t capacity;
    uint32_t bucket_mask;
    tcp_nw_mark *marks;  // capacity of them; kind NONE when free
    uint32_t *buckets;   // first mark of each chain, +1 (0: empty chain)
    uint32_t *free_list; // indices of free marks
    uint32_t free_count;
    uint32_t last_sweep;
    uint64_t forgotten; // marks with information dropped for want of room
    uint64_t not_made;  // marks not made for want of room
};

tcp_nw_marks *tcp_nw_marks_create(uint32_t capacity, const tcp_nw_marks_rules &rules);
void tcp_nw_marks_destroy(tcp_nw_marks *marks);

// The mark of an address (kind ADDRESS, user ignored) or of a user on an address, or null.
tcp_nw_mark *tcp_nw_marks_find(tcp_nw_marks *marks, uint8_t kind, uint32_t address, uint32_t user);
// The same, made when there is none (every count 0, the budget full); null when there is
// no room for it (see above: `counted` says it is about to count a connection).
tcp_nw_mark *tcp_nw_marks_make(tcp_nw_marks *marks, uint8_t kind, uint32_t address, uint32_t user,
                               bool counted, uint32_t now);

// The mark's budget as it stands now, in thousandths (refilled, never above full).
int32_t tcp_nw_marks_budget(tcp_nw_marks *marks, tcp_nw_mark *mark, uint32_t now);
// One failed sign-on off the budget (never below 0). True when the budget was full before.
bool tcp_nw_marks_spend(tcp_nw_marks *marks, tcp_nw_mark *mark, uint32_t now);
// Whether the address lost a place within the rules' time, and whether a sign-on of it
// succeeded within theirs or one of its connections is signed on (null: nothing known).
bool tcp_nw_marks_lost_lately(const tcp_nw_marks *marks, const tcp_nw_mark *mark, uint32_t now);
bool tcp_nw_marks_trusted(const tcp_nw_marks *marks, const tcp_nw_mark *mark, uint32_t now);

// Whether the mark carries any information now.
bool tcp_nw_marks_live(const tcp_nw_marks *marks, const tcp_nw_mark *mark, uint32_t now);
// Frees every mark that carries nothing now; at most once a second unless `force`.
void tcp_nw_marks_sweep(tcp_nw_marks *marks, uint32_t now, bool force);
// Marks in use (live or not yet swept).
uint32_t tcp_nw_marks_count(const tcp_nw_marks *marks);
