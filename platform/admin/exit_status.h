// How a parent process reads qel_ip's exit code.
//
// The gateway exits with 0, 10000, 10001, 10003 or 10005. Linux keeps only the low
// eight bits of an exit status, so a parent sees 0, 16, 17, 19 or 21. Every parent in
// this project (qelmon, the tests) turns what it sees back into the gateway's value here.
#pragma once

#include <cstdint>

// The gateway's own value for a low-eight-bit exit status; values that are not one of
// the gateway's codes come back unchanged.
int32_t pf_exit_code_from_status(int32_t low_eight_bits);

// Decodes a waitpid() status: the gateway's exit code, or -1 when the child was killed
// by a signal (the signal number is stored in *signal_out when it is given).
int32_t pf_exit_code_from_wait_status(int wait_status, int *signal_out = nullptr);
