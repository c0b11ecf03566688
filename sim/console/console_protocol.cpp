// The simulated console's own encoding, decoding and checking of console packets.
#include "sim/console/console_protocol.h"

#include <cstdio>
#include <utility>

namespace sim_console
{
namespace
{
struct field
{
    size_t offset;
    size_t width;
};

struct layout
{
    uint16_t transcode;
    uint16_t length;
    const char *name;
    std::vector<field> fields; // besides length, transcode and time
};

const std::vector<layout> &layouts()
{
    static const std::vector<layout> table = {
        {TC_USER_INFORMATION_HEADER, 40, "USER_INFORMATION_HEADER", {{28, 2}}},
        {TC_USER_INFORMATION_DATA, 36, "USER_INFORMATION_DATA", {{28, 2}, {30, 4}, {34, 2}}},
        {TC_USER_INFORMATION_RESPONSE, 40, "USER_INFORMATION_RESPONSE", {{28, 2}}},
        {TC_BOX_INFORMATION_HEADER, 40, "BOX_INFORMATION_HEADER", {{28, 2}, {34, 2}, {36, 2}}},
        {TC_BOX_INFORMATION_DATA, 34, "BOX_INFORMATION_DATA", {{30, 2}, {32, 2}}},
        {TC_BOX_INFORMATION_RESPONSE, 40, "BOX_INFORMATION_RESPONSE", {{34, 2}}},
        {TC_VERSION_CHECK, 34, "VERSION_CHECK_MESSAGE", {{30, 4}}},
        {TC_KOVA_LOG_MESSAGE, 42, "KOVA_LOG_MESSAGE", {{30, 2}, {32, 4}, {36, 2}, {38, 4}}},
    };
    return table;
}

const layout *find_layout(uint16_t transcode)
{
    for (const layout &l : layouts())
    {
        if (l.transcode == transcode)
            return &l;
    }
    return nullptr;
}

const std::pair<uint16_t, const char *> k_reasons[] = {
    {11000, "Disconnected the user as user already signed on"},
    {11001, "Disconnected the user as user id is invalid"},
    {11002, "Disconnected the user as QEL has logged off"},
    {11003, "Disconnected the user as the first message sent by the user is not Login Request"},
    {11004, "Disconnected the user as user is logged off by the trading host"},
    {11005, "Disconnected the user as user login failed"},
    {11006, "Disconnected the user as user is not found in the user link mapping table"},
    {11007, "Disconnected the user as logoff is initiated by the user"},
    {11008, "Disconnected the user as all the links corresponding to the user are down"},
    {11009, "User has disconnected. "},
    {11010, "Disconnected the user as more number of messages than invitation count were sent by the user."},
    {11011,
     "Disconnected the user as contents of the \"message length\" field of the received message are invalid"},
    {11012, "Disconnected the user as number of response messages pending in QEL exceed the threshold"},
    {11013,
     "Disconnected the user as number of users connected exceeded the maximum number of users configured."},
    {11014, "Disconnected the user as checksum verification for received message failed"},
    {11015, "Disconnected the user as sequence number check for received message failed"},
    {11016, "Disconnected the user as QEL was unable to login to the trading host."},
    {11017, "Disconnected the user as QEL is still logging on to the trading host"},
    {11018, "The user successfully logged on to the trading host"},
    {11019, "Did not receive response to User Status Query. Querying the user status again"},
    {11020, "Did not receive response to User Logoff Request. Querying the user status."},
    {11021, "Disconnected the user as system is not allowing logon request"},
    {11022, "Disconnected the user as number of users connected exceeded the maximum limit"},
    {11023, "User status query request timed out"},
    {11024, "Disconnected the user as the packet length is invalid"},
    {11025, "Disconnected the user as the message header length is invalid"},
    {11026, "Disconnected the user as the logon request is invalid."},
    {12001, "QEL failed to login to the trading host."},
    {12002, "QEL is logged off by the trading host"},
    {12003, "QEL did not receive logon response from the trading host"},
    {12004,
     "QEL has logged off as contents of the \"message length\" field of the message received from the trading host are invalid"},
    {12005, "QEL has logged off as no response message was received from the host."},
    {12006, "QEL has logged off as checksum verification for message received from the host failed"},
    {12007, "QEL has logged off as sequence number check for message received from the trading host failed"},
    {12008, "QEL has logged off as it was disconnected from the trading host."},
    {12009, "QEL is unable to connect to the trading host"},
    {12010, "QEL successfully logged on to the trading host"},
    {12011, "System is not ready to accept requests"},
    {12012, "System is ready to accept requests"},
    {12013, "QEL has logged off as message with insufficient length was received from the trading host"},
    {12015, "QEL is expecting configuration parameters from the trading host"},
    {12016, "Configuration parameters received and updated successfully"},
    {12017, "QEL failed to update the configuration parameters"},
    {12018, "Qel has logged off as no heart beat message was received from the trading host"},
    {13001, "Communication queue build up detected inside QEL. System in abnormal condition"},
    {13002, "Communication queue size inside QEL is reduced to normal. System is now in normal condition"},
};

void put16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value)
{
    if (offset < bytes.size())
        bytes[offset] = static_cast<uint8_t>(value);
    if (offset + 1 < bytes.size())
        bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}
} // namespace

log_event decode_log_event(const packet &p)
{
    return log_event{p.u16(30), p.u32(32), p.u16(36), p.u32(38)};
}

std::vector<uint8_t> build_request(uint16_t transcode, uint16_t length)
{
    return build_frame(length, length, transcode);
}

