// The gateway's own sign-on response: its bytes from the record layout, its reason texts
// and its addressing back to the requesting connection.
#include "gateway/session_layer/user_session/user_signon_response.h"

#include <gtest/gtest.h>

#include <string>

#include "gateway/runtime/message.h"
#include "support/hex.h"
#include "user_session_test_support.h"

using qel_test::hex_digits;
using qel_test::to_hex;

namespace
{

// user id, 0, "  ", 2301, error code, three zero doubles, length 182, fourteen blanks.
std::string expected_head(const std::string &user_id_hex, const std::string &error_hex)
{
    return user_id_hex + "00000000" + "2020" + "08FD" + error_hex + std::string(48, '0') + "00B6" +
           "2020202020202020202020202020";
}

struct response_case
{
    uint32_t user_id;
    int16_t error_code;
    const char *user_id_hex;
    const char *error_hex;
    const char *text;
};

const response_case kCases[] = {
    {12345, 16004, "00003039", "3E84", "The user is already signed on."},
    {0, 16042, "00000000", "3EAA", "Dealer does not exist in the MOLV system.User id 0 is invalid"},
    {0xFFFFFFF9u, 16042, "FFFFFFF9", "3EAA",
     "Dealer does not exist in the MOLV system.User id -7 is invalid"},
    {42, 16123, "0000002A", "3EFB", "System not able to complete your request. Please try again."},
    {42, 16001, "0000002A", "3E81", ""},
};

} // namespace

TEST(UserSignonResponse, BytesFollowTheRecordLayout)
{
    for (const response_case &c : kCases)
    {
        SCOPED_TRACE(c.error_code);
        message *request = message_create(60, NORMAL_MESSAGE);
        request->user_id = c.user_id;
        message *response = user_signon_response_create(request, c.error_code, nullptr);
        ASSERT_NE(response, nullptr);
        ASSERT_EQ(response->data_length, 182);
        EXPECT_EQ(to_hex(response->data, 54), hex_digits(expected_head(c.user_id_hex, c.error_hex)));
        std::string text(reinterpret_cast<const char *>(response->data + 54), strlen(c.text));
        EXPECT_EQ(text, c.text);
        for (size_t i = 54 + strlen(c.text); i < 182; i++)
            ASSERT_EQ(response->data[i], 0) << "byte " << i;
        message_destroy(response);
        message_destroy(request);
    }
}

TEST(UserSignonResponse, GoesBackToTheRequestingConnection)
{
    message *request = message_create(60, NORMAL_MESSAGE);
    request->user_id = 99;
    request->workstation_network_handle = 1234;
    request->workstation_index = 6;
    request->link_index = 1;
    request->user_type = 1;
    message *response = user_signon_response_create(request, 16004, nullptr);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->tag, NORMAL_MESSAGE);
    EXPECT_EQ(response->transcode, 2301);
    EXPECT_EQ(response->user_id, 99u);
    EXPECT_EQ(response->workstation_network_handle, 1234);
    EXPECT_EQ(response->workstation_index, 6);
    EXPECT_EQ(response->link_index, 1);
    EXPECT_EQ(response->user_type, 1);
    EXPECT_EQ(request->data_length, 60); // the request is left as it was
    message_destroy(response);
    message_destroy(request);
}
