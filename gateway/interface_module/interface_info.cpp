// The console interface: the day's event log file, the replay for a new realtime console,
// live console events, and the answers to the interactive console's requests.
//
// The event log file is a u16 day of the month followed by whole 42-byte event packets.
// It is written unbuffered, one event per write, and kept a whole number of records: a
// partial tail found at start-up or left by a short write is cut off, so that one failed
// write never shifts every later event of the day off its record boundary. Every few
// seconds, at an event, the thread looks whether the file still stands under its name: a
// file whose folder was removed under the gateway is made again (its folder too), the
// loss said on standard error, in the thread's log and to the console (13004, then 13005
// with the events that went with the old file).
//
// Events the file cannot take (its folder full) are held (interface_event_hold.h): a
// console that connects gets them after the file's own, and they go into the file, in
// order, before the next event once it takes writes again. A file whose day field could
// not be written (a gateway started with its folder full) is kept empty, and the day field
// goes in before its first event.
#include "gateway/interface_module/interface_info.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "common/config_file.h"
#include "common/ea_time.h"
#include "gateway/interface_module/interface_event_hold.h"
#include "gateway/interface_module/interface_info_sources.h"
#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/interface_module/interface_nw_info.h"
#include "gateway/interface_module/kova_console_packet.h"
#include "gateway/runtime/log_write_events.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/shared/log_hold.h"
#include "gateway/shared/qel_version.h"
#include "platform/core/pf_file.h"
#include "platform/core/pf_log_file.h"
#include "platform/core/pf_tick.h"

namespace
{
uint16_t today_day_of_month()
{
    int64_t seconds = 0;
    uint16_t milliseconds = 0;
    ea_ftime(&seconds, &milliseconds);
    time_t now = static_cast<time_t>(seconds);
    struct tm local;
    if (ea_localtime(&now, &local) == nullptr)
        return 0;
    return static_cast<uint16_t>(local.tm_mday);
}

uint32_t now_seconds()
{
    int64_t seconds = 0;
    uint16_t milliseconds = 0;
    ea_ftime(&seconds, &milliseconds);
    return static_cast<uint32_t>(seconds);
}

// A KOVA_MESSAGE record holding a zeroed console packet of `length` bytes with its length,
// transcode and time filled, addressed to `network_handle`.
message *create_packet(uint16_t length, uint16_t transcode, uint32_t time, int32_t network_handle)
{
    message *record = message_create(length, KOVA_MESSAGE);
    if (record == nullptr)
        return nullptr;
    memset(record->data, 0, length);
    put_u16_le(record->data, KOVA_OFFSET_LENGTH, length);
    put_u16_le(record->data, KOVA_OFFSET_TRANSCODE, transcode);
    put_u32_le(record->data, KOVA_OFFSET_TIME, time);
    record->workstation_network_handle = network_handle;
    return record;
}

// The transcode of a request; a request too short to hold it reads zeros in its place.
uint16_t request_transcode(const message *request)
{
    uint8_t bytes[2] = {0, 0};
    if (request->data_length > KOVA_OFFSET_TRANSCODE)
        bytes[0] = request->data[KOVA_OFFSET_TRANSCODE];
    if (request->data_length > KOVA_OFFSET_TRANSCODE + 1)
        bytes[1] = request->data[KOVA_OFFSET_TRANSCODE + 1];
    return get_u16_le(bytes, 0);
}

bool resize_event_log(interface_info *info, uint64_t size)
{
    if (fflush(info->event_log) != 0)
        clearerr(info->event_log);
    std::error_code error;
    std::filesystem::resize_file(info->event_log_file, size, error);
    clearerr(info->event_log);
    if (fseek(info->event_log, 0, SEEK_END) != 0)
        return false;
    return !error;
}

// Opens the existing file of today, positioned at its end, with any partial last record
// cut off. False when there is no usable file of today (the caller starts a new one);
// *fatal when the file is today's but cannot be positioned.
bool open_existing_event_log(interface_info *info, bool *fatal, logger_object *logger)
{
    *fatal = false;
    FILE *file = fopen(info->event_log_file, "r+b");
    if (file == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Error opening kova log file [%s] for reading. Craeting new log file",
               info->event_log_file);
        return false;
    }
    setvbuf(file, nullptr, _IONBF, 0);
    uint8_t day_field[KOVA_EVENT_LOG_DAY_SIZE];
    if (fread(day_field, 1, sizeof(day_field), file) != sizeof(day_field))
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Error reading date from [%s] file. Creating new log file.",
               info->event_log_file);
        fclose(file);
        return false;
    }
    uint16_t stored_day = get_u16_le(day_field, 0);
    uint16_t today = today_day_of_month();
    if (stored_day != today)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Date [%d] in log file [%s] is not matching with today's date[%d]. Creating new log file.",
               stored_day, info->event_log_file, today);
        fclose(file);
        return false;
    }
    long end = -1;
    if (fseek(file, 0, SEEK_END) != 0 || (end = ftell(file)) < 0)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error while seeking to the end of the file.");
        fclose(file);
        *fatal = true;
        return false;
    }
    info->event_log = file;
    pf_log_name_watch_opened(&info->event_log_name, pf_tick_count());
    uint64_t size = static_cast<uint64_t>(end);
    uint64_t whole = KOVA_EVENT_LOG_DAY_SIZE +
                     (size - KOVA_EVENT_LOG_DAY_SIZE) / KOVA_LOG_MESSAGE_LENGTH * KOVA_LOG_MESSAGE_LENGTH;
    info->event_log_size = whole;
    if (whole != size)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "Kova log file [%s] ends in a partial record of [%lu] bytes. Truncating it to [%lu] bytes.",
               info->event_log_file, static_cast<unsigned long>(size - whole),
               static_cast<unsigned long>(whole));
        if (!resize_event_log(info, whole))
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error while seeking to the end of the file.");
            fclose(file);
            info->event_log = nullptr;
            *fatal = true;
            return false;
        }
    }
    return true;
}

