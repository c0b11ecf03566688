// What a thread writes about connections that have not signed on, held per connection
// until the verdict (log_hold.h): the items of an entry, the stories written whole, and the
// counts of what the fold left out.
#include "gateway/shared/log_hold.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/ea_time.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/message.h"
#include "gateway/shared/connection_book.h"

namespace
{
enum : uint8_t
{
    ITEM_TEXT = 0, // then EA_REQUEST_LOG and EA_RESPONSE_LOG: binary records of that file
};

enum
{
    ITEM_HEADER = 3, // kind, then the length
};

void log_hold_free_entry(log_hold_entry *entry)
{
    if (entry == nullptr)
        return;
    if (entry->hold != nullptr)
        entry->hold->held_bytes -= entry->length;
    free(entry->bytes);
    free(entry);
}

// Takes the entry out of its slot's place, if it has one there.
void log_hold_unplace(log_hold_entry *entry)
{
    log_hold *hold = entry->hold;
    if (entry->slot < hold->slot_count && hold->by_slot[entry->slot] == entry)
        hold->by_slot[entry->slot] = nullptr;
}

uint32_t log_hold_items(const log_hold_entry *entry)
{
    uint32_t items = 0;
    for (uint32_t at = 0; at + ITEM_HEADER <= entry->length;
         at += ITEM_HEADER + (entry->bytes[at + 1] | (entry->bytes[at + 2] << 8)))
        ++items;
    return items + entry->left_out;
}

bool log_hold_append(log_hold_entry *entry, uint8_t kind, const void *bytes, size_t length)
{
    log_hold *hold = entry->hold;
    const size_t needed = entry->length + ITEM_HEADER + length;
    if (length > 0xFFFF || needed > LOG_HOLD_ENTRY_BYTES ||
        hold->held_bytes + ITEM_HEADER + length > LOG_HOLD_TOTAL_BYTES)
        return false;
    if (needed > entry->capacity)
    {
        size_t capacity = entry->capacity == 0 ? 1024 : entry->capacity;
        while (capacity < needed)
            capacity *= 2;
        if (capacity > LOG_HOLD_ENTRY_BYTES)
            capacity = LOG_HOLD_ENTRY_BYTES;
        uint8_t *grown = static_cast<uint8_t *>(realloc(entry->bytes, capacity));
        if (grown == nullptr)
            return false;
        entry->bytes = grown;
        entry->capacity = static_cast<uint32_t>(capacity);
    }
    uint8_t *at = entry->bytes + entry->length;
    at[0] = kind;
    at[1] = static_cast<uint8_t>(length & 0xFF);
    at[2] = static_cast<uint8_t>(length >> 8);
    memcpy(at + ITEM_HEADER, bytes, length);
    entry->length += static_cast<uint32_t>(ITEM_HEADER + length);
    hold->held_bytes += static_cast<uint32_t>(ITEM_HEADER + length);
    return true;
}

void log_hold_write_story(log_hold_entry *entry)
{
    log_hold *hold = entry->hold;
    for (uint32_t at = 0; at + ITEM_HEADER <= entry->length;)
    {
        const uint8_t kind = entry->bytes[at];
        const size_t length = entry->bytes[at + 1] | (entry->bytes[at + 2] << 8);
        const uint8_t *item = entry->bytes + at + ITEM_HEADER;
        if (kind == ITEM_TEXT)
            logger_object_write_line(hold->logger, reinterpret_cast<const char *>(item), length);
        else
            logger_object_write_binary(hold->logger, kind, item, length);
        at += static_cast<uint32_t>(ITEM_HEADER + length);
    }
    if (entry->left_out > 0)
        EA_LOG_IN(
            hold->routine, hold->logger, EA_LEVEL_EVENT,
            "Left out [%u] log lines and binary log records about tws nw handle [%d] beyond what is held for a connection that has not signed on.",
            entry->left_out, entry->handle);
}

void log_hold_count_items(log_hold *hold, uint32_t address, uint16_t reason, uint32_t connections,
                          uint32_t items)
{
    if (items == 0)
        return;
    log_hold_count *count = nullptr;
    for (uint32_t i = 0; i < hold->count_keys && count == nullptr; ++i)
    {
        if (hold->counts[i].address == address && hold->counts[i].reason == reason)
            count = &hold->counts[i];
    }
    if (count == nullptr && hold->count_keys < LOG_HOLD_COUNT_KEYS)
    {
        count = &hold->counts[hold->count_keys++];
        *count = log_hold_count{address, reason, 0, 0};
    }
    // With every key taken, one that has counted a single connection gives its key up to the
    // newcomer (its count joins the others'), so that an address that ends many keeps a key.
    for (uint32_t i = 0; i < hold->count_keys && count == nullptr; ++i)
    {
        if (hold->counts[i].connections > 1)
            continue;
        hold->others.connections += hold->counts[i].connections;
        hold->others.items += hold->counts[i].items;
        count = &hold->counts[i];
        *count = log_hold_count{address, reason, 0, 0};
    }
    if (count == nullptr)
        count = &hold->others;
    count->connections += connections;
    count->items += items;
    if (hold->counting == 0)
    {
        hold->counting = 1;
        hold->first_count_tick = ea_get_tick_count();
    }
}

void log_hold_write_count(const log_hold *hold, const log_hold_count &count)
{
    char address[32];
    ea_inet_ntoa(count.address, address, sizeof address);
    if (hold->kind == LOG_HOLD_CONSOLES)
        EA_LOG_IN(
            hold->routine, hold->logger, EA_LEVEL_EVENT,
            "Left out [%u] log lines about [%u] consoles from IP [%s] that left before a request or a second's stay.",
            count.items, count.connections, address);
    else
        EA_LOG_IN(
            hold->routine, hold->logger, EA_LEVEL_EVENT,
            "Left out [%u] log lines and binary log records about [%u] connections from IP [%s] that ended without signing on, reason code [%d].",
            count.items, count.connections, address, count.reason);
}

void log_hold_write_counts(log_hold *hold)
{
    // An address that ended one connection in the second says nothing a line of its own
    // should: spread over many addresses, such lines would outweigh what they count.
    for (uint32_t i = 0; i < hold->count_keys; ++i)
    {
        if (hold->counts[i].connections > 1)
        {
            log_hold_write_count(hold, hold->counts[i]);
            continue;
        }
        hold->others.connections += hold->counts[i].connections;
        hold->others.items += hold->counts[i].items;
    }
    if (hold->others.items > 0 && hold->kind == LOG_HOLD_CONSOLES)
        EA_LOG_IN(
            hold->routine, hold->logger, EA_LEVEL_EVENT,
            "Left out [%u] log lines about [%u] consoles from other IP addresses that left before a request or a second's stay.",
            hold->others.items, hold->others.connections);
    else if (hold->others.items > 0)
        EA_LOG_IN(
            hold->routine, hold->logger, EA_LEVEL_EVENT,
            "Left out [%u] log lines and binary log records about [%u] connections from other IP addresses that ended without signing on.",
            hold->others.items, hold->others.connections);
    hold->count_keys = 0;
    hold->others = log_hold_count{};
    hold->counting = 0;
}

// The entry in a slot whose connection is another than `handle`'s: its connection has left
// the slot, so its own verdict settles it.
void log_hold_settle_stale(log_hold *hold, uint16_t slot)
{
    log_hold_entry *entry = hold->by_slot[slot];
    if (entry == nullptr)
        return;
    if (connection_book_verdict(hold->book, slot, entry->handle) == CONNECTION_SIGNED_ON)
        log_hold_signed_on(entry);
    else
        log_hold_ended(entry, entry->reason);
}
} // namespace

