// parmset's command line. The first word is a switch of exactly two characters; any other
// first word does nothing and gives 0, as installers calling older versions expect. All
// the requests of one command line go into one rewrite of the file, after every name and
// value has been checked, so that a refused pair leaves the file as it was.
#include "tools/parmset/parmset.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "platform/admin/pf_registry.h"
#include "platform/core/pf_error.h"
#include "tools/parmset/parmset_logger.h"
#include "tools/parmset/parmset_status.h"
#include "tools/parmset/system_environment.h"
#include "tools/parmset/write_config_file.h"

namespace
{

const char k_value_name[] = "QEL_VAL";

struct command
{
    int argc;
    const char *const *argv;
    parmset_logger *logger;
    std::string *error;

    std::string file() const { return argv[2]; }
};

bool holds_line_break(const std::string &text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// A refused name as one line of text: its line breaks written as \n and \r.
std::string printable(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return out;
}

// A blank name, or one that would write another key ("=" ends a name, a line break
// starts a new line): 5003.
int check_name(const command &cmd, const std::string &name)
{
    if (name.empty())
    {
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Parameter name is blank");
        *cmd.error = "a parameter name is blank";
        return PARMSET_BLANK_NAME;
    }
    if (name.find('=') != std::string::npos || holds_line_break(name))
    {
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Parameter name [%s] holds \"=\" or a line break",
                    printable(name).c_str());
        *cmd.error = "the parameter name [" + printable(name) + "] holds \"=\" or a line break";
        return PARMSET_BLANK_NAME;
    }
    return PARMSET_SUCCESS;
}

int check_value(const command &cmd, const std::string &name, const std::string &value)
{
    if (value.empty())
    {
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Parameter value is blank");
        *cmd.error = "the value of " + name + " is blank";
        return PARMSET_BLANK_VALUE;
    }
    if (holds_line_break(value))
    {
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Parameter value of %s holds a line break", name.c_str());
        *cmd.error = "the value of " + name + " holds a line break";
        return PARMSET_BLANK_VALUE;
    }
    // The gateway's reader ends a value at its first blank or tab, and its integer reader
    // takes each blank-separated word as an entry: "5 MAX_TWS_CLIENTS=1" would set a
    // second key nobody named.
    if (value.find_first_of(" \t") != std::string::npos)
    {
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Parameter value of %s holds a blank or a tab", name.c_str());
        *cmd.error = "the value of " + name + " holds a blank or a tab";
        return PARMSET_BLANK_VALUE;
    }
    return PARMSET_SUCCESS;
}

int too_few_arguments(const command &cmd, const char *needed)
{
    PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Too few arguments for %s", cmd.argv[1]);
    *cmd.error = std::string(cmd.argv[1]) + " needs " + needed + " (see parmset --help)";
    return PARMSET_TOO_FEW_ARGUMENTS;
}

// A rewrite that failed: its reason, then what it means for the installation.
int rewrite_failed(const command &cmd, int result, const std::string &message)
{
    PARMSET_LOG(cmd.logger, PARMSET_ERROR, "%s", message.c_str());
    if (result == PARMSET_REWRITE_FAILED)
        PARMSET_LOG(cmd.logger, PARMSET_EVENT, "Parameter(s) updation failed in QEL configuration file.");
    else
        PARMSET_LOG(cmd.logger, PARMSET_EVENT, "KOVA could not open QEL config file");
    *cmd.error = message;
    return result;
}

int apply(const command &cmd, const std::vector<parameter_request> &requests)
{
    std::string message;
    int result = configure_param(cmd.file(), requests, &message, cmd.logger);
    if (result == PARMSET_REWRITE_FAILED || result == PARMSET_OPEN_FAILED)
        return rewrite_failed(cmd, result, message);
    return static_cast<int>(requests.size());
}

// -a and -m: file, then name and value pairs. The result is the number of pairs.
int set_parameters(const command &cmd)
{
    if (cmd.argc < 5)
        return too_few_arguments(cmd, "a file and at least one name and value");
    if ((cmd.argc - 3) % 2 != 0)
    {
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Odd number of names and values for %s", cmd.argv[1]);
        *cmd.error = "names and values must come in pairs";
        return PARMSET_ODD_ARGUMENTS;
    }
    std::vector<parameter_request> requests;
    for (int i = 3; i + 1 < cmd.argc; i += 2)
    {
        parameter_request request = {cmd.argv[i], cmd.argv[i + 1]};
        int checked = check_name(cmd, request.name);
        if (checked == PARMSET_SUCCESS)
            checked = check_value(cmd, request.name, request.value);
        if (checked != PARMSET_SUCCESS)
            return checked;
        requests.push_back(request);
    }
    return apply(cmd, requests);
}

// -d: file, then names. The result is the number of names.
int delete_parameters(const command &cmd)
{
    if (cmd.argc < 4)
        return too_few_arguments(cmd, "a file and at least one name");
    std::vector<parameter_request> requests;
    for (int i = 3; i < cmd.argc; ++i)
    {
        // A blank name (an unset variable in a script) would match every blank line.
        int checked = check_name(cmd, cmd.argv[i]);
        if (checked != PARMSET_SUCCESS)
            return checked;
        requests.push_back({cmd.argv[i], std::string()});
    }
    return apply(cmd, requests);
}

// -r: file and name. Deletes the name's lines only when it stands more than once.
int remove_duplicates(const command &cmd)
{
    if (cmd.argc < 4)
        return too_few_arguments(cmd, "a file and a name");
    const std::string name = cmd.argv[3];
    int checked = check_name(cmd, name);
    if (checked != PARMSET_SUCCESS)
        return checked;
    std::string message;
    uint32_t count = 0;
    if (get_duplicate_count_of_param(cmd.file(), name, &count, &message, cmd.logger) != PARMSET_SUCCESS)
    {
        *cmd.error = message;
        return PARMSET_OPEN_FAILED;
    }
    if (count == 0)
    {
        PARMSET_LOG(cmd.logger, PARMSET_EVENT, "Parameter %s not found in config file", name.c_str());
        *cmd.error = name + " does not stand in " + cmd.file();
        return PARMSET_NAME_NOT_FOUND;
    }
    if (count == 1)
    {
        PARMSET_LOG(cmd.logger, PARMSET_EVENT, "Parameter %s occurs only once in config file", name.c_str());
        *cmd.error = name + " stands only once in " + cmd.file() + "; nothing removed";
        return PARMSET_SINGLE_OCCURRENCE;
    }
    int result = remove_duplicate_params(cmd.file(), name, &message, cmd.logger);
    if (result == PARMSET_REWRITE_FAILED || result == PARMSET_OPEN_FAILED)
        return rewrite_failed(cmd, result, message);
    return result;
}

std::string registry_failure(const char *what, uint32_t code)
{
    std::string text = std::string(what) + " (registry error " + std::to_string(code) + ")";
    if (code != PF_ERROR_FILE_NOT_FOUND)
        text += std::string(": ") + pf_reg_problem();
    return text;
}

// -g: file and name. The name's value becomes the registry value QEL_VAL.
int get_parameter(const command &cmd)
{
    if (cmd.argc < 4)
        return too_few_arguments(cmd, "a file and a name");
    const std::string name = cmd.argv[3];
    remove_system_environment_variable(k_value_name, cmd.logger); // a stale value must not survive
    std::string value, message;
    int result = read_config_param(cmd.file(), name, &value, &message);
    switch (result)
    {
    case PARMSET_SUCCESS:
        break;
    case PARMSET_OPEN_FAILED:
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "%s", message.c_str());
        *cmd.error = message;
        return result;
    case PARMSET_NAME_NOT_FOUND:
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Parameter %s not found in config file", name.c_str());
        *cmd.error = name + " does not stand in " + cmd.file();
        return result;
    case PARMSET_NAME_WITHOUT_VALUE:
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Parameter %s has no value in config file", name.c_str());
        *cmd.error = name + " has no value in " + cmd.file();
        return result;
    default:
        PARMSET_LOG(cmd.logger, PARMSET_ERROR, "Value of %s is 1024 characters or longer", name.c_str());
        *cmd.error = "the value of " + name + " is 1024 characters or longer";
        return result;
    }
    uint32_t code = set_system_environment_variable(k_value_name, value, cmd.logger);
    if (code != PF_ERROR_SUCCESS)
    {
        *cmd.error = registry_failure("cannot write the registry value QEL_VAL", code);
        return static_cast<int>(code);
    }
    PARMSET_LOG(cmd.logger, PARMSET_ACTIVITY, "Value of %s copied to %s", name.c_str(), k_value_name);
    return PARMSET_SUCCESS;
}