// Writes one record into the file, the day field first into a file that has none yet; a
// failed or short write is undone. 0, or the error number of the write that failed.
int write_event_record(interface_info *info, const uint8_t *packet)
{
    if (info->event_log == nullptr)
        return ENOENT;
    if (info->event_log_size == 0)
    {
        uint8_t day_field[KOVA_EVENT_LOG_DAY_SIZE];
        put_u16_le(day_field, 0, today_day_of_month());
        if (fwrite(day_field, 1, sizeof(day_field), info->event_log) != sizeof(day_field) ||
            fflush(info->event_log) != 0)
        {
            const int error = errno != 0 ? errno : EIO;
            resize_event_log(info, 0);
            return error;
        }
        info->event_log_size = KOVA_EVENT_LOG_DAY_SIZE;
    }
    if (fwrite(packet, 1, KOVA_LOG_MESSAGE_LENGTH, info->event_log) == KOVA_LOG_MESSAGE_LENGTH &&
        fflush(info->event_log) == 0)
    {
        info->event_log_size += KOVA_LOG_MESSAGE_LENGTH;
        pf_log_name_watch_wrote(&info->event_log_name);
        return 0;
    }
    const int error = errno != 0 ? errno : EIO;
    resize_event_log(info, info->event_log_size);
    return error;
}

