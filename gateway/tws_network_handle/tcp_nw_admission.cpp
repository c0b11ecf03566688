// The admission policy for connections that have not signed on (tcp_nw_admission.h): the
// places and their states, the contest for a place when every one is taken, the budgets of
// failed sign-ons that decide whether a first frame goes on, and the folds of the console
// events about such connections. Every count an address mark keeps (its places held, signed
// on and under way) is changed here and only here, with the place that changes it.
#include "gateway/tws_network_handle/tcp_nw_admission.h"

#include <algorithm>
#include <cstdlib>

#include "common/ea_time.h"

namespace
{
const int32_t k_unit = 1000; // a budget's unit, in thousandths

uint32_t stamp(uint32_t now)
{
    return now != 0 ? now : 1;
}

bool elapsed(uint32_t now, uint32_t since, uint32_t span)
{
    return ea_get_tick_difference(now, since) >= span;
}

tcp_nw_mark *address_mark(tcp_nw_admission *admission, uint32_t address)
{
    return tcp_nw_marks_find(admission->marks, TCP_NW_MARK_ADDRESS, address, 0);
}

tcp_nw_mark *user_mark(tcp_nw_admission *admission, uint32_t address, uint32_t user)
{
    return tcp_nw_marks_find(admission->marks, TCP_NW_MARK_USER, address, user);
}

bool trusted(tcp_nw_admission *admission, uint32_t address, uint32_t now)
{
    return tcp_nw_marks_trusted(admission->marks, address_mark(admission, address), now);
}

uint16_t held_by(tcp_nw_admission *admission, uint32_t address)
{
    const tcp_nw_mark *mark = address_mark(admission, address);
    return mark != nullptr ? mark->held : 0;
}

int32_t gateway_budget(tcp_nw_admission *admission, uint32_t now)
{
    return tcp_nw_budget_now(&admission->gateway_budget, TCP_NW_ADMISSION_GATEWAY_BUDGET * k_unit,
                             TCP_NW_ADMISSION_GATEWAY_BUDGET_PER_SECOND, now);
}

void spend_gateway_budget(tcp_nw_admission *admission, uint32_t now)
{
    tcp_nw_budget_spend(&admission->gateway_budget, TCP_NW_ADMISSION_GATEWAY_BUDGET * k_unit,
                        TCP_NW_ADMISSION_GATEWAY_BUDGET_PER_SECOND, now);
}

tcp_nw_place *place_of(tcp_nw_admission *admission, uint16_t place, uint32_t serial)
{
    return const_cast<tcp_nw_place *>(tcp_nw_admission_place(admission, place, serial));
}

bool own_doing(uint8_t hold)
{
    return hold == TCP_NW_HOLD_USER_BUDGET || hold == TCP_NW_HOLD_ADDRESS_BUDGET;
}

// The place's first frame stops waiting (it goes on, or the connection ends): its time is
// taken off the connection's time to sign on.
void end_hold(tcp_nw_admission *admission, tcp_nw_place *p, uint32_t now)
{
    if (p->hold == TCP_NW_HOLD_NONE)
        return;
    p->held_ms += ea_get_tick_difference(now, p->hold_tick);
    p->hold = TCP_NW_HOLD_NONE;
    p->hold_tick = 0;
    admission->holding--;
}

// A newcomer from `address` takes the place: its mark counts it.
tcp_nw_arrival reserve(tcp_nw_admission *admission, uint16_t place, uint32_t address, uint32_t now)
{
    tcp_nw_place *p = &admission->places[place];
    *p = tcp_nw_place{};
    p->serial = ++admission->next_serial;
    p->address = address;
    p->since = stamp(now);
    p->state = TCP_NW_PLACE_VERDICT;
    admission->places_taken++;
    tcp_nw_mark *mark = tcp_nw_marks_make(admission->marks, TCP_NW_MARK_ADDRESS, address, 0, true, now);
    if (mark != nullptr)
        mark->held++;
    return tcp_nw_arrival{TCP_NW_ARRIVAL_PLACE, place, p->serial, 0};
}

// A sign-on that went on counts on its user's and its address's marks, and on the gateway's
// when the address is not trusted.
void go_on(tcp_nw_admission *admission, tcp_nw_place *p, uint32_t now)
{
    end_hold(admission, p, now);
    p->state = TCP_NW_PLACE_UNDER_WAY;
    p->header_tick = 0;
    tcp_nw_mark *user = tcp_nw_marks_make(admission->marks, TCP_NW_MARK_USER, p->address, p->user, true, now);
    if (user != nullptr)
        user->under_way++;
    tcp_nw_mark *address = address_mark(admission, p->address);
    if (address != nullptr)
        address->under_way++;
    if (!tcp_nw_marks_trusted(admission->marks, address, now))
    {
        p->gateway_counted = 1;
        admission->gateway_under_way++;
    }
}

// Takes a sign-on under way off the counts that it was on.
void leave_under_way(tcp_nw_admission *admission, tcp_nw_place *p)
{
    tcp_nw_mark *user = user_mark(admission, p->address, p->user);
    if (user != nullptr && user->under_way > 0)
        user->under_way--;
    tcp_nw_mark *address = address_mark(admission, p->address);
    if (address != nullptr && address->under_way > 0)
        address->under_way--;
    if (p->gateway_counted != 0 && admission->gateway_under_way > 0)
        admission->gateway_under_way--;
    p->gateway_counted = 0;
}

// A failed sign-on spends its user's budget on its address; its address's when the user had
// failed nothing lately (a flood over many users), and the gateway's when the address is not
// trusted. A budget whose mark cannot be made is charged to the gateway's instead.
void charge_failure(tcp_nw_admission *admission, const tcp_nw_place *p, uint32_t now)
{
    bool charge_gateway = !trusted(admission, p->address, now);
    bool first_of_user = true;
    tcp_nw_mark *user =
        tcp_nw_marks_make(admission->marks, TCP_NW_MARK_USER, p->address, p->user, false, now);
    if (user != nullptr)
        first_of_user = tcp_nw_marks_spend(admission->marks, user, now);
    else
        charge_gateway = true;
    // Found again: making the user's mark may have moved nothing counted, but a pointer
    // taken before it is not kept across it.
    tcp_nw_mark *address = address_mark(admission, p->address);
    if (first_of_user)
    {
        if (address != nullptr)
            tcp_nw_marks_spend(admission->marks, address, now);
        else
            charge_gateway = true;
    }
    if (charge_gateway)
        spend_gateway_budget(admission, now);
}

// Frees the place; its mark no longer counts it.
void free_place(tcp_nw_admission *admission, tcp_nw_place *p, uint32_t now)
{
    end_hold(admission, p, now);
    tcp_nw_mark *mark = address_mark(admission, p->address);
    if (mark != nullptr)
    {
        if (p->state == TCP_NW_PLACE_SIGNED_ON)
        {
            if (mark->signed_on > 0)
                mark->signed_on--;
        }
        else if (mark->held > 0)
        {
            mark->held--;
        }
    }
    *p = tcp_nw_place{};
    admission->places_taken--;
}

// Whether the place's connection keeps it against a newcomer of its own standing.
bool protected_now(const tcp_nw_place *p, uint32_t now)
{
    if (!elapsed(now, p->since, TCP_NW_ADMISSION_GRACE_MS))
        return true;
    if (p->hold != TCP_NW_HOLD_NONE && !own_doing(p->hold))
        return true;
    return p->header_tick != 0 && !elapsed(now, p->header_tick, TCP_NW_ADMISSION_FRAME_PROTECTION_MS);
}

// What a newcomer might take: a place in the slot whose connection has not signed on nor
// sent its sign-on on, of an address that it may take from.
struct contest
{
    tcp_nw_admission *admission;
    uint32_t now;
    bool newcomer_trusted;
    uint32_t own; // the newcomer address's connections not signed on, plus one after a loss

