// The console packet (kova_console_packet): the records that the gateway and the operator
// console exchange, and the console event record kept in the day's event log file. Every
// number is little-endian (the machine order of the system's Windows design), written and read with the
// *_le helpers of wire.h; these offsets are the one place the layout stands.
#pragma once

#include <cstdint>

enum : uint32_t
{
    KOVA_OFFSET_LENGTH = 0,     // u16: the whole packet, these two bytes included
    KOVA_OFFSET_TRANSCODE = 20, // u16
    KOVA_OFFSET_TIME = 22,      // u32: seconds since 1970 (UTC); 0 in the version check
    KOVA_REQUEST_MIN_READ = 22, // a request is read up to the transcode only

    // USER_INFORMATION_*: [28] u16 0; data: [30] u32 user id, [34] u16 logon status
    KOVA_USER_OFFSET_KIND = 28,
    KOVA_USER_OFFSET_USER_ID = 30,
    KOVA_USER_OFFSET_LOGON_STATUS = 34,

    // BOX_INFORMATION_HEADER: [28] u16 1, [34] u16 box id, [36] u16 link index
    KOVA_BOX_HEADER_OFFSET_KIND = 28,
    KOVA_BOX_HEADER_OFFSET_BOX_ID = 34,
    KOVA_BOX_HEADER_OFFSET_LINK_INDEX = 36,
    // BOX_INFORMATION_DATA: [30] u16 box id, [32] u16 box status
    KOVA_BOX_DATA_OFFSET_BOX_ID = 30,
    KOVA_BOX_DATA_OFFSET_BOX_STATUS = 32,
    // BOX_INFORMATION_RESPONSE: [34] u16 box id
    KOVA_BOX_RESPONSE_OFFSET_BOX_ID = 34,

    // VERSION_CHECK_MESSAGE: [30] u32 version number
    KOVA_VERSION_OFFSET_NUMBER = 30,

    // KOVA_LOG_MESSAGE: [30] u16 box id, [32] u32 user id, [36] u16 reason code, [38] u32 extra info
    KOVA_LOG_OFFSET_BOX_ID = 30,
    KOVA_LOG_OFFSET_USER_ID = 32,
    KOVA_LOG_OFFSET_REASON_CODE = 36,
    KOVA_LOG_OFFSET_EXTRA_INFO = 38,
};

// Packet lengths.
enum : uint16_t
{
    KOVA_USER_INFORMATION_HEADER_LENGTH = 40,
    KOVA_USER_INFORMATION_DATA_LENGTH = 36,
    KOVA_USER_INFORMATION_RESPONSE_LENGTH = 40,
    KOVA_BOX_INFORMATION_HEADER_LENGTH = 40,
    KOVA_BOX_INFORMATION_DATA_LENGTH = 34,
    KOVA_BOX_INFORMATION_RESPONSE_LENGTH = 40,
    KOVA_VERSION_CHECK_MESSAGE_LENGTH = 34,
    KOVA_LOG_MESSAGE_LENGTH = 42,
};

// Transcodes.
enum : uint16_t
{
    KOVA_LOG_MESSAGE = 10000,
    USER_INFORMATION_REQUEST = 10001,
    VERSION_CHECK_MESSAGE = 10002,
    USER_INFORMATION_HEADER = 10003,
    USER_INFORMATION_DATA = 10004,
    USER_INFORMATION_RESPONSE = 10005,
    BOX_INFORMATION_REQUEST = 6500,
    BOX_INFORMATION_HEADER = 6501,
    BOX_INFORMATION_DATA = 6502,
    BOX_INFORMATION_RESPONSE = 6503,
    QEL_APPLICATION_RESTART_TRANSCODE = 8000,
};

// Reason code of the console event that says how many events a console did not take in
// time were dropped (the count is its extra info); 13xxx are the gateway's own queues.
enum : uint16_t
{
    KOVA_REASON_EVENTS_DROPPED = 13003,
};

// The event log file: a u16 day of the month, then whole KOVA_LOG_MESSAGE packets.
enum : uint32_t
{
    KOVA_EVENT_LOG_DAY_SIZE = 2,
};
