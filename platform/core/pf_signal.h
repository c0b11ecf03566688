// Termination requests from the operating system: SIGTERM (a supervisor's stop), SIGINT
// (Ctrl-C) and SIGHUP (the terminal the program was started from hung up). Every program
// of the system that stops in order takes the three alike; the gateway treats them as a
// request to stop in order, by raising its shutdown flag.
//
// The gateway opens its listeners while it builds its global context, before the flag
// exists; a supervisor may already send SIGTERM then. So the request is caught from the
// first moment and held until the flag is given, which then receives it at once.
//
// A program started with SIGHUP ignored (nohup) asked to outlive its terminal: SIGHUP
// stays ignored then.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstdint>

// The signals that ask a program to stop in order.
constexpr int pf_termination_signals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int PF_TERMINATION_SIGNAL_COUNT =
    sizeof(pf_termination_signals) / sizeof(pf_termination_signals[0]);

// Makes handler take every termination signal (SIGHUP not when it is ignored). The actions
// replaced go into old_actions, one per signal in the table's order, when it is given.
void pf_catch_termination_signals(void (*handler)(int), struct sigaction *old_actions);
// Puts back the actions that pf_catch_termination_signals stored.
void pf_restore_termination_signals(const struct sigaction *old_actions);

// From now on the termination signals are caught and held; nothing else happens yet.
void pf_hold_termination_signal();
// From now on the termination signals store 1 into *flag (and do nothing else); a request
// held since pf_hold_termination_signal() is stored at once.
void pf_stop_on_termination_signal(std::atomic<uint16_t> *flag);
