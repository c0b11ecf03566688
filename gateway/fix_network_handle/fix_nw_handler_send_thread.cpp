// Worker thread 13: everything that flows from the gateway to the FIX clients. Records of
// the box communication thread (connection accepted or rejected for the waiting clients)
// and of the user session thread (replies and control records) are dispatched by tag to
// the FIX application's entry points, which do the work under the application's lock.
//
// Ownership: an entry point that is given a record consumes it on every path; this thread
// frees only the records it does not hand on.
#include <cstdint>

#include "gateway/fix_network_handle/fix_nw_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/worker_loop.h"

namespace
{
enum : uint32_t
{
    FIX_SEND_FROM_BOX_COMM = 0,
    FIX_SEND_FROM_USER_SESSION = 1,
    FIX_SEND_QUEUE_COUNT = 2,
};

// A console event for the interface thread; false when it could not be made or queued. The
// helpers of the thread log under the name of its routine, `routine`.
bool fix_send_console_event(shared_queue *to_interface, uint16_t reason_code, const char *routine,
                            logger_object *logger)
{
    message *event = message_create(0, KOVA_MESSAGE);
    if (event == nullptr)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        return false;
    }
    event->reason_code = reason_code;
    event->user_id = static_cast<uint32_t>(-1);
    EA_LOG_IN(routine, logger, EA_LEVEL_EVENT, "Sent KOVA_MESSAGE to Interface Thread with reason code [%d].",
              reason_code);
    if (shared_queue_insert_single_element(to_interface, event) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Shared queue insertion failed.");
        message_destroy(event);
        return false;
    }
    return true;
}

// One record of the box communication thread; false on a fatal failure.
bool fix_send_from_box_comm(fix_nw_handler_send_thread_args *args, message *msg, const char *routine)
{
    logger_object *logger = args->logger;
    if (msg->tag == CONNECTION_ACCEPT)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT, "Received %s message.", "CONNECTION_ACCEPT");
        message_destroy(msg);
        if (fix_nw_info_process_incoming_clients(args->fix_nw_info, FIX_NW_OPERATION_CONNECTION_ACCEPT,
                                                 logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_CONTINUATION, "fix_nw_info_process_incoming_clients()failed");
            return false;
        }
        return true;
    }
    if (msg->tag == NEW_CONNECTION_REJECT)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT, "Received %s message.", "NEW_CONNECTION_REJECT");
        if (!fix_send_console_event(args->to_interface, FIX_NW_REASON_BOX_REJECTED, routine, logger))
        {
            message_destroy(msg);
            return false;
        }
        if (fix_nw_info_disconnect_client(args->fix_nw_info, msg, FIX_NW_OPERATION_PENDING_CLIENTS, logger) ==
            EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "fix_nw_info_disconnect_client() failed.");
            return false;
        }
        return true;
    }
    EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Invalid message tag [%d]", msg->tag);
    message_destroy(msg);
    return true;
}

// One record of the user session thread; false on a fatal failure.
bool fix_send_from_user_session(fix_nw_handler_send_thread_args *args, message *msg, uint32_t waiting,
                                const char *routine)
{
    logger_object *logger = args->logger;
    switch (msg->tag)
    {
    case NORMAL_MESSAGE:
        logger_object_stamp_message(logger, msg, waiting);
        // fall through
    case SECONDARY_JOURNAL_DOWNLOAD_REQUEST:
        if (fix_nw_info_send_mesg(args->fix_nw_info, msg, logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "fix_nw_info_send_mesg() failed.");
            return false;
        }
        return true;
    case USER_LOGOFF_FLUSH:
    case DROP_CLIENT:
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Received %s message for fix nw handle [%d] and fix index [%u] with reason code [%d].",
                  msg->tag == USER_LOGOFF_FLUSH ? "USER_LOGOFF_FLUSH" : "DROP_CLIENT",
                  msg->workstation_network_handle, static_cast<unsigned>(msg->workstation_index),
                  msg->reason_code);
        message *notification = message_copy(msg);
        if (notification == nullptr)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "creation of notification_message_ptr failed");
            message_destroy(msg);
            return false;
        }
        if (fix_nw_info_disconnect_client(args->fix_nw_info, msg, FIX_NW_OPERATION_NAMED_CLIENT, logger) ==
            EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "fix_nw_info_disconnect_client() failed");
            message_destroy(notification);
            return false;
        }
        notification->tag = KOVA_MESSAGE;
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Sent KOVA_MESSAGE to Interface Thread with user id [%ld] and reason code [%d].",
                  static_cast<long>(static_cast<int32_t>(notification->user_id)), notification->reason_code);
        if (shared_queue_insert_single_element(args->to_interface, notification) != EA_SUCCESS)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
            message_destroy(notification);
            return false;
        }
        return true;
    }
    case BOX_LOGOFF_FLUSH:
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Received BOX_LOGOFF_FLUSH message for link index [%u]. Forwarding the same.",
                  static_cast<unsigned>(msg->link_index));
        if (fix_nw_info_process_boxlogoff_flush(args->fix_nw_info, msg, logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "fix_nw_info_process_boxlogoff_flush() failed");
            return false;
        }
        return true;
    case UPDATE_LINK_INDEX:
        EA_LOG_IN(
            routine, logger, EA_LEVEL_EVENT,
            "Received UPDATE_LINK_INDEX notification for fix network handle [%d] and fix index [%u] with link index [%u].",
            msg->workstation_network_handle, static_cast<unsigned>(msg->workstation_index),
            static_cast<unsigned>(msg->link_index));
        // A refused update changes nothing; the record is consumed either way.
        fix_nw_info_update_link_index(args->fix_nw_info, msg, args->number_of_links, logger);
        return true;
    default:
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Invalid message tag [%d]", msg->tag);
        message_destroy(msg);
        return true;
    }
}

struct fix_send_steps : worker_steps
{
    fix_nw_handler_send_thread_args *args;
    queue *locals[FIX_SEND_QUEUE_COUNT] = {};
    shared_queue *inputs[FIX_SEND_QUEUE_COUNT];

    explicit fix_send_steps(fix_nw_handler_send_thread_args *thread_args)
        : args(thread_args), inputs{thread_args->from_box_comm, thread_args->from_user_session}
    {
    }

    ea_status wait()
    {
        const ea_status status = shared_queue_get_elements_from_multiple_queues(inputs, FIX_SEND_QUEUE_COUNT,
                                                                                locals, args->wait_time_ms);
        if (status == EA_NO_DATA || status == EA_WAIT_TIME_OUT)
            return EA_NO_DATA;
        if (status != EA_SUCCESS)
        {
            EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR, "retreival from shared queue failed.");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }

    // Box communication's records first, then the user session's.
    ea_status process()
    {
        for (uint32_t index = 0; index < FIX_SEND_QUEUE_COUNT; ++index)
        {
            while (message *msg = static_cast<message *>(queue_remove_head(locals[index])))
            {
                const bool handled =
                    index == FIX_SEND_FROM_BOX_COMM
                        ? fix_send_from_box_comm(args, msg, routine)
                        : fix_send_from_user_session(
                              args, msg, queue_get_count(locals[FIX_SEND_FROM_BOX_COMM]), routine);
                if (!handled)
                    return EA_ERROR;
            }
        }
        return EA_SUCCESS;
    }
};
} // namespace

uint32_t fix_nw_handler_send_thread(void *argument)
{
    fix_nw_handler_send_thread_args *args = static_cast<fix_nw_handler_send_thread_args *>(argument);
    return worker_thread_main<fix_send_steps>(args, __func__, "malloc failed for input local queue.");
}
