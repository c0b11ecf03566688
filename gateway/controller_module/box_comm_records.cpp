// Builders of the box records the gateway sends to the trading host. The host network
// layer gives the record its connection's handle when it connects; until then it is -1.
#include "gateway/controller_module/box_comm_records.h"

#include <cstring>

#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"
#include "gateway/shared/qel_version.h"
#include "gateway/shared/user_link_info.h"

// Count, transcode, box id, space-filled broker id, a zero byte, the version, two zero words.
static void box_comm_write_sign_on_fields(const box_comm_info_container *container, uint8_t *data,
                                          int16_t transcode)
{
    put_u16_be(data, BOX_RECORD_COUNT, 1);
    put_i16_be(data, BOX_RECORD_TRANSCODE, transcode);
    put_u16_be(data, BOX_RECORD_BOX_ID, container->box_id);
    memset(data + BOX_SIGN_ON_BROKER_ID, ' ', BOX_SIGN_ON_BROKER_ID_WIDTH);
    size_t broker_length = strnlen(container->broker_id, BOX_SIGN_ON_BROKER_ID_WIDTH);
    memcpy(data + BOX_SIGN_ON_BROKER_ID, container->broker_id, broker_length);
    data[BOX_SIGN_ON_BROKER_ID + BOX_SIGN_ON_BROKER_ID_WIDTH] = 0;
    put_i32_be(data, BOX_SIGN_ON_VERSION, container->version_number);
    put_u32_be(data, 16, 0);
    put_u32_be(data, 20, 0);
}

static message *box_comm_new_record(uint32_t length, uint16_t tag, uint16_t link_index, int16_t transcode,
                                    logger_object *logger)
{
    message *msg = message_create(length, tag);
    if (msg == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return nullptr;
    }
    memset(msg->data, 0, length);
    msg->link_index = link_index;
    msg->host_network_handle = -1;
    msg->packing_weight = 1;
    msg->transcode = transcode;
    return msg;
}

message *box_comm_info_container_create_box_logon_message(box_comm_info_container *container,
                                                          uint16_t link_index, logger_object *logger)
{
    message *msg = box_comm_new_record(BOX_SIGN_ON_REQUEST_SIZE, BOX_LOGON_REQUEST, link_index,
                                       TRANSCODE_BOX_SIGN_ON_REQUEST, logger);
    if (msg == nullptr)
        return nullptr;
    box_comm_write_sign_on_fields(container, msg->data, TRANSCODE_BOX_SIGN_ON_REQUEST);
    container->box_comm_info_array[link_index].next_expected_transcode = TRANSCODE_BOX_SIGN_ON_RESPONSE;
    return msg;
}

message *box_comm_info_container_create_box_relogon_message(box_comm_info_container *container,
                                                            uint16_t link_index, logger_object *logger)
{
    link_info_record link;
    if (user_link_info_get_link_info(container->link_table, link_index, &link) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Link info record for link [%u] not found.", link_index);
        return nullptr;
    }
    message *msg = box_comm_new_record(BOX_RELOGON_REQUEST_SIZE, BOX_RELOGON_REQUEST, link_index,
                                       TRANSCODE_BOX_RELOGON_REQUEST, logger);
    if (msg == nullptr)
        return nullptr;
    box_comm_write_sign_on_fields(container, msg->data, TRANSCODE_BOX_RELOGON_REQUEST);
    memset(msg->data + BOX_RELOGON_ADDRESS, ' ', BOX_RELOGON_ADDRESS_WIDTH);
    size_t address_length = strnlen(link.machine_wan_ip, sizeof(link.machine_wan_ip));
    memcpy(msg->data + BOX_RELOGON_ADDRESS, link.machine_wan_ip, address_length);
    return msg;
}

message *box_comm_info_container_create_rate_control_heart_beat(box_comm_info_container *,
                                                                uint16_t link_index, logger_object *logger)
{
    message *msg = box_comm_new_record(RATE_CONTROL_HEART_BEAT_SIZE, NORMAL_MESSAGE, link_index,
                                       TRANSCODE_RATE_CONTROL_HEART_BEAT, logger);
    if (msg == nullptr)
        return nullptr;
    put_u16_be(msg->data, BOX_RECORD_COUNT, 1);
    put_i16_be(msg->data, BOX_RECORD_TRANSCODE, TRANSCODE_RATE_CONTROL_HEART_BEAT);
    return msg;
}

int32_t box_comm_record_field(const message *msg, uint32_t offset, int32_t missing)
{
    if (static_cast<uint32_t>(msg->data_length) < offset + 2)
        return missing;
    return get_i16_be(msg->data, offset);
}