// Notes the result of one write in the file's spell of failing writes, as every log of the
// gateway does (pf_log_write_note): its beginning and its end are said on standard error
// and to the consoles (13004, 13005, after the event in hand). The lines it lost are the
// events the hold let go meanwhile.
ea_status note_event_write(interface_info *info, int error, queue *notifications, logger_object *logger)
{
    pf_log_write_watch *watch = &info->event_log_writes;
    if (error == 0 && !watch->failing)
        return EA_SUCCESS;
    if (error != 0 && !watch->failing)
        info->let_go_before_spell = info->held_events->let_go;
    if (error == 0)
        watch->lost = info->held_events->let_go - info->let_go_before_spell;
    const pf_log_write_turn turn = pf_log_write_note(watch, info->event_log_file, error == 0, error);
    if (turn == PF_LOG_WRITES_AS_BEFORE)
        return EA_SUCCESS;
    message *event =
        log_write_event_create(turn == PF_LOG_WRITES_FAILING,
                               turn == PF_LOG_WRITES_FAILING ? static_cast<uint64_t>(error) : watch->lost);
    if (event == nullptr || queue_append(notifications, event) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed");
        if (event != nullptr)
            message_destroy(event);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// Creates the day's new, empty file: the day's events name the users who signed on and
// off, so it is its owner's alone, and its folder is made when it is missing, as every
// log's is (the line that says so goes into the thread's log). Null with errno set.
FILE *create_event_log(interface_info *info, logger_object *logger)
{
    FILE *file = pf_file_create_stream(info->event_log_file);
    char made[INTERFACE_EVENT_LOG_FILE_SIZE * 2 + 256];
    if (file == nullptr && errno == ENOENT && pf_log_folder_make_for(info->event_log_file, made, sizeof made))
    {
        if (made[0] != '\0')
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", made);
        file = pf_file_create_stream(info->event_log_file);
    }
    if (file == nullptr)
        return nullptr;
    setvbuf(file, nullptr, _IONBF, 0);
    info->event_log = file;
    info->event_log_size = 0;
    pf_log_name_watch_opened(&info->event_log_name, pf_tick_count());
    return file;
}

// Appends one event packet after the events held before it; one the file cannot take is
// held. The first held event of a spell is logged, and so is the hold's end. A file that
// could not be made again (its folder could not be made) is tried again at each event.
ea_status append_event(interface_info *info, const uint8_t *packet, queue *notifications,
                       logger_object *logger)
{
    interface_event_hold *hold = info->held_events;
    const size_t held = interface_event_hold_count(hold);
    int error = 0;
    if (info->event_log == nullptr && create_event_log(info, logger) == nullptr)
        error = errno;
    while (const uint8_t *oldest = error == 0 ? interface_event_hold_oldest(hold) : nullptr)
    {
        if ((error = write_event_record(info, oldest)) != 0)
            break;
        interface_event_hold_pop(hold);
    }
    if (error == 0)
        error = write_event_record(info, packet);
    if (error == 0)
    {
        if (held > 0)
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Kova log file [%s] takes events again: [%lu] held events written to it, [%llu] let go while it could not",
                info->event_log_file, static_cast<unsigned long>(held),
                static_cast<unsigned long long>(hold->let_go - info->let_go_before_spell));
        return note_event_write(info, 0, notifications, logger);
    }
    const ea_status noted = note_event_write(info, error, notifications, logger);
    interface_event_hold_add(hold, packet);
    if (held == 0)
        EA_LOG(
            logger, EA_LEVEL_SYSTEM_ERROR,
            "Error while writing message to kova log file [%s]: events are held for the consoles until it takes them again",
            info->event_log_file);
    return noted;
}

// Every few seconds: whether the event log still stands under its name. A file found without
// it is made again (with its folder, as every log file of the system), and the two events that say so go to
// the end of `notifications`, to be stored and sent as any event. EA_ERROR only when they cannot be made.
ea_status watch_event_log_name(interface_info *info, queue *notifications, logger_object *logger)
{
    if (info->event_log == nullptr || !pf_log_name_watch_lost(&info->event_log_name, fileno(info->event_log),
                                                              info->event_log_file, pf_tick_count()))
        return EA_SUCCESS;
    const uint64_t gone = info->event_log_name.lines_since_seen;
    bool again = interface_info_create_kova_event_log_file(info, logger) == EA_SUCCESS;
    char text[INTERFACE_EVENT_LOG_FILE_SIZE + 256];
    pf_log_name_lost_say(text, sizeof(text), info->event_log_file, gone, again);
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
    const bool failing[2] = {true, false};
    const uint64_t values[2] = {ENOENT, gone};
    for (int i = 0; i < (again ? 2 : 1); ++i)
    {
        message *event = log_write_event_create(failing[i], values[i]);
        if (event == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
            return EA_ERROR;
        }
        if (queue_append(notifications, event) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed");
            message_destroy(event);
            return EA_ERROR;
        }
    }
    return EA_SUCCESS;
}

// The events a replay leaves out, oldest first of each kind.
struct replay_plan
{
    long without_user = 0; // of the events about connections without a user
    long others = 0;       // of the rest
};

// A console queues at most INTERFACE_OUTGOING_LIMIT records, so a replay sends no more than
// that many events of the day, after one event that counts those left out. The events
// about connections on which no user signed on are left out first, so that a flood of them
// cannot push the gateway's own events (a lost host link) out of a late console's view.
// The events held for want of room in the file come after the file's and are kept before
// them; those the hold let go count as left out. `file` is the event log positioned after
// its day field (null: none to read), and is left there.
ea_status plan_replay(interface_info *info, FILE *file, queue *realtime_output, replay_plan *plan,
                      log_hold_entry *held, logger_object *logger)
{
    long start = file != nullptr ? ftell(file) : -1;
    long without_user = 0, others = 0;
    uint8_t event[KOVA_LOG_MESSAGE_LENGTH];
    while (start >= 0 && fread(event, 1, sizeof(event), file) == sizeof(event))
        ++(interface_event_about_connection_without_user(event) ? without_user : others);
    if (start >= 0)
        clearerr(file);
    const long room =
        INTERFACE_OUTGOING_LIMIT - static_cast<long>(interface_event_hold_count(info->held_events));
    long skipped = without_user + others > room ? without_user + others - room : 0;
    plan->without_user = skipped < without_user ? skipped : without_user;
    plan->others = skipped - plan->without_user;
    skipped += static_cast<long>(info->held_events->let_go);
    if ((start >= 0 && fseek(file, start, SEEK_SET) != 0) || skipped == 0)
        return EA_SUCCESS;
    message *notice =
        create_packet(KOVA_LOG_MESSAGE_LENGTH, KOVA_LOG_MESSAGE, now_seconds(), INTERFACE_ALL_CLIENTS);
    if (notice == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
        return EA_ERROR;
    }
    put_u16_le(notice->data, KOVA_LOG_OFFSET_BOX_ID,
               interface_info_read_box_id(info->box_comm_info_container));
    put_u16_le(notice->data, KOVA_LOG_OFFSET_REASON_CODE, KOVA_REASON_EVENTS_DROPPED);
    put_u32_le(notice->data, KOVA_LOG_OFFSET_EXTRA_INFO, static_cast<uint32_t>(skipped));
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "KOVA event log download leaves out [%ld] messages, [%ld] of them about connections without a user",
        skipped, plan->without_user);
    if (queue_append(realtime_output, notice) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed");
        message_destroy(notice);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// Whether the plan leaves this stored event out (counting it off the plan).
bool left_out_of_replay(const uint8_t *event, replay_plan *plan)
{
    long &left = interface_event_about_connection_without_user(event) ? plan->without_user : plan->others;
    if (left == 0)
        return false;
    --left;
    return true;
}

// The day's events for a console that has just connected to the realtime port, the file's
// and then those held for want of room in it; its lines join the console's own (held until
// it has stayed, interface_nw_info.h). A console that has already left gets none.
ea_status replay_event_log(interface_info *info, queue *realtime_output, int32_t console,
                           logger_object *logger)
{
    log_hold_entry *held = nullptr;
    if (info->realtime_listener != nullptr &&
        !interface_nw_info_console_of(info->realtime_listener, console, &held))
        return EA_SUCCESS;
    EA_LOG_HELD(held, logger, EA_LEVEL_EVENT, "Received INCOMING_KOVA_CONNECTION message for realtime.");
    FILE *file = info->event_log;
    uint8_t day_field[KOVA_EVENT_LOG_DAY_SIZE];
    uint32_t sent = 0;
    const bool readable = file != nullptr && fseek(file, 0, SEEK_SET) == 0 &&
                          fread(day_field, 1, sizeof(day_field), file) == sizeof(day_field);
    // A file that has no day field yet (its folder was full from its start) holds nothing.
    if (!readable && (file == nullptr || info->event_log_size > 0))
        EA_LOG_HELD(held, logger, EA_LEVEL_BUSINESS_ERROR, "Reading from kova event log file failed.");
    auto send = [&](const uint8_t *event)
    {
        message *record = message_create(KOVA_LOG_MESSAGE_LENGTH, KOVA_MESSAGE);
        if (record == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
            return false;
        }
        memcpy(record->data, event, KOVA_LOG_MESSAGE_LENGTH);
        record->workstation_network_handle = INTERFACE_ALL_CLIENTS;
        EA_LOG_HELD(
            held, logger, EA_LEVEL_ACTIVITY,
            "Sending KOVA_LOG_MESSAGE with box id [%d] user id [%ld] reason code [%d] to realtime",
            get_u16_le(record->data, KOVA_LOG_OFFSET_BOX_ID),
            static_cast<long>(static_cast<int32_t>(get_u32_le(record->data, KOVA_LOG_OFFSET_USER_ID))),
            get_u16_le(record->data, KOVA_LOG_OFFSET_REASON_CODE));
        if (queue_append(realtime_output, record) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed");
            message_destroy(record);
            return false;
        }
        sent++;
        return true;
    };
    if (readable || interface_event_hold_count(info->held_events) > 0)
    {
        EA_LOG_HELD(held, logger, EA_LEVEL_EVENT, "KOVA event log download start");
        replay_plan plan;
        if (plan_replay(info, readable ? file : nullptr, realtime_output, &plan, held, logger) != EA_SUCCESS)
            return EA_ERROR;
        uint8_t event[KOVA_LOG_MESSAGE_LENGTH];
        for (;;)
        {
            if (!readable)
                break;
            size_t got = fread(event, 1, sizeof(event), file);
            if (got != sizeof(event))
            {
                if (got != 0 || !feof(file))
                    EA_LOG_HELD(held, logger, EA_LEVEL_BUSINESS_ERROR,
                                "Reading from kova event log file failed.");
                break;
            }
            if (!left_out_of_replay(event, &plan) && !send(event))
                return EA_ERROR;
        }
        if (!interface_event_hold_each(info->held_events, send))
            return EA_ERROR;
    }
    if (file != nullptr)
    {
        clearerr(file);
        if (fseek(file, 0, SEEK_END) != 0)
            EA_LOG_HELD(held, logger, EA_LEVEL_BUSINESS_ERROR,
                        "Seeking to the end of kova event log file failed.");
    }
    EA_LOG_HELD(held, logger, EA_LEVEL_EVENT, "KOVA event log download end. [%d] messages downloaded.",
                static_cast<int>(sent));
    return EA_SUCCESS;
}

ea_status process_notification(interface_info *info, message *notification, queue *notifications,
                               queue *realtime_output, logger_object *logger)
{
    if (watch_event_log_name(info, notifications, logger) != EA_SUCCESS)
    {
        message_destroy(notification);
        return EA_ERROR;
    }
    if (notification->tag != KOVA_MESSAGE)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Invalid message tag [%d]", notification->tag);
        message_destroy(notification);
        return EA_SUCCESS;
    }
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "Received KOVA_MESSAGE from notification queue");
    message *event =
        create_packet(KOVA_LOG_MESSAGE_LENGTH, KOVA_LOG_MESSAGE, now_seconds(), INTERFACE_ALL_CLIENTS);
    if (event == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
        message_destroy(notification);
        return EA_ERROR;
    }
    uint16_t box_id = interface_info_read_box_id(info->box_comm_info_container);
    put_u16_le(event->data, KOVA_LOG_OFFSET_BOX_ID, box_id);
    put_u32_le(event->data, KOVA_LOG_OFFSET_USER_ID, notification->user_id);
    put_u16_le(event->data, KOVA_LOG_OFFSET_REASON_CODE, notification->reason_code);
    put_i32_le(event->data, KOVA_LOG_OFFSET_EXTRA_INFO, notification->event_value);
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Sending KOVA_LOG_MESSAGE with box id [%d] user id [%ld] reason code [%d] extra info [%d] to realtime",
        box_id, static_cast<long>(static_cast<int32_t>(notification->user_id)), notification->reason_code,
        notification->event_value);
    message_destroy(notification);
    if (append_event(info, event->data, notifications, logger) != EA_SUCCESS)
    {
        message_destroy(event);
        return EA_ERROR;
    }
    if (queue_append(realtime_output, event) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed");
        message_destroy(event);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// Appends an answer packet; on failure logs `append_failed` and frees it.
ea_status queue_answer(queue *output, message *record, const char *append_failed, logger_object *logger)
{
    if (queue_append(output, record) == EA_SUCCESS)
        return EA_SUCCESS;
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", append_failed);
    message_destroy(record);
    return EA_ERROR;
}
} // namespace