    // 0: it may never take this place; 1: it may take it once it is unprotected; 2: at once.
    int standing(const tcp_nw_place *p) const
    {
        if (p->state != TCP_NW_PLACE_ADMITTED && p->state != TCP_NW_PLACE_VERDICT)
            return 0;
        const bool victim_trusted = trusted(admission, p->address, now);
        if (victim_trusted && !newcomer_trusted)
            return 0;
        const bool unprotected = p->state == TCP_NW_PLACE_ADMITTED && !protected_now(p, now);
        if (newcomer_trusted && !victim_trusted)
            return p->state == TCP_NW_PLACE_ADMITTED ? 2 : 1;
        if (held_by(admission, p->address) <= own)
            return 0;
        return unprotected ? 2 : 1;
    }
};
} // namespace

tcp_nw_admission *tcp_nw_admission_create(uint16_t places)
{
    tcp_nw_admission *admission = static_cast<tcp_nw_admission *>(calloc(1, sizeof(tcp_nw_admission)));
    if (admission == nullptr)
        return nullptr;
    admission->place_count = places;
    admission->places = static_cast<tcp_nw_place *>(calloc(places == 0 ? 1 : places, sizeof(tcp_nw_place)));
    admission->order = static_cast<uint16_t *>(calloc(places == 0 ? 1 : places, sizeof(uint16_t)));
    const tcp_nw_marks_rules rules = {TCP_NW_ADMISSION_BUDGET * k_unit, TCP_NW_ADMISSION_BUDGET_PER_SECOND,
                                      TCP_NW_ADMISSION_TAKE_BACK_PAUSE_MS, TCP_NW_ADMISSION_TRUST_MS};
    admission->marks = tcp_nw_marks_create(static_cast<uint32_t>(places) * TCP_NW_ADMISSION_MARKS_PER_PLACE +
                                               TCP_NW_ADMISSION_MARKS_SPARE,
                                           rules);
    if (admission->places == nullptr || admission->order == nullptr || admission->marks == nullptr)
    {
        tcp_nw_admission_destroy(admission);
        return nullptr;
    }
    return admission;
}

