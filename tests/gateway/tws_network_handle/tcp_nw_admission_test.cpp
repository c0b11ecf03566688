// The admission policy for connections that have not signed on, driven in-process on a
// clock of the test's own: the contest for a full table against holders rotating over ten
// thousand addresses, the newcomer beside them (from an address whose sign-ons succeed and
// from a new one), the budgets of failed sign-ons (one user's, one address's, many
// addresses' together), an office's crowd, the time the gateway holds a connection, the
// marks' room, and the folds of console events over many users.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "gateway/tws_network_handle/tcp_nw_admission.h"

namespace
{
// 10.x.y.z as a host-order number; any 32-bit value serves as an address here.
uint32_t address(uint32_t n)
{
    return 0x0A000000u + n;
}

const uint32_t kStart = 1000000;

struct admission_deleter
{
    void operator()(tcp_nw_admission *a) const { tcp_nw_admission_destroy(a); }
};
typedef std::unique_ptr<tcp_nw_admission, admission_deleter> admission_ptr;

// A connection as the server knows it: its place and serial.
struct held_place
{
    uint16_t place = 0;
    uint32_t serial = 0;
};

// Connects and admits a connection from `from` at `now` on a table with a free place.
held_place admitted(tcp_nw_admission *a, uint32_t from, uint32_t now)
{
    const tcp_nw_arrival arrival = tcp_nw_admission_arrive(a, from, now, now);
    EXPECT_EQ(arrival.verdict, TCP_NW_ARRIVAL_PLACE);
    tcp_nw_admission_admitted(a, arrival.place, arrival.serial, now);
    return held_place{arrival.place, arrival.serial};
}

// A sign-on that goes on at once and ends refused by the host.
void failed_sign_on(tcp_nw_admission *a, uint32_t from, uint32_t user, uint32_t now)
{
    const held_place p = admitted(a, from, now);
    ASSERT_EQ(tcp_nw_admission_first_frame(a, p.place, p.serial, user, now), TCP_NW_HOLD_NONE);
    tcp_nw_admission_ended(a, p.place, p.serial, now);
}

// An address whose sign-ons succeed: one of its connections signs on and stays.
held_place signed_on(tcp_nw_admission *a, uint32_t from, uint32_t user, uint32_t now)
{
    const held_place p = admitted(a, from, now);
    EXPECT_EQ(tcp_nw_admission_first_frame(a, p.place, p.serial, user, now), TCP_NW_HOLD_NONE);
    tcp_nw_admission_signed_on(a, p.place, p.serial, now);
    return p;
}

// Silent holders that each take the next address of a pool for every connection and come
// again the moment they lose their place or are refused, as fast as the gateway takes
// connections (one every `gap_us`), on a table whose places they all want. The server's
// side is played as tcp_nw_info plays it: a waiting newcomer is asked again before the next
// connection is taken.
struct rotating_holders
{
    tcp_nw_admission *a;
    uint32_t pool;
    uint32_t next = 0;
    std::map<uint32_t, uint32_t> lost_at; // address -> when it last lost a place
    uint64_t takes = 0, refusals = 0, takes_back_within_pause = 0;
    std::vector<uint32_t> place_address; // who holds each place

    rotating_holders(tcp_nw_admission *admission, uint32_t pool_size)
        : a(admission), pool(pool_size), place_address(admission->place_count, 0)
    {
    }

    uint32_t next_address() { return address(1 + (next++ % pool)); }

