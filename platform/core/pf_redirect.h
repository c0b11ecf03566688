// Sends the process's standard output and/or error to a file, for a gateway that runs
// without a terminal under its supervisor.
#pragma once

enum
{
    PF_REDIRECT_STDOUT = 1,
    PF_REDIRECT_STDERR = 2,
    PF_REDIRECT_BOTH = 3,
};

// Opens the file for appending (created owner read/write when missing) and duplicates it
// onto the chosen streams. 0, or -1 with errno set; *failed_call names the call that failed.
int pf_redirect_output(const char *file_name, int which, const char **failed_call);