void tcp_nw_admission_destroy(tcp_nw_admission *admission)
{
    if (admission == nullptr)
        return;
    free(admission->places);
    free(admission->order);
    tcp_nw_marks_destroy(admission->marks);
    free(admission);
}

tcp_nw_arrival tcp_nw_admission_arrive(tcp_nw_admission *admission, uint32_t address, uint32_t waiting_since,
                                       uint32_t now)
{
    tcp_nw_marks_sweep(admission->marks, now, false);
    if (admission->places_taken < admission->place_count)
    {
        for (uint16_t i = 0; i < admission->place_count; ++i)
        {
            if (admission->places[i].state == TCP_NW_PLACE_FREE)
                return reserve(admission, i, address, now);
        }
    }
    const tcp_nw_mark *mark = address_mark(admission, address);
    const contest rules = {admission, now, tcp_nw_marks_trusted(admission->marks, mark, now),
                           static_cast<uint32_t>(mark != nullptr ? mark->held : 0) +
                               (tcp_nw_marks_lost_lately(admission->marks, mark, now) ? 1u : 0u)};
    // The oldest place it may take at once, one that is unprotected before one that is not
    // (only a trusted newcomer takes those); else whether one may come free for it.
    int32_t best = -1;
    bool best_unprotected = false;
    bool may_come_free = false;
    for (uint16_t i = 0; i < admission->place_count; ++i)
    {
        const tcp_nw_place *p = &admission->places[i];
        const int standing = rules.standing(p);
        if (standing == 0)
            continue;
        may_come_free = true;
        if (standing == 1)
            continue;
        const bool unprotected = !protected_now(p, now);
        if (best < 0 || (unprotected && !best_unprotected) ||
            (unprotected == best_unprotected &&
             static_cast<int32_t>(p->since - admission->places[best].since) < 0))
        {
            best = i;
            best_unprotected = unprotected;
        }
    }
    if (best >= 0)
    {
        tcp_nw_place *victim = &admission->places[best];
        const uint32_t victim_serial = victim->serial;
        tcp_nw_mark *loser = address_mark(admission, victim->address);
        if (loser != nullptr)
            loser->lost_tick = stamp(now);
        free_place(admission, victim, now);
        tcp_nw_arrival arrival = reserve(admission, static_cast<uint16_t>(best), address, now);
        arrival.verdict = TCP_NW_ARRIVAL_TAKE;
        arrival.victim_serial = victim_serial;
        return arrival;
    }
    if (may_come_free && !elapsed(now, waiting_since, TCP_NW_ADMISSION_PLACE_WAIT_MS))
        return tcp_nw_arrival{TCP_NW_ARRIVAL_WAIT, 0, 0, 0};
    return tcp_nw_arrival{TCP_NW_ARRIVAL_REFUSE, 0, 0, 0};
}

void tcp_nw_admission_admitted(tcp_nw_admission *admission, uint16_t place, uint32_t serial, uint32_t now)
{
    tcp_nw_place *p = place_of(admission, place, serial);
    if (p == nullptr || p->state != TCP_NW_PLACE_VERDICT)
        return;
    p->state = TCP_NW_PLACE_ADMITTED;
    p->since = stamp(now);
}

void tcp_nw_admission_header(tcp_nw_admission *admission, uint16_t place, uint32_t serial, uint32_t now)
{
    tcp_nw_place *p = place_of(admission, place, serial);
    if (p != nullptr && p->state == TCP_NW_PLACE_ADMITTED && p->hold == TCP_NW_HOLD_NONE)
        p->header_tick = stamp(now);
}

