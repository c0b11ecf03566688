// onstat: the performance-counter plug-in (online). Each online parameter line that names
// it samples one counter and gives one value, labelled with a market id (the console page
// that shows it), a display name and a unit.
//
// Parameter line arguments: the counter path without its leading "\" (for instance
// Process(qel_ip)\Thread Count), the market id, the display name, the unit and the
// divisor the counter's value is divided by. init refuses a line whose name or unit
// would not fit the value record, or whose divisor is 0 or not a number, rather than
// cut them or divide by zero at every sample.
//
// The query and the counter live in the record's two context words, from init to
// destroy; a repeated init reuses them.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/admin/pf_counter.h"
#include "tools/logging/tool_logger.h"
#include "tools/statistics/qel_stats_interface.h"

using qel_tools::LOG_LEVEL_ACTIVITY;
using qel_tools::LOG_LEVEL_SYSTEM_ERROR;
using qel_tools::logger_object;

namespace
{

enum
{
    ARG_COUNTER = 0,
    ARG_MARKET = 1,
    ARG_NAME = 2,
    ARG_UNIT = 3,
    ARG_DIVISOR = 4,
    ARG_REQUIRED = 5,
};

enum
{
    CONTEXT_QUERY = 0,
    CONTEXT_COUNTER = 1,
};

pf_counter_query *query_of(const qel_stats_online_parameter *record)
{
    return static_cast<pf_counter_query *>(record->context[CONTEXT_QUERY]);
}

pf_counter *counter_of(const qel_stats_online_parameter *record)
{
    return static_cast<pf_counter *>(record->context[CONTEXT_COUNTER]);
}

const char *market_of(const qel_stats_online_parameter *record)
{
    return record->argument_count > ARG_MARKET ? record->arguments[ARG_MARKET] : "";
}

// The divisor as a finite number other than 0, or false.
bool read_divisor(const char *text, double *divisor)
{
    char *end = nullptr;
    double number = strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(number) || number == 0)
        return false;
    *divisor = number;
    return true;
}

// The arguments must fit the value record they are copied into.
bool arguments_fit(const qel_stats_online_parameter *record, logger_object *logger)
{
    struct
    {
        int index;
        size_t size;
    } bounded[] = {{ARG_NAME, QEL_STATS_VALUE_NAME_SIZE}, {ARG_UNIT, QEL_STATS_VALUE_UNIT_SIZE}};
    for (const auto &argument : bounded)
    {
        if (strlen(record->arguments[argument.index]) >= argument.size)
        {
            qel_tools::logging_info_logf(
                logger, LOG_LEVEL_ACTIVITY, "init", __FILE__, __LINE__,
                "Argument [%d] of onstat for MarketId [%s] is longer than [%d] characters",
                argument.index + 1, market_of(record), static_cast<int>(argument.size) - 1);
            return false;
        }
    }
    double divisor = 0;
    if (!read_divisor(record->arguments[ARG_DIVISOR], &divisor))
    {
        qel_tools::logging_info_logf(logger, LOG_LEVEL_ACTIVITY, "init", __FILE__, __LINE__,
                                     "Divisor [%s] of onstat for MarketId [%s] is not a number other than 0",
                                     record->arguments[ARG_DIVISOR], market_of(record));
        return false;
    }
    return true;
}

} // namespace

