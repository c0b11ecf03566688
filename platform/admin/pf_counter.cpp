// The counters read /proc at each collection and keep the last two readings of each
// counter: a plain counter shows the last, a rate the difference of the two over the
// time between them (CLOCK_MONOTONIC). Rates of a process are only formed from two
// readings of the same process id, so a restarted process starts over.
#include "platform/admin/pf_counter.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "platform/admin/pf_process.h"

namespace
{

enum counter_kind
{
    COUNTER_PROCESSOR_TIME,
    COUNTER_AVAILABLE_BYTES,
    COUNTER_PROCESS_TIME,
    COUNTER_WORKING_SET,
    COUNTER_THREAD_COUNT,
    COUNTER_HANDLE_COUNT,
    COUNTER_INTERFACE_BYTES,
    COUNTER_TCP_ESTABLISHED,
};

struct counter_definition
{
    const char *object;
    const char *counter;
    counter_kind kind;
    bool has_instances;
    bool rate;
};

const counter_definition k_counters[] = {
    {"Processor", "% Processor Time", COUNTER_PROCESSOR_TIME, true, true},
    {"Memory", "Available Bytes", COUNTER_AVAILABLE_BYTES, false, false},
    {"Process", "% Processor Time", COUNTER_PROCESS_TIME, true, true},
    {"Process", "Working Set", COUNTER_WORKING_SET, true, false},
    {"Process", "Thread Count", COUNTER_THREAD_COUNT, true, false},
    {"Process", "Handle Count", COUNTER_HANDLE_COUNT, true, false},
    {"Network Interface", "Bytes Total/sec", COUNTER_INTERFACE_BYTES, true, true},
    {"TCPv4", "Connections Established", COUNTER_TCP_ESTABLISHED, false, false},
};

// One reading: value (and base, for the processor's share) at a time, of a process id.
struct reading
{
    bool valid = false;
    double value = 0;
    double base = 0;
    uint32_t pid = 0;
    double seconds = 0;
};

double monotonic_seconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool read_text(const char *path, std::string *text)
{
    FILE *file = fopen(path, "re");
    if (file == nullptr)
        return false;
    text->clear();
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        text->append(buffer, got);
    fclose(file);
    return true;
}

// The number after "key:" in a /proc status-like text.
bool field_number(const std::string &text, const char *key, double *value)
{
    std::string wanted = std::string("\n") + key + ":";
    std::string padded = "\n" + text;
    size_t at = padded.find(wanted);
    if (at == std::string::npos)
        return false;
    const char *start = padded.c_str() + at + wanted.size();
    char *end = nullptr;
    double number = strtod(start, &end);
    if (end == start)
        return false;
    *value = number;
    return true;
}

bool read_processor(reading *r)
{
    std::string text;
    if (!read_text("/proc/stat", &text) || text.compare(0, 4, "cpu ") != 0)
        return false;
    // user nice system idle iowait irq softirq steal (guest time is inside user already)
    double fields[8] = {0};
    const char *p = text.c_str() + 4;
    for (double &field : fields)
    {
        char *end = nullptr;
        field = strtod(p, &end);
        if (end == p)
            break;
        p = end;
    }
    double total = 0;
    for (double field : fields)
        total += field;
    r->base = total;
    r->value = total - fields[3] - fields[4];
    return true;
}

bool read_process(counter_kind kind, uint32_t pid, reading *r)
{
    char path[64];
    std::string text;
    switch (kind)
    {
    case COUNTER_PROCESS_TIME:
    {
        snprintf(path, sizeof path, "/proc/%u/stat", pid);
        if (!read_text(path, &text))
            return false;
        // After the name's last ")": the state (field 3) ... utime and stime (fields 14, 15).
        size_t close_paren = text.rfind(')');
        if (close_paren == std::string::npos)
            return false;
        unsigned long long user = 0, system = 0;
        if (sscanf(text.c_str() + close_paren + 1, " %*c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu",
                   &user, &system) != 2)
            return false;
        double ticks = static_cast<double>(user + system);
        r->value = ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
        return true;
    }
    case COUNTER_WORKING_SET:
    case COUNTER_THREAD_COUNT:
    {
        snprintf(path, sizeof path, "/proc/%u/status", pid);
        double number = 0;
        if (!read_text(path, &text) ||
            !field_number(text, kind == COUNTER_WORKING_SET ? "VmRSS" : "Threads", &number))
            return false;
        r->value = kind == COUNTER_WORKING_SET ? number * 1024 : number;
        return true;
    }
    case COUNTER_HANDLE_COUNT:
    {
        snprintf(path, sizeof path, "/proc/%u/fd", pid);
        DIR *folder = opendir(path);
        if (folder == nullptr)
            return false;
        double count = 0;
        for (struct dirent *entry = readdir(folder); entry != nullptr; entry = readdir(folder))
        {
            if (entry->d_name[0] != '.')
                count += 1;
        }
        closedir(folder);
        r->value = count;
        return true;
    }
    default:
        return false;
    }
}

bool read_interface(const std::string &name, reading *r)
{
    std::string text;
    if (!read_text("/proc/net/dev", &text))
        return false;
    size_t line_start = 0;
    while (line_start < text.size())
    {
        size_t line_end = text.find('\n', line_start);
        if (line_end == std::string::npos)
            line_end = text.size();
        std::string line = text.substr(line_start, line_end - line_start);
        line_start = line_end + 1;
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        size_t first = line.find_first_not_of(' ');
        if (line.compare(first, colon - first, name) != 0 || colon - first != name.size())
            continue;
        // Received: bytes packets errs drop fifo frame compressed multicast; then sent bytes.
        double fields[9] = {0};
        const char *p = line.c_str() + colon + 1;
        for (double &field : fields)
        {
            char *end = nullptr;
            field = strtod(p, &end);
            if (end == p)
                return false;
            p = end;
        }
        r->value = fields[0] + fields[8];
        return true;
    }
    return false;
}

bool read_tcp_established(reading *r)
{
    std::string text;
    if (!read_text("/proc/net/tcp", &text))
        return false;
    double count = 0;
    size_t line_start = text.find('\n'); // the heading
    while (line_start != std::string::npos && line_start + 1 < text.size())
    {
        size_t line_end = text.find('\n', line_start + 1);
        std::string line = text.substr(
            line_start + 1, line_end == std::string::npos ? std::string::npos : line_end - line_start - 1);
        line_start = line_end;
        // "sl local_address rem_address st ...": the state is the fourth word, 01 established.
        char state[8] = "";
        if (sscanf(line.c_str(), "%*s %*s %*s %7s", state) == 1 && strcmp(state, "01") == 0)
            count += 1;
    }
    r->value = count;
    return true;
}

} // namespace

