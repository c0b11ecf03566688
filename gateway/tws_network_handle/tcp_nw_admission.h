// tcp_nw_admission: the workstation server's policy for connections that have not signed
// on. It decides who gets a place in the connection table when every place is taken,
// when the first frame of a connection may go on to the session layer as a sign-on, and
// which of the console events about such connections go out one by one; it remembers of
// peer addresses, and of the users they sign on as, what those decisions need
// (tcp_nw_marks.h). It knows no socket: the server (tcp_nw_info.h) tells it what happens to
// each place and asks it what to do, always with the tick of now, so a test drives it
// in-process with any number of addresses over any spell of time.
//
// The rule:
// - A place is a slot of the table, held from the moment a connection is accepted for it.
//   Time the gateway holds a connection is never charged to it: while the box's verdict is
//   pending, or while its first frame waits in the gateway for the gateway's own reasons, it
//   cannot lose its place, and its 30 s to sign on stand still (tcp_nw_admission_unheld_ms).
// - When every place is taken, a newcomer takes the place of a connection that has not
//   signed on and is not protected (its first 500 ms in the slot, 5 s from a frame's network
//   header, a sign-on under way): the oldest of an address that holds more such connections
//   than the newcomer's own address (one more when that address lost a place in the last
//   10 s). An address whose sign-ons succeed ("trusted": one of its connections is signed on,
//   or one signed on within the hour) takes the place of any connection of an address that
//   is not, protected or not, unless its sign-on is under way; an address that is not
//   trusted never takes a trusted one's place. A newcomer with nothing to take now, but a
//   place that may come free for it, waits for it (TCP_NW_ADMISSION_PLACE_WAIT_MS) instead
//   of being refused.
// - A sign-on fails when its connection ends after its first frame went on and before the
//   host accepted its user. It spends budgets that come back with time: its user's on its
//   address, its address's when that user had failed nothing lately, and the gateway's when
//   its address is not trusted. A first frame goes on only while each budget it could
//   spend has a unit beyond the sign-ons under way that already count on it; an address that
//   is not trusted also has at most 8 sign-ons under way. Otherwise the frame waits in the
//   gateway and goes on, oldest first, when it may. So the user whose password fails is
//   held back rather than the office behind its address, many addresses together cannot
//   take the host link's rate, and an office whose traders sign on is not paced.
#pragma once

#include <cstdint>

#include "gateway/shared/log_fold.h"
#include "gateway/tws_network_handle/tcp_nw_marks.h"

enum
{
    // A connection keeps its place for its first 500 ms in the slot, and for 5 s from the
    // network header of a frame it is sending (a byte or two protect nothing).
    TCP_NW_ADMISSION_GRACE_MS = 500,
    TCP_NW_ADMISSION_FRAME_PROTECTION_MS = 5000,
    // An address that lost a place takes one back, for 10 s, only from an address that holds
    // at least two more connections not signed on than its own: peers that reconnect the
    // moment they are dropped cannot pass places round and keep every place too young to take.
    TCP_NW_ADMISSION_TAKE_BACK_PAUSE_MS = 10000,
    // How long a newcomer waits for a place that may come free.
    TCP_NW_ADMISSION_PLACE_WAIT_MS = 1000,
    // Failed sign-ons: a budget of 8 coming back at 2 a second for a user on an address and
    // for an address; 16 coming back as fast for all the addresses that are not trusted
    // together (one address alone never spends it all: it has 8 sign-ons under way at most).
    TCP_NW_ADMISSION_BUDGET = 8,
    TCP_NW_ADMISSION_BUDGET_PER_SECOND = 2,
    TCP_NW_ADMISSION_GATEWAY_BUDGET = 16,
    TCP_NW_ADMISSION_GATEWAY_BUDGET_PER_SECOND = 2,
    // Sign-ons under way at once from one address that is not trusted.
    TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS = 8,
    // An address is trusted for an hour after a sign-on of it succeeded.
    TCP_NW_ADMISSION_TRUST_MS = 3600000,
    // Marks per place: the places lost in the take-back pause, at most one a place per grace,
    // with room over for budgets and successes.
    TCP_NW_ADMISSION_MARKS_PER_PLACE = TCP_NW_ADMISSION_TAKE_BACK_PAUSE_MS / TCP_NW_ADMISSION_GRACE_MS + 8,
    TCP_NW_ADMISSION_MARKS_SPARE = 256,
};

// What a place holds.
enum : uint8_t
{
    TCP_NW_PLACE_FREE = 0,
    TCP_NW_PLACE_VERDICT = 1,   // accepted, waiting for the box's verdict
    TCP_NW_PLACE_ADMITTED = 2,  // in its slot, no sign-on gone on yet
    TCP_NW_PLACE_UNDER_WAY = 3, // its sign-on went on and has no verdict yet
    TCP_NW_PLACE_SIGNED_ON = 4,
};

// Why a first frame waits in the gateway. The first two are the connection's own doing and
// do not stop its frame's protection from running out; the others are the gateway's.
enum tcp_nw_hold : uint8_t
{
    TCP_NW_HOLD_NONE = 0,
    TCP_NW_HOLD_USER_BUDGET = 1,    // its user's sign-ons from its address failed lately
    TCP_NW_HOLD_ADDRESS_BUDGET = 2, // sign-ons of several users from its address failed lately
    TCP_NW_HOLD_UNDER_WAY = 3,      // its address, not trusted, has its 8 sign-ons under way
    TCP_NW_HOLD_GATEWAY = 4,        // addresses not trusted spent the gateway's budget
    TCP_NW_HOLD_KINDS = 5,
};

