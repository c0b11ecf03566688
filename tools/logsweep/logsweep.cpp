// logsweep. The script is started directly (/bin/sh with one argument per word, through
// the platform's process creation), never through a command line that a shell would
// parse: the installation folder comes from the registry and may hold quotes, ";" or
// "$(...)", which must reach the script as plain text. Every failure is written to the
// error file and to standard error and gives exit code 2, so that a caller can tell a
// collection that did not happen.
#include "tools/logsweep/logsweep.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/ea_time.h"
#include "platform/admin/pf_process_handle.h"
#include "platform/admin/pf_registry.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_wait.h"

namespace
{

const char k_version[] = "4.0 RC3";
const char k_error_file[] = "logsweep_batch_errors.txt";
const char k_output_file[] = "logsweep_output.txt";
const char k_script[] = "logs.bat";
const char k_shell[] = "/bin/sh";

// One error line into the error file and onto standard error, where detail (when given)
// follows it on the same line.
void fail_line(FILE *errors, const char *detail, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void fail_line(FILE *errors, const char *detail, const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(errors, "%s\n", line);
    fflush(errors);
    if (detail != nullptr)
        fprintf(stderr, "logsweep: %s: %s\n", line, detail);
    else
        fprintf(stderr, "logsweep: %s\n", line);
}

// PATH from the registry into path: true, or false after its error line.
bool read_installation_path(FILE *errors, char (&path)[LOGSWEEP_PATH_SIZE])
{
    pf_reg_key *key = nullptr;
    uint32_t code = pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &key);
    if (code != PF_ERROR_SUCCESS)
    {
        fail_line(errors, code != PF_ERROR_FILE_NOT_FOUND ? pf_reg_problem() : nullptr,
                  "Cannot Open Registry for QEL path query due to %u", code);
        return false;
    }
    code = pf_reg_query_string(key, "PATH", path, LOGSWEEP_PATH_SIZE);
    pf_reg_close_key(key);
    if (code != PF_ERROR_SUCCESS)
    {
        fail_line(errors, nullptr, "Cannot Query Registry for QEL path due to %u", code);
        return false;
    }
    return true;
}

// Runs the script with its standard output on output_fd and its errors on ours: its exit
// status (128 and the signal when a signal ended it), or -1 with errno when it could not
// be started.
int run_script(const std::vector<std::string> &command, int output_fd)
{
    pf_spawn_options options;
    options.stdout_fd = output_fd;
    options.stderr_fd = STDERR_FILENO;
    int error = 0;
    pf_process_handle *script = pf_process_handle_create(command[0].c_str(), command, options, &error);
    if (script == nullptr)
    {
        errno = error;
        return -1;
    }
    int code = 0;
    pf_process_end end = PF_PROCESS_RUNNING;
    if (pf_wait_for_single(pf_process_handle_waitable(script), PF_INFINITE) == PF_WAIT_OBJECT_0)
        end = pf_process_handle_end(script, &code);
    pf_process_handle_close(script);
    switch (end)
    {
    case PF_PROCESS_EXITED:
        return code;
    case PF_PROCESS_SIGNALED:
        return 128 + code;
    default:
        errno = ECHILD;
        return -1;
    }
}

// logsweep's own two logs, emptied at every start: its owner's alone, as every log file of
// the system is, whatever the umask or the mode an earlier run left.
int open_own_log(const char *name)
{
    int descriptor = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor >= 0 && fchmod(descriptor, S_IRUSR | S_IWUSR) != 0)
    {
        const int error = errno;
        close(descriptor);
        errno = error;
        return -1;
    }
    return descriptor;
}

