// The sentence the operator sees for the reason code of a gateway event (the live event
// log's "Reason" column): 11000-11026 for one user's connection, 12001-12018 for the
// gateway's logon and host state, 13001-13002 for its internal queues.
#pragma once

#include <cstdint>

// The code's constant sentence, or "No description for reason code [%d]" formatted into
// one process-wide buffer that the next unknown code overwrites (user-interface thread
// only).
const char *ReasonCodeText(int32_t code);