struct pf_counter_query
{
    std::vector<pf_counter *> counters;
};

struct pf_counter
{
    pf_counter_query *query;
    const counter_definition *definition;
    std::string instance;
    reading previous;
    reading current;
};

namespace
{

bool take_reading(pf_counter *counter, pf_process_snapshot *snapshot, reading *r)
{
    r->seconds = monotonic_seconds();
    counter_kind kind = counter->definition->kind;
    switch (kind)
    {
    case COUNTER_PROCESSOR_TIME:
        return strcasecmp(counter->instance.c_str(), "_Total") == 0 && read_processor(r);
    case COUNTER_AVAILABLE_BYTES:
    {
        std::string text;
        double kilobytes = 0;
        if (!read_text("/proc/meminfo", &text) || !field_number(text, "MemAvailable", &kilobytes))
            return false;
        r->value = kilobytes * 1024;
        return true;
    }
    case COUNTER_INTERFACE_BYTES:
        return read_interface(counter->instance, r);
    case COUNTER_TCP_ESTABLISHED:
        return read_tcp_established(r);
    default:
    {
        if (snapshot == nullptr)
            return false;
        const pf_process_entry *entry = pf_process_find_by_name(snapshot, counter->instance.c_str());
        if (entry == nullptr)
            return false;
        r->pid = entry->pid;
        return read_process(kind, entry->pid, r);
    }
    }
}

bool needs_processes(const pf_counter_query *query)
{
    for (const pf_counter *counter : query->counters)
    {
        counter_kind kind = counter->definition->kind;
        if (kind == COUNTER_PROCESS_TIME || kind == COUNTER_WORKING_SET || kind == COUNTER_THREAD_COUNT ||
            kind == COUNTER_HANDLE_COUNT)
            return true;
    }
    return false;
}

// Splits "\Object(instance)\Counter"; false when the path has another shape.
bool split_path(const char *path, std::string *object, std::string *instance, bool *has_instance,
                std::string *counter)
{
    if (path == nullptr || path[0] != '\\' || path[1] == '\\')
        return false;
    const char *p = path + 1;
    const char *object_end = p + strcspn(p, "(\\");
    object->assign(p, static_cast<size_t>(object_end - p));
    *has_instance = *object_end == '(';
    p = object_end;
    if (*has_instance)
    {
        const char *close = strchr(p, ')');
        if (close == nullptr)
            return false;
        instance->assign(p + 1, static_cast<size_t>(close - p - 1));
        p = close + 1;
    }
    if (*p != '\\' || object->empty() || (*has_instance && instance->empty()))
        return false;
    counter->assign(p + 1);
    return !counter->empty() && counter->find('\\') == std::string::npos;
}

} // namespace

