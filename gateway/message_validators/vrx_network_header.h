// The network header: 22 bytes in front of every frame on the host link and on the
// workstation link. Total frame length, the sequence numbers, then the MD5 digest of
// everything behind the header; numbers in network byte order. The digest leaves the
// length and sequence fields out, so a layer may rewrite them after it was applied.
#pragma once

#include <cstdint>

enum : uint32_t
{
    VRX_NETWORK_HEADER_SIZE = 22,
    VRX_NH_LENGTH = 0,               // u16: the whole frame, header included
    VRX_NH_NETWORK_SEQUENCE = 2,     // host link: u16 session sequence number of this frame
    VRX_NH_LAST_SEQUENCE = 4,        // host link: u16 last sequence number received
    VRX_NH_WORKSTATION_SEQUENCE = 2, // workstation link: one u32 over bytes 2 to 5
    VRX_NH_DIGEST = 6,               // 16 bytes of MD5
    VRX_NH_MIN_FRAME_LENGTH = 3,     // length fields the network layers accept
    VRX_NH_MAX_FRAME_LENGTH = 2047,
};
