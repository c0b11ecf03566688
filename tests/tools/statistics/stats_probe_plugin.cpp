// A statistics plug-in for qelstat's tests, which does what its parameter line tells it:
//   argument 1: init's result (0, 203 or 10000)
//   argument 2: the value count init sets
//   argument 3: the results of successive calls, one letter each, used in turn:
//               "o" 0, "v" 203, "e" 10000
//   argument 4: the length of each value's name (padded with "x")
//   argument 5: "online" or "offline"; offline, each call appends a line to <name>.probe
// Online, the call count is kept in the record's first context word and each value's text
// is that count.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/logging/tool_logger.h"
#include "tools/statistics/qel_stats_interface.h"

namespace
{
int32_t result_of(char letter)
{
    return letter == 'v' ? QEL_STATS_VALID : letter == 'e' ? QEL_STATS_ERROR : QEL_STATS_SUCCESS;
}

bool offline(int32_t count, char **arguments)
{
    return count >= 5 && strcmp(arguments[4], "offline") == 0;
}
} // namespace

QEL_STATS_EXPORT int32_t init(void *parameter, qel_tools::logger_object *logger)
{
    // Both records begin with name, plug-in file, a number, the count and the arguments.
    qel_stats_online_parameter *online = static_cast<qel_stats_online_parameter *>(parameter);
    if (online->argument_count < 5)
        return QEL_STATS_ERROR;
    QEL_TOOL_LOG(logger, qel_tools::LOG_LEVEL_ACTIVITY, "probe init for [%s]", online->name);
    uint32_t count = static_cast<uint32_t>(atoi(online->arguments[1]));
    if (offline(online->argument_count, online->arguments))
        static_cast<qel_stats_offline_parameter *>(parameter)->value_count = count;
    else
        online->value_count = count;
    return atoi(online->arguments[0]);
}

QEL_STATS_EXPORT int32_t get_qel_statistics(void *parameter, qel_tools::logger_object *logger)
{
    qel_stats_online_parameter *online = static_cast<qel_stats_online_parameter *>(parameter);
    const char *results = online->arguments[2];
    if (offline(online->argument_count, online->arguments))
    {
        qel_stats_offline_parameter *record = static_cast<qel_stats_offline_parameter *>(parameter);
        std::string path = std::string(record->name) + ".probe";
        FILE *file = fopen(path.c_str(), "a");
        long calls = 0;
        if (file != nullptr)
        {
            fprintf(file, "called\n");
            calls = ftell(file) / 7;
            fclose(file);
        }
        QEL_TOOL_LOG(logger, qel_tools::LOG_LEVEL_ACTIVITY, "probe offline call for [%s]", record->name);
        return result_of(results[static_cast<size_t>(calls - 1) % strlen(results)]);
    }
    uintptr_t calls = reinterpret_cast<uintptr_t>(online->context[0]) + 1;
    online->context[0] = reinterpret_cast<void *>(calls);
    int32_t result = result_of(results[(calls - 1) % strlen(results)]);
    size_t name_length = static_cast<size_t>(atoi(online->arguments[3]));
    for (uint32_t i = 0; i < online->value_count; ++i)
    {
        qel_stats_value *value = &online->values[i];
        std::string name = "v" + std::to_string(i + 1);
        name.resize(name_length < name.size() ? name.size() : name_length, 'x');
        snprintf(value->name, sizeof value->name, "%s", name.c_str());
        value->id = static_cast<int32_t>(i + 1);
        snprintf(value->value, sizeof value->value, "%lu", static_cast<unsigned long>(calls));
        snprintf(value->unit, sizeof value->unit, "u");
    }
    return result;
}

QEL_STATS_EXPORT int32_t destroy(void *parameter, qel_tools::logger_object *logger)
{
    qel_stats_online_parameter *online = static_cast<qel_stats_online_parameter *>(parameter);
    QEL_TOOL_LOG(logger, qel_tools::LOG_LEVEL_ACTIVITY, "probe destroy for [%s]", online->name);
    if (!offline(online->argument_count, online->arguments))
        online->context[0] = nullptr;
    return QEL_STATS_SUCCESS;
}