log_hold *log_hold_create(uint16_t slot_count, const connection_book *book, log_hold_kind kind)
{
    log_hold *hold = new (std::nothrow) log_hold{};
    if (hold == nullptr)
        return nullptr;
    hold->kind = kind;
    hold->book = book;
    hold->routine = "";
    hold->slot_count = slot_count;
    const size_t count = slot_count == 0 ? 1 : slot_count;
    hold->by_slot = static_cast<log_hold_entry **>(calloc(count, sizeof(log_hold_entry *)));
    hold->ended = static_cast<log_hold_ended_slot *>(calloc(count, sizeof(log_hold_ended_slot)));
    if (hold->by_slot == nullptr || hold->ended == nullptr)
    {
        log_hold_destroy(hold);
        return nullptr;
    }
    for (size_t i = 0; i < count; ++i)
        hold->ended[i].handle = -1;
    hold->late.hold = hold;
    hold->late.slot = LOG_HOLD_NO_SLOT;
    return hold;
}

void log_hold_destroy(log_hold *hold)
{
    if (hold == nullptr)
        return;
    if (hold->by_slot != nullptr)
    {
        for (uint16_t slot = 0; slot < hold->slot_count; ++slot)
            log_hold_free_entry(hold->by_slot[slot]);
    }
    free(hold->by_slot);
    free(hold->ended);
    delete hold;
}

