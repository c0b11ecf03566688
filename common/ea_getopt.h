// The gateway's command-line option parser. Its names are those of the C library's
// parser, so they live in their own namespace.
#pragma once

namespace ea
{
extern int optind;   // index of the next word; starts at 1
extern char *optarg; // argument of the last option
extern int opterr;   // error report on (1, initial) or off (0)
extern int optpos;   // position inside a word of grouped options

int getopt(int argc, char *const argv[], const char *optstring);
// Back to the initial state (tests parse several command lines in one process).
void getopt_reset();
} // namespace ea
