// Statistics files. The current file is cut and written in one call under an exclusive
// lock, so it holds exactly the newest line: written over the start of the old file, a
// shorter line would leave the old tail behind, and the console would read that tail as
// records of its own.
#include "tools/statistics/qel_stats_file.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/admin/pf_share_file.h"

using qel_tools::LOG_LEVEL_SYSTEM_ERROR;
using qel_tools::logger_object;

namespace
{
// A field of a value record, which a plug-in may have filled to its last byte.
std::string field(const char *text, size_t size)
{
    return std::string(text, strnlen(text, size));
}
} // namespace

std::string qel_stats_file_path(const char *folder, const char *parameter_name, const char *stamp)
{
    return std::string(folder) + "/" + parameter_name + "." + stamp + ".current.txt";
}

std::string qel_stats_file_line(const qel_stats_online_parameter *parameter, int64_t next_call_time,
                                logger_object *logger)
{
    std::string line;
    for (uint32_t i = 0; i < parameter->value_count && parameter->values != nullptr; ++i)
    {
        const qel_stats_value &value = parameter->values[i];
        char record[QEL_STATS_VALUE_NAME_SIZE + QEL_STATS_VALUE_TEXT_SIZE + QEL_STATS_VALUE_UNIT_SIZE + 64];
        int length = snprintf(record, sizeof record, "%d,%s,%s,%s,%" PRId64 "|", value.id,
                              field(value.name, sizeof value.name).c_str(),
                              field(value.value, sizeof value.value).c_str(),
                              field(value.unit, sizeof value.unit).c_str(), next_call_time);
        if (length < 0 || line.size() + static_cast<size_t>(length) >= QEL_STATS_LINE_SIZE)
        {
            QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR,
                         "Value record [%u] of parameter [%s] left out: the line would pass [%d] bytes",
                         i + 1, parameter->name, QEL_STATS_LINE_SIZE - 1);
            continue;
        }
        line.append(record, static_cast<size_t>(length));
    }
    if (line.empty())
        return "\n";
    line.back() = '\n';
    return line;
}

void qel_stats_file_write(const char *current_folder, const char *history_folder,
                          const qel_stats_online_parameter *parameter, const char *stamp,
                          const std::string &line, logger_object *logger)
{
    std::string current = qel_stats_file_path(current_folder, parameter->name, stamp);
    std::string history = qel_stats_file_path(history_folder, parameter->name, stamp);
    int error = 0;
    int current_fd = pf_share_open(current.c_str(), PF_SHARE_REPLACE, &error);
    if (current_fd < 0)
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR,
                     "Open and share operation failed for file [%s]. Error Code [%d]", current.c_str(),
                     error);
    int history_fd = pf_share_open(history.c_str(), PF_SHARE_APPEND, &error);
    if (history_fd < 0)
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR,
                     "Open and share operation failed for file [%s]. Error Code[%d]", history.c_str(), error);
    if (current_fd >= 0 &&
        pf_share_write(current_fd, PF_SHARE_REPLACE, line.data(), line.size(), &error) != 0)
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR,
                     "File write operation failed for file [%s], Error Code [%d]", current.c_str(), error);
    if (history_fd >= 0 && pf_share_write(history_fd, PF_SHARE_APPEND, line.data(), line.size(), &error) != 0)
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR,
                     "File write operation failed for file [%s], Error Code [%d]", history.c_str(), error);
    pf_share_close(current_fd);
    pf_share_close(history_fd);
}
