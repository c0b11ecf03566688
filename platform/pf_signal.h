// Termination requests from the operating system (SIGTERM, SIGINT): the gateway treats
// them as a request to stop in order, by raising its shutdown flag.
#pragma once

#include <atomic>
#include <cstdint>

// From now on SIGTERM and SIGINT store 1 into *flag (and do nothing else).
void pf_stop_on_termination_signal(std::atomic<uint16_t> *flag);
