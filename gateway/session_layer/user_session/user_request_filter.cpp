// What a signed-on user may send (see user_request_filter.h). The host link keeps every
// transcode above 18000: 18001 to 22999 are the trimmed forms, whose length the host takes
// from the transcode, and 23000 and above are the box's and the host session's own
// records. A transcode of 0 or below is no record a user can mean, and a negative lead
// marks a compressed entry in a packet.
#include "gateway/session_layer/user_session/user_request_filter.h"

#include "gateway/business_processing_layer/vrx_record.h"

user_request_verdict user_request_filter_check(int16_t transcode)
{
    if (transcode == TRANSCODE_SIGN_ON_REQUEST)
        return USER_REQUEST_SECOND_SIGN_ON;
    if (transcode <= 0 || transcode > TRANSCODE_TRIMMED_OFFSET)
        return USER_REQUEST_HOST_LINK_RECORD;
    return USER_REQUEST_ALLOWED;
}