// -c: deletes QEL_VAL.
int clear_value(const command &cmd)
{
    uint32_t code = remove_system_environment_variable(k_value_name, cmd.logger);
    if (code != PF_ERROR_SUCCESS)
    {
        *cmd.error = registry_failure("cannot delete the registry value QEL_VAL", code);
        return static_cast<int>(code);
    }
    PARMSET_LOG(cmd.logger, PARMSET_ACTIVITY, "%s deleted", k_value_name);
    return PARMSET_SUCCESS;
}

using handler = int (*)(const command &);

handler find_handler(int argc, const char *const *argv)
{
    if (argc < 2 || strlen(argv[1]) != 2 || argv[1][0] != '-')
        return nullptr;
    switch (argv[1][1])
    {
    case 'a':
    case 'm':
        return set_parameters;
    case 'd':
        return delete_parameters;
    case 'r':
        return remove_duplicates;
    case 'g':
        return get_parameter;
    case 'c':
        return clear_value;
    default:
        return nullptr;
    }
}

} // namespace

const char *parmset_usage()
{
    return "usage: parmset -a|-m FILE NAME VALUE [NAME VALUE ...]  set each NAME to VALUE (added when missing)\n"
           "       parmset -d FILE NAME [NAME ...]                  delete every line of each NAME\n"
           "       parmset -r FILE NAME                             delete every line of NAME when it stands more than once\n"
           "       parmset -g FILE NAME                             copy NAME's value into the registry value QEL_VAL\n"
           "       parmset -c                                       delete the registry value QEL_VAL\n"
           "The result is printed as RESULT=<n> and is the exit status (of which Linux keeps the low\n"
           "eight bits): the number of pairs, names or lines for -a, -m, -d and -r; 0 for -g and -c;\n"
           "200 file not rewritten, 300 file not readable, 401 no log, 5000 too few arguments,\n"
           "5002 odd pairs, 5003 bad name, 5004 bad value, 7000 -r on a single line, -1 name missing,\n"
           "-2 no value, -3 value too long, else the registry's error number.\n"
           "The log goes to the folder in the registry value PARMSET_LOG_FILES_PATH, else \".\";\n"
           "the registry file is named by QEL_REGISTRY_FILE.\n";
}

int parmset_run(int argc, const char *const *argv, std::string *error)
{
    std::string why;
    parmset_logger *logger = parmset_logger_create(parmset_log_folder(), time(nullptr), &why);
    if (logger == nullptr)
    {
        *error = "cannot create the log: " + why;
        return PARMSET_LOGGER_FAILED;
    }
    int result = PARMSET_SUCCESS;
    handler run = find_handler(argc, argv);
    if (run != nullptr)
    {
        command cmd = {argc, argv, logger, error};
        PARMSET_LOG(logger, PARMSET_ACTIVITY, "parmset started with %s", argv[1]);
        result = run(cmd);
        PARMSET_LOG(logger, PARMSET_ACTIVITY, "parmset ends with %d", result);
    }
    parmset_logger_destroy(logger);
    return result;
}
