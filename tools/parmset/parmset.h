// parmset: sets and deletes values in a gateway configuration file, or copies one value into
// the registry value QEL_VAL, from its command line. The result is the exit code.
#pragma once

#include <string>

// What --help prints.
const char *parmset_usage();

// Runs one command line (argv[0] the program). Returns the result; a failure leaves one
// line for standard error in *error (the log keeps the details).
int parmset_run(int argc, const char *const *argv, std::string *error);
