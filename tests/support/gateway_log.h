// The gateway's text log lines as the suites read them back: each line split at "|" into
// its level, text, function and source file, so that a test can say under which function
// a line was written.
#pragma once

#include <string>
#include <vector>

#include "gateway/runtime/logger.h"
#include "support/test_support.h"

namespace qel_test
{

struct gateway_log_line
{
    std::string level; // blanks for a continuation line
    std::string text;
    std::string function;
    std::string file;
};

// Every line of the text logs of one logger ("<name>_text.*" files) in a folder, file by
// file in name order.
std::vector<gateway_log_line> gateway_log_lines(const std::string &folder, const std::string &logger_name);

// The gateway's connects to the host so far, from the logs in `folder`: the "Connecting to IP
// address" lines of its host network thread, and the attempts its lines about failed
// connects left out (a build without that fold writes every connect).
size_t host_connects(const std::string &folder);

// The functions of the lines whose text begins with `text_start`, in the order written.
std::vector<std::string> functions_of_lines(const std::vector<gateway_log_line> &lines,
                                            const std::string &text_start);

// Checks that each text begins at least one line and that every such line was written under
// `function` (a failure names the text).
void expect_lines_under(const std::vector<gateway_log_line> &lines, const std::vector<std::string> &texts,
                        const std::string &function);

// Gateway loggers of the given names that write every level into a folder of their own, for
// a test that reads back what a module logged and under which function.
class gateway_test_loggers
{
  public:
    explicit gateway_test_loggers(const std::vector<std::string> &names);
    ~gateway_test_loggers();
    gateway_test_loggers(const gateway_test_loggers &) = delete;
    gateway_test_loggers &operator=(const gateway_test_loggers &) = delete;

    // The logger of that name; null when it is not one of them.
    logger_object *get(const std::string &name) const;
    std::vector<gateway_log_line> lines(const std::string &name) const;

  private:
    temp_dir m_dir;
    std::vector<std::string> m_names;
    logger_object_container *m_container = nullptr;
};

} // namespace qel_test
