// Status codes returned by every function of the gateway's library and modules,
// and the process exit codes of qel_ip.
#pragma once

#include <cstdint>

typedef int32_t ea_status;

enum : int32_t
{
    EA_SUCCESS = 0,
    EA_WAIT_TIME_OUT = 1,    // a wait on a sync object or on threads ran out of time
    EA_NO_DATA = 2,          // a shared-queue wait ran out of time with nothing received
    EA_NOT_FOUND = -1,       // key, link or entry does not exist; refused socket option
    EA_FORWARD_MESSAGE = -2, // host session verdict
    EA_DO_NOT_FORWARD = -3,  // host session verdict
    EA_DISCARD = -300,       // FIX front end: the message is to be discarded
    EA_VALID = 203,          // nothing to do now (would block, incomplete frame, logged drop)
    EA_SHUTDOWN = 204,       // a thread routine saw the shutdown flag
    EA_ERROR = 10000,        // any failure; ends the calling thread
    EA_RESTART = 10001,      // the console asked for a restart
};

// Exit codes of qel_ip besides 0, EA_ERROR and EA_RESTART.
enum : int32_t
{
    EXIT_STARTUP_FAILURE = 10003,
    EXIT_USAGE = 10005,
};
