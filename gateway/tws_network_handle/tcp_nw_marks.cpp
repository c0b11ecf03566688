// The marks of peer addresses and of users on them (tcp_nw_marks.h): a fixed array of
// marks, chained from a power-of-two array of buckets, with a list of free marks. A mark
// that carries nothing stays in its chain until a sweep frees it (once a second, or at once
// when no mark is free), so a lookup never meets a mark that moved.
#include "gateway/tws_network_handle/tcp_nw_marks.h"

#include <cstdlib>

#include "common/ea_time.h"

namespace
{
const uint32_t k_sweep_interval_ms = 1000;

uint32_t tcp_nw_marks_hash(uint8_t kind, uint32_t address, uint32_t user)
{
    uint64_t key = (static_cast<uint64_t>(address) << 32) | user;
    key ^= static_cast<uint64_t>(kind) << 61;
    key *= 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(key >> 32);
}

bool tcp_nw_marks_within(uint32_t tick, uint32_t now, uint32_t span)
{
    return tick != 0 && ea_get_tick_difference(now, tick) < span;
}

bool tcp_nw_marks_counted(const tcp_nw_mark *mark)
{
    return mark->held != 0 || mark->signed_on != 0 || mark->under_way != 0;
}

// A tick that is never 0 (0 means "never" in a mark).
uint32_t tcp_nw_marks_stamp(uint32_t now)
{
    return now != 0 ? now : 1;
}

void tcp_nw_marks_unlink(tcp_nw_marks *marks, uint32_t index)
{
    tcp_nw_mark *mark = &marks->marks[index];
    uint32_t *link =
        &marks->buckets[tcp_nw_marks_hash(mark->kind, mark->address, mark->user) & marks->bucket_mask];
    while (*link != index + 1)
        link = &marks->marks[*link - 1].next;
    *link = mark->next;
    *mark = tcp_nw_mark{};
    marks->free_list[marks->free_count++] = index;
}

// The room a counted mark takes when none is free: a mark of a success alone, the oldest
// first, else the oldest mark of a budget or a lost place. Never a counted mark (there are
// never more of them than the table's owner sized it for).
uint32_t tcp_nw_marks_room_for_counted(tcp_nw_marks *marks, uint32_t now)
{
    uint32_t success_only = UINT32_MAX;
    uint32_t other = UINT32_MAX;
    uint32_t success_age = 0;
    uint32_t other_age = 0;
    for (uint32_t i = 0; i < marks->capacity; ++i)
    {
        const tcp_nw_mark *mark = &marks->marks[i];
        if (tcp_nw_marks_counted(mark))
            continue;
        const bool budget_or_lost = mark->budget.tick != 0 || mark->lost_tick != 0;
        const uint32_t stamp = mark->budget.tick > mark->lost_tick ? mark->budget.tick : mark->lost_tick;
        if (!budget_or_lost)
        {
            const uint32_t age = ea_get_tick_difference(now, mark->success_tick);
            if (success_only == UINT32_MAX || age > success_age)
            {
                success_only = i;
                success_age = age;
            }
            continue;
        }
        const uint32_t age = ea_get_tick_difference(now, stamp);
        if (other == UINT32_MAX || age > other_age)
        {
            other = i;
            other_age = age;
        }
    }
    if (success_only != UINT32_MAX)
        return success_only;
    if (other != UINT32_MAX)
        marks->forgotten++;
    return other;
}
} // namespace

tcp_nw_marks *tcp_nw_marks_create(uint32_t capacity, const tcp_nw_marks_rules &rules)
{
    tcp_nw_marks *marks = static_cast<tcp_nw_marks *>(calloc(1, sizeof(tcp_nw_marks)));
    if (marks == nullptr)
        return nullptr;
    marks->rules = rules;
    marks->capacity = capacity == 0 ? 1 : capacity;
    uint32_t buckets = 1;
    while (buckets < marks->capacity * 2)
        buckets <<= 1;
    marks->bucket_mask = buckets - 1;
    marks->marks = static_cast<tcp_nw_mark *>(calloc(marks->capacity, sizeof(tcp_nw_mark)));
    marks->buckets = static_cast<uint32_t *>(calloc(buckets, sizeof(uint32_t)));
    marks->free_list = static_cast<uint32_t *>(calloc(marks->capacity, sizeof(uint32_t)));
    if (marks->marks == nullptr || marks->buckets == nullptr || marks->free_list == nullptr)
    {
        tcp_nw_marks_destroy(marks);
        return nullptr;
    }
    for (uint32_t i = 0; i < marks->capacity; ++i)
        marks->free_list[i] = marks->capacity - 1 - i;
    marks->free_count = marks->capacity;
    return marks;
}

void tcp_nw_marks_destroy(tcp_nw_marks *marks)
{
    if (marks == nullptr)
        return;
    free(marks->marks);
    free(marks->buckets);
    free(marks->free_list);
    free(marks);
}

tcp_nw_mark *tcp_nw_marks_find(tcp_nw_marks *marks, uint8_t kind, uint32_t address, uint32_t user)
{
    if (kind == TCP_NW_MARK_ADDRESS)
        user = 0;
    uint32_t at = marks->buckets[tcp_nw_marks_hash(kind, address, user) & marks->bucket_mask];
    while (at != 0)
    {
        tcp_nw_mark *mark = &marks->marks[at - 1];
        if (mark->kind == kind && mark->address == address && mark->user == user)
            return mark;
        at = mark->next;
    }
    return nullptr;
}

