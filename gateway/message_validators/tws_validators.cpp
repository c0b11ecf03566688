// The workstation-side validators. The receive validator stands between the workstation
// network thread and the user session layer: it checks each frame's length, digest and
// VRX length, strips the network header, and turns a frame that fails into a
// CLIENT_VALIDATION_FAILURE for the session layer. The send validator puts the network
// header on every record for a workstation and answers box communication's
// CONNECTION_ACCEPT with a fresh invitation frame. Headers are added and removed inside
// the record's own buffer.
#include <cstring>

#include "common/logger.h"
#include "common/md5.h"
#include "common/message.h"
#include "common/queue.h"
#include "common/shared_queue.h"
#include "common/wire.h"
#include "gateway/message_validators/message_validators.h"
#include "gateway/message_validators/tws_validators.h"

namespace
{
const char *tws_tag_name(uint16_t tag)
{
    switch (tag)
    {
    case USER_LOGOFF_FLUSH:
        return "USER_LOGOFF_FLUSH";
    case BOX_LOGOFF_FLUSH:
        return "BOX_LOGOFF_FLUSH";
    case DROP_CLIENT:
        return "DROP_CLIENT";
    case CLIENT_DISCONNECTED:
        return "CLIENT_DISCONNECTED";
    case UPDATE_LINK_INDEX:
        return "UPDATE_LINK_INDEX";
    case SECONDARY_JOURNAL_DOWNLOAD_REQUEST:
        return "SECONDARY_JOURNAL_DOWNLOAD_REQUEST";
    default:
        return "UNKNOWN";
    }
}

uint32_t tws_validator_fail(ea_flag *shutdown_flag, message *held, queue **locals, uint32_t count)
{
    if (held != nullptr)
        message_destroy(held);
    ea_destroy_message_queue_array(locals, count);
    ea_flag_set(shutdown_flag, 1);
    return EA_ERROR;
}

// Puts the 22-byte network header in front of the record: length, sequence number 1 (the
// network layer writes the connection's own when it sends) and the digest of the record.
// Uses head room where the record has it, else moves the data up. False when it cannot.
bool tws_put_network_header(message *msg, logger_object *logger)
{
    message *done = message_head_room(msg) >= TWS_NETWORK_HEADER_SIZE
                        ? message_use_head_room(msg, TWS_NETWORK_HEADER_SIZE)
                        : message_lalloc(msg, TWS_NETWORK_HEADER_SIZE);
    if (done == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_lalloc retrun NULL");
        return false;
    }
    put_u16_be(msg->data, TWS_HEADER_LENGTH_OFFSET, msg->data_length);
    put_u32_be(msg->data, TWS_HEADER_SEQUENCE_OFFSET, 1);
    if (md5_checksum(msg->data + TWS_NETWORK_HEADER_SIZE, msg->data_length - TWS_NETWORK_HEADER_SIZE,
                     msg->data + TWS_HEADER_DIGEST_OFFSET, MD5_MODE_COMPUTE) != MD5_RESULT_WRITTEN)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in applying checksum.");
        return false;
    }
    return true;
}

void tws_make_validation_failure(message *msg, uint16_t reason_code)
{
    msg->reason_code = reason_code;
    msg->tag = CLIENT_VALIDATION_FAILURE;
}

} // namespace

bool tws_receive_check_frame(message *msg, logger_object *logger)
{
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "Received NORMAL_MESSAGE message from Network Layer.");
    if (msg->data_length < TWS_MIN_FRAME)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "For tws index [%u] Length of the received message buffer [%u] is less than expected [%d], Sequence Number [%lu]",
            msg->workstation_index, msg->data_length, static_cast<int>(TWS_MIN_FRAME),
            static_cast<unsigned long>(msg->sequence_number));
        tws_make_validation_failure(msg, TWS_REASON_SHORT_FRAME);
        return true;
    }
    // Taken before the digest test, so that a failed record carries it too.
    msg->workstation_sequence_number = get_u32_be(msg->data, TWS_HEADER_SEQUENCE_OFFSET);
    int32_t verdict =
        md5_checksum(msg->data + TWS_NETWORK_HEADER_SIZE, msg->data_length - TWS_NETWORK_HEADER_SIZE,
                     msg->data + TWS_HEADER_DIGEST_OFFSET, MD5_MODE_VERIFY);
    if (verdict != MD5_RESULT_MATCH)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "Checksum Error for tws nw handle [%d] having tws index [%u], sequence number [%lu]",
               msg->workstation_network_handle, msg->workstation_index,
               static_cast<unsigned long>(msg->sequence_number));
        tws_make_validation_failure(msg, TWS_REASON_CHECKSUM);
        return true;
    }
    if (message_ltrim(msg, TWS_NETWORK_HEADER_SIZE) == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_ltrim retrun NULL");
        return false;
    }
    EA_LOG(
        logger, EA_LEVEL_ACTIVITY,
        "Checksum Validation successful for message received from network layer [%d] having tws index [%u] Recieve sequence No [%d]",
        msg->workstation_network_handle, msg->workstation_index,
        static_cast<int>(msg->workstation_sequence_number));
    uint16_t vrx_length = get_u16_be(msg->data, TWS_VRX_LENGTH_OFFSET);
    if (vrx_length != msg->data_length)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "For tws index [%u] Length of the message buffer [%u] is less than the message length [%u] in the tws message header of the received message",
            msg->workstation_index, msg->data_length, vrx_length);
        tws_make_validation_failure(msg, TWS_REASON_VRX_LENGTH);
    }
    return true;
}

