// qelstat's folders for its tests: a configuration naming the two parameter files and the
// current, history, offline and log folders of a temporary folder, and qelstat's logger
// over them. The zone is pinned to UTC, so that days and stamps are the test's own.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tools/logging/tool_logger.h"

namespace qel_test
{

struct stats_fixture
{
    temp_dir dir;
    std::string config = dir.file("qelstat.cfg");
    qel_tools::logger_object_container *container = nullptr;
    qel_tools::logger_object *logger = nullptr;

    explicit stats_fixture(const std::string &extra_keys = "", bool with_logger = true)
    {
        setenv("TZ", "UTC", 1);
        tzset();
        for (const char *folder : {"current", "history", "offline", "logs"})
            mkdir(dir.file(folder).c_str(), 0700);
        dir.write("online.txt", "");
        dir.write("offline.txt", "");
        dir.write("qelstat.cfg", "ONLINE_PARAM_FILE_NAME=" + dir.file("online.txt") +
                                     "\nOFFLINE_PARAM_FILE_NAME=" + dir.file("offline.txt") +
                                     "\nCURRENT_FILES_PATH=" + dir.file("current") + "\nHISTORY_FILES_PATH=" +
                                     dir.file("history") + "\nOFFLINE_FILES_PATH=" + dir.file("offline") +
                                     "\nLOG_FILE_PATH=" + dir.file("logs") + "\nMAIN_LOGGING_LEVEL=DEBUG\n" +
                                     extra_keys);
        if (with_logger)
        {
            const char *names[] = {"main"};
            container = qel_tools::logger_object_container_create(config.c_str(), names, 1);
            logger = container != nullptr ? container->loggers[0] : nullptr;
        }
    }
    ~stats_fixture() { qel_tools::logger_object_container_destroy(container); }
    stats_fixture(const stats_fixture &) = delete;
    stats_fixture &operator=(const stats_fixture &) = delete;

    // Everything logged so far, in every log file.
    std::string log() const
    {
        std::string text;
        for (const std::string &name : dir.list("logs"))
            text += dir.read("logs/" + name);
        return text;
    }
    bool logged(const std::string &part) const { return log().find(part) != std::string::npos; }
    size_t times_logged(const std::string &part) const { return qel_test::count_of(log(), part); }
};

// A parameter line: plug-in, name, number, then the arguments, each followed by a comma.
inline std::string parameter_line(const std::string &plugin, const std::string &name, int number,
                                  const std::vector<std::string> &arguments)
{
    std::string line =
        plugin + "," + name + "," + std::to_string(number) + "," + std::to_string(arguments.size()) + ",";
    for (const std::string &argument : arguments)
        line += argument + ",";
    return line + "\n";
}

// Seconds since 1970 of a UTC date and time.
inline int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second = 0)
{
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<int64_t>(timegm(&t));
}

} // namespace qel_test
