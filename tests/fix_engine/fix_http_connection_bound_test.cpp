// The status page's bound of connections served at once, in-process on its own clock: past
// the bound the address that holds the most loses one; among the addresses that hold that
// many, a silent connection goes before one that began its request, the oldest first, and
// the connection accepted last never goes. Ten thousand addresses reconnecting as they are
// dropped never push out a caller that spoke, and each is counted under its own entry.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "HttpConnectionBound.h"

namespace
{

long long g_now = 0;

long long testClock()
{
    return g_now;
}

struct Arrival
{
    int socket;
    const char *peer;
    long long at; // the clock when it is accepted
    bool heard;   // it has sent part of its request
};

struct BoundCase
{
    const char *name;
    size_t bound;
    std::vector<Arrival> arrivals; // accepted in this order
    int dropped;                   // the connection that goes (-1: none)
};

TEST(HttpConnectionBound, PastTheBoundTheChoiceFollowsHoldingsSilenceAndAge)
{
    const BoundCase cases[] = {
        {"within the bound", 3, {{1, "127.1.0.1", 0, false}, {2, "127.1.0.2", 1, false}}, -1},
        // The address that sorted first lost on every tie.
        {"every address holds one: the oldest goes, not the first address",
         2,
         {{1, "127.1.0.1", 0, false}, {2, "127.1.0.2", 1, false}, {3, "127.0.0.2", 2, false}},
         1},
        {"the address that holds the most loses its oldest, though it sorts last and has spoken",
         3,
         {{1, "127.0.0.2", 0, false},
          {2, "127.9.0.9", 1, true},
          {3, "127.9.0.9", 2, true},
          {4, "127.1.0.1", 3, false}},
         2},
        {"on a tie a silent connection goes before an older one that began its request",
         2,
         {{1, "127.0.0.2", 0, true}, {2, "127.1.0.1", 1, false}, {3, "127.1.0.2", 2, false}},
         2},
        {"the connection accepted last never goes, though it is the only silent one",
         2,
         {{1, "127.1.0.1", 0, true}, {2, "127.1.0.2", 1, true}, {3, "127.0.0.2", 2, false}},
         1},
        {"nor when its address holds the most: that address loses its other one",
         3,
         {{1, "127.1.0.1", 0, false},
          {2, "127.0.0.2", 1, true},
          {3, "127.1.0.2", 2, false},
          {4, "127.0.0.2", 3, false}},
         2},
        {"accepted in one tick of the clock: the first that came goes",
         2,
         {{7, "127.1.0.3", 5, false}, {3, "127.1.0.1", 5, false}, {5, "127.1.0.2", 5, false}},
         7},
    };
    for (const BoundCase &c : cases)
    {
        SCOPED_TRACE(c.name);
        FIX::HttpConnectionBound bound(c.bound, testClock);
        for (const Arrival &a : c.arrivals)
        {
            g_now = a.at;
            bound.add(a.socket, a.peer);
            if (a.heard)
                bound.heard(a.socket);
        }
        EXPECT_EQ(c.dropped, bound.toDrop());
    }
}

// 10,000 addresses each hold one silent connection and connect again as soon as theirs is
// dropped, a thousand arrivals a tick. A caller from 127.0.0.2 connects among them and is
// heard after 40 more arrivals (its request was read late): it is never dropped, the table
// never holds more than its bound once a drop is made, and every address is counted under
// its own entry: an address that comes to hold two loses one next, and a table emptied
// holds nothing of anyone.
TEST(HttpConnectionBound, TenThousandAddressesReconnectingKeepTheCallerWhoSpoke)
{
    const size_t kBound = 64;
    const int kAddresses = 10000;
    const int kCaller = -1; // the caller's address among addressOf
    g_now = 0;
    FIX::HttpConnectionBound bound(kBound, testClock);
    std::vector<std::string> peers;
    for (int i = 0; i < kAddresses; ++i)
        peers.push_back("127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
    auto peerOf = [&](int address) { return address == kCaller ? std::string("127.0.0.2") : peers[address]; };
    std::vector<int> addressOf; // by socket
    std::deque<int> waiting;    // addresses whose connection was dropped, to connect again
    for (int i = 0; i < kAddresses; ++i)
        waiting.push_back(i);

    const int kCallerAfter = 5000;
    const int kHeardAfter = 40; // fewer arrivals than the bound: it had not yet become the oldest
    int caller = -1;
    for (int s = 0; s < 3 * kAddresses; ++s)
    {
        if (s == kCallerAfter)
        {
            caller = s;
            addressOf.push_back(kCaller);
        }
        else
        {
            addressOf.push_back(waiting.front());
            waiting.pop_front();
        }
        g_now = s / 1000;
        bound.add(s, peerOf(addressOf.back()));
        if (s == kCallerAfter + kHeardAfter)
            bound.heard(caller);
        const int dropped = bound.toDrop();
        if (dropped >= 0)
        {
            ASSERT_NE(s, dropped);
            ASSERT_NE(caller, dropped) << "arrival " << s;
            bound.remove(dropped);
            waiting.push_back(addressOf[static_cast<size_t>(dropped)]);
        }
        ASSERT_EQ(-1, bound.toDrop());
        ASSERT_LE(bound.size(), kBound);
        ASSERT_EQ(1u, bound.heldBy(peerOf(addressOf.back())));
    }
    EXPECT_EQ(kBound, bound.size());
    EXPECT_EQ(1u, bound.heldBy("127.0.0.2"));

    // One address comes to hold two: it loses its older one next, not the caller nor any
    // connection older than it.
    const int last = static_cast<int>(addressOf.size()) - 1;
    const std::string twice = peerOf(addressOf.back());
    bound.add(last + 1, twice);
    EXPECT_EQ(2u, bound.heldBy(twice));
    EXPECT_EQ(last, bound.toDrop());

    for (int s = 0; s <= last + 1; ++s)
        bound.remove(s);
    EXPECT_EQ(0u, bound.size());
    EXPECT_EQ(0u, bound.heldBy("127.0.0.2"));
    EXPECT_EQ(0u, bound.heldBy(twice));
}

} // namespace