    // One holder's connect at `now`; the place it got, if any.
    void connect(uint32_t now)
    {
        const uint32_t from = next_address();
        const tcp_nw_arrival arrival = tcp_nw_admission_arrive(a, from, now, now);
        if (arrival.verdict == TCP_NW_ARRIVAL_REFUSE || arrival.verdict == TCP_NW_ARRIVAL_WAIT)
        {
            refusals++; // a holder that would wait is counted with the refused: it comes again
            return;
        }
        if (arrival.verdict == TCP_NW_ARRIVAL_TAKE)
        {
            takes++;
            const uint32_t loser = place_address[arrival.place];
            lost_at[loser] = now;
            auto lost = lost_at.find(from);
            if (lost != lost_at.end() && lost->first != loser &&
                now - lost->second < TCP_NW_ADMISSION_TAKE_BACK_PAUSE_MS)
                takes_back_within_pause++;
        }
        place_address[arrival.place] = from;
        tcp_nw_admission_admitted(a, arrival.place, arrival.serial, now);
    }
};

// Sixty holders over ten thousand addresses on fifty places, two minutes at three thousand
// connects a second: every lost place is remembered for its pause (no mark with information
// is forgotten or left unmade), so an address that lost a place never takes one back from
// an address that holds as few as it does; places change hands at most once a grace each.
TEST(TcpNwAdmission, TheTakeBackPauseHoldsOverTenThousandAddresses)
{
    admission_ptr a(tcp_nw_admission_create(50));
    ASSERT_NE(a, nullptr);
    rotating_holders holders(a.get(), 10000);
    for (uint32_t step = 0; step < 120 * 3000; ++step)
        holders.connect(kStart + step / 3);
    EXPECT_EQ(a->marks->forgotten, 0u);
    EXPECT_EQ(a->marks->not_made, 0u);
    EXPECT_EQ(holders.takes_back_within_pause, 0u);
    EXPECT_GT(holders.takes, 1000u);
    EXPECT_LE(holders.takes, 50u * 120 * 1000 / TCP_NW_ADMISSION_GRACE_MS + 50);
    EXPECT_LE(tcp_nw_marks_count(a->marks), a->marks->capacity);
}

// Beside holders rotating over ten thousand addresses, whose places are all younger than
// their grace the moment one grows old: a newcomer from an address whose sign-ons succeed
// takes one at once; one from a new address waits (it is not refused) and gets the first
// place whose grace runs out, before the holders who come after it.
TEST(TcpNwAdmission, ANewcomerGetsInBesideHoldersRotatingOverTenThousandAddresses)
{
    admission_ptr a(tcp_nw_admission_create(50));
    ASSERT_NE(a, nullptr);
    const uint32_t office = address(20000);
    uint32_t now = kStart;
    const held_place trader = signed_on(a.get(), office, 2001, now);
    rotating_holders holders(a.get(), 10000);
    holders.place_address[trader.place] = office;
    for (uint32_t i = 0; i < 20 * 3000; ++i)
        holders.connect(now = kStart + i / 3);

    // From the office: a place at once, from a holder.
    const tcp_nw_arrival at_once = tcp_nw_admission_arrive(a.get(), office, now, now);
    ASSERT_EQ(at_once.verdict, TCP_NW_ARRIVAL_TAKE);
    EXPECT_NE(holders.place_address[at_once.place], office);
    tcp_nw_admission_admitted(a.get(), at_once.place, at_once.serial, now);
    holders.place_address[at_once.place] = office;

    // From a new address, with every holder's place in its grace: it waits, then gets in.
    for (uint32_t i = 0; i < 600; ++i)
        holders.connect(now += 1); // the holders took every place that grew old
    const uint32_t newcomer = address(30000);
    const uint32_t came = now;
    tcp_nw_arrival waited = tcp_nw_admission_arrive(a.get(), newcomer, came, now);
    uint32_t polls = 0;
    while (waited.verdict == TCP_NW_ARRIVAL_WAIT && polls++ < 2000)
        waited = tcp_nw_admission_arrive(a.get(), newcomer, came, ++now);
    ASSERT_EQ(waited.verdict, TCP_NW_ARRIVAL_TAKE);
    EXPECT_LT(now - came, static_cast<uint32_t>(TCP_NW_ADMISSION_GRACE_MS));
    tcp_nw_admission_admitted(a.get(), waited.place, waited.serial, now);
    // Its own grace keeps it against the holders, and the header of its sign-on after that.
    holders.place_address[waited.place] = newcomer;
    tcp_nw_admission_header(a.get(), waited.place, waited.serial, now + 20);
    for (uint32_t i = 0; i < 3 * 3000; ++i)
        holders.connect(now + 20 + i / 3);
    EXPECT_EQ(holders.place_address[waited.place], newcomer);
    EXPECT_NE(tcp_nw_admission_place(a.get(), waited.place, waited.serial), nullptr);
}

// A socket waiting for the box's verdict is never taken, however long the box takes: the
// gateway holds it; its grace begins when it is admitted.
TEST(TcpNwAdmission, TimeTheGatewayHoldsAConnectionIsNotChargedToIt)
{
    admission_ptr a(tcp_nw_admission_create(2));
    uint32_t now = kStart;
    const tcp_nw_arrival first = tcp_nw_admission_arrive(a.get(), address(1), now, now);
    const tcp_nw_arrival second = tcp_nw_admission_arrive(a.get(), address(2), now, now);
    ASSERT_EQ(first.verdict, TCP_NW_ARRIVAL_PLACE);
    ASSERT_EQ(second.verdict, TCP_NW_ARRIVAL_PLACE);
    now += 20000;
    EXPECT_EQ(tcp_nw_admission_arrive(a.get(), address(3), now, now).verdict, TCP_NW_ARRIVAL_WAIT);
    EXPECT_EQ(tcp_nw_admission_arrive(a.get(), address(3), now - TCP_NW_ADMISSION_PLACE_WAIT_MS, now).verdict,
              TCP_NW_ARRIVAL_REFUSE);
    tcp_nw_admission_admitted(a.get(), first.place, first.serial, now);
    tcp_nw_admission_admitted(a.get(), second.place, second.serial, now);
    EXPECT_EQ(tcp_nw_admission_arrive(a.get(), address(3), now, now + TCP_NW_ADMISSION_GRACE_MS - 1).verdict,
              TCP_NW_ARRIVAL_WAIT);
    EXPECT_EQ(tcp_nw_admission_arrive(a.get(), address(3), now, now + TCP_NW_ADMISSION_GRACE_MS).verdict,
              TCP_NW_ARRIVAL_TAKE);

    // A first frame that waits for the gateway's reasons keeps its place and its time.
    admission_ptr b(tcp_nw_admission_create(TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS + 1));
    now = kStart;
    std::vector<held_place> office;
    for (int i = 0; i <= TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS; ++i)
    {
        office.push_back(admitted(b.get(), address(7), now));
        const tcp_nw_hold hold =
            tcp_nw_admission_first_frame(b.get(), office.back().place, office.back().serial, 3000 + i, now);
        EXPECT_EQ(hold,
                  i < TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS ? TCP_NW_HOLD_NONE : TCP_NW_HOLD_UNDER_WAY);
    }
    const held_place &last = office.back();
    now += 40000;
    EXPECT_EQ(tcp_nw_admission_unheld_ms(b.get(), last.place, last.serial, now), 0u);
    EXPECT_EQ(tcp_nw_admission_arrive(b.get(), address(8), now, now).verdict, TCP_NW_ARRIVAL_WAIT);
}

// A user whose password fails, on an address whose sign-ons succeed, holds back only itself:
// past its budget its sign-ons go on one at a time as the budget comes back (two a second),
// while other users of the address go on at once; its waiting frame may lose its place once
// its protection is over, as it is its own doing.
TEST(TcpNwAdmission, AFailingUserIsHeldBackRatherThanItsAddress)
{
    admission_ptr a(tcp_nw_admission_create(16));
    const uint32_t office = address(1);
    uint32_t now = kStart;
    signed_on(a.get(), office, 2001, now);
    for (int i = 0; i < TCP_NW_ADMISSION_BUDGET; ++i)
        failed_sign_on(a.get(), office, 4001, now);

    std::vector<held_place> broken;
    for (int i = 0; i < 4; ++i)
    {
        broken.push_back(admitted(a.get(), office, now));
        EXPECT_EQ(tcp_nw_admission_first_frame(a.get(), broken.back().place, broken.back().serial, 4001, now),
                  TCP_NW_HOLD_USER_BUDGET);
    }
    for (uint32_t user = 2002; user < 2012; ++user)
    {
        const held_place honest = admitted(a.get(), office, now);
        EXPECT_EQ(tcp_nw_admission_first_frame(a.get(), honest.place, honest.serial, user, now),
                  TCP_NW_HOLD_NONE);
        tcp_nw_admission_signed_on(a.get(), honest.place, honest.serial, now);
    }
    // The budget comes back a unit each half second, and one waiting frame goes on with it.
    uint16_t released[16];
    EXPECT_EQ(tcp_nw_admission_released(a.get(), now + 499, released, 16), 0u);
    ASSERT_EQ(tcp_nw_admission_released(a.get(), now + 500, released, 16), 1u);
    EXPECT_EQ(released[0], broken[0].place);
    EXPECT_EQ(tcp_nw_admission_released(a.get(), now + 600, released, 16), 0u);
    tcp_nw_admission_ended(a.get(), broken[0].place, broken[0].serial, now + 600);
    EXPECT_EQ(tcp_nw_admission_released(a.get(), now + 999, released, 16), 0u);
    ASSERT_EQ(tcp_nw_admission_released(a.get(), now + 1000, released, 16), 1u);
    EXPECT_EQ(released[0], broken[1].place);

    // Another address takes a waiting frame's place once its protection is over.
    for (uint16_t p = 0; p < 16; ++p)
    {
        if (a->places[p].state == TCP_NW_PLACE_FREE)
            admitted(a.get(), address(100 + p), now);
    }
    now += TCP_NW_ADMISSION_FRAME_PROTECTION_MS + 1000;
    const tcp_nw_arrival taken = tcp_nw_admission_arrive(a.get(), address(99), now, now);
    EXPECT_EQ(taken.verdict, TCP_NW_ARRIVAL_TAKE);
}

// Sign-ons of many users failing from one address hold the address back after its budget;
// from a thousand addresses whose sign-ons never succeed they hold back all of them after
// the gateway's budget, so that over a minute no more go on than it allows, while an
// address whose sign-ons succeed goes on throughout.
TEST(TcpNwAdmission, FailedSignOnsOverManyUsersAndAddressesAreBounded)
{
    admission_ptr a(tcp_nw_admission_create(64));
    uint32_t now = kStart;
    for (uint32_t user = 1; user <= TCP_NW_ADMISSION_BUDGET; ++user)
        failed_sign_on(a.get(), address(1), 7000 + user, now);
    const held_place next = admitted(a.get(), address(1), now);
    EXPECT_EQ(tcp_nw_admission_first_frame(a.get(), next.place, next.serial, 7100, now),
              TCP_NW_HOLD_ADDRESS_BUDGET);
    tcp_nw_admission_ended(a.get(), next.place, next.serial, now);

    admission_ptr b(tcp_nw_admission_create(64));
    now = kStart;
    const uint32_t office = address(5000);
    signed_on(b.get(), office, 2001, now);
    uint32_t went_on = 0, office_held = 0, office_tries = 0;
    std::deque<held_place> waiting;
    uint32_t next_address = 0;
    for (uint32_t ms = 0; ms < 60000; ms += 5)
    {
        now = kStart + ms;
        uint16_t released[64];
        const uint16_t count = tcp_nw_admission_released(b.get(), now, released, 64);
        for (uint16_t i = 0; i < count; ++i)
        {
            went_on++;
            const uint32_t serial = b->places[released[i]].serial;
            tcp_nw_admission_ended(b.get(), released[i], serial, now); // the host refuses it
        }
        // A flood connection from the next of a thousand addresses, when a place is free.
        const tcp_nw_arrival arrival =
            tcp_nw_admission_arrive(b.get(), address(1 + next_address++ % 1000), now, now);
        if (arrival.verdict == TCP_NW_ARRIVAL_PLACE)
        {
            tcp_nw_admission_admitted(b.get(), arrival.place, arrival.serial, now);
            if (tcp_nw_admission_first_frame(b.get(), arrival.place, arrival.serial, 4001, now) ==
                TCP_NW_HOLD_NONE)
            {
                went_on++;
                tcp_nw_admission_ended(b.get(), arrival.place, arrival.serial, now);
            }
        }
        if (ms % 1000 == 0)
        {
            // The office takes the place of a waiting flood connection when none is free.
            office_tries++;
            const tcp_nw_arrival arrival = tcp_nw_admission_arrive(b.get(), office, now, now);
            ASSERT_TRUE(arrival.verdict == TCP_NW_ARRIVAL_PLACE || arrival.verdict == TCP_NW_ARRIVAL_TAKE);
            tcp_nw_admission_admitted(b.get(), arrival.place, arrival.serial, now);
            const held_place honest{arrival.place, arrival.serial};
            office_held += tcp_nw_admission_first_frame(b.get(), honest.place, honest.serial,
                                                        2100 + ms / 1000, now) != TCP_NW_HOLD_NONE;
            tcp_nw_admission_signed_on(b.get(), honest.place, honest.serial, now);
            tcp_nw_admission_ended(b.get(), honest.place, honest.serial, now);
        }
    }
    EXPECT_LE(went_on, static_cast<uint32_t>(TCP_NW_ADMISSION_GATEWAY_BUDGET +
                                             60 * TCP_NW_ADMISSION_GATEWAY_BUDGET_PER_SECOND + 1));
    EXPECT_GE(went_on, static_cast<uint32_t>(50 * TCP_NW_ADMISSION_GATEWAY_BUDGET_PER_SECOND));
    EXPECT_GT(office_tries, 50u);
    EXPECT_EQ(office_held, 0u);
    EXPECT_EQ(b->marks->forgotten, 0u);
}

// A hundred traders of one address whose sign-ons have not succeeded yet: eight go on, the
// rest wait, protected, without their time running; once one signs on, all the rest go on.
TEST(TcpNwAdmission, AnOfficeIsNotPacedOnceItsSignOnsSucceed)
{
    admission_ptr a(tcp_nw_admission_create(100));
    uint32_t now = kStart;
    std::vector<held_place> traders;
    uint32_t went_on = 0;
    for (uint32_t i = 0; i < 100; ++i)
    {
        traders.push_back(admitted(a.get(), address(1), now));
        went_on += tcp_nw_admission_first_frame(a.get(), traders.back().place, traders.back().serial,
                                                3001 + i, now) == TCP_NW_HOLD_NONE;
    }
    EXPECT_EQ(went_on, static_cast<uint32_t>(TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS));
    now += 3000; // the host answers three seconds late
    uint16_t released[100];
    EXPECT_EQ(tcp_nw_admission_released(a.get(), now, released, 100), 0u);
    EXPECT_EQ(tcp_nw_admission_unheld_ms(a.get(), traders[99].place, traders[99].serial, now), 0u);
    tcp_nw_admission_signed_on(a.get(), traders[0].place, traders[0].serial, now);
    EXPECT_EQ(tcp_nw_admission_released(a.get(), now, released, 100),
              100u - TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS);
}

// The marks' room: a mark that counts connections is always made, taking the room of a mark
// of a success alone before one of a budget; any other mark is not made when every mark
// carries something, and none is forgotten for it.
TEST(TcpNwMarks, ACountedMarkIsAlwaysMadeAndNoInformationIsDroppedForLess)
{
    const tcp_nw_marks_rules rules = {8000, 2, 10000, 3600000};
    tcp_nw_marks *marks = tcp_nw_marks_create(3, rules);
    ASSERT_NE(marks, nullptr);
    uint32_t now = kStart;
    tcp_nw_mark *success = tcp_nw_marks_make(marks, TCP_NW_MARK_ADDRESS, address(1), 0, true, now);
    success->success_tick = now;
    tcp_nw_mark *spent = tcp_nw_marks_make(marks, TCP_NW_MARK_USER, address(2), 4001, false, now);
    tcp_nw_marks_spend(marks, spent, now);
    tcp_nw_mark *counted = tcp_nw_marks_make(marks, TCP_NW_MARK_ADDRESS, address(3), 0, true, now);
    counted->held = 1;
    EXPECT_EQ(tcp_nw_marks_make(marks, TCP_NW_MARK_USER, address(4), 1, false, now), nullptr);
    EXPECT_EQ(marks->not_made, 1u);
    tcp_nw_mark *fourth = tcp_nw_marks_make(marks, TCP_NW_MARK_ADDRESS, address(4), 0, true, now);
    ASSERT_NE(fourth, nullptr);
    fourth->held = 1;
    EXPECT_EQ(tcp_nw_marks_find(marks, TCP_NW_MARK_ADDRESS, address(1), 0), nullptr);
    EXPECT_NE(tcp_nw_marks_find(marks, TCP_NW_MARK_USER, address(2), 4001), nullptr);
    EXPECT_EQ(marks->forgotten, 0u);
    // The spent budget is back in full after four seconds: its mark then carries nothing.
    now += 4000;
    tcp_nw_mark *fifth = tcp_nw_marks_make(marks, TCP_NW_MARK_USER, address(5), 1, false, now);
    EXPECT_NE(fifth, nullptr);
    EXPECT_EQ(tcp_nw_marks_find(marks, TCP_NW_MARK_USER, address(2), 4001), nullptr);
    EXPECT_EQ(marks->forgotten, 0u);
    tcp_nw_marks_destroy(marks);
}

// Forty-five users refused together, with room for fewer folds than users: each user's first
// refusal goes out at once, and the count of every folded event is its own user's alone, over
// spells that go on for a minute.
TEST(TcpNwEventFolds, EveryUserIsNamedAndCountedUnderItsOwnEntryOnly)
{
    tcp_nw_event_folds *folds = tcp_nw_event_folds_create(16);
    ASSERT_NE(folds, nullptr);
    std::map<uint32_t, uint64_t> refused, heard;
    std::set<uint32_t> named;
    uint32_t now = kStart;
    tcp_nw_folded_event due[64];
    for (uint32_t ms = 0; ms < 60000; ms += 10)
    {
        now = kStart + ms;
        const uint32_t user = 3001 + (ms / 10) * 7 % 45;
        refused[user]++;
        if (tcp_nw_event_folds_admit(folds, 11005, user, now))
        {
            heard[user]++;
            named.insert(user);
        }
        const uint32_t count = tcp_nw_event_folds_due(folds, now, false, 0, due, 64);
        for (uint32_t i = 0; i < count; ++i)
            heard[due[i].user_id] += due[i].count;
    }
    const uint32_t count = tcp_nw_event_folds_due(folds, now, true, 0, due, 64);
    for (uint32_t i = 0; i < count; ++i)
        heard[due[i].user_id] += due[i].count;
    EXPECT_EQ(named.size(), 45u);
    EXPECT_EQ(heard, refused);
    tcp_nw_event_folds_destroy(folds);
}
} // namespace
