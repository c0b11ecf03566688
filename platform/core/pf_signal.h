// Termination requests from the operating system (SIGTERM, SIGINT): the gateway treats
// them as a request to stop in order, by raising its shutdown flag.
//
// The gateway opens its listeners while it builds its global context, before the flag
// exists; a supervisor may already send SIGTERM then. So the request is caught from the
// first moment and held until the flag is given, which then receives it at once.
#pragma once

#include <atomic>
#include <cstdint>

// From now on SIGTERM and SIGINT are caught and held; nothing else happens yet.
void pf_hold_termination_signal();
// From now on SIGTERM and SIGINT store 1 into *flag (and do nothing else); a request held
// since pf_hold_termination_signal() is stored at once.
void pf_stop_on_termination_signal(std::atomic<uint16_t> *flag);