int collect(FILE *errors, const logsweep_stamps &stamps)
{
    char path[LOGSWEEP_PATH_SIZE];
    if (!read_installation_path(errors, path))
        return LOGSWEEP_FAILED;
    struct stat info;
    errno = 0;
    if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode))
    {
        fail_line(errors, nullptr, "QEL path [%s] is not a folder due to %d", path,
                  errno != 0 ? errno : ENOTDIR);
        return LOGSWEEP_FAILED;
    }
    if (access(k_script, R_OK) != 0)
    {
        fail_line(errors, nullptr, "Cannot find %s in the current folder due to %d", k_script, errno);
        return LOGSWEEP_FAILED;
    }
    int output_fd = open_own_log(k_output_file);
    if (output_fd < 0)
    {
        fail_line(errors, nullptr, "Cannot create %s due to %d", k_output_file, errno);
        return LOGSWEEP_FAILED;
    }
    int status = run_script(logsweep_script_command(stamps, path), output_fd);
    int error = errno;
    close(output_fd);
    if (status != 0)
    {
        fail_line(errors, nullptr, "System call failure due to %d", status < 0 ? error : status);
        return LOGSWEEP_FAILED;
    }
    return LOGSWEEP_SUCCESS;
}

} // namespace

logsweep_stamps logsweep_make_stamps(const struct tm &local)
{
    const int year = local.tm_year + 1900;
    const int month = local.tm_mon + 1;
    logsweep_stamps stamps;
    stamps.date = std::to_string(year * 10000 + month * 100 + local.tm_mday);
    stamps.script_date =
        std::to_string(month) + "/" + std::to_string(local.tm_mday) + "/" + std::to_string(year);
    stamps.time = std::to_string(local.tm_hour * 10000 + local.tm_min * 100 + local.tm_sec);
    stamps.archive = "QEL_ANALYSIS_" + stamps.date + "_" + stamps.time + ".tgz";
    return stamps;
}

std::vector<std::string> logsweep_script_command(const logsweep_stamps &stamps, const std::string &path)
{
    return {k_shell, std::string("./") + k_script, stamps.date, stamps.script_date, stamps.archive, path};
}

const char *logsweep_usage()
{
    return "usage: logsweep        collect the logs under the registry's PATH with ./logs.bat\n"
           "       logsweep -v     print the version\n"
           "Runs /bin/sh ./logs.bat YYYYMMDD M/D/YYYY QEL_ANALYSIS_<date>_<time>.tgz <PATH> in the\n"
           "current folder, its output in logsweep_output.txt, errors in logsweep_batch_errors.txt.\n"
           "Exit status: 0 the script exited with 0, 1 -v or a wrong argument, 2 any failure.\n"
           "The registry file is named by QEL_REGISTRY_FILE.\n";
}

int logsweep_run(int argc, const char *const *argv, time_t now)
{
    const int errors_fd = open_own_log(k_error_file);
    FILE *errors = errors_fd >= 0 ? fdopen(errors_fd, "w") : nullptr;
    if (errors == nullptr && errors_fd >= 0)
        close(errors_fd);
    if (errors == nullptr)
    {
        fprintf(stderr, "logsweep: cannot create %s: %s\n", k_error_file, strerror(errno));
        return LOGSWEEP_FAILED;
    }
    if (argc >= 2)
    {
        if (strcasecmp(argv[1], "-v") == 0)
        {
            printf("\nVersion Number: %s\n", k_version);
            printf("Compiled on %s %s\n", __DATE__, __TIME__);
        }
        else
        {
            printf("\nIncorrect Program Argument. Use -v for Version Number\n");
        }
        fclose(errors);
        return LOGSWEEP_VERSION_OR_HINT;
    }
    struct tm local;
    int result = LOGSWEEP_FAILED;
    if (ea_localtime(&now, &local) == nullptr)
        fail_line(errors, nullptr, "Cannot read the local time");
    else
        result = collect(errors, logsweep_make_stamps(local));
    if (fclose(errors) != 0 && result == LOGSWEEP_SUCCESS)
    {
        fprintf(stderr, "logsweep: cannot write %s: %s\n", k_error_file, strerror(errno));
        result = LOGSWEEP_FAILED;
    }
    return result;
}
