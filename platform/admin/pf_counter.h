// Performance counters over /proc, standing in for Windows' performance
// data helper: a query holds counters named by path, each collection reads them all, and
// a counter's value is formatted from its last one or two collections.
//
// Paths are "\Object(instance)\Counter" (the instance only where the object has them),
// objects and counters compared ignoring case:
//   \Processor(_Total)\% Processor Time       busy share of all processors (a rate)
//   \Memory\Available Bytes                   MemAvailable
//   \Process(<name>)\% Processor Time         of the process (a rate; over 100 on several cores)
//   \Process(<name>)\Working Set              resident bytes
//   \Process(<name>)\Thread Count
//   \Process(<name>)\Handle Count             open descriptors
//   \Network Interface(<name>)\Bytes Total/sec  received and sent (a rate)
//   \TCPv4\Connections Established
// A process is named by its executable's base name, ignoring case and ".exe"; the lowest
// process id of that name is read. A rate needs two collections, so its first sample,
// and a process that is not running or an interface that does not exist, give
// PDH_INVALID_DATA; an unknown object or counter makes the add fail.
//
// The statuses are the helper's own numbers, which the plug-in logs as it always did.
#pragma once

#include <cstdint>

enum : uint32_t
{
    PF_PDH_SUCCESS = 0,
    PF_PDH_NO_DATA = 0x800007D5,
    PF_PDH_CSTATUS_NO_OBJECT = 0xC0000BB8,
    PF_PDH_CSTATUS_NO_COUNTER = 0xC0000BB9,
    PF_PDH_MEMORY_ALLOCATION_FAILURE = 0xC0000BBB,
    PF_PDH_INVALID_HANDLE = 0xC0000BBC,
    PF_PDH_INVALID_ARGUMENT = 0xC0000BBD,
    PF_PDH_CSTATUS_BAD_COUNTERNAME = 0xC0000BC0,
    PF_PDH_INVALID_DATA = 0xC0000BC6,
};

struct pf_counter_query;
struct pf_counter;

uint32_t pf_counter_open_query(pf_counter_query **query_out);
// Adds a counter by full path (with its leading "\").
uint32_t pf_counter_add(pf_counter_query *query, const char *path, pf_counter **counter_out);
// Reads every counter of the query once; PDH_NO_DATA when it holds none.
uint32_t pf_counter_collect(pf_counter_query *query);
// The counter's value from its collections, or PDH_INVALID_DATA when they give none.
uint32_t pf_counter_get_double(const pf_counter *counter, double *value_out);
// Takes the counter out of its query and frees it.
uint32_t pf_counter_remove(pf_counter *counter);
// Frees the query and every counter still in it.
uint32_t pf_counter_close_query(pf_counter_query *query);
