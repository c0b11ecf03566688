// How long each record sits in each shared queue, for the benchmarks' per-stage breakdown
// (a QEL_STAGE_TIMES build, platform/core/pf_stage_times.h). Queues are numbered in the order
// they were created, which in the gateway is their index in ea_global; each keeps the
// insertion time of every record it holds, and its consumer adds a record's time in the
// queue to the histogram "queue <number> consumer <thread id> dwell" when it drains it.
// All calls but creation and destruction are made under the queue's lock. Without the
// option every call is empty.
#pragma once

#include <cstdint>

struct shared_queue;

#ifdef QEL_STAGE_TIMES
void shared_queue_stages_created(shared_queue *sq);
void shared_queue_stages_destroyed(shared_queue *sq);
// `count` records were appended at the tail.
void shared_queue_stages_inserted(shared_queue *sq, uint32_t count);
// `count` records were taken back off the tail by the producer that put them there.
void shared_queue_stages_taken_back(shared_queue *sq, uint32_t count);
// `count` records left from the head to the consumer.
void shared_queue_stages_drained(shared_queue *sq, uint32_t count);
#else
inline void shared_queue_stages_created(shared_queue *) {}
inline void shared_queue_stages_destroyed(shared_queue *) {}
inline void shared_queue_stages_inserted(shared_queue *, uint32_t) {}
inline void shared_queue_stages_taken_back(shared_queue *, uint32_t) {}
inline void shared_queue_stages_drained(shared_queue *, uint32_t) {}
#endif
