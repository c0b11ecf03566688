// The host send and receive validators (threads 7 and 8). Each drains its input queue
// every wake-up and handles the records one by one in arrival order, so the control
// orders that travel with the frames keep their place among them. The header is put on
// and taken off inside the record's own buffer: no record is copied.
#include "gateway/message_validators/th_validators.h"

#include <cstdio>

#include "common/md5.h"
#include "gateway/message_validators/message_validators.h"
#include "gateway/message_validators/vrx_network_header.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/shared/worker_loop.h"

static const char *th_validator_tag_name(uint16_t tag)
{
    switch (tag)
    {
    case BOX_LOGOFF_FLUSH:
        return "BOX_LOGOFF_FLUSH";
    case DROP_HOST_CONNECTION:
        return "DROP_HOST_CONNECTION";
    case SESSION_RECOVERY_FLUSH:
        return "SESSION_RECOVERY_FLUSH";
    case SESSION_RECOVERED_FLUSH:
        return "SESSION_RECOVERED_FLUSH";
    case DROP_HOST_SESSION:
        return "DROP_HOST_SESSION";
    default:
        return "UNKNOWN";
    }
}

message *th_network_header_apply(message *msg)
{
    uint16_t body_length = msg->data_length;
    // A record with head room takes the header there without moving its data; otherwise
    // the data moves up behind the header inside the buffer.
    message *framed = message_head_room(msg) >= VRX_NETWORK_HEADER_SIZE
                          ? message_use_head_room(msg, VRX_NETWORK_HEADER_SIZE)
                          : message_lalloc(msg, VRX_NETWORK_HEADER_SIZE);
    if (framed == nullptr)
        return nullptr;
    md5_checksum(msg->data + VRX_NETWORK_HEADER_SIZE, body_length, msg->data + VRX_NH_DIGEST,
                 MD5_MODE_COMPUTE);
    put_u16_be(msg->data, VRX_NH_NETWORK_SEQUENCE, msg->network_sequence_number);
    put_u16_be(msg->data, VRX_NH_LAST_SEQUENCE, msg->last_sequence_number);
    put_u16_be(msg->data, VRX_NH_LENGTH, static_cast<uint16_t>(body_length + VRX_NETWORK_HEADER_SIZE));
    return msg;
}

static bool th_frame_is_blank(const message *msg)
{
    for (uint16_t i = 0; i < msg->data_length; ++i)
    {
        if (msg->data[i] != ' ')
            return false;
    }
    return true;
}

int32_t th_network_header_check(message *msg)
{
    if (msg->data_length < VRX_NETWORK_HEADER_SIZE)
        return TH_REASON_FRAME_TOO_SHORT;
    int32_t result = md5_checksum(msg->data + VRX_NETWORK_HEADER_SIZE,
                                  static_cast<int32_t>(msg->data_length - VRX_NETWORK_HEADER_SIZE),
                                  msg->data + VRX_NH_DIGEST, MD5_MODE_VERIFY);
    if (result != MD5_RESULT_MATCH)
    {
        if (th_frame_is_blank(msg))
            return EA_DISCARD;
        return TH_REASON_DIGEST_MISMATCH;
    }
    msg->network_sequence_number = get_u16_be(msg->data, VRX_NH_NETWORK_SEQUENCE);
    msg->last_sequence_number = get_u16_be(msg->data, VRX_NH_LAST_SEQUENCE);
    message_ltrim(msg, VRX_NETWORK_HEADER_SIZE);
    return 0;
}

