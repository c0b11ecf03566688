// Which transcodes a signed-on user may send towards the host: the box's and the host
// session's own records, the trimmed forms and the leads of compressed entries are kept
// from users, and so is a second sign-on; every business transcode passes.
#include "gateway/session_layer/user_session/user_request_filter.h"

#include <gtest/gtest.h>

namespace
{

struct filter_case
{
    int16_t transcode;
    user_request_verdict verdict;
    const char *what;
};

const filter_case kCases[] = {
    // The box's conversation with the host and the host session's records.
    {23000, USER_REQUEST_HOST_LINK_RECORD, "box sign-on request"},
    {23001, USER_REQUEST_HOST_LINK_RECORD, "box sign-on response"},
    {23002, USER_REQUEST_HOST_LINK_RECORD, "user status query"},
    {23003, USER_REQUEST_HOST_LINK_RECORD, "user status query response"},
    {23004, USER_REQUEST_HOST_LINK_RECORD, "rate-control heart beat"},
    {23006, USER_REQUEST_HOST_LINK_RECORD, "host heart beat"},
    {23007, USER_REQUEST_HOST_LINK_RECORD, "box parameters"},
    {23502, USER_REQUEST_HOST_LINK_RECORD, "box relogon request"},
    {23503, USER_REQUEST_HOST_LINK_RECORD, "box relogon response"},
    {23504, USER_REQUEST_HOST_LINK_RECORD, "rate control update"},
    {23506, USER_REQUEST_HOST_LINK_RECORD, "gateway heart beat"},
    {20322, USER_REQUEST_HOST_LINK_RECORD, "box sign-off response"},
    {25003, USER_REQUEST_HOST_LINK_RECORD, "host acknowledgement"},
    {32767, USER_REQUEST_HOST_LINK_RECORD, "highest transcode"},
    // Trimmed forms, whose length the host takes from the transcode.
    {18001, USER_REQUEST_HOST_LINK_RECORD, "first trimmed form"},
    {20000, USER_REQUEST_HOST_LINK_RECORD, "trimmed order entry"},
    {20222, USER_REQUEST_HOST_LINK_RECORD, "trimmed trade record"},
    {22999, USER_REQUEST_HOST_LINK_RECORD, "last trimmed form"},
    // No record: a negative lead marks a compressed entry.
    {0, USER_REQUEST_HOST_LINK_RECORD, "zero"},
    {-1, USER_REQUEST_HOST_LINK_RECORD, "negative"},
    {-32768, USER_REQUEST_HOST_LINK_RECORD, "lowest"},
    // A second sign-on on a session that has its user.
    {2300, USER_REQUEST_SECOND_SIGN_ON, "sign-on request"},
    // What users send.
    {1, USER_REQUEST_ALLOWED, "lowest positive"},
    {1600, USER_REQUEST_ALLOWED, "system information"},
    {2000, USER_REQUEST_ALLOWED, "order entry"},
    {2040, USER_REQUEST_ALLOWED, "order modification"},
    {2070, USER_REQUEST_ALLOWED, "order cancellation"},
    {2100, USER_REQUEST_ALLOWED, "spread order"},
    {2320, USER_REQUEST_ALLOWED, "sign-off request"},
    {4000, USER_REQUEST_ALLOWED, "exercise"},
    {7000, USER_REQUEST_ALLOWED, "journal download"},
    {7777, USER_REQUEST_ALLOWED, "short-header record"},
    {18000, USER_REQUEST_ALLOWED, "last value outside the trimmed forms"},
};

TEST(UserRequestFilter, KeepsTheHostLinksTranscodesAndASecondSignOnFromUsers)
{
    for (const filter_case &c : kCases)
        EXPECT_EQ(user_request_filter_check(c.transcode), c.verdict) << c.transcode << " " << c.what;
}

} // namespace