struct tcp_nw_place
{
    uint32_t serial; // of the connection holding it: calls about an earlier one are ignored
    uint32_t address;
    uint32_t user;        // the user its first frame named
    uint32_t since;       // VERDICT: when accepted; later: when admitted (its grace begins)
    uint32_t header_tick; // when a frame's network header came; 0: none on its way
    uint32_t hold_tick;   // when its first frame began to wait; 0: it does not wait
    uint32_t held_ms;     // how long its first frame waited for the gateway's reasons
    uint8_t state;
    uint8_t hold;
    uint8_t gateway_counted; // its sign-on counts among the gateway's under way
};

// What a newcomer gets (tcp_nw_admission_arrive).
enum tcp_nw_arrival_verdict
{
    TCP_NW_ARRIVAL_PLACE, // a free place
    TCP_NW_ARRIVAL_TAKE,  // the place of a connection that is to be closed for it
    TCP_NW_ARRIVAL_WAIT,  // nothing now; a place may come free for it
    TCP_NW_ARRIVAL_REFUSE,
};

struct tcp_nw_arrival
{
    tcp_nw_arrival_verdict verdict;
    uint16_t place;         // PLACE and TAKE: the newcomer's place
    uint32_t serial;        // PLACE and TAKE: the newcomer's serial there
    uint32_t victim_serial; // TAKE: the serial of the connection that gives its place
};

struct tcp_nw_admission
{
    uint16_t place_count;
    uint16_t places_taken;
    tcp_nw_place *places;
    uint16_t *order; // room to sort the places whose first frame waits
    tcp_nw_marks *marks;
    uint32_t next_serial;
    // The gateway's budget of failed sign-ons of addresses that are not trusted, and their
    // sign-ons under way.
    tcp_nw_budget gateway_budget;
    uint16_t gateway_under_way;
    uint16_t holding; // places whose first frame waits
};

tcp_nw_admission *tcp_nw_admission_create(uint16_t places);
void tcp_nw_admission_destroy(tcp_nw_admission *admission);

// A newcomer from `address`, waiting for a place since `waiting_since` (now when it has just
// come): a free place, the place of another connection, a wait, or a refusal.
tcp_nw_arrival tcp_nw_admission_arrive(tcp_nw_admission *admission, uint32_t address, uint32_t waiting_since,
                                       uint32_t now);

// The box admitted the connection to its slot: its grace begins.
void tcp_nw_admission_admitted(tcp_nw_admission *admission, uint16_t place, uint32_t serial, uint32_t now);
// The network header of the connection's first frame came: the frame is on its way.
void tcp_nw_admission_header(tcp_nw_admission *admission, uint16_t place, uint32_t serial, uint32_t now);
// The connection's first whole frame, a sign-on naming `user` (0: none): whether it goes on
// now (TCP_NW_HOLD_NONE: its sign-on is under way from now) or waits, and why.
tcp_nw_hold tcp_nw_admission_first_frame(tcp_nw_admission *admission, uint16_t place, uint32_t serial,
                                         uint32_t user, uint32_t now);
// The places whose first frame may go on now, oldest first, each under way from now; how
// many (at most `max`).
uint16_t tcp_nw_admission_released(tcp_nw_admission *admission, uint32_t now, uint16_t *places, uint16_t max);
// The host accepted the connection's user.
void tcp_nw_admission_signed_on(tcp_nw_admission *admission, uint16_t place, uint32_t serial, uint32_t now);
// The connection left its place: a sign-on under way that ends so has failed.
void tcp_nw_admission_ended(tcp_nw_admission *admission, uint16_t place, uint32_t serial, uint32_t now);

// The time the connection has had its slot, less the time its first frame waited in the
// gateway; 0 for one whose sign-on went on (the session layer watches it then).
uint32_t tcp_nw_admission_unheld_ms(const tcp_nw_admission *admission, uint16_t place, uint32_t serial,
                                    uint32_t now);
// The place's connection, when `serial` is still the one holding it; null otherwise.
const tcp_nw_place *tcp_nw_admission_place(const tcp_nw_admission *admission, uint16_t place,
                                           uint32_t serial);

// Console events about connections that have not signed on, folded per reason code and user
// id: the first of a pair at once, then a second later one event that counts the rest, while
// they go on. A pair is only ever counted under its own entry: with every entry in an open
// spell, an event of a pair that has none goes out at once.
enum
{
    TCP_NW_EVENT_FOLDS_PER_PLACE = 2,
    TCP_NW_EVENT_FOLDS_SPARE = 32,
};

struct tcp_nw_event_fold
{
    uint16_t reason_code; // 0: unused
    uint32_t user_id;
    log_fold fold;
};

struct tcp_nw_event_folds
{
    uint32_t count;
    tcp_nw_event_fold *folds;
};

struct tcp_nw_folded_event
{
    uint16_t reason_code;
    uint32_t user_id;
    uint32_t count;
};

tcp_nw_event_folds *tcp_nw_event_folds_create(uint32_t count);
void tcp_nw_event_folds_destroy(tcp_nw_event_folds *folds);
// True when an event of the pair goes out now, false when it is counted.
bool tcp_nw_event_folds_admit(tcp_nw_event_folds *folds, uint16_t reason_code, uint32_t user_id,
                              uint32_t now);
// The folded events due now (with `all`, every count still open); how many were filled.
// `skip_reason` (0: none) is left for its own report.
uint32_t tcp_nw_event_folds_due(tcp_nw_event_folds *folds, uint32_t now, bool all, uint16_t skip_reason,
                                tcp_nw_folded_event *due, uint32_t max);
// The count due now of one pair's fold (0 when none is due or it has no fold).
uint32_t tcp_nw_event_folds_due_of(tcp_nw_event_folds *folds, uint16_t reason_code, uint32_t user_id,
                                   uint32_t now);