ea_status th_send_validator_process(message *msg, shared_queue *output_queue, const char *routine,
                                    logger_object *logger)
{
    switch (msg->tag)
    {
    case NORMAL_MESSAGE:
    case BOX_LOGON_REQUEST:
    case HEART_BEAT_MESSAGE:
    case BOX_RELOGON_REQUEST:
        if (th_network_header_apply(msg) == nullptr)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "message_lalloc retrun NULL");
            EA_FREE_CHECKED(msg, message_destroy, "message");
            return EA_ERROR;
        }
        EA_LOG_IN(
            routine, logger, EA_LEVEL_ACTIVITY,
            "Applied checksum to the message received with network sequence number [%d] and last sequence number [%d].",
            msg->network_sequence_number, msg->last_sequence_number);
        break;
    case BOX_LOGOFF_FLUSH:
    case DROP_HOST_CONNECTION:
    case SESSION_RECOVERY_FLUSH:
    case SESSION_RECOVERED_FLUSH:
    case DROP_HOST_SESSION:
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT, "Received %s message.", th_validator_tag_name(msg->tag));
        break;
    default:
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                  "Received message is unknown message with invalid message tag [%d].", msg->tag);
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_ERROR;
    }
    if (shared_queue_insert_single_element(output_queue, msg) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Insertion into queue failed.");
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

static ea_status th_receive_validator_notify(message *msg, uint16_t reason_code,
                                             shared_queue *notification_queue, const char *routine,
                                             logger_object *logger)
{
    msg->reason_code = reason_code;
    msg->tag = HOST_VALIDATION_FAILURE;
    EA_LOG_IN(
        routine, logger, EA_LEVEL_EVENT,
        "Sent HOST_VALIDATION_FAILURE notification to Box Comm Module for link index [%u] host nw handle [%d] and reason code [%d]",
        msg->link_index, msg->host_network_handle, msg->reason_code);
    if (shared_queue_insert_single_element(notification_queue, msg) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Insertion into shared queue failed.");
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status th_receive_validator_process(message *msg, shared_queue *output_queue,
                                       shared_queue *notification_queue, const char *routine,
                                       logger_object *logger)
{
    EA_LOG_IN(routine, logger, EA_LEVEL_ACTIVITY, "Received message from input queue.");
    switch (msg->tag)
    {
    case NORMAL_MESSAGE:
    {
        uint16_t length = msg->data_length;
        int32_t verdict = th_network_header_check(msg);
        if (verdict == TH_REASON_FRAME_TOO_SHORT)
        {
            EA_LOG_IN(
                routine, logger, EA_LEVEL_BUSINESS_ERROR,
                "Length of the received message buffer [%d] is less than expected [%d], Sequence Number [%lu]",
                length, VRX_NETWORK_HEADER_SIZE, static_cast<unsigned long>(msg->sequence_number));
            return th_receive_validator_notify(msg, TH_REASON_FRAME_TOO_SHORT, notification_queue, routine,
                                               logger);
        }
        if (verdict == EA_DISCARD)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_BUSINESS_ERROR,
                      "Received blank message. Discarding the message. Sequence Number [%lu]",
                      static_cast<unsigned long>(msg->sequence_number));
            EA_FREE_CHECKED(msg, message_destroy, "message");
            return EA_SUCCESS;
        }
        if (verdict == TH_REASON_DIGEST_MISMATCH)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_BUSINESS_ERROR,
                      "Checksum verification Failed. Sequence Number [%lu]",
                      static_cast<unsigned long>(msg->sequence_number));
            return th_receive_validator_notify(msg, TH_REASON_DIGEST_MISMATCH, notification_queue, routine,
                                               logger);
        }
        EA_LOG_IN(routine, logger, EA_LEVEL_ACTIVITY,
                  "Checksum verified for the received message. Sequence Number [%lu].",
                  static_cast<unsigned long>(msg->sequence_number));
        break;
    }
    case BOX_LOGOFF_FLUSH:
    case SESSION_RECOVERY_FLUSH:
    case SESSION_RECOVERED_FLUSH:
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT, "Received %s message.", th_validator_tag_name(msg->tag));
        break;
    default:
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                  "Received message is unknown message with invalid message tag [%d].", msg->tag);
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_ERROR;
    }
    if (shared_queue_insert_single_element(output_queue, msg) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Insertion into queue failed.");
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// The steps both validator threads share; `process_one` handles one record, logging under
// the thread routine's name it is given.
template <typename Process> struct th_validator_steps : worker_steps
{
    shared_queue *input_queue;
    uint32_t wait_time_ms;
    logger_object *logger;
    Process process_one;
    queue *locals[1] = {};

    ea_status wait()
    {
        const ea_status status =
            shared_queue_get_elements_from_single_queue(input_queue, locals[0], wait_time_ms);
        if (status == EA_NO_DATA || status == EA_SUCCESS)
            return status;
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Getting messages from shared queue failed");
        return EA_ERROR;
    }

    ea_status process()
    {
        while (message *msg = static_cast<message *>(queue_remove_head(locals[0])))
        {
            if (process_one(msg, routine) != EA_SUCCESS)
                return EA_ERROR;
        }
        return EA_SUCCESS;
    }
};

// Runs the validator whose thread routine is named `routine`.
template <typename Args, typename Process>
static uint32_t th_validator_run(Args *args, const char *routine, Process process)
{
    th_validator_steps<Process> steps{{}, args->input_queue, args->wait_time_ms, args->logger, process};
    return worker_thread_run(args, steps, steps.locals, routine, "creation of local queue failed");
}

uint32_t th_send_validator_thread(void *argument)
{
    th_send_validator_thread_args *args = static_cast<th_send_validator_thread_args *>(argument);
    if (args == nullptr)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Thread arguments not available");
        return EA_ERROR;
    }
    return th_validator_run(
        args, __func__,
        [args](message *msg, const char *routine)
        { return th_send_validator_process(msg, args->output_queue, routine, args->logger); });
}

uint32_t th_receive_validator_thread(void *argument)
{
    th_receive_validator_thread_args *args = static_cast<th_receive_validator_thread_args *>(argument);
    if (args == nullptr)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Thread arguments not available");
        return EA_ERROR;
    }
    return th_validator_run(args, __func__,
                            [args](message *msg, const char *routine)
                            {
                                return th_receive_validator_process(
                                    msg, args->output_queue, args->notification_queue, routine, args->logger);
                            });
}
