// The reason-code table and the shared buffer of the default text.
#include "console/kova_reason_codes.h"

#include <cstdio>

namespace
{
char g_default_text[1024];
} // namespace

const char *ReasonCodeText(int32_t code)
{
    switch (code)
    {
    case 11000:
        return "Disconnected the user as user already signed on";
    case 11001:
        return "Disconnected the user as user id is invalid";
    case 11002:
        return "Disconnected the user as QEL has logged off";
    case 11003:
        return "Disconnected the user as the first message sent by the user is not Login Request";
    case 11004:
        return "Disconnected the user as user is logged off by the trading host";
    case 11005:
        return "Disconnected the user as user login failed";
    case 11006:
        return "Disconnected the user as user is not found in the user link mapping table";
    case 11007:
        return "Disconnected the user as logoff is initiated by the user";
    case 11008:
        return "Disconnected the user as all the links corresponding to the user are down";
    case 11009:
        return "User has disconnected. ";
    case 11010:
        return "Disconnected the user as more number of messages than invitation count were sent by the user.";
    case 11011:
        return "Disconnected the user as contents of the \"message length\" field of the received message are invalid";
    case 11012:
        return "Disconnected the user as number of response messages pending in QEL exceed the threshold";
    case 11013:
        return "Disconnected the user as number of users connected exceeded the maximum number of users configured.";
    case 11014:
        return "Disconnected the user as checksum verification for received message failed";
    case 11015:
        return "Disconnected the user as sequence number check for received message failed";
    case 11016:
        return "Disconnected the user as QEL was unable to login to the trading host.";
    case 11017:
        return "Disconnected the user as QEL is still logging on to the trading host";
    case 11018:
        return "The user successfully logged on to the trading host";
    case 11019:
        return "Did not receive response to User Status Query. Querying the user status again";
    case 11020:
        return "Did not receive response to User Logoff Request. Querying the user status.";
    case 11021:
        return "Disconnected the user as system is not allowing logon request";
    case 11022:
        return "Disconnected the user as number of users connected exceeded the maximum limit";
    case 11023:
        return "User status query request timed out";
    case 11024:
        return "Disconnected the user as the packet length is invalid";
    case 11025:
        return "Disconnected the user as the message header length is invalid";
    case 11026:
        return "Disconnected the user as the logon request is invalid.";
    case 12001:
        return "QEL failed to login to the trading host.";
    case 12002:
        return "QEL is logged off by the trading host";
    case 12003:
        return "QEL did not receive logon response from the trading host";
    case 12004:
        return "QEL has logged off as contents of the \"message length\" field of the message received from the trading host are invalid";
    case 12005:
        return "QEL has logged off as no response message was received from the host.";
    case 12006:
        return "QEL has logged off as checksum verification for message received from the host failed";
    case 12007:
        return "QEL has logged off as sequence number check for message received from the trading host failed";
    case 12008:
        return "QEL has logged off as it was disconnected from the trading host.";
    case 12009:
        return "QEL is unable to connect to the trading host";
    case 12010:
        return "QEL successfully logged on to the trading host";
    case 12011:
        return "System is not ready to accept requests";
    case 12012:
        return "System is ready to accept requests";
    case 12013:
        return "QEL has logged off as message with insufficient length was received from the trading host";
    case 12015:
        return "QEL is expecting configuration parameters from the trading host";
    case 12016:
        return "Configuration parameters received and updated successfully";
    case 12017:
        return "QEL failed to update the configuration parameters";
    case 12018:
        return "Qel has logged off as no heart beat message was received from the trading host";
    case 13001:
        return "Communication queue build up detected inside QEL. System in abnormal condition";
    case 13002:
        return "Communication queue size inside QEL is reduced to normal. System is now in normal condition";
    default:
        snprintf(g_default_text, sizeof g_default_text, "No description for reason code [%d]", code);
        return g_default_text;
    }
}
