// user_request_filter: what a signed-on user may send towards the host. Users share the
// box's host link: a record that speaks for the box (its sign-on, relogon, heart beats,
// parameters, rates, status queries and their answers), a trimmed-form record, or one
// whose lead the host reads as a compressed entry changes the box's conversation with
// the host or the reading of every record packed behind it, so such records never leave
// the user session layer. Neither does a second sign-on on a session that has its user.
#pragma once

#include <cstdint>

enum user_request_verdict
{
    USER_REQUEST_ALLOWED = 0,
    USER_REQUEST_HOST_LINK_RECORD, // a transcode the host link keeps for itself
    USER_REQUEST_SECOND_SIGN_ON,   // 2300 on a session whose user is already admitted
};

// The verdict on a request of a connection whose user has been admitted.
user_request_verdict user_request_filter_check(int16_t transcode);
