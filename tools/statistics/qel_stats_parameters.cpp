// Parameter tables. Lines are read into a bounded text and split by hand, so that no
// field is ever copied into a record it does not fit: a line that does not fit is refused
// whole, never cut. The plug-in is bound one line at
// a time, and a plug-in that fails leaves only its own parameter without an entry point.
#include "tools/statistics/qel_stats_parameters.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/admin/pf_library.h"

using qel_tools::LOG_LEVEL_CONTINUATION;
using qel_tools::LOG_LEVEL_SYSTEM_ERROR;
using qel_tools::logger_object;

// A line under the function name the operator knows from the table's messages.
#define QEL_STATS_LOG_AS(function, logger, level, ...)                                                       \
    qel_tools::logging_info_logf((logger), (level), (function), __FILE__, __LINE__, __VA_ARGS__)

namespace
{

const char k_online_create[] = "qel_stats_online_parameters_create";
const char k_offline_create[] = "qel_stats_offline_parameters_create";
const char k_online_destroy[] = "qel_stats_online_parameters_destroy";
const char k_offline_destroy[] = "qel_stats_offline_parameters_destroy";

// One line of a parameter file as read: its number from 1 and its text, or a refusal.
struct parameter_line
{
    int number;
    std::string text;
    bool too_long;
    bool zero_byte; // the text stops before it
};

bool blank(const std::string &text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

// Reads every line, each at most QEL_STATS_LINE_MAX characters (a longer one is marked,
// the rest of it skipped; so is one holding a zero byte, which no C text can carry).
// false when the file cannot be opened.
bool read_lines(const char *file_name, std::vector<parameter_line> *lines)
{
    FILE *file = fopen(file_name, "r");
    if (file == nullptr)
        return false;
    int number = 0;
    int c = fgetc(file);
    while (c != EOF)
    {
        parameter_line line{++number, std::string(), false, false};
        size_t length = 0; // of the whole line, its newline left out
        for (; c != EOF && c != '\n'; c = fgetc(file))
        {
            ++length;
            if (c == '\0')
                line.zero_byte = true;
            else if (!line.zero_byte && length <= QEL_STATS_LINE_MAX)
                line.text.push_back(static_cast<char>(c));
        }
        if (c == '\n')
            c = fgetc(file);
        line.too_long = length > QEL_STATS_LINE_MAX;
        if (!line.text.empty() && line.text.back() == '\r')
            line.text.pop_back();
        if (line.too_long || line.zero_byte || !blank(line.text))
            lines->push_back(line);
    }
    fclose(file);
    return true;
}

// The text up to the next comma (or the end); false when there is none left.
bool next_field(const std::string &line, size_t *at, std::string *field)
{
    if (*at > line.size())
        return false;
    size_t comma = line.find(',', *at);
    size_t end = comma == std::string::npos ? line.size() : comma;
    field->assign(line, *at, end - *at);
    *at = comma == std::string::npos ? line.size() + 1 : comma + 1;
    return true;
}

bool whole_number(const std::string &text, int32_t *value)
{
    const char *start = text.c_str();
    char *end = nullptr;
    errno = 0;
    long number = strtol(start, &end, 10);
    if (end == start || *end != '\0' || errno == ERANGE || number < INT32_MIN || number > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(number);
    return true;
}

char **copy_arguments(const std::vector<std::string> &arguments, int index, const char *function,
                      const char *kind, logger_object *logger)
{
    char **copies = new (std::nothrow) char *[arguments.size() + 1]();
    if (copies == nullptr)
    {
        QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_SYSTEM_ERROR, "Memory allocation to %s[%d].argv failed",
                         kind, index);
        return nullptr;
    }
    for (size_t i = 0; i < arguments.size(); ++i)
    {
        copies[i] = new (std::nothrow) char[arguments[i].size() + 1];
        if (copies[i] == nullptr)
        {
            QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_SYSTEM_ERROR,
                             "Memory allocation to %s[%d].argv[%d] failed", kind, index, static_cast<int>(i));
            for (size_t j = 0; j < i; ++j)
                delete[] copies[j];
            delete[] copies;
            return nullptr;
        }
        memcpy(copies[i], arguments[i].c_str(), arguments[i].size() + 1);
    }
    return copies;
}

void free_arguments(char **arguments, int32_t count)
{
    if (arguments == nullptr)
        return;
    for (int32_t i = 0; i < count; ++i)
        delete[] arguments[i];
    delete[] arguments;
}

// Loads the plug-in and finds a symbol in it; the failure's line is the caller's.
uint32_t load_plugin(const char *plugin_file, void **module, const char *function, logger_object *logger)
{
    pf_library *library = nullptr;
    uint32_t error = pf_library_load(plugin_file, &library);
    if (error != 0)
    {
        QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_SYSTEM_ERROR,
                         "Error while loading module [%s]. Error [%d]", plugin_file, static_cast<int>(error));
        QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_CONTINUATION, "%s", pf_library_error_text());
        return error;
    }
    *module = library;
    return 0;
}