namespace
{
// The invitation frame that answers a CONNECTION_ACCEPT; null (logged) on failure.
message *tws_build_invitation(uint16_t invitation_count, logger_object *logger)
{
    message *invitation = message_create(TWS_INVITATION_SIZE, CLIENT_INVITATION_MESSAGE);
    if (invitation == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Invitation message creation failed");
        return nullptr;
    }
    uint8_t *record = invitation->data;
    memset(record, 0, TWS_INVITATION_SIZE);
    put_u32_be(record, TWS_INVITATION_USER_ID_OFFSET, 0);
    put_i16_be(record, TWS_INVITATION_TRANSCODE_OFFSET, TWS_INVITATION_TRANSCODE);
    put_i16_be(record, TWS_INVITATION_ERROR_CODE_OFFSET, 0);
    put_u16_be(record, TWS_INVITATION_LENGTH_OFFSET, TWS_INVITATION_SIZE);
    put_u16_be(record, TWS_INVITATION_COUNT_OFFSET, invitation_count == 0 ? 1 : invitation_count);
    // The network thread reads the tag as the admission order.
    invitation->tag = CONNECTION_ACCEPT;
    if (!tws_put_network_header(invitation, logger))
    {
        message_destroy(invitation);
        return nullptr;
    }
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "Checksum applied successfully on CONNECTION ACCEPT message.");
    return invitation;
}

bool tws_flush_output(shared_queue *target, queue *output, logger_object *logger)
{
    if (shared_queue_insert(target, output) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
        return false;
    }
    return true;
}

bool tws_append_output(queue *output, message *msg, logger_object *logger)
{
    if (queue_append(output, msg) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
        return false;
    }
    return true;
}
} // namespace

uint32_t tws_receive_validate_thread(void *argument)
{
    tws_receive_validate_thread_args *args = static_cast<tws_receive_validate_thread_args *>(argument);
    if (args == nullptr)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Thread arguments not available");
        return EA_ERROR;
    }
    logger_object *logger = args->logger;
    // 0: records taken from the network thread; 1: records going to the session layer.
    queue *locals[2] = {queue_create(), queue_create()};
    if (locals[0] == nullptr || locals[1] == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "input local queue is not created");
        return tws_validator_fail(args->shutdown_flag, nullptr, locals, 2);
    }
    while (ea_flag_get(args->shutdown_flag) == 0)
    {
        if (ea_flag_get(args->day_flag) != 0)
        {
            logger_object_reopen(logger);
            ea_flag_set(args->day_flag, 0);
        }
        ea_status status =
            shared_queue_get_elements_from_single_queue(args->from_network, locals[0], args->wait_time_ms);
        if (status == EA_NO_DATA)
            continue;
        if (status == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_get_elements_from_single_queue return ERROR");
            return tws_validator_fail(args->shutdown_flag, nullptr, locals, 2);
        }
        if (status != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Default case occurs: Surely a Bug");
            return tws_validator_fail(args->shutdown_flag, nullptr, locals, 2);
        }
        while (message *msg = static_cast<message *>(queue_remove_head(locals[0])))
        {
            switch (msg->tag)
            {
            case NORMAL_MESSAGE:
                if (!tws_receive_check_frame(msg, logger))
                    return tws_validator_fail(args->shutdown_flag, msg, locals, 2);
                break;
            case USER_LOGOFF_FLUSH:
            case BOX_LOGOFF_FLUSH:
            case CLIENT_DISCONNECTED:
            case SECONDARY_JOURNAL_DOWNLOAD_REQUEST:
                EA_LOG(logger, EA_LEVEL_EVENT, "Received %s message from network layer.",
                       tws_tag_name(msg->tag));
                break;
            default:
                EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                       "UNKNOWN MESSAGE TAG [%d]. Surely a Bug: tws nw handle [%d], sequence number [%lu]",
                       msg->tag, msg->workstation_network_handle,
                       static_cast<unsigned long>(msg->sequence_number));
                return tws_validator_fail(args->shutdown_flag, msg, locals, 2);
            }
            if (!tws_append_output(locals[1], msg, logger))
                return tws_validator_fail(args->shutdown_flag, msg, locals, 2);
        }
        if (!tws_flush_output(args->to_user_session, locals[1], logger))
            return tws_validator_fail(args->shutdown_flag, nullptr, locals, 2);
    }
    ea_destroy_message_queue_array(locals, 2);
    return EA_SHUTDOWN;
}

