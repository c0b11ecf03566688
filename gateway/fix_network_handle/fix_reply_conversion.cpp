// Conversion of an exchange reply into the FIX message that goes to the client. Until the
// reply families have their converters, no transcode has one: the reply is logged and
// dropped (203), which the reply routing treats as a discarded record.
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/library/logger.h"
#include "gateway/library/message.h"

int32_t FixNwInfoClass::fixNwInfoGetFixMessage(message *msg, int16_t transcode, int16_t errorCode,
                                               FIX::Message **fixMessage, logger_object *logger)
{
    *fixMessage = nullptr;
    EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
           "Discarding the Message with transcode [%d] error code [%d] length [%u]: no FIX conversion for it",
           transcode, errorCode, static_cast<unsigned>(msg->data_length));
    return EA_VALID;
}