// Why the first frame of a place would wait now, or TCP_NW_HOLD_NONE.
static tcp_nw_hold tcp_nw_admission_hold_of(tcp_nw_admission *admission, const tcp_nw_place *p, uint32_t now)
{
    tcp_nw_mark *user = user_mark(admission, p->address, p->user);
    if (user != nullptr && tcp_nw_marks_budget(admission->marks, user, now) < (user->under_way + 1) * k_unit)
        return TCP_NW_HOLD_USER_BUDGET;
    tcp_nw_mark *address = address_mark(admission, p->address);
    const bool address_trusted = tcp_nw_marks_trusted(admission->marks, address, now);
    const int32_t address_budget = address != nullptr ? tcp_nw_marks_budget(admission->marks, address, now)
                                                      : TCP_NW_ADMISSION_BUDGET * k_unit;
    const uint16_t address_under_way = address != nullptr ? address->under_way : 0;
    if (address_trusted)
        return address_budget < k_unit ? TCP_NW_HOLD_ADDRESS_BUDGET : TCP_NW_HOLD_NONE;
    if (address_budget < TCP_NW_ADMISSION_BUDGET * k_unit &&
        address_budget < (address_under_way + 1) * k_unit)
        return TCP_NW_HOLD_ADDRESS_BUDGET;
    if (address_under_way >= TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS)
        return TCP_NW_HOLD_UNDER_WAY;
    if (gateway_budget(admission, now) < (admission->gateway_under_way + 1) * k_unit)
        return TCP_NW_HOLD_GATEWAY;
    return TCP_NW_HOLD_NONE;
}

tcp_nw_hold tcp_nw_admission_first_frame(tcp_nw_admission *admission, uint16_t place, uint32_t serial,
                                         uint32_t user, uint32_t now)
{
    tcp_nw_place *p = place_of(admission, place, serial);
    if (p == nullptr || p->state != TCP_NW_PLACE_ADMITTED || p->hold != TCP_NW_HOLD_NONE)
        return TCP_NW_HOLD_NONE;
    p->user = user;
    // A frame that came whole at once had its header now.
    if (p->header_tick == 0)
        p->header_tick = stamp(now);
    const tcp_nw_hold hold = tcp_nw_admission_hold_of(admission, p, now);
    if (hold == TCP_NW_HOLD_NONE)
    {
        go_on(admission, p, now);
        return hold;
    }
    p->hold = hold;
    p->hold_tick = stamp(now);
    admission->holding++;
    return hold;
}

uint16_t tcp_nw_admission_released(tcp_nw_admission *admission, uint32_t now, uint16_t *places, uint16_t max)
{
    if (admission->holding == 0 || max == 0)
        return 0;
    // The waiting places, oldest first.
    uint16_t *waiting = admission->order;
    uint16_t count = 0;
    for (uint16_t i = 0; i < admission->place_count && count < admission->holding; ++i)
    {
        if (admission->places[i].hold != TCP_NW_HOLD_NONE)
            waiting[count++] = i;
    }
    std::sort(waiting, waiting + count,
              [&](uint16_t a, uint16_t b) {
                  return static_cast<int32_t>(admission->places[a].hold_tick -
                                              admission->places[b].hold_tick) < 0;
              });
    uint16_t released = 0;
    for (uint16_t i = 0; i < count && released < max; ++i)
    {
        tcp_nw_place *p = &admission->places[waiting[i]];
        const tcp_nw_hold hold = tcp_nw_admission_hold_of(admission, p, now);
        if (hold != TCP_NW_HOLD_NONE)
        {
            p->hold = hold; // the reason may change while it waits
            continue;
        }
        go_on(admission, p, now);
        places[released++] = waiting[i];
    }
    return released;
}

void tcp_nw_admission_signed_on(tcp_nw_admission *admission, uint16_t place, uint32_t serial, uint32_t now)
{
    tcp_nw_place *p = place_of(admission, place, serial);
    if (p == nullptr || p->state == TCP_NW_PLACE_SIGNED_ON)
        return;
    end_hold(admission, p, now);
    if (p->state == TCP_NW_PLACE_UNDER_WAY)
        leave_under_way(admission, p);
    tcp_nw_mark *mark = address_mark(admission, p->address);
    if (mark != nullptr)
    {
        if (mark->held > 0)
            mark->held--;
        mark->signed_on++;
        mark->success_tick = stamp(now);
    }
    p->state = TCP_NW_PLACE_SIGNED_ON;
}

void tcp_nw_admission_ended(tcp_nw_admission *admission, uint16_t place, uint32_t serial, uint32_t now)
{
    tcp_nw_place *p = place_of(admission, place, serial);
    if (p == nullptr)
        return;
    if (p->state == TCP_NW_PLACE_UNDER_WAY)
    {
        leave_under_way(admission, p);
        charge_failure(admission, p, now);
    }
    free_place(admission, p, now);
}

