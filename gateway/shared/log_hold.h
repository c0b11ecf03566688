// log_hold: what a thread writes about a workstation connection that has not signed on is
// held with the connection instead of written. When the connection signs on, the thread
// writes it whole, in order, each line and binary record with the time it was made; when
// the connection ends without signing on, its lines go through a fold: the stories of the
// first connections of a spell are written whole, the others only counted, and once a
// second one line per peer address and reason that ended several says how many lines of how
// many connections were left out (one more line counts the others together). So a crowd of traders signing on
// together (a start of day, every workstation after a restart) keeps every line and record, while a flood of
// peers that never sign on writes a few lines a second however fast it comes.
//
// A thread learns a connection's verdict from the connection book (connection_book.h) on
// each pass, or sooner when it decides it itself. A connection keeps at most
// LOG_HOLD_ENTRY_BYTES and a thread LOG_HOLD_TOTAL_BYTES; what does not fit is counted and
// the count written with the story. One log_hold belongs to one thread and is not locked.
#pragma once

#include <cstdint>

#include "gateway/runtime/logger.h"
#include "gateway/shared/log_fold.h"

struct connection_book;
struct log_hold;
struct message;

enum
{
    LOG_HOLD_ENTRY_BYTES = 16384,
    LOG_HOLD_TOTAL_BYTES = 4 * 1024 * 1024,
    // Connections that ended without signing on whose stories a spell writes whole.
    LOG_HOLD_STORIES_AT_ONCE = 2,
    // Peer address and reason pairs that get a count line of their own each second (when they
    // ended more than one connection in it); the rest are counted together.
    LOG_HOLD_COUNT_KEYS = 8,
    LOG_HOLD_NO_SLOT = 0xFFFF,
};

// The held lines and records of one connection.
struct log_hold_entry
{
    log_hold *hold;
    uint32_t address; // the peer's IPv4 address as ea_inet_addr gives it; 0 when unknown
    uint16_t reason;  // the reason code the connection ended with, 0 until known
    uint16_t slot;    // LOG_HOLD_NO_SLOT until the connection has a slot
    int32_t handle;
    uint8_t *bytes; // items one after another: kind (u8), length (u16), the line or record
    uint32_t length;
    uint32_t capacity;
    uint32_t left_out; // lines and records that did not fit
};

// What a thread knows of the connections that ended in a slot, so that a line written about
// one after its verdict goes the way its story went.
struct log_hold_ended_slot
{
    int32_t handle; // -1: none
    uint32_t address;
    uint16_t reason;
    uint16_t written; // 1 when its story was written whole
};

struct log_hold_count
{
    uint32_t address;
    uint16_t reason;
    uint32_t connections;
    uint32_t items;
};

// Whose lines a hold keeps: workstation connections wait for their sign-on, consoles for a
// request or a second's stay; each has its own count lines.
enum log_hold_kind : uint16_t
{
    LOG_HOLD_WORKSTATIONS = 0,
    LOG_HOLD_CONSOLES = 1,
};

struct log_hold
{
    logger_object *logger; // the owning thread's, as its last call gave it
    log_hold_kind kind;
    const connection_book *book;
    const char *routine; // the owning thread's routine, for the hold's own lines
    uint16_t slot_count;
    log_hold_entry **by_slot;
    log_hold_ended_slot *ended;
    uint32_t held_bytes;
    log_fold stories;
    log_hold_count counts[LOG_HOLD_COUNT_KEYS];
    uint32_t count_keys;
    log_hold_count others; // address and reason unused
    uint32_t first_count_tick;
    uint16_t counting; // 1 while counts wait for their line
    // Stands for a connection whose story the fold already counted: a line about it after
    // its verdict is counted with it (log_hold_of_slot sets its address and reason).
    log_hold_entry late;
};

log_hold *log_hold_create(uint16_t slot_count, const connection_book *book,
                          log_hold_kind kind = LOG_HOLD_WORKSTATIONS);
// Frees every entry in the slots without writing it (free-standing entries are their owners').
void log_hold_destroy(log_hold *hold);

// The entry that lines about the connection (slot, handle) go to, or null when they are to
// be written at once: it signed on (what was held is written first), or the slot is out
// of the book's range. A connection that already ended gets its lines the way its story
// went: written or counted, through no new entry.
log_hold_entry *log_hold_of_slot(log_hold *hold, uint16_t slot, int32_t handle, uint32_t address);
// The same for a record: its workstation index, handle and peer address.
log_hold_entry *log_hold_of_record(log_hold *hold, const message *msg);

// An entry of a connection that has no slot yet (an accepted socket); null when there is no
// memory for it (its lines are then written at once). log_hold_attach moves it into its
// slot; log_hold_ended ends it.
log_hold_entry *log_hold_entry_create(log_hold *hold, uint32_t address);
void log_hold_attach(log_hold_entry *entry, uint16_t slot, int32_t handle);
// Frees an entry without writing anything of it (the gateway is going away).
void log_hold_discard(log_hold_entry *entry);

void log_hold_set_reason(log_hold_entry *entry, uint16_t reason);
// The verdicts a thread reaches itself; the entry is freed (and its slot's place emptied).
void log_hold_signed_on(log_hold_entry *entry);
void log_hold_ended(log_hold_entry *entry, uint16_t reason);
// The entry of the connection in a slot, ended with the reason, when there is one.
void log_hold_end_slot(log_hold *hold, uint16_t slot, int32_t handle, uint16_t reason);

// Every pass of the owning thread: the verdicts in the book, the spells and the counts due.
void log_hold_pass(log_hold *hold, const char *routine, logger_object *logger);
// At the thread's stop: every connection still held counts as ended, and every count is
// written now.
void log_hold_stop(log_hold *hold, const char *routine, logger_object *logger);

// A line or binary record about a connection: held in the entry, or written at once when
// the entry is null.
void log_hold_line(log_hold_entry *entry, logger_object *logger, const char *function,
                   const char *source_file, uint32_t source_line, int16_t level, const char *format, ...)
    __attribute__((format(printf, 7, 8)));
void log_hold_binary(log_hold_entry *entry, logger_object *logger, message *msg, uint16_t record_kind,
                     int file, uint32_t tick, uint32_t value32, uint16_t value16);

// EA_LOG about a connection, through its entry (none: written at once). The entry is asked
// for only when the logger writes lines of the level; a line it drops still sets the level
// that a continuation line follows.
#define EA_LOG_HELD(entry, logger, level, ...) EA_LOG_HELD_IN(__func__, entry, logger, level, __VA_ARGS__)
// The same under the name of the function whose line it is (EA_LOG_IN).
#define EA_LOG_HELD_IN(function, entry, logger, level, ...)                                                  \
    do                                                                                                       \
    {                                                                                                        \
        if ((level) != EA_LEVEL_CONTINUATION && !log_fold_level_on((logger), (level)))                       \
        {                                                                                                    \
            EA_LOG_IN(function, logger, level, __VA_ARGS__);                                                 \
            break;                                                                                           \
        }                                                                                                    \
        log_hold_entry *entry_of_line = (entry);                                                             \
        if (entry_of_line == nullptr)                                                                        \
            EA_LOG_IN(function, logger, level, __VA_ARGS__);                                                 \
        else                                                                                                 \
            log_hold_line(entry_of_line, logger, function, __FILE__, __LINE__, level, __VA_ARGS__);          \
    } while (0)
