// The gateway's text log lines as the suites read them back: each line split at "|" into
// its level, text, function and source file, so that a test can say under which function
// a line was written.
#pragma once

#include <string>
#include <vector>

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

// The functions of the lines whose text begins with `text_start`, in the order written.
std::vector<std::string> functions_of_lines(const std::vector<gateway_log_line> &lines,
                                            const std::string &text_start);

} // namespace qel_test
