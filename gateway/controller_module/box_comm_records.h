// The box records exchanged with the trading host: the three the gateway sends (box
// sign-on request, box relogon request, rate-control heart beat) and the fields it reads
// from the five the host sends. Each travels as a packet of one record: the data starts
// with the 16-bit record count, then the record with its transcode. Big-endian throughout;
// offsets count from the start of the data, the count included.
#pragma once

#include <cstdint>

struct box_comm_info_container;
struct logger_object;
struct message;

enum : uint32_t
{
    BOX_RECORD_COUNT = 0,
    BOX_RECORD_TRANSCODE = 2,
    BOX_RECORD_BOX_ID = 4,

    // Box sign-on request (23000) and the first 24 bytes of the relogon request (23502).
    BOX_SIGN_ON_REQUEST_SIZE = 24,
    BOX_SIGN_ON_BROKER_ID = 6,
    BOX_SIGN_ON_BROKER_ID_WIDTH = 5,
    BOX_SIGN_ON_VERSION = 12,

    BOX_RELOGON_REQUEST_SIZE = 46,
    BOX_RELOGON_ADDRESS = 24,
    BOX_RELOGON_ADDRESS_WIDTH = 18,
    BOX_RELOGON_LEAST_SEND_SEQ_NO = 42, // written by the host session layer
    BOX_RELOGON_LAST_RECV_SEQ_NO = 44,  // written by the host session layer

    RATE_CONTROL_HEART_BEAT_SIZE = 6,

    // Fields read from the host's records.
    BOX_SIGN_ON_RESPONSE_ERROR_CODE = 6,
    BOX_SIGN_ON_RESPONSE_RECOVERY_FLAG = 16, // 'E' = session recovery enabled
    BOX_PARAMETERS_BASE_RATE = 4,
    BOX_PARAMETERS_MAX_USERS = 6,
    BOX_PARAMETERS_BOX_ID = 8,
    BOX_RELOGON_RESPONSE_ERROR_CODE = 6,
    BOX_RELOGON_RESPONSE_LAST_SEQ_NO = 20,
    BOX_SIGN_OFF_RESPONSE_ERROR_CODE = 10,
    RATE_CONTROL_UPDATE_PERCENT = 4,
};

// The sign-on request; also sets the link's next expected transcode to 23001.
message *box_comm_info_container_create_box_logon_message(box_comm_info_container *container,
                                                          uint16_t link_index, logger_object *logger);
message *box_comm_info_container_create_box_relogon_message(box_comm_info_container *container,
                                                            uint16_t link_index, logger_object *logger);
message *box_comm_info_container_create_rate_control_heart_beat(box_comm_info_container *container,
                                                                uint16_t link_index, logger_object *logger);

// A host record's 16-bit field, or `missing` when the data is too short to hold it.
int32_t box_comm_record_field(const message *msg, uint32_t offset, int32_t missing);