log_hold_entry *log_hold_of_slot(log_hold *hold, uint16_t slot, int32_t handle, uint32_t address)
{
    if (hold == nullptr || hold->book == nullptr || slot >= hold->slot_count)
        return nullptr;
    if (hold->by_slot[slot] != nullptr && hold->by_slot[slot]->handle != handle)
        log_hold_settle_stale(hold, slot);
    log_hold_entry *entry = hold->by_slot[slot];
    const connection_verdict verdict = connection_book_verdict(hold->book, slot, handle);
    if (verdict == CONNECTION_SIGNED_ON)
    {
        if (entry != nullptr)
            log_hold_signed_on(entry);
        return nullptr;
    }
    if (entry != nullptr)
        return entry;
    const log_hold_ended_slot &ended = hold->ended[slot];
    if (verdict == CONNECTION_ENDED && ended.handle == handle)
    {
        // A line after the verdict: written when the story was, else counted with it.
        if (ended.written != 0)
            return nullptr;
        hold->late.address = ended.address;
        hold->late.reason = ended.reason;
        return &hold->late;
    }
    entry = log_hold_entry_create(hold, address);
    if (entry != nullptr)
        log_hold_attach(entry, slot, handle);
    return entry;
}

log_hold_entry *log_hold_of_record(log_hold *hold, const message *msg)
{
    return log_hold_of_slot(hold, msg->workstation_index, msg->workstation_network_handle, msg->peer_address);
}

log_hold_entry *log_hold_entry_create(log_hold *hold, uint32_t address)
{
    if (hold == nullptr)
        return nullptr;
    log_hold_entry *entry = static_cast<log_hold_entry *>(calloc(1, sizeof(log_hold_entry)));
    if (entry == nullptr)
        return nullptr;
    entry->hold = hold;
    entry->address = address;
    entry->slot = LOG_HOLD_NO_SLOT;
    entry->handle = -1;
    return entry;
}

void log_hold_attach(log_hold_entry *entry, uint16_t slot, int32_t handle)
{
    if (entry == nullptr)
        return;
    log_hold *hold = entry->hold;
    entry->handle = handle;
    if (slot >= hold->slot_count)
        return;
    if (hold->by_slot[slot] != nullptr && hold->by_slot[slot] != entry)
        log_hold_settle_stale(hold, slot);
    entry->slot = slot;
    hold->by_slot[slot] = entry;
}

void log_hold_discard(log_hold_entry *entry)
{
    if (entry == nullptr || entry == &entry->hold->late)
        return;
    log_hold_unplace(entry);
    log_hold_free_entry(entry);
}

void log_hold_set_reason(log_hold_entry *entry, uint16_t reason)
{
    if (entry != nullptr && entry != &entry->hold->late && reason != 0)
        entry->reason = reason;
}

void log_hold_signed_on(log_hold_entry *entry)
{
    if (entry == nullptr || entry == &entry->hold->late)
        return;
    log_hold_write_story(entry);
    log_hold_unplace(entry);
    log_hold_free_entry(entry);
}

void log_hold_ended(log_hold_entry *entry, uint16_t reason)
{
    if (entry == nullptr || entry == &entry->hold->late)
        return;
    log_hold *hold = entry->hold;
    if (reason != 0)
        entry->reason = reason;
    const uint32_t items = log_hold_items(entry);
    bool written = false;
    if (items > 0)
    {
        written = log_fold_admit(&hold->stories, LOG_HOLD_STORIES_AT_ONCE);
        if (written)
            log_hold_write_story(entry);
        else
            log_hold_count_items(hold, entry->address, entry->reason, 1, items);
    }
    if (entry->slot < hold->slot_count)
        hold->ended[entry->slot] = log_hold_ended_slot{entry->handle, entry->address, entry->reason,
                                                       static_cast<uint16_t>(written ? 1 : 0)};
    log_hold_unplace(entry);
    log_hold_free_entry(entry);
}