interface_info *interface_info_create(const char *config_file, user_session_info_container *user_sessions,
                                      box_comm_info_container *box_container, user_link_info *link_table,
                                      logger_object *logger)
{
    char file_name[INTERFACE_EVENT_LOG_FILE_SIZE];
    if (config_file_read_string(config_file, "KOVA_EVENT_LOG_FILE", file_name, sizeof(file_name)) !=
        EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "[%s] parameter not found in config file [%s]",
               "KOVA_EVENT_LOG_FILE", config_file);
        return nullptr;
    }
    interface_info *info = static_cast<interface_info *>(calloc(1, sizeof(interface_info)));
    if (info == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_info initialisation failed");
        return nullptr;
    }
    memcpy(info->event_log_file, file_name, sizeof(file_name));
    info->held_events = new (std::nothrow) interface_event_hold();
    if (info->held_events == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_info initialisation failed");
        free(info);
        return nullptr;
    }
    interface_event_hold_init(info->held_events, INTERFACE_OUTGOING_LIMIT);
    bool fatal = false;
    if (!open_existing_event_log(info, &fatal, logger))
    {
        if (fatal || interface_info_create_kova_event_log_file(info, logger) != EA_SUCCESS)
        {
            if (!fatal)
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_info_create_kova_event_log_file() failed");
            delete info->held_events;
            free(info);
            return nullptr;
        }
    }
    info->user_session_info_container = user_sessions;
    info->box_comm_info_container = box_container;
    info->user_link_info = link_table;

    info->kova_version_check_message =
        create_packet(KOVA_VERSION_CHECK_MESSAGE_LENGTH, VERSION_CHECK_MESSAGE, 0, INTERFACE_ALL_CLIENTS);
    if (info->kova_version_check_message == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed");
        fclose(info->event_log);
        delete info->held_events;
        free(info);
        return nullptr;
    }
    put_u32_le(info->kova_version_check_message->data, KOVA_VERSION_OFFSET_NUMBER, QEL_VERSION_NUMBER);
    return info;
}

