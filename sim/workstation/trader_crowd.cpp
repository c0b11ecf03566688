// The crowd's traders (trader_crowd.h), each on its own thread, held at a start line until
// every thread is ready, so that their sign-ons (and, when asked, their connects) come
// together.
#include "sim/workstation/trader_crowd.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace qel_sim
{

trader_crowd::trader_crowd(uint16_t port, uint32_t first_user, uint32_t count,
                           const std::vector<std::string> &addresses)
    : m_port(port)
{
    for (uint32_t i = 0; i < count; ++i)
    {
        crowd_member member;
        member.user = first_user + i;
        member.address = addresses.empty() ? "" : addresses[i % addresses.size()];
        m_members.push_back(member);
        m_clients.emplace_back(new workstation_client);
        m_traders.emplace_back(new trader(*m_clients.back(), member.user));
    }
}

trader_crowd::~trader_crowd() = default;

namespace
{
typedef std::chrono::steady_clock crowd_clock;

// Connects a trader, trying again until the deadline.
void crowd_connect(crowd_member &member, workstation_client &client, uint16_t port,
                   crowd_clock::time_point deadline)
{
    while (!(member.connected = client.connect("127.0.0.1", port, member.address)) &&
           crowd_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Runs `step(i)` for every trader on a thread of its own, all released at once; *released
// is the time of the release, set before any step runs.
template <typename Step> void all_at_once(size_t count, crowd_clock::time_point *released, Step step)
{
    std::atomic<size_t> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i)
        threads.emplace_back(
            [&, i]
            {
                ++ready;
                while (!go)
                    std::this_thread::yield();
                step(i);
            });
    while (ready < count)
        std::this_thread::yield();
    *released = crowd_clock::now();
    go = true;
    for (std::thread &t : threads)
        t.join();
}
} // namespace

void trader_crowd::connect(crowd_connects how, uint32_t connect_ms, uint32_t answer_ms)
{
    const crowd_clock::time_point deadline = crowd_clock::now() + std::chrono::milliseconds(connect_ms);
    if (how == crowd_connects::at_once)
    {
        crowd_clock::time_point released;
        all_at_once(m_members.size(), &released,
                    [&](size_t i) { crowd_connect(m_members[i], *m_clients[i], m_port, deadline); });
        return;
    }
    for (size_t i = 0; i < m_members.size(); ++i)
    {
        crowd_connect(m_members[i], *m_clients[i], m_port, deadline);
        if (how == crowd_connects::paced)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        else
            m_members[i].invited = m_members[i].connected && m_clients[i]->wait_for_invitation(answer_ms);
    }
}

void trader_crowd::sign_on_together(uint32_t answer_ms)
{
    crowd_clock::time_point released;
    all_at_once(m_members.size(), &released,
                [&](size_t i)
                {
                    crowd_member &member = m_members[i];
                    trader &person = *m_traders[i];
                    if (member.connected && !member.invited)
                        member.invited = m_clients[i]->wait_for_invitation(answer_ms);
                    if (!member.invited)
                        return;
                    trader_reply reply = person.sign_on(answer_ms);
                    member.sign_on_ms =
                        std::chrono::duration<double, std::milli>(crowd_clock::now() - released).count();
                    member.sign_on_error = reply.error_code;
                    member.signed_on = reply.arrived && reply.error_code == 0;
                    if (!member.signed_on)
                        return;
                    member.informed = person.system_information(answer_ms).arrived;
                    trader_order order;
                    trader_reply entered = person.enter(order, answer_ms);
                    member.traded = entered.arrived && entered.transcode == 2073 && entered.error_code == 0;
                });
}

uint32_t trader_crowd::signed_on() const
{
    uint32_t count = 0;
    for (const crowd_member &member : m_members)
        count += member.signed_on ? 1 : 0;
    return count;
}

uint32_t trader_crowd::traded() const
{
    uint32_t count = 0;
    for (const crowd_member &member : m_members)
        count += member.traded ? 1 : 0;
    return count;
}

uint32_t trader_crowd::sign_off(uint32_t timeout_ms)
{
    uint32_t let_go = 0;
    for (size_t i = 0; i < m_members.size(); ++i)
        if (m_members[i].signed_on)
            let_go += m_traders[i]->sign_off(timeout_ms).arrived ? 1 : 0;
    return let_go;
}

std::vector<std::string> trader_crowd::check_failures() const
{
    std::vector<std::string> failures;
    for (size_t i = 0; i < m_members.size(); ++i)
        for (const std::string &failure : m_clients[i]->check_failures())
            failures.push_back(std::to_string(m_members[i].user) + ": " + failure);
    return failures;
}

} // namespace qel_sim
