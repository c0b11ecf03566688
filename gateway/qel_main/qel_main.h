// Pieces of the gateway's main that tests drive directly.
#pragma once

#include <cstdint>
#include <ctime>

#include "common/ea_status.h"

struct ea_global;
struct logger_object;
struct logger_object_container;

// Sends standard output (1), error (2) or both (3) to the file, appending.
ea_status redirect_output(const char *file_name, int which);

// Writes the run-time parameter block to the logger.
void print_runtime_parameters(ea_global *global, logger_object *logger);

// The daily roll: when the local day of the year of `now` differs from *noted_day, the
// loggers move to the new day, main's logger reopens, the parameters are printed again,
// every thread's day flag is set and the new day is noted. True when it rolled.
bool qel_main_roll_day(time_t now, int *noted_day, logger_object_container *loggers,
                       logger_object *main_logger, ea_global *global);

// Local day of the year of a time, or -1.
int qel_main_day_of_year(time_t now);

// The watch of the FIX acceptor on each pass of main's loop: true, with a level 0 line
// and the shutdown flag raised, when the acceptor has stopped or its thread has ended on
// its own (no FIX client can reach the gateway any more); the gateway then stops in order
// and exits with 10000.
bool qel_main_fix_acceptor_lost(ea_global *global, logger_object *logger);

// The exit code from the threads' exit values: 10000 wins over 10001, which wins over 0.
int32_t qel_main_exit_code(const int32_t *exit_values, uint32_t count);