ea_status interface_info_create_kova_event_log_file(interface_info *info, logger_object *logger)
{
    if (info->event_log != nullptr)
    {
        fclose(info->event_log);
        info->event_log = nullptr;
    }
    info->event_log_size = 0;
    FILE *file = create_event_log(info, logger);
    if (file == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error opening kova log file [%s] in write mode",
               info->event_log_file);
        return EA_ERROR;
    }
    uint8_t day_field[KOVA_EVENT_LOG_DAY_SIZE];
    put_u16_le(day_field, 0, today_day_of_month());
    if (fwrite(day_field, 1, sizeof(day_field), file) != sizeof(day_field) || fflush(file) != 0)
    {
        // A full folder: the gateway runs on, the file kept empty until an event goes in.
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error while writing to kova log file.");
        resize_event_log(info, 0);
        return EA_SUCCESS;
    }
    info->event_log_size = KOVA_EVENT_LOG_DAY_SIZE;
    return EA_SUCCESS;
}

ea_status interface_info_new_day(interface_info *info, logger_object *logger)
{
    interface_event_hold_init(info->held_events, INTERFACE_OUTGOING_LIMIT);
    info->let_go_before_spell = 0;
    return interface_info_create_kova_event_log_file(info, logger);
}

ea_status interface_info_process_message(interface_info *info, queue *notifications, queue *realtime_input,
                                         queue *interactive_input, queue *interactive_output,
                                         queue *realtime_output, logger_object *logger)
{
    while (queue_get_count(notifications) + queue_get_count(realtime_input) +
               queue_get_count(interactive_input) >
           0)
    {
        while (queue_get_count(interactive_input) > 0)
        {
            message *request = static_cast<message *>(queue_remove_head(interactive_input));
            uint16_t transcode = request_transcode(request);
            ea_status status = EA_SUCCESS;
            switch (transcode)
            {
            case BOX_INFORMATION_REQUEST:
                EA_LOG(logger, EA_LEVEL_EVENT,
                       "Received BOX_INFORMATION_REQUEST from interactive connection.");
                status = interface_info_get_box_info(info, request, interactive_output, logger);
                message_destroy(request);
                if (status == EA_ERROR)
                {
                    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_info_get_box_info failed");
                    return EA_ERROR;
                }
                break;
            case QEL_APPLICATION_RESTART_TRANSCODE:
                EA_LOG(logger, EA_LEVEL_EVENT,
                       "Received QEL_APPLICATION_RESTART_TRANSCODE from interactive connection.");
                message_destroy(request);
                return EA_RESTART;
            case USER_INFORMATION_REQUEST:
                EA_LOG(logger, EA_LEVEL_EVENT,
                       "Received USER_INFORMATION_REQUEST from interactive connection.");
                status = interface_info_get_active_user_list(info, request, interactive_output, logger);
                message_destroy(request);
                if (status == EA_ERROR)
                {
                    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_info_get_active_user_list failed");
                    return EA_ERROR;
                }
                break;
            default:
                EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                       "Received message with invalid transcode [%d] from interactive. Hence discarding.",
                       transcode);
                message_destroy(request);
                break;
            }
        }
        while (queue_get_count(realtime_input) > 0)
        {
            message *record = static_cast<message *>(queue_remove_head(realtime_input));
            bool incoming = record->tag == INCOMING_KOVA_CONNECTION;
            int32_t console = record->workstation_network_handle;
            message_destroy(record);
            if (incoming && replay_event_log(info, realtime_output, console, logger) != EA_SUCCESS)
                return EA_ERROR;
        }
        while (queue_get_count(notifications) > 0)
        {
            message *notification = static_cast<message *>(queue_remove_head(notifications));
            if (process_notification(info, notification, notifications, realtime_output, logger) !=
                EA_SUCCESS)
                return EA_ERROR;
        }
    }
    return EA_SUCCESS;
}