QEL_STATS_EXPORT int32_t init(void *parameter, logger_object *logger)
{
    qel_stats_online_parameter *record = static_cast<qel_stats_online_parameter *>(parameter);
    if (record->argument_count < ARG_REQUIRED || record->arguments == nullptr)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY, "Argument count is lesser than expected for onstat.dll");
        return QEL_STATS_VALID;
    }
    if (record->context == nullptr || !arguments_fit(record, logger))
        return QEL_STATS_VALID;
    if (query_of(record) == nullptr)
    {
        pf_counter_query *query = nullptr;
        uint32_t status = pf_counter_open_query(&query);
        if (status != PF_PDH_SUCCESS)
        {
            QEL_TOOL_LOG(nullptr, LOG_LEVEL_SYSTEM_ERROR, "PdhOpenQuery() failed with error [%lu]",
                         static_cast<unsigned long>(status));
            return QEL_STATS_VALID;
        }
        record->context[CONTEXT_QUERY] = query;
    }
    if (counter_of(record) == nullptr)
    {
        std::string path = std::string("\\") + record->arguments[ARG_COUNTER];
        pf_counter *counter = nullptr;
        uint32_t status = pf_counter_add(query_of(record), path.c_str(), &counter);
        if (status != PF_PDH_SUCCESS)
        {
            QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY,
                         "PdhAddCounter failed for onstat and MarketId [%s]. Error Code [%lu]",
                         market_of(record), static_cast<unsigned long>(status));
            return QEL_STATS_VALID;
        }
        record->context[CONTEXT_COUNTER] = counter;
    }
    record->value_count = 1;
    return QEL_STATS_SUCCESS;
}

QEL_STATS_EXPORT int32_t get_qel_statistics(void *parameter, logger_object *logger)
{
    qel_stats_online_parameter *record = static_cast<qel_stats_online_parameter *>(parameter);
    if (record->context == nullptr || counter_of(record) == nullptr || record->values == nullptr ||
        record->argument_count < ARG_REQUIRED)
        return QEL_STATS_VALID;
    uint32_t status = pf_counter_collect(query_of(record));
    if (status != PF_PDH_SUCCESS)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY,
                     "PdhCollectQueryData failed for onstat and MarketId [%s]. Error Code [%lu]",
                     market_of(record), static_cast<unsigned long>(status));
        return QEL_STATS_VALID;
    }
    double value = 0;
    status = pf_counter_get_double(counter_of(record), &value);
    if (status == PF_PDH_INVALID_DATA)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY,
                     "The specified Counter for %s and Market Id [%s] doesn't contain valid data",
                     record->arguments[ARG_NAME], market_of(record));
        return QEL_STATS_VALID;
    }
    if (status != PF_PDH_SUCCESS)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY,
                     "PdhGetFormattedCounterValue() failed for %s of Market id [%s]. Error code [%lu]",
                     record->arguments[ARG_NAME], market_of(record), static_cast<unsigned long>(status));
        return QEL_STATS_VALID;
    }
    double divisor = 1;
    read_divisor(record->arguments[ARG_DIVISOR], &divisor);
    qel_stats_value *out = &record->values[0];
    snprintf(out->value, sizeof out->value, "%.2f", value / divisor);
    snprintf(out->name, sizeof out->name, "%s", record->arguments[ARG_NAME]);
    snprintf(out->unit, sizeof out->unit, "%s", record->arguments[ARG_UNIT]);
    out->id = atoi(record->arguments[ARG_MARKET]);
    return QEL_STATS_SUCCESS;
}

QEL_STATS_EXPORT int32_t destroy(void *parameter, logger_object *logger)
{
    qel_stats_online_parameter *record = static_cast<qel_stats_online_parameter *>(parameter);
    if (record->context != nullptr && counter_of(record) != nullptr)
    {
        uint32_t status = pf_counter_remove(counter_of(record));
        if (status != PF_PDH_SUCCESS)
        {
            QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY,
                         "PdhRemoveCounter failed for onstat andMarket Id [%s]. Error Code [%lu]",
                         market_of(record), static_cast<unsigned long>(status));
            return QEL_STATS_VALID;
        }
        record->context[CONTEXT_COUNTER] = nullptr;
    }
    if (record->context != nullptr && query_of(record) != nullptr)
    {
        uint32_t status = pf_counter_close_query(query_of(record));
        if (status != PF_PDH_SUCCESS)
        {
            QEL_TOOL_LOG(nullptr, LOG_LEVEL_SYSTEM_ERROR, "PdhCloseQuery() failed with error [%lu]",
                         static_cast<unsigned long>(status));
            return QEL_STATS_VALID;
        }
        record->context[CONTEXT_QUERY] = nullptr;
    }
    record->value_count = 0;
    return QEL_STATS_SUCCESS;
}
