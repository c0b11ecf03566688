// The workstation-side validators. The receive validator stands between the workstation
// network thread and the user session layer: it checks each frame's length, digest and
// VRX length, strips the network header, and turns a frame that fails into a
// CLIENT_VALIDATION_FAILURE for the session layer. The send validator puts the network
// header on every record for a workstation and answers box communication's
// CONNECTION_ACCEPT with a fresh invitation frame. Headers are added and removed inside
// the record's own buffer. What they write about a connection that has not signed on is
// held until it does (log_hold.h); the lines about admissions, which serve many
// connections at once, are folded.
#include <cstring>

#include "common/md5.h"
#include "gateway/message_validators/message_validators.h"
#include "gateway/message_validators/tws_validators.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/shared/log_fold.h"
#include "gateway/shared/log_hold.h"
#include "gateway/shared/worker_loop.h"

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

// Ends a pass on a failure, freeing the record in hand.
ea_status tws_validator_drop(message *held)
{
    if (held != nullptr)
        message_destroy(held);
    return EA_ERROR;
}

// Puts the 22-byte network header in front of the record: length, sequence number 1 (the
// network layer writes the connection's own when it sends) and the digest of the record.
// Uses head room where the record has it, else moves the data up. False when it cannot.
// Its lines are logged under the thread routine's name, `routine`, as are those of every
// helper below.
bool tws_put_network_header(message *msg, const char *routine, logger_object *logger)
{
    message *done = message_head_room(msg) >= TWS_NETWORK_HEADER_SIZE
                        ? message_use_head_room(msg, TWS_NETWORK_HEADER_SIZE)
                        : message_lalloc(msg, TWS_NETWORK_HEADER_SIZE);
    if (done == nullptr)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "message_lalloc retrun NULL");
        return false;
    }
    put_u16_be(msg->data, TWS_HEADER_LENGTH_OFFSET, msg->data_length);
    put_u32_be(msg->data, TWS_HEADER_SEQUENCE_OFFSET, 1);
    if (md5_checksum(msg->data + TWS_NETWORK_HEADER_SIZE, msg->data_length - TWS_NETWORK_HEADER_SIZE,
                     msg->data + TWS_HEADER_DIGEST_OFFSET, MD5_MODE_COMPUTE) != MD5_RESULT_WRITTEN)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Error in applying checksum.");
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

bool tws_receive_check_frame(message *msg, const char *routine, logger_object *logger, log_hold_entry *held)
{
    EA_LOG_HELD_IN(routine, held, logger, EA_LEVEL_ACTIVITY,
                   "Received NORMAL_MESSAGE message from Network Layer.");
    if (msg->data_length < TWS_MIN_FRAME)
    {
        EA_LOG_HELD_IN(
            routine, held, logger, EA_LEVEL_BUSINESS_ERROR,
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
        EA_LOG_HELD_IN(routine, held, logger, EA_LEVEL_BUSINESS_ERROR,
                       "Checksum Error for tws nw handle [%d] having tws index [%u], sequence number [%lu]",
                       msg->workstation_network_handle, msg->workstation_index,
                       static_cast<unsigned long>(msg->sequence_number));
        tws_make_validation_failure(msg, TWS_REASON_CHECKSUM);
        return true;
    }
    if (message_ltrim(msg, TWS_NETWORK_HEADER_SIZE) == nullptr)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "message_ltrim retrun NULL");
        return false;
    }
    EA_LOG_HELD_IN(
        routine, held, logger, EA_LEVEL_ACTIVITY,
        "Checksum Validation successful for message received from network layer [%d] having tws index [%u] Recieve sequence No [%d]",
        msg->workstation_network_handle, msg->workstation_index,
        static_cast<int>(msg->workstation_sequence_number));
    uint16_t vrx_length = get_u16_be(msg->data, TWS_VRX_LENGTH_OFFSET);
    if (vrx_length != msg->data_length)
    {
        EA_LOG_HELD_IN(
            routine, held, logger, EA_LEVEL_BUSINESS_ERROR,
            "For tws index [%u] Length of the message buffer [%u] is less than the message length [%u] in the tws message header of the received message",
            msg->workstation_index, msg->data_length, vrx_length);
        tws_make_validation_failure(msg, TWS_REASON_VRX_LENGTH);
    }
    return true;
}