uint32_t pf_counter_open_query(pf_counter_query **query_out)
{
    if (query_out == nullptr)
        return PF_PDH_INVALID_ARGUMENT;
    *query_out = new (std::nothrow) pf_counter_query();
    return *query_out != nullptr ? PF_PDH_SUCCESS : PF_PDH_MEMORY_ALLOCATION_FAILURE;
}

uint32_t pf_counter_add(pf_counter_query *query, const char *path, pf_counter **counter_out)
{
    if (query == nullptr)
        return PF_PDH_INVALID_HANDLE;
    if (counter_out == nullptr)
        return PF_PDH_INVALID_ARGUMENT;
    *counter_out = nullptr;
    std::string object, instance, counter_name;
    bool has_instance = false;
    if (!split_path(path, &object, &instance, &has_instance, &counter_name))
        return PF_PDH_CSTATUS_BAD_COUNTERNAME;
    bool object_known = false;
    const counter_definition *definition = nullptr;
    for (const counter_definition &candidate : k_counters)
    {
        if (strcasecmp(candidate.object, object.c_str()) != 0)
            continue;
        object_known = true;
        if (strcasecmp(candidate.counter, counter_name.c_str()) == 0)
            definition = &candidate;
    }
    if (!object_known)
        return PF_PDH_CSTATUS_NO_OBJECT;
    if (definition == nullptr)
        return PF_PDH_CSTATUS_NO_COUNTER;
    if (definition->has_instances != has_instance)
        return PF_PDH_CSTATUS_BAD_COUNTERNAME;
    pf_counter *counter = new (std::nothrow) pf_counter();
    if (counter == nullptr)
        return PF_PDH_MEMORY_ALLOCATION_FAILURE;
    counter->query = query;
    counter->definition = definition;
    counter->instance = instance;
    query->counters.push_back(counter);
    *counter_out = counter;
    return PF_PDH_SUCCESS;
}

uint32_t pf_counter_collect(pf_counter_query *query)
{
    if (query == nullptr)
        return PF_PDH_INVALID_HANDLE;
    if (query->counters.empty())
        return PF_PDH_NO_DATA;
    pf_process_snapshot *snapshot = nullptr;
    if (needs_processes(query) && pf_process_snapshot_create(&snapshot) != 0)
        snapshot = nullptr;
    for (pf_counter *counter : query->counters)
    {
        counter->previous = counter->current;
        reading r;
        r.valid = take_reading(counter, snapshot, &r);
        counter->current = r;
    }
    pf_process_snapshot_destroy(snapshot);
    return PF_PDH_SUCCESS;
}

uint32_t pf_counter_get_double(const pf_counter *counter, double *value_out)
{
    if (counter == nullptr)
        return PF_PDH_INVALID_HANDLE;
    if (value_out == nullptr)
        return PF_PDH_INVALID_ARGUMENT;
    const reading &now = counter->current;
    const reading &before = counter->previous;
    if (!now.valid)
        return PF_PDH_INVALID_DATA;
    if (!counter->definition->rate)
    {
        *value_out = now.value;
        return PF_PDH_SUCCESS;
    }
    if (!before.valid || before.pid != now.pid || now.value < before.value)
        return PF_PDH_INVALID_DATA;
    if (counter->definition->kind == COUNTER_PROCESSOR_TIME)
    {
        double total = now.base - before.base;
        if (total <= 0)
            return PF_PDH_INVALID_DATA;
        *value_out = std::min(100.0, std::max(0.0, (now.value - before.value) * 100 / total));
        return PF_PDH_SUCCESS;
    }
    double elapsed = now.seconds - before.seconds;
    if (elapsed <= 0)
        return PF_PDH_INVALID_DATA;
    double per_second = (now.value - before.value) / elapsed;
    *value_out = counter->definition->kind == COUNTER_PROCESS_TIME ? per_second * 100 : per_second;
    return PF_PDH_SUCCESS;
}

uint32_t pf_counter_remove(pf_counter *counter)
{
    if (counter == nullptr)
        return PF_PDH_INVALID_HANDLE;
    std::vector<pf_counter *> &counters = counter->query->counters;
    counters.erase(std::remove(counters.begin(), counters.end(), counter), counters.end());
    delete counter;
    return PF_PDH_SUCCESS;
}

uint32_t pf_counter_close_query(pf_counter_query *query)
{
    if (query == nullptr)
        return PF_PDH_INVALID_HANDLE;
    for (pf_counter *counter : query->counters)
        delete counter;
    delete query;
    return PF_PDH_SUCCESS;
}