qel_stats_entry find_entry(void *module, const char *name, uint32_t *error)
{
    void *address = nullptr;
    *error = pf_library_symbol(static_cast<pf_library *>(module), name, &address);
    return reinterpret_cast<qel_stats_entry>(address);
}

// Binding of one online record (its fields read): load, init, value records, entry point.
// false only when memory runs out, which ends the table's creation.
bool bind_online(qel_stats_online_parameter *record, int index, logger_object *logger)
{
    if (load_plugin(record->plugin_file, &record->module, k_online_create, logger) != 0)
        return true;
    uint32_t error = 0;
    qel_stats_entry init = find_entry(record->module, "init", &error);
    if (init == nullptr)
    {
        QEL_STATS_LOG_AS(k_online_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                         "Error while finding proc address of init()for dll [%s]. Error Code[%d].",
                         record->plugin_file, static_cast<int>(error));
        return true;
    }
    record->entry_point = init;
    int32_t result = record->entry_point(record, logger);
    record->entry_point = nullptr;
    if (result != QEL_STATS_SUCCESS)
    {
        QEL_STATS_LOG_AS(k_online_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                         "Error while initialising module [%s].", record->plugin_file);
        return true;
    }
    if (record->value_count > 0)
    {
        record->values = new (std::nothrow) qel_stats_value[record->value_count]();
        if (record->values == nullptr)
        {
            QEL_STATS_LOG_AS(k_online_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                             "Memory allocation to qel_stats_online_parameters[%d].param_val failed", index);
            return false;
        }
    }
    record->entry_point = find_entry(record->module, "get_qel_statistics", &error);
    if (record->entry_point == nullptr)
        QEL_STATS_LOG_AS(
            k_online_create, logger, LOG_LEVEL_SYSTEM_ERROR,
            "Error while finding proc address of get_qel_statistics()for dll [%s]. Error Code[%d].",
            record->plugin_file, static_cast<int>(error));
    return true;
}

bool bind_offline(qel_stats_offline_parameter *record, int index, logger_object *logger)
{
    if (load_plugin(record->plugin_file, &record->module, k_offline_create, logger) != 0)
        return true;
    uint32_t error = 0;
    qel_stats_entry init = find_entry(record->module, "init", &error);
    if (init == nullptr)
    {
        QEL_STATS_LOG_AS(k_offline_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                         "Error while finding proc address ofinit() for dll [%s]. Error Code[%d].",
                         record->plugin_file, static_cast<int>(error));
        return true;
    }
    record->entry_point = init;
    int32_t result = record->entry_point(record, logger);
    record->entry_point = nullptr;
    if (result != QEL_STATS_SUCCESS)
    {
        QEL_STATS_LOG_AS(k_offline_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                         "Error intializing module of dll [%s].", record->plugin_file);
        return true;
    }
    if (record->value_count > 0)
    {
        record->value = new (std::nothrow) qel_stats_value();
        if (record->value == nullptr)
        {
            QEL_STATS_LOG_AS(k_offline_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                             "Memory allocation to qel_stats_offline_parameters[%d].param_val failed", index);
            return false;
        }
    }
    record->entry_point = find_entry(record->module, "get_qel_statistics", &error);
    if (record->entry_point == nullptr)
        QEL_STATS_LOG_AS(
            k_offline_create, logger, LOG_LEVEL_SYSTEM_ERROR,
            "Error while finding proc address of get_qel_statistics()for dll [%s]. Error Code[%d].",
            record->plugin_file, static_cast<int>(error));
    record->done = 0;
    return true;
}