void log_hold_end_slot(log_hold *hold, uint16_t slot, int32_t handle, uint16_t reason)
{
    if (hold == nullptr || slot >= hold->slot_count)
        return;
    log_hold_entry *entry = hold->by_slot[slot];
    if (entry != nullptr && entry->handle == handle)
        log_hold_ended(entry, reason);
}

void log_hold_pass(log_hold *hold, const char *routine, logger_object *logger)
{
    if (hold == nullptr)
        return;
    hold->routine = routine;
    hold->logger = logger;
    for (uint16_t slot = 0; slot < hold->slot_count; ++slot)
    {
        log_hold_entry *entry = hold->by_slot[slot];
        if (entry == nullptr)
            continue;
        const connection_verdict verdict = connection_book_verdict(hold->book, slot, entry->handle);
        if (verdict == CONNECTION_SIGNED_ON)
            log_hold_signed_on(entry);
        else if (verdict == CONNECTION_ENDED)
            log_hold_ended(entry, entry->reason);
    }
    log_fold_due(&hold->stories);
    if (hold->counting != 0 &&
        ea_get_tick_difference(ea_get_tick_count(), hold->first_count_tick) >= LOG_FOLD_SECOND_MS)
        log_hold_write_counts(hold);
}

void log_hold_stop(log_hold *hold, const char *routine, logger_object *logger)
{
    if (hold == nullptr)
        return;
    log_hold_pass(hold, routine, logger);
    for (uint16_t slot = 0; slot < hold->slot_count; ++slot)
    {
        if (hold->by_slot[slot] != nullptr)
            log_hold_ended(hold->by_slot[slot], hold->by_slot[slot]->reason);
    }
    if (hold->counting != 0)
        log_hold_write_counts(hold);
}

void log_hold_line(log_hold_entry *entry, logger_object *logger, const char *function,
                   const char *source_file, uint32_t source_line, int16_t level, const char *format, ...)
{
    if (logger == nullptr || (level != EA_LEVEL_CONTINUATION && level > logger->level))
        return;
    char text[EA_LOG_LINE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    int text_length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (text_length < 0)
        text[0] = '\0';
    logger_object_set_context(logger, level, function, source_file, source_line);
    if (entry == nullptr)
    {
        logger_object_log_message(logger, "%s", text);
        return;
    }
    char line[EA_LOG_LINE_SIZE];
    const size_t length = logger_object_format_message(logger, line, sizeof line, "%s", text);
    if (length == 0)
        return;
    log_hold *hold = entry->hold;
    hold->logger = logger;
    if (entry == &hold->late)
        log_hold_count_items(hold, entry->address, entry->reason, 0, 1);
    else if (!log_hold_append(entry, ITEM_TEXT, line, length))
        entry->left_out++;
}

void log_hold_binary(log_hold_entry *entry, logger_object *logger, message *msg, uint16_t record_kind,
                     int file, uint32_t tick, uint32_t value32, uint16_t value16)
{
    if (entry == nullptr)
    {
        logger_object_binary_log(logger, msg, record_kind, file, tick, value32, value16);
        return;
    }
    if (logger == nullptr || logger->binary_logging != 1)
        return;
    log_hold *hold = entry->hold;
    hold->logger = logger;
    if (entry == &hold->late)
    {
        log_hold_count_items(hold, entry->address, entry->reason, 0, 1);
        return;
    }
    uint8_t record[EA_BINARY_LOG_HEADER_SIZE + MESSAGE_CAPACITY];
    const size_t length = logger_object_format_binary(logger, msg, record_kind, file, tick, value32, value16,
                                                      record, sizeof record);
    if (length == 0)
        return;
    if (!log_hold_append(entry, static_cast<uint8_t>(file), record, length))
        entry->left_out++;
}
