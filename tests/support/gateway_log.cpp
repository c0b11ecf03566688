// Reads the gateway's text logs back and splits their lines.
#include "support/gateway_log.h"

#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

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

void expect_lines_under(const std::vector<gateway_log_line> &lines, const std::vector<std::string> &texts,
                        const std::string &function)
{
    for (const std::string &text : texts)
    {
        const std::vector<std::string> functions = functions_of_lines(lines, text);
        EXPECT_FALSE(functions.empty()) << "no line begins with: " << text;
        EXPECT_EQ(functions, std::vector<std::string>(functions.size(), function)) << text;
    }
}

gateway_test_loggers::gateway_test_loggers(const std::vector<std::string> &names) : m_names(names)
{
    mkdir(m_dir.file("logs").c_str(), 0700);
    m_dir.write("loggers.cfg", "LOG_FILE_PATH=" + m_dir.file("logs") +
                                   "\nSYSTEM_LOGGING_LEVEL=DEBUG\nSYSTEM_BINARY_LOGGING_ENABLED=FALSE\n");
    std::vector<const char *> pointers;
    for (const std::string &name : m_names)
        pointers.push_back(name.c_str());
    m_container = logger_object_container_create(m_dir.file("loggers.cfg").c_str(), pointers.data(),
                                                 static_cast<uint32_t>(pointers.size()));
}

gateway_test_loggers::~gateway_test_loggers()
{
    if (m_container != nullptr)
        logger_object_container_destroy(m_container);
}

logger_object *gateway_test_loggers::get(const std::string &name) const
{
    for (size_t i = 0; m_container != nullptr && i < m_names.size(); ++i)
        if (m_names[i] == name)
            return m_container->loggers[i];
    return nullptr;
}

std::vector<gateway_log_line> gateway_test_loggers::lines(const std::string &name) const
{
    return gateway_log_lines(m_dir.file("logs"), name);
}

size_t host_connects(const std::string &folder)
{
    size_t connects = 0;
    for (const gateway_log_line &line : gateway_log_lines(folder, "th_network_handler_thread"))
    {
        unsigned lines = 0, attempts = 0;
        if (line.text.compare(0, 24, "Connecting to IP address") == 0)
            ++connects;
        else if (sscanf(line.text.c_str(), "Left out [%u] log lines about [%u] attempts to connect", &lines,
                        &attempts) == 2)
            connects += attempts;
    }
    return connects;
}

} // namespace qel_test
