// The contract between qelstat and its plug-ins (pkeff.so, onstat.so): the parameter
// records qelstat fills from its parameter files and lends to every call, the value
// record an online plug-in fills, and the three exports every plug-in has.
//
// qelstat and every plug-in are built from this one declaration. qelstat owns the
// records, their arguments and value records and the logger object it lends; a plug-in
// owns only what it keeps in an online record's context. Each export takes the record
// (online or offline, by the plug-in's kind) and the logger (may be null) and returns
// 0, 203 (failed, the parameter goes on) or 10000 (the parameter's set-up failed).
#pragma once

#include <cstdint>

namespace qel_tools
{
struct logger_object;
}

enum
{
    QEL_STATS_NAME_SIZE = 256,
    QEL_STATS_PLUGIN_FILE_SIZE = 256,
    QEL_STATS_VALUE_NAME_SIZE = 256,
    QEL_STATS_VALUE_TEXT_SIZE = 64,
    QEL_STATS_VALUE_UNIT_SIZE = 16,
    QEL_STATS_CONTEXT_WORDS = 2,
};

enum : int32_t
{
    QEL_STATS_SUCCESS = 0,
    QEL_STATS_VALID = 203, // "EA_VALID" in qelstat's texts
    QEL_STATS_ERROR = 10000,
};

typedef int32_t (*qel_stats_entry)(void *parameter, qel_tools::logger_object *logger);

struct qel_stats_value
{
    char name[QEL_STATS_VALUE_NAME_SIZE];
    int32_t id; // the console page that shows it: 100 Common, else the market number
    char value[QEL_STATS_VALUE_TEXT_SIZE];
    char unit[QEL_STATS_VALUE_UNIT_SIZE];
};

struct qel_stats_online_parameter
{
    char name[QEL_STATS_NAME_SIZE]; // names the statistics files
    char plugin_file[QEL_STATS_PLUGIN_FILE_SIZE];
    int32_t interval; // seconds
    int32_t argument_count;
    char **arguments;
    int64_t current_time;        // seconds since 1970, taken at each pass
    int64_t last_call_time;      // 0 until the first call
    qel_stats_entry entry_point; // init while init runs, then get_qel_statistics; null: none
    void *module;
    void **context;       // QEL_STATS_CONTEXT_WORDS zeroed words the plug-in keeps its handles in
    uint32_t value_count; // set by init
    qel_stats_value *values;
};

struct qel_stats_offline_parameter
{
    char name[QEL_STATS_NAME_SIZE]; // the output path (without extension) during a call
    char plugin_file[QEL_STATS_PLUGIN_FILE_SIZE];
    int32_t time_of_day; // HHMM
    int32_t argument_count;
    char **arguments;
    qel_stats_entry entry_point;
    void *module;
    uint8_t done; // today's run has started
    uint32_t value_count;
    qel_stats_value *value;
    // The parameter's own name from its file, kept apart from the output path above so
    // that each day's path is built from it.
    char parameter_name[QEL_STATS_NAME_SIZE];
};

// The exports, as a plug-in defines them.
#define QEL_STATS_EXPORT extern "C" __attribute__((visibility("default")))