uint32_t tcp_nw_admission_unheld_ms(const tcp_nw_admission *admission, uint16_t place, uint32_t serial,
                                    uint32_t now)
{
    const tcp_nw_place *p = tcp_nw_admission_place(admission, place, serial);
    if (p == nullptr || p->state != TCP_NW_PLACE_ADMITTED)
        return 0;
    uint32_t held = p->held_ms;
    if (p->hold != TCP_NW_HOLD_NONE)
        held += ea_get_tick_difference(now, p->hold_tick);
    const uint32_t had = ea_get_tick_difference(now, p->since);
    return had > held ? had - held : 0;
}

const tcp_nw_place *tcp_nw_admission_place(const tcp_nw_admission *admission, uint16_t place, uint32_t serial)
{
    if (place >= admission->place_count)
        return nullptr;
    const tcp_nw_place *p = &admission->places[place];
    return p->state != TCP_NW_PLACE_FREE && p->serial == serial ? p : nullptr;
}

tcp_nw_event_folds *tcp_nw_event_folds_create(uint32_t count)
{
    tcp_nw_event_folds *folds = static_cast<tcp_nw_event_folds *>(calloc(1, sizeof(tcp_nw_event_folds)));
    if (folds == nullptr)
        return nullptr;
    folds->count = count == 0 ? 1 : count;
    folds->folds = static_cast<tcp_nw_event_fold *>(calloc(folds->count, sizeof(tcp_nw_event_fold)));
    if (folds->folds == nullptr)
    {
        free(folds);
        return nullptr;
    }
    return folds;
}

void tcp_nw_event_folds_destroy(tcp_nw_event_folds *folds)
{
    if (folds == nullptr)
        return;
    free(folds->folds);
    free(folds);
}

// The pair's fold; or, when `claim`, a free one or one whose spell is over, given to it; null
// when there is none.
static tcp_nw_event_fold *tcp_nw_event_folds_of(tcp_nw_event_folds *folds, uint16_t reason_code,
                                                uint32_t user_id, bool claim, uint32_t now)
{
    tcp_nw_event_fold *claimable = nullptr;
    for (uint32_t i = 0; i < folds->count; ++i)
    {
        tcp_nw_event_fold *entry = &folds->folds[i];
        if (entry->reason_code == reason_code && entry->user_id == user_id && reason_code != 0)
            return entry;
        const bool spell_over = entry->fold.open == 0 || (entry->fold.left_out == 0 &&
                                                          elapsed(now, entry->fold.tick, LOG_FOLD_SECOND_MS));
        if (claimable == nullptr && (entry->reason_code == 0 || spell_over))
            claimable = entry;
    }
    if (!claim || claimable == nullptr)
        return nullptr;
    *claimable = tcp_nw_event_fold{reason_code, user_id, log_fold{}};
    return claimable;
}

bool tcp_nw_event_folds_admit(tcp_nw_event_folds *folds, uint16_t reason_code, uint32_t user_id, uint32_t now)
{
    tcp_nw_event_fold *entry = tcp_nw_event_folds_of(folds, reason_code, user_id, true, now);
    // Every fold is in an open spell: the event goes out on its own rather than be counted
    // under another pair.
    if (entry == nullptr)
        return true;
    return log_fold_admit_at(&entry->fold, 1, now);
}

uint32_t tcp_nw_event_folds_due(tcp_nw_event_folds *folds, uint32_t now, bool all, uint16_t skip_reason,
                                tcp_nw_folded_event *due, uint32_t max)
{
    uint32_t filled = 0;
    for (uint32_t i = 0; i < folds->count && filled < max; ++i)
    {
        tcp_nw_event_fold *entry = &folds->folds[i];
        if (entry->reason_code == 0 || (entry->reason_code == skip_reason && !all))
            continue;
        const uint32_t count = all ? log_fold_due_now(&entry->fold) : log_fold_due_at(&entry->fold, now);
        if (count > 0)
            due[filled++] = tcp_nw_folded_event{entry->reason_code, entry->user_id, count};
    }
    return filled;
}

uint32_t tcp_nw_event_folds_due_of(tcp_nw_event_folds *folds, uint16_t reason_code, uint32_t user_id,
                                   uint32_t now)
{
    tcp_nw_event_fold *entry = tcp_nw_event_folds_of(folds, reason_code, user_id, false, now);
    return entry != nullptr ? log_fold_due_at(&entry->fold, now) : 0;
}