ea_status interface_info_get_active_user_list(interface_info *info, const message *request,
                                              queue *interactive_output, logger_object *logger)
{
    uint32_t count = 0;
    interface_user_entry *table = interface_info_copy_user_table(info->user_session_info_container, &count);
    if (table == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "user_session_info_container_get_user_session_info_array failed");
        return EA_ERROR;
    }
    int32_t handle = request->workstation_network_handle;
    uint32_t time = now_seconds();
    message *record =
        create_packet(KOVA_USER_INFORMATION_HEADER_LENGTH, USER_INFORMATION_HEADER, time, handle);
    if (record == nullptr ||
        queue_answer(interactive_output, record, "queue append failed.", logger) != EA_SUCCESS)
    {
        if (record == nullptr)
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed");
        interface_info_free_user_table(table);
        return EA_ERROR;
    }
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "Sending USER_INFORMATION_HEADER to interactive");
    for (uint32_t i = 0; i < count; ++i)
    {
        if (table[i].user_id == 0)
            continue;
        record = create_packet(KOVA_USER_INFORMATION_DATA_LENGTH, USER_INFORMATION_DATA, time, handle);
        if (record == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed");
            interface_info_free_user_table(table);
            return EA_ERROR;
        }
        put_u32_le(record->data, KOVA_USER_OFFSET_USER_ID, table[i].user_id);
        put_u16_le(record->data, KOVA_USER_OFFSET_LOGON_STATUS, table[i].logon_status);
        if (queue_answer(interactive_output, record, "queue append failed", logger) != EA_SUCCESS)
        {
            interface_info_free_user_table(table);
            return EA_ERROR;
        }
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "Sending USER_INFORMATION_DATA for user id [%ld] with logon status flag [%d] to interactive",
               static_cast<long>(static_cast<int32_t>(table[i].user_id)), table[i].logon_status);
    }
    interface_info_free_user_table(table);
    record = create_packet(KOVA_USER_INFORMATION_RESPONSE_LENGTH, USER_INFORMATION_RESPONSE, time, handle);
    if (record == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed");
        return EA_ERROR;
    }
    if (queue_answer(interactive_output, record, "queue append failed", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "Sending USER_INFORMATION_RESPONSE to interactive");
    return EA_SUCCESS;
}