std::vector<uint8_t> build_frame(uint16_t length_field, size_t size, uint16_t transcode)
{
    std::vector<uint8_t> bytes(size, 0);
    put16(bytes, 0, length_field);
    put16(bytes, 20, transcode);
    return bytes;
}

std::vector<uint8_t> build_version_message(uint32_t version)
{
    std::vector<uint8_t> bytes = build_frame(34, 34, TC_VERSION_CHECK);
    put16(bytes, 30, static_cast<uint16_t>(version));
    put16(bytes, 32, static_cast<uint16_t>(version >> 16));
    return bytes;
}

std::vector<uint8_t> build_log_event(const log_event &event, uint32_t time)
{
    std::vector<uint8_t> bytes = build_frame(42, 42, TC_KOVA_LOG_MESSAGE);
    put16(bytes, 22, static_cast<uint16_t>(time));
    put16(bytes, 24, static_cast<uint16_t>(time >> 16));
    put16(bytes, 30, event.box_id);
    put16(bytes, 32, static_cast<uint16_t>(event.user_id));
    put16(bytes, 34, static_cast<uint16_t>(event.user_id >> 16));
    put16(bytes, 36, event.reason_code);
    put16(bytes, 38, static_cast<uint16_t>(event.extra_info));
    put16(bytes, 40, static_cast<uint16_t>(event.extra_info >> 16));
    return bytes;
}

std::string reason_text(uint16_t code)
{
    for (const auto &reason : k_reasons)
    {
        if (reason.first == code)
            return reason.second;
    }
    char text[64];
    snprintf(text, sizeof text, "No description for reason code [%d]", code);
    return text;
}

std::string logon_status_text(uint16_t status)
{
    switch (status)
    {
    case 0:
        return "Logged Off.";
    case 1:
        return "Logoff in progress.";
    case 2:
        return "Logged on.";
    case 3:
        return "Logon in progress.";
    default:
        return "Unknown logon status " + std::to_string(status) + ".";
    }
}

std::string check_packet(const packet &p)
{
    if (p.bytes.size() < 26)
        return "packet of " + std::to_string(p.bytes.size()) + " bytes is shorter than a header";
    if (p.length() != p.bytes.size())
        return "length field " + std::to_string(p.length()) + " differs from the packet's " +
               std::to_string(p.bytes.size()) + " bytes";
    const layout *l = find_layout(p.transcode());
    if (l == nullptr)
        return "unknown transcode " + std::to_string(p.transcode());
    if (p.length() != l->length)
        return std::string(l->name) + " of " + std::to_string(p.length()) + " bytes, expected " +
               std::to_string(l->length);
    for (size_t i = 2; i < p.bytes.size(); ++i)
    {
        bool named = (i >= 20 && i < 26);
        for (const field &f : l->fields)
            named = named || (i >= f.offset && i < f.offset + f.width);
        if (!named && p.bytes[i] != 0)
            return std::string(l->name) + ": byte " + std::to_string(i) + " is not zero";
    }
    switch (p.transcode())
    {
    case TC_USER_INFORMATION_HEADER:
    case TC_USER_INFORMATION_DATA:
    case TC_USER_INFORMATION_RESPONSE:
        if (p.u16(28) != 0)
            return std::string(l->name) + ": field at 28 is not 0";
        break;
    case TC_BOX_INFORMATION_HEADER:
        if (p.u16(28) != 1)
            return "BOX_INFORMATION_HEADER: field at 28 is not 1";
        break;
    case TC_VERSION_CHECK:
        if (p.time() != 0)
            return "VERSION_CHECK_MESSAGE carries a time";
        break;
    default:
        break;
    }
    if (p.transcode() != TC_VERSION_CHECK && p.time() == 0)
        return std::string(l->name) + " carries no time";
    return "";
}

std::string describe(const packet &p)
{
    if (p.bytes.size() < 26)
        return "short packet of " + std::to_string(p.bytes.size()) + " bytes";
    const layout *l = find_layout(p.transcode());
    std::string text = l != nullptr ? l->name : "transcode " + std::to_string(p.transcode());
    char line[512];
    switch (p.transcode())
    {
    case TC_VERSION_CHECK:
        snprintf(line, sizeof line, " version %u (major %u minor %u)", p.u32(30), p.u32(30) / 100,
                 p.u32(30) % 100);
        text += line;
        break;
    case TC_USER_INFORMATION_DATA:
        snprintf(line, sizeof line, " user %d: %s", static_cast<int32_t>(p.u32(30)),
                 logon_status_text(p.u16(34)).c_str());
        text += line;
        break;
    case TC_BOX_INFORMATION_HEADER:
        snprintf(line, sizeof line, " box %u link %u", p.u16(34), p.u16(36));
        text += line;
        break;
    case TC_BOX_INFORMATION_DATA:
        snprintf(line, sizeof line, " box %u status %u", p.u16(30), p.u16(32));
        text += line;
        break;
    case TC_BOX_INFORMATION_RESPONSE:
        snprintf(line, sizeof line, " box %u", p.u16(34));
        text += line;
        break;
    case TC_KOVA_LOG_MESSAGE:
    {
        log_event e = decode_log_event(p);
        snprintf(line, sizeof line, " box %u user %d reason %u \"%s\" extra %d", e.box_id,
                 static_cast<int32_t>(e.user_id), e.reason_code, reason_text(e.reason_code).c_str(),
                 static_cast<int32_t>(e.extra_info));
        text += line;
        break;
    }
    default:
        break;
    }
    if (p.transcode() != TC_VERSION_CHECK)
    {
        snprintf(line, sizeof line, " at %u", p.time());
        text += line;
    }
    return text;
}

} // namespace sim_console
