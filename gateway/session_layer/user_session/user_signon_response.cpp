// The gateway-built sign-on response: a 182-byte VRX record in the internal header order,
// whose numbers are big-endian and whose unlisted bytes are zero.
#include "gateway/session_layer/user_session/user_signon_response.h"

#include <cstdio>
#include <cstring>

#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"

// The reason text for an error code; an empty text for codes without one.
static void user_signon_response_text(int16_t error_code, int32_t user_id, char *text, size_t size)
{
    switch (error_code)
    {
    case VRX_ERROR_ALREADY_SIGNED_ON:
        snprintf(text, size, "The user is already signed on.");
        break;
    case VRX_ERROR_NO_SUCH_DEALER:
        snprintf(text, size, "Dealer does not exist in the MOLV system.User id %ld is invalid",
                 static_cast<long>(user_id));
        break;
    case VRX_ERROR_TRY_AGAIN:
        snprintf(text, size, "System not able to complete your request. Please try again.");
        break;
    default:
        text[0] = '\0';
        break;
    }
}

message *user_signon_response_create(const message *request, int16_t error_code, logger_object *logger)
{
    message *response = message_create(SIGNON_RESPONSE_LENGTH, NORMAL_MESSAGE);
    if (response == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return nullptr;
    }
    uint8_t *data = response->data;
    memset(data, 0, SIGNON_RESPONSE_LENGTH);
    put_u32_be(data, VRX_INTERNAL_USER_ID, request->user_id);
    data[VRX_INTERNAL_CHARS] = ' ';
    data[VRX_INTERNAL_CHARS + 1] = ' ';
    put_i16_be(data, VRX_INTERNAL_TRANSCODE, TRANSCODE_SIGN_ON_RESPONSE);
    put_i16_be(data, VRX_INTERNAL_ERROR_CODE, error_code);
    // The three time fields stay 0.0, which is all zero bytes.
    put_u16_be(data, VRX_INTERNAL_LENGTH, static_cast<uint16_t>(SIGNON_RESPONSE_LENGTH));
    memset(data + SIGNON_RESPONSE_BLANKS, ' ', SIGNON_RESPONSE_BLANKS_SIZE);

    char text[SIGNON_RESPONSE_TEXT_SIZE + 1];
    user_signon_response_text(error_code, static_cast<int32_t>(request->user_id), text, sizeof(text));
    memcpy(data + SIGNON_RESPONSE_TEXT, text, strlen(text));

    response->transcode = TRANSCODE_SIGN_ON_RESPONSE;
    response->user_id = request->user_id;
    response->user_type = request->user_type;
    response->workstation_network_handle = request->workstation_network_handle;
    response->link_index = request->link_index;
    response->workstation_index = request->workstation_index;
    return response;
}