namespace
{
// The invitation frame that answers a CONNECTION_ACCEPT; null (logged) on failure.
message *tws_build_invitation(uint16_t invitation_count, const char *routine, logger_object *logger)
{
    message *invitation = message_create(TWS_INVITATION_SIZE, CLIENT_INVITATION_MESSAGE);
    if (invitation == nullptr)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Invitation message creation failed");
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
    if (!tws_put_network_header(invitation, routine, logger))
    {
        message_destroy(invitation);
        return nullptr;
    }
    EA_LOG_IN(routine, logger, EA_LEVEL_ACTIVITY,
              "Checksum applied successfully on CONNECTION ACCEPT message.");
    return invitation;
}

bool tws_flush_output(shared_queue *target, queue *output, const char *routine, logger_object *logger)
{
    if (shared_queue_insert(target, output) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
        return false;
    }
    return true;
}

bool tws_append_output(queue *output, message *msg, const char *routine, logger_object *logger)
{
    if (queue_append(output, msg) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
        return false;
    }
    return true;
}

// Hands every record of `input` to `handle` and appends it to `output`; a record that
// fails either is freed and ends the pass.
template <typename Handle>
ea_status tws_pass_each(queue *input, queue *output, const char *routine, logger_object *logger,
                        Handle handle)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        if (handle(msg) != EA_SUCCESS || !tws_append_output(output, msg, routine, logger))
            return tws_validator_drop(msg);
    }
    return EA_SUCCESS;
}

// The receive validator's steps: frames and control records from the network thread, in
// arrival order, to the session layer.
struct tws_receive_steps : worker_steps
{
    enum
    {
        FROM_NETWORK = 0,
        TO_USER_SESSION = 1,
        LOCAL_COUNT = 2,
    };
    tws_receive_validate_thread_args *args;
    logger_object *logger;
    queue *locals[LOCAL_COUNT] = {};
    log_hold *held_lines;

    explicit tws_receive_steps(tws_receive_validate_thread_args *thread_args)
        : args(thread_args), logger(thread_args->logger),
          held_lines(log_hold_create(thread_args->slot_count, thread_args->book))
    {
    }
    ~tws_receive_steps() { log_hold_destroy(held_lines); }
    tws_receive_steps(const tws_receive_steps &) = delete;
    tws_receive_steps &operator=(const tws_receive_steps &) = delete;

    ea_status wait()
    {
        const ea_status status = shared_queue_get_elements_from_single_queue(
            args->from_network, locals[FROM_NETWORK], args->wait_time_ms);
        if (status == EA_NO_DATA || status == EA_SUCCESS)
            return status;
        if (status == EA_ERROR)
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                      "shared_queue_get_elements_from_single_queue return ERROR");
        else
            EA_LOG_IN(routine, logger, EA_LEVEL_BUSINESS_ERROR, "Default case occurs: Surely a Bug");
        return EA_ERROR;
    }

    // Where the lines about a record go: held while its connection has not signed on.
    log_hold_entry *held_of(const message *msg)
    {
        if (msg->tag == BOX_LOGOFF_FLUSH)
            return nullptr;
        log_hold_entry *held = log_hold_of_record(held_lines, msg);
        if (msg->tag == CLIENT_DISCONNECTED)
            log_hold_set_reason(held, msg->reason_code);
        return held;
    }

    // One record from the network thread; a frame that fails its checks goes on as a
    // CLIENT_VALIDATION_FAILURE.
    ea_status check(message *msg)
    {
        switch (msg->tag)
        {
        case NORMAL_MESSAGE:
            return tws_receive_check_frame(msg, routine, logger, held_of(msg)) ? EA_SUCCESS : EA_ERROR;
        case USER_LOGOFF_FLUSH:
        case BOX_LOGOFF_FLUSH:
        case CLIENT_DISCONNECTED:
        case SECONDARY_JOURNAL_DOWNLOAD_REQUEST:
            EA_LOG_HELD_IN(routine, held_of(msg), logger, EA_LEVEL_EVENT,
                           "Received %s message from network layer.", tws_tag_name(msg->tag));
            return EA_SUCCESS;
        default:
            EA_LOG_IN(routine, logger, EA_LEVEL_BUSINESS_ERROR,
                      "UNKNOWN MESSAGE TAG [%d]. Surely a Bug: tws nw handle [%d], sequence number [%lu]",
                      msg->tag, msg->workstation_network_handle,
                      static_cast<unsigned long>(msg->sequence_number));
            return EA_ERROR;
        }
    }

    ea_status process()
    {
        if (tws_pass_each(locals[FROM_NETWORK], locals[TO_USER_SESSION], routine, logger,
                          [this](message *msg) { return check(msg); }) != EA_SUCCESS)
            return EA_ERROR;
        return tws_flush_output(args->to_user_session, locals[TO_USER_SESSION], routine, logger) ? EA_SUCCESS
                                                                                                 : EA_ERROR;
    }

    ea_status each_pass()
    {
        log_hold_pass(held_lines, routine, logger);
        return EA_SUCCESS;
    }

    void at_stop() { log_hold_stop(held_lines, routine, logger); }
};

