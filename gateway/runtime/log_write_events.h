// Console events for the gateway's logs: when writes to a log file (a thread's text or
// binary log, the FIX engine's message or event log) begin to fail or the file is found
// without its name (error number 2), and when they succeed again or the file is written
// under its name again. Raised once per spell and file, on shared queue 19 like any console event, from
// the thread whose write it was; nothing here logs, so that a failing log cannot feed on
// itself.
#pragma once

#include <cstdint>

struct shared_queue;

enum : uint16_t
{
    LOG_WRITES_FAILING_REASON = 13004, // extra info: the error number
    LOG_WRITES_RESUMED_REASON = 13005, // extra info: the lines lost (at most 2^32 - 1)
};

// The event as a record (tag KOVA_MESSAGE, user id -1, no data); null when none could be
// made.
struct message *log_write_event_create(bool failing, uint64_t value);
// Puts the event on the queue; false when it could not.
bool log_write_event_raise(shared_queue *events, bool failing, uint64_t value);

// In the shape of the loggers' write notice: `events` is shared queue 19.
void log_write_event_tell(void *events, bool failing, uint64_t value);
