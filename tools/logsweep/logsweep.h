// logsweep: collects the installation's logs into one archive for analysis. It reads the
// installation folder from the registry value PATH under SOFTWARE\QEL_IP and runs the
// installation's script "logs.bat" from the current folder with /bin/sh, giving it the
// date, the date as M/D/YYYY, the archive's name and the folder, each as one argument.
// The script's output goes to "logsweep_output.txt"; logsweep's own error lines go to
// "logsweep_batch_errors.txt" (empty after a good run) and to standard error.
#pragma once

#include <ctime>
#include <string>
#include <vector>

enum
{
    LOGSWEEP_SUCCESS = 0,
    LOGSWEEP_VERSION_OR_HINT = 1, // -v, or an argument that is not -v
    LOGSWEEP_FAILED = 2,
    LOGSWEEP_PATH_SIZE = 260, // the registry value PATH, its terminating zero included
};

struct logsweep_stamps
{
    std::string date;        // YYYYMMDD
    std::string script_date; // M/D/YYYY, no zero padding
    std::string time;        // hour * 10000 + minute * 100 + second, no zero padding
    std::string archive;     // QEL_ANALYSIS_<date>_<time>.tgz
};

logsweep_stamps logsweep_make_stamps(const struct tm &local);

// The script's command: /bin/sh ./logs.bat and the four arguments.
std::vector<std::string> logsweep_script_command(const logsweep_stamps &stamps, const std::string &path);

const char *logsweep_usage();

// Runs one command line in the current folder at the local time `now`: 0 when the script
// exited with 0, 1 for -v and the hint, 2 after any failure.
int logsweep_run(int argc, const char *const *argv, time_t now);
