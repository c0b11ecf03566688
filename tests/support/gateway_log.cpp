// Reads the gateway's text logs back and splits their lines.
#include "support/gateway_log.h"

#include <dirent.h>

#include <algorithm>
#include <sstream>

#include "support/test_support.h"

namespace qel_test
{

namespace
{
std::vector<std::string> text_logs_of(const std::string &folder, const std::string &logger_name)
{
    std::vector<std::string> names;
    const std::string prefix = logger_name + "_text.";
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent *entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// level|text|function|file|line|wall time|tick time|elapsed
gateway_log_line split(const std::string &line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '|'))
        fields.push_back(field);
    fields.resize(std::max<size_t>(fields.size(), 4));
    return gateway_log_line{fields[0], fields[1], fields[2], fields[3]};
}
} // namespace

std::vector<gateway_log_line> gateway_log_lines(const std::string &folder, const std::string &logger_name)
{
    std::vector<gateway_log_line> lines;
    for (const std::string &name : text_logs_of(folder, logger_name))
    {
        std::istringstream in(read_file(folder + "/" + name));
        std::string line;
        while (std::getline(in, line))
            lines.push_back(split(line));
    }
    return lines;
}

std::vector<std::string> functions_of_lines(const std::vector<gateway_log_line> &lines,
                                            const std::string &text_start)
{
    std::vector<std::string> functions;
    for (const gateway_log_line &line : lines)
        if (line.text.compare(0, text_start.size(), text_start) == 0)
            functions.push_back(line.function);
    return functions;
}

} // namespace qel_test