tcp_nw_mark *tcp_nw_marks_make(tcp_nw_marks *marks, uint8_t kind, uint32_t address, uint32_t user,
                               bool counted, uint32_t now)
{
    if (kind == TCP_NW_MARK_ADDRESS)
        user = 0;
    tcp_nw_mark *found = tcp_nw_marks_find(marks, kind, address, user);
    if (found != nullptr)
        return found;
    if (marks->free_count == 0)
        tcp_nw_marks_sweep(marks, now, true);
    if (marks->free_count == 0)
    {
        const uint32_t room = counted ? tcp_nw_marks_room_for_counted(marks, now) : UINT32_MAX;
        if (room == UINT32_MAX)
        {
            marks->not_made++;
            return nullptr;
        }
        tcp_nw_marks_unlink(marks, room);
    }
    const uint32_t index = marks->free_list[--marks->free_count];
    tcp_nw_mark *mark = &marks->marks[index];
    *mark = tcp_nw_mark{};
    mark->kind = kind;
    mark->address = address;
    mark->user = user;
    mark->budget = tcp_nw_budget{marks->rules.budget, 0};
    uint32_t *bucket = &marks->buckets[tcp_nw_marks_hash(kind, address, user) & marks->bucket_mask];
    mark->next = *bucket;
    *bucket = index + 1;
    return mark;
}

int32_t tcp_nw_budget_now(tcp_nw_budget *budget, int32_t full, int32_t refill_per_ms, uint32_t now)
{
    if (budget->tick == 0)
        return budget->left = full;
    const int64_t refilled = static_cast<int64_t>(budget->left) +
                             static_cast<int64_t>(ea_get_tick_difference(now, budget->tick)) * refill_per_ms;
    if (refilled >= full)
    {
        *budget = tcp_nw_budget{full, 0};
        return full;
    }
    budget->left = static_cast<int32_t>(refilled);
    budget->tick = tcp_nw_marks_stamp(now);
    return budget->left;
}

bool tcp_nw_budget_spend(tcp_nw_budget *budget, int32_t full, int32_t refill_per_ms, uint32_t now)
{
    const int32_t before = tcp_nw_budget_now(budget, full, refill_per_ms, now);
    budget->left = before >= 1000 ? before - 1000 : 0;
    budget->tick = tcp_nw_marks_stamp(now);
    return before >= full;
}

bool tcp_nw_budget_spent(const tcp_nw_budget *budget, int32_t full, int32_t refill_per_ms, uint32_t now)
{
    if (budget->tick == 0)
        return false;
    return static_cast<int64_t>(budget->left) +
               static_cast<int64_t>(ea_get_tick_difference(now, budget->tick)) * refill_per_ms <
           full;
}

int32_t tcp_nw_marks_budget(tcp_nw_marks *marks, tcp_nw_mark *mark, uint32_t now)
{
    return tcp_nw_budget_now(&mark->budget, marks->rules.budget, marks->rules.refill_per_ms, now);
}

bool tcp_nw_marks_spend(tcp_nw_marks *marks, tcp_nw_mark *mark, uint32_t now)
{
    return tcp_nw_budget_spend(&mark->budget, marks->rules.budget, marks->rules.refill_per_ms, now);
}

bool tcp_nw_marks_lost_lately(const tcp_nw_marks *marks, const tcp_nw_mark *mark, uint32_t now)
{
    return mark != nullptr && tcp_nw_marks_within(mark->lost_tick, now, marks->rules.lost_ms);
}

bool tcp_nw_marks_trusted(const tcp_nw_marks *marks, const tcp_nw_mark *mark, uint32_t now)
{
    return mark != nullptr &&
           (mark->signed_on != 0 || tcp_nw_marks_within(mark->success_tick, now, marks->rules.success_ms));
}

bool tcp_nw_marks_live(const tcp_nw_marks *marks, const tcp_nw_mark *mark, uint32_t now)
{
    if (mark->kind == TCP_NW_MARK_NONE)
        return false;
    if (tcp_nw_marks_counted(mark) || tcp_nw_marks_lost_lately(marks, mark, now) ||
        tcp_nw_marks_within(mark->success_tick, now, marks->rules.success_ms))
        return true;
    return tcp_nw_budget_spent(&mark->budget, marks->rules.budget, marks->rules.refill_per_ms, now);
}

void tcp_nw_marks_sweep(tcp_nw_marks *marks, uint32_t now, bool force)
{
    if (!force && marks->last_sweep != 0 &&
        ea_get_tick_difference(now, marks->last_sweep) < k_sweep_interval_ms)
        return;
    marks->last_sweep = tcp_nw_marks_stamp(now);
    for (uint32_t i = 0; i < marks->capacity; ++i)
    {
        if (marks->marks[i].kind != TCP_NW_MARK_NONE && !tcp_nw_marks_live(marks, &marks->marks[i], now))
            tcp_nw_marks_unlink(marks, i);
    }
}

uint32_t tcp_nw_marks_count(const tcp_nw_marks *marks)
{
    return marks->capacity - marks->free_count;
}
