// Starting a program without a shell, as process creation does on Windows:
// the command line is split here (blanks separate words, double quotes group them), the
// program gets a working folder, its own standard streams and nothing else of its
// parent's: no other descriptors, default signal dispositions, an empty signal mask.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Splits a command line at blanks and tabs; a double-quoted part belongs to the word it
// stands in and loses its quotes ("-c \"a b.cfg\"" gives -c and a b.cfg). false for an
// unterminated quote.
bool pf_split_command_line(const char *text, std::vector<std::string> *words);

// The folder part of a path: up to its last "/" ("/opt/bin/x" gives "/opt/bin", "x" gives
// ".", "/x" gives "/").
std::string pf_folder_of(const char *path);

struct pf_spawn_options
{
    const char *working_folder = nullptr; // null: the caller's
    int stdout_fd = -1;                   // -1: /dev/null
    int stderr_fd = -1;                   // -1: /dev/null
    bool own_process_group = false;       // a group of its own (signals to qelmon's group miss it)
    bool new_session = false;             // detached from the caller's terminal and session
    // "NAME=value" texts added to (or replacing in) the caller's environment.
    std::vector<std::string> environment;
};

// Starts path with argv (argv[0] included) and stdin from /dev/null. 0 and the child's
// id, or the errno of the failure (ENOENT and EACCES for a missing or non-executable
// program, ENOTDIR or ENOENT for a bad working folder).
int pf_spawn(const char *path, const std::vector<std::string> &argv, const pf_spawn_options &options,
             pid_t *pid_out);