uint32_t tws_send_validate_thread(void *argument)
{
    tws_send_validate_thread_args *args = static_cast<tws_send_validate_thread_args *>(argument);
    if (args == nullptr)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Thread arguments not available");
        return EA_ERROR;
    }
    logger_object *logger = args->logger;
    enum
    {
        FROM_USER_SESSION = 0,
        FROM_BOX_COMM = 1,
        OUTPUT = 2,
        LOCAL_COUNT = 3,
    };
    queue *locals[LOCAL_COUNT] = {queue_create(), queue_create(), queue_create()};
    if (locals[0] == nullptr || locals[1] == nullptr || locals[2] == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "input local queue is not created");
        return tws_validator_fail(args->shutdown_flag, nullptr, locals, LOCAL_COUNT);
    }
    shared_queue *inputs[2] = {args->from_user_session, args->from_box_comm};
    while (ea_flag_get(args->shutdown_flag) == 0)
    {
        if (ea_flag_get(args->day_flag) != 0)
        {
            logger_object_reopen(logger);
            ea_flag_set(args->day_flag, 0);
        }
        ea_status status =
            shared_queue_get_elements_from_multiple_queues(inputs, 2, locals, args->wait_time_ms);
        if (status == EA_NO_DATA)
            continue;
        if (status != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                   "shared_queue_get_elements_from_multiple_queues returned ERROR");
            return tws_validator_fail(args->shutdown_flag, nullptr, locals, LOCAL_COUNT);
        }
        while (message *msg = static_cast<message *>(queue_remove_head(locals[FROM_USER_SESSION])))
        {
            switch (msg->tag)
            {
            case NORMAL_MESSAGE:
                EA_LOG(logger, EA_LEVEL_ACTIVITY, "Received NORMAL_MESSAGE message from Session Layer.");
                if (!tws_put_network_header(msg, logger))
                    return tws_validator_fail(args->shutdown_flag, msg, locals, LOCAL_COUNT);
                EA_LOG(logger, EA_LEVEL_ACTIVITY, "Checksum applied successfully.");
                break;
            case USER_LOGOFF_FLUSH:
            case BOX_LOGOFF_FLUSH:
            case DROP_CLIENT:
            case UPDATE_LINK_INDEX:
            case SECONDARY_JOURNAL_DOWNLOAD_REQUEST:
                EA_LOG(logger, EA_LEVEL_EVENT, "Received %s message from session layer.",
                       tws_tag_name(msg->tag));
                break;
            default:
                EA_LOG(
                    logger, EA_LEVEL_SYSTEM_ERROR,
                    "UNKNOWN MESSAGE TAG :Message tag is [%d] Surely a Bug. tws nw handle [%d] user [%ld], sequence number [%lu]",
                    msg->tag, msg->workstation_network_handle,
                    static_cast<long>(static_cast<int32_t>(msg->user_id)),
                    static_cast<unsigned long>(msg->sequence_number));
                return tws_validator_fail(args->shutdown_flag, msg, locals, LOCAL_COUNT);
            }
            if (!tws_append_output(locals[OUTPUT], msg, logger))
                return tws_validator_fail(args->shutdown_flag, msg, locals, LOCAL_COUNT);
        }
        while (message *msg = static_cast<message *>(queue_remove_head(locals[FROM_BOX_COMM])))
        {
            if (msg->tag == CONNECTION_ACCEPT)
            {
                EA_LOG(logger, EA_LEVEL_EVENT, "Received  CONNECTION_ACCEPT message");
                message_destroy(msg);
                msg = tws_build_invitation(args->invitation_count, logger);
                if (msg == nullptr)
                    return tws_validator_fail(args->shutdown_flag, nullptr, locals, LOCAL_COUNT);
                if (!tws_append_output(locals[OUTPUT], msg, logger))
                    return tws_validator_fail(args->shutdown_flag, msg, locals, LOCAL_COUNT);
                EA_LOG(logger, EA_LEVEL_EVENT, "Forwarded CONNECTION_ACCEPT message to network layer");
            }
            else if (msg->tag == NEW_CONNECTION_REJECT)
            {
                EA_LOG(logger, EA_LEVEL_EVENT, "Received NEW_CONNECTION_REJECT Message");
                if (!tws_append_output(locals[OUTPUT], msg, logger))
                    return tws_validator_fail(args->shutdown_flag, msg, locals, LOCAL_COUNT);
                EA_LOG(logger, EA_LEVEL_EVENT, "Forwarded NEW_CONNECTION_REJECT message");
            }
            else
            {
                EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "UNKNOWN MESSAGE TAG:Message tag is[%d] Surely a Bug",
                       msg->tag);
                return tws_validator_fail(args->shutdown_flag, msg, locals, LOCAL_COUNT);
            }
        }
        if (!tws_flush_output(args->to_network, locals[OUTPUT], logger))
            return tws_validator_fail(args->shutdown_flag, nullptr, locals, LOCAL_COUNT);
    }
    ea_destroy_message_queue_array(locals, LOCAL_COUNT);
    return EA_SHUTDOWN;
}
