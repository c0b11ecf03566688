// Runs an operator tool as a real process for its tests: in a given folder, with extra
// environment variables (its own registry file), standard output and standard error kept
// apart, the raw eight-bit exit status, and optionally a file-size limit (a full disk as
// even root meets it) or mode bits that bind it as they bind any user.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qel_test
{

struct tool_result
{
    int status = -1; // the eight-bit exit status; -1 when a signal ended the tool
    bool timed_out = false;
    std::string out; // standard output
    std::string err; // standard error
};

struct tool_options
{
    std::string folder;                     // working folder
    std::map<std::string, std::string> env; // set in the tool's environment
    long file_size_limit = -1;              // bytes a file may grow to (-1: no limit)
    bool permissions_bind = false;          // the mode bits bind the tool even when run as root
    int timeout_ms = 30000;
};

tool_result run_tool(const std::vector<std::string> &argv, const tool_options &options);

} // namespace qel_test
