// The gateway's binary logs as the suites read them back, with offsets written from the
// files' layout rather than taken from the logger: a 16-byte file header, then records,
// each a 102-byte header (its first two bytes the record's whole length, little-endian;
// the workstation index at 78 and the workstation network handle at 80) followed by the
// message it logs. A workstation thread logs whole frames: the 22-byte network header,
// then the VRX record (user id at 0, transcode at 10, both big-endian).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qel_test
{

struct binary_log_record
{
    uint16_t workstation_index = 0;
    int32_t workstation_handle = 0;
    std::vector<uint8_t> data; // the message as logged
};

// Every record of one logger's binary logs of a kind ("request" or "response") in a
// folder, file by file in name order. A file that does not end at a record's end is read
// up to its last whole record, and *damage (when given) names it.
std::vector<binary_log_record> binary_log_records(const std::string &folder, const std::string &logger_name,
                                                  const std::string &kind, std::string *damage = nullptr);

// Fields of a logged workstation frame; 0 when the frame is too short to hold them.
int16_t frame_transcode(const binary_log_record &record);
uint32_t frame_user_id(const binary_log_record &record);
// The user a sign-on request (2300) names: the first four bytes of the record's body.
uint32_t frame_sign_on_user(const binary_log_record &record);

} // namespace qel_test
