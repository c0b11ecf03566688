// The shared queues' stage times: a side table from queue to its insertion times, so that
// the queue's own record stays as it is. The table is a fixed array scanned linearly; a
// gateway has 23 queues.
#include "gateway/runtime/shared_queue_stages.h"

#ifdef QEL_STAGE_TIMES

#include <time.h>

#include <atomic>
#include <deque>
#include <string>

#include "platform/core/pf_stage_times.h"
#include "platform/core/pf_thread.h"

namespace
{
struct queue_stage
{
    uint32_t number = 0;
    std::deque<int64_t> inserted_ns; // under the queue's lock
    pf_stage_histogram *dwell = nullptr;
};

const int k_table_size = 256;
std::atomic<shared_queue *> g_keys[k_table_size];
queue_stage g_stages[k_table_size];
std::atomic<int> g_created{0};

int64_t now_ns()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

queue_stage *find(shared_queue *sq)
{
    int created = g_created.load(std::memory_order_acquire);
    for (int i = 0; i < created && i < k_table_size; ++i)
    {
        if (g_keys[i].load(std::memory_order_acquire) == sq)
        {
            return &g_stages[i];
        }
    }
    return nullptr;
}
} // namespace

void shared_queue_stages_created(shared_queue *sq)
{
    int slot = g_created.load(std::memory_order_relaxed);
    if (slot >= k_table_size)
    {
        return;
    }
    g_stages[slot].number = static_cast<uint32_t>(slot);
    g_stages[slot].inserted_ns.clear();
    g_stages[slot].dwell = nullptr;
    g_keys[slot].store(sq, std::memory_order_release);
    g_created.store(slot + 1, std::memory_order_release);
}

void shared_queue_stages_destroyed(shared_queue *sq)
{
    queue_stage *stage = find(sq);
    if (stage != nullptr)
    {
        g_keys[stage - g_stages].store(nullptr, std::memory_order_release);
    }
}

void shared_queue_stages_inserted(shared_queue *sq, uint32_t count)
{
    queue_stage *stage = find(sq);
    if (stage == nullptr)
    {
        return;
    }
    int64_t now = now_ns();
    stage->inserted_ns.insert(stage->inserted_ns.end(), count, now);
}

void shared_queue_stages_taken_back(shared_queue *sq, uint32_t count)
{
    queue_stage *stage = find(sq);
    for (uint32_t i = 0; stage != nullptr && i < count && !stage->inserted_ns.empty(); ++i)
    {
        stage->inserted_ns.pop_back();
    }
}

void shared_queue_stages_drained(shared_queue *sq, uint32_t count)
{
    queue_stage *stage = find(sq);
    if (stage == nullptr || count == 0)
    {
        return;
    }
    if (stage->dwell == nullptr)
    {
        std::string name = "queue " + std::to_string(stage->number) + " consumer " +
                           std::to_string(pf_thread_current_id()) + " dwell";
        stage->dwell = pf_stage_histogram_create(name.c_str());
    }
    int64_t now = now_ns();
    for (uint32_t i = 0; i < count && !stage->inserted_ns.empty(); ++i)
    {
        pf_stage_histogram_add(stage->dwell, now - stage->inserted_ns.front());
        stage->inserted_ns.pop_front();
    }
}

#endif
