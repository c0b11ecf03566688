// user_signon_response: the gateway's own answer (transcode 2301) to a sign-on request
// that it refuses without asking the exchange, with an error code and a reason text,
// addressed back to the connection the request came from.
#pragma once

#include <cstdint>

struct logger_object;
struct message;

enum : uint32_t
{
    SIGNON_RESPONSE_LENGTH = 182,
    SIGNON_RESPONSE_BLANKS = 40, // fourteen blanks
    SIGNON_RESPONSE_BLANKS_SIZE = 14,
    SIGNON_RESPONSE_TEXT = 54,
    SIGNON_RESPONSE_TEXT_SIZE = 128,
};

// A new NORMAL_MESSAGE record for the request's connection, or null ("message_create
// failed"). The request is neither changed nor freed.
message *user_signon_response_create(const message *request, int16_t error_code, logger_object *logger);