// destroy() called and the library unloaded, for either kind of record.
void release_plugin(void *record, void **module, qel_stats_entry *entry_point, const char *plugin_file,
                    const char *function, logger_object *logger)
{
    if (*module == nullptr)
        return;
    uint32_t error = 0;
    qel_stats_entry destroy = find_entry(*module, "destroy", &error);
    if (destroy == nullptr)
        QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_SYSTEM_ERROR,
                         "Error while finding proc address of destroy()for dll [%s]. Error Code[%d].",
                         plugin_file, static_cast<int>(error));
    else if (destroy(record, logger) == QEL_STATS_VALID)
        QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_SYSTEM_ERROR, "Error while destroying module [%s].",
                         plugin_file);
    if (pf_library_unload(static_cast<pf_library *>(*module)) != 0)
        QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_SYSTEM_ERROR, "FreeLibrary() failed for dll [%s]",
                         plugin_file);
    *module = nullptr;
    *entry_point = nullptr;
}

// The lines of a parameter file that give parameters, each refused one logged.
bool read_parameters(const char *file_name, const char *function, const char *open_error,
                     std::vector<qel_stats_parameter_fields> *parameters, logger_object *logger)
{
    std::vector<parameter_line> lines;
    if (!read_lines(file_name, &lines))
    {
        QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_SYSTEM_ERROR, "%s", open_error);
        QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_CONTINUATION, "Parameter file [%s]: %s", file_name,
                         strerror(errno));
        return false;
    }
    for (const parameter_line &line : lines)
    {
        qel_stats_parameter_fields fields;
        std::string reason;
        if (line.too_long)
            reason = "it is longer than " + std::to_string(QEL_STATS_LINE_MAX) + " characters";
        if (line.zero_byte)
            reason = "it holds a zero byte";
        if (line.too_long || line.zero_byte || !qel_stats_parse_parameter_line(line.text, &fields, &reason))
        {
            QEL_STATS_LOG_AS(function, logger, LOG_LEVEL_SYSTEM_ERROR,
                             "Parameter line [%d] of file [%s] refused: %s", line.number, file_name,
                             reason.c_str());
            continue;
        }
        parameters->push_back(fields);
    }
    return true;
}

} // namespace

bool qel_stats_parse_parameter_line(const std::string &line, qel_stats_parameter_fields *fields,
                                    std::string *reason)
{
    size_t at = 0;
    std::string number_text, count_text;
    next_field(line, &at, &fields->plugin_file);
    if (fields->plugin_file.empty() || fields->plugin_file.size() >= QEL_STATS_PLUGIN_FILE_SIZE)
    {
        *reason = "the plug-in file is empty or longer than 255 characters";
        return false;
    }
    if (!next_field(line, &at, &fields->name) || fields->name.empty() ||
        fields->name.size() >= QEL_STATS_NAME_SIZE)
    {
        *reason = "the name is missing or longer than 255 characters";
        return false;
    }
    if (fields->name.find('/') != std::string::npos)
    {
        *reason = "the name holds a \"/\" (it names files)";
        return false;
    }
    if (!next_field(line, &at, &number_text) || !whole_number(number_text, &fields->number))
    {
        *reason = "the interval or time of day is not a whole number";
        return false;
    }
    int32_t count = 0;
    if (!next_field(line, &at, &count_text) || !whole_number(count_text, &count) || count < 0)
    {
        *reason = "the argument count is not a whole number of 0 or more";
        return false;
    }
    fields->arguments.clear();
    for (int32_t i = 0; i < count; ++i)
    {
        std::string argument;
        if (!next_field(line, &at, &argument) || argument.empty())
        {
            *reason = "it holds " + std::to_string(i) + " of its " + std::to_string(count) + " arguments";
            return false;
        }
        fields->arguments.push_back(argument);
    }
    return true;
}