ea_status interface_info_get_box_info(interface_info *info, const message *request, queue *interactive_output,
                                      logger_object *logger)
{
    int32_t handle = request->workstation_network_handle;
    uint16_t box_id = interface_info_read_box_id(info->box_comm_info_container);
    uint16_t links = interface_info_read_number_of_links(info->user_link_info);
    uint32_t time = now_seconds();
    for (uint16_t link = 0; link < links; ++link)
    {
        message *header =
            create_packet(KOVA_BOX_INFORMATION_HEADER_LENGTH, BOX_INFORMATION_HEADER, time, handle);
        if (header == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed");
            return EA_ERROR;
        }
        put_u16_le(header->data, KOVA_BOX_HEADER_OFFSET_KIND, 1);
        put_u16_le(header->data, KOVA_BOX_HEADER_OFFSET_BOX_ID, box_id);
        put_u16_le(header->data, KOVA_BOX_HEADER_OFFSET_LINK_INDEX, link);
        if (queue_answer(interactive_output, header, "Queue insertion failed", logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Sending BOX_INFORMATION_HEADER to interactive");

        uint16_t box_status = interface_info_read_box_status(info->box_comm_info_container, link);
        message *data = create_packet(KOVA_BOX_INFORMATION_DATA_LENGTH, BOX_INFORMATION_DATA, time, handle);
        if (data == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message create failed");
            return EA_ERROR;
        }
        put_u16_le(data->data, KOVA_BOX_DATA_OFFSET_BOX_ID, box_id);
        put_u16_le(data->data, KOVA_BOX_DATA_OFFSET_BOX_STATUS, box_status);
        if (queue_answer(interactive_output, data, "Message create failed", logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "Sending BOX_INFORMATION_DATA to interactive with box id [%d] and box status [%d]", box_id,
               box_status);

        message *response =
            create_packet(KOVA_BOX_INFORMATION_RESPONSE_LENGTH, BOX_INFORMATION_RESPONSE, time, handle);
        if (response == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message create failed");
            return EA_ERROR;
        }
        put_u16_le(response->data, KOVA_BOX_RESPONSE_OFFSET_BOX_ID, box_id);
        if (queue_answer(interactive_output, response, "Message create failed", logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Sending BOX_INFORMATION_RESPONSE to interactive");
    }
    return EA_SUCCESS;
}

void interface_info_destroy(interface_info *info)
{
    if (info == nullptr)
        return;
    if (info->kova_version_check_message != nullptr)
        message_destroy(info->kova_version_check_message);
    // Events still held when the gateway stops never reach the file: said with the spell.
    if (info->event_log_writes.failing || interface_event_hold_count(info->held_events) > 0)
    {
        info->event_log_writes.failing = true;
        info->event_log_writes.lost = interface_event_hold_count(info->held_events) +
                                      info->held_events->let_go - info->let_go_before_spell;
        pf_log_write_watch_close(&info->event_log_writes, info->event_log_file);
    }
    if (info->event_log != nullptr)
    {
        pf_log_name_watch_close(&info->event_log_name, fileno(info->event_log), info->event_log_file);
        fclose(info->event_log);
    }
    delete info->held_events;
    free(info);
}