// The send validator's steps: the session layer's records get their network header, box
// communication's CONNECTION_ACCEPT becomes an invitation frame; both go to the network
// thread in one batch a pass, the session layer's first.
struct tws_send_steps : worker_steps
{
    enum
    {
        FROM_USER_SESSION = 0,
        FROM_BOX_COMM = 1,
        OUTPUT = 2,
        LOCAL_COUNT = 3,
    };
    tws_send_validate_thread_args *args;
    logger_object *logger;
    queue *locals[LOCAL_COUNT] = {};
    shared_queue *inputs[2];
    // What is written about connections not signed on, held until they do, and the lines
    // about admissions, folded.
    log_hold *held_lines;
    log_fold admission_lines = {};

    explicit tws_send_steps(tws_send_validate_thread_args *thread_args)
        : args(thread_args),
          logger(thread_args->logger), inputs{thread_args->from_user_session, thread_args->from_box_comm},
          held_lines(log_hold_create(thread_args->slot_count, thread_args->book))
    {
    }
    ~tws_send_steps() { log_hold_destroy(held_lines); }
    tws_send_steps(const tws_send_steps &) = delete;
    tws_send_steps &operator=(const tws_send_steps &) = delete;

    ea_status wait()
    {
        const ea_status status =
            shared_queue_get_elements_from_multiple_queues(inputs, 2, locals, args->wait_time_ms);
        if (status == EA_NO_DATA || status == EA_SUCCESS)
            return status;
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                  "shared_queue_get_elements_from_multiple_queues returned ERROR");
        return EA_ERROR;
    }

    // One record from the session layer: a data record gets its network header, a control
    // record passes as it is.
    ea_status frame_from_session(message *msg)
    {
        switch (msg->tag)
        {
        case NORMAL_MESSAGE:
            EA_LOG_HELD_IN(routine, log_hold_of_record(held_lines, msg), logger, EA_LEVEL_ACTIVITY,
                           "Received NORMAL_MESSAGE message from Session Layer.");
            if (!tws_put_network_header(msg, routine, logger))
                return EA_ERROR;
            EA_LOG_HELD_IN(routine, log_hold_of_record(held_lines, msg), logger, EA_LEVEL_ACTIVITY,
                           "Checksum applied successfully.");
            return EA_SUCCESS;
        case BOX_LOGOFF_FLUSH:
            EA_LOG_IN(routine, logger, EA_LEVEL_EVENT, "Received %s message from session layer.",
                      tws_tag_name(msg->tag));
            return EA_SUCCESS;
        case USER_LOGOFF_FLUSH:
        case DROP_CLIENT:
        case UPDATE_LINK_INDEX:
        case SECONDARY_JOURNAL_DOWNLOAD_REQUEST:
        {
            log_hold_entry *held = log_hold_of_record(held_lines, msg);
            if (msg->tag == USER_LOGOFF_FLUSH || msg->tag == DROP_CLIENT)
                log_hold_set_reason(held, msg->reason_code);
            EA_LOG_HELD_IN(routine, held, logger, EA_LEVEL_EVENT, "Received %s message from session layer.",
                           tws_tag_name(msg->tag));
            return EA_SUCCESS;
        }
        default:
            EA_LOG_IN(
                routine, logger, EA_LEVEL_SYSTEM_ERROR,
                "UNKNOWN MESSAGE TAG :Message tag is [%d] Surely a Bug. tws nw handle [%d] user [%ld], sequence number [%lu]",
                msg->tag, msg->workstation_network_handle,
                static_cast<long>(static_cast<int32_t>(msg->user_id)),
                static_cast<unsigned long>(msg->sequence_number));
            return EA_ERROR;
        }
    }

    ea_status take_session_records()
    {
        return tws_pass_each(locals[FROM_USER_SESSION], locals[OUTPUT], routine, logger,
                             [this](message *msg) { return frame_from_session(msg); });
    }

    // CONNECTION_ACCEPT is replaced by a fresh invitation frame.
    ea_status invite(message *accept)
    {
        EA_LOG_FOLDED_IN(routine, &admission_lines, logger, EA_LEVEL_EVENT,
                         "Received  CONNECTION_ACCEPT message");
        message_destroy(accept);
        message *invitation = tws_build_invitation(args->invitation_count, routine, logger);
        if (invitation == nullptr)
            return EA_ERROR;
        if (!tws_append_output(locals[OUTPUT], invitation, routine, logger))
            return tws_validator_drop(invitation);
        EA_LOG_FOLDED_IN(routine, &admission_lines, logger, EA_LEVEL_EVENT,
                         "Forwarded CONNECTION_ACCEPT message to network layer");
        return EA_SUCCESS;
    }

    ea_status pass_reject(message *reject)
    {
        EA_LOG_FOLDED_IN(routine, &admission_lines, logger, EA_LEVEL_EVENT,
                         "Received NEW_CONNECTION_REJECT Message");
        if (!tws_append_output(locals[OUTPUT], reject, routine, logger))
            return tws_validator_drop(reject);
        EA_LOG_FOLDED_IN(routine, &admission_lines, logger, EA_LEVEL_EVENT,
                         "Forwarded NEW_CONNECTION_REJECT message");
        return EA_SUCCESS;
    }

    ea_status take_box_comm_records()
    {
        while (message *msg = static_cast<message *>(queue_remove_head(locals[FROM_BOX_COMM])))
        {
            ea_status status = EA_ERROR;
            if (msg->tag == CONNECTION_ACCEPT)
                status = invite(msg);
            else if (msg->tag == NEW_CONNECTION_REJECT)
                status = pass_reject(msg);
            else
            {
                EA_LOG_IN(routine, logger, EA_LEVEL_BUSINESS_ERROR,
                          "UNKNOWN MESSAGE TAG:Message tag is[%d] Surely a Bug", msg->tag);
                tws_validator_drop(msg);
            }
            if (status != EA_SUCCESS)
                return EA_ERROR;
        }
        return EA_SUCCESS;
    }

    ea_status process()
    {
        if (take_session_records() != EA_SUCCESS || take_box_comm_records() != EA_SUCCESS)
            return EA_ERROR;
        return tws_flush_output(args->to_network, locals[OUTPUT], routine, logger) ? EA_SUCCESS : EA_ERROR;
    }

    ea_status each_pass()
    {
        log_hold_pass(held_lines, routine, logger);
        log_fold_report_admissions(&admission_lines, routine, logger, false);
        return EA_SUCCESS;
    }

    void at_stop()
    {
        log_hold_stop(held_lines, routine, logger);
        log_fold_report_admissions(&admission_lines, routine, logger, true);
    }
};

} // namespace

uint32_t tws_receive_validate_thread(void *argument)
{
    return worker_thread_main_checked<tws_receive_steps, tws_receive_validate_thread_args>(
        argument, __func__, "input local queue is not created");
}

uint32_t tws_send_validate_thread(void *argument)
{
    return worker_thread_main_checked<tws_send_steps, tws_send_validate_thread_args>(
        argument, __func__, "input local queue is not created");
}