qel_stats_online_parameter *qel_stats_online_parameters_create(qel_stats_config_parameters *config,
                                                               logger_object *logger)
{
    std::vector<qel_stats_parameter_fields> parameters;
    if (!read_parameters(config->online_file, k_online_create, "Config file open error.", &parameters,
                         logger))
        return nullptr;
    qel_stats_online_parameter *table =
        new (std::nothrow) qel_stats_online_parameter[parameters.size() + 1]();
    if (table == nullptr)
    {
        QEL_STATS_LOG_AS(k_online_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                         "qel_stats_online_parameters object creation failed");
        return nullptr;
    }
    config->online_count = 0;
    for (size_t i = 0; i < parameters.size(); ++i)
    {
        const qel_stats_parameter_fields &fields = parameters[i];
        qel_stats_online_parameter *record = &table[i];
        int index = static_cast<int>(i);
        snprintf(record->plugin_file, sizeof record->plugin_file, "%s", fields.plugin_file.c_str());
        snprintf(record->name, sizeof record->name, "%s", fields.name.c_str());
        record->interval = fields.number;
        record->argument_count = static_cast<int32_t>(fields.arguments.size());
        record->arguments =
            copy_arguments(fields.arguments, index, k_online_create, "qel_stats_online_parameters", logger);
        record->current_time = static_cast<int64_t>(time(nullptr));
        record->last_call_time = 0;
        record->context = new (std::nothrow) void *[QEL_STATS_CONTEXT_WORDS]();
        config->online_count = index + 1;
        if (record->arguments == nullptr || record->context == nullptr || !bind_online(record, index, logger))
        {
            qel_stats_online_parameters_destroy(table, config->online_count, logger);
            config->online_count = 0;
            return nullptr;
        }
    }
    return table;
}

qel_stats_offline_parameter *qel_stats_offline_parameters_create(qel_stats_config_parameters *config,
                                                                 logger_object *logger)
{
    std::vector<qel_stats_parameter_fields> parameters;
    if (!read_parameters(config->offline_file, k_offline_create, "Config file open error.Error", &parameters,
                         logger))
        return nullptr;
    qel_stats_offline_parameter *table =
        new (std::nothrow) qel_stats_offline_parameter[parameters.size() + 1]();
    if (table == nullptr)
    {
        QEL_STATS_LOG_AS(k_offline_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                         "qel_stats_offline_parameters object creation failed");
        return nullptr;
    }
    config->offline_count = 0;
    for (size_t i = 0; i < parameters.size(); ++i)
    {
        const qel_stats_parameter_fields &fields = parameters[i];
        qel_stats_offline_parameter *record = &table[i];
        int index = static_cast<int>(i);
        snprintf(record->plugin_file, sizeof record->plugin_file, "%s", fields.plugin_file.c_str());
        snprintf(record->name, sizeof record->name, "%s", fields.name.c_str());
        snprintf(record->parameter_name, sizeof record->parameter_name, "%s", fields.name.c_str());
        record->time_of_day = fields.number;
        record->argument_count = static_cast<int32_t>(fields.arguments.size());
        record->arguments =
            copy_arguments(fields.arguments, index, k_offline_create, "qel_stats_offline_parameters", logger);
        config->offline_count = index + 1;
        if (record->arguments == nullptr || !bind_offline(record, index, logger))
        {
            qel_stats_offline_parameters_destroy(table, config->offline_count, logger);
            config->offline_count = 0;
            return nullptr;
        }
    }
    return table;
}

void qel_stats_online_parameters_destroy(qel_stats_online_parameter *table, int32_t count,
                                         logger_object *logger)
{
    if (table == nullptr)
        return;
    for (int32_t i = 0; i < count; ++i)
    {
        qel_stats_online_parameter *record = &table[i];
        release_plugin(record, &record->module, &record->entry_point, record->plugin_file, k_online_destroy,
                       logger);
        delete[] record->values;
        free_arguments(record->arguments, record->argument_count);
        delete[] record->context;
    }
    delete[] table;
}

void qel_stats_offline_parameters_destroy(qel_stats_offline_parameter *table, int32_t count,
                                          logger_object *logger)
{
    if (table == nullptr)
        return;
    for (int32_t i = 0; i < count; ++i)
    {
        qel_stats_offline_parameter *record = &table[i];
        release_plugin(record, &record->module, &record->entry_point, record->plugin_file, k_offline_destroy,
                       logger);
        delete record->value;
        free_arguments(record->arguments, record->argument_count);
    }
    delete[] table;
}
