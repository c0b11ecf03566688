// parmset's access to a gateway configuration file of "name=value" lines.
//
// Every change copies the file line by line into a temporary file in the same folder
// (same mode), flushes it to the disk and renames it over the old file: whatever fails,
// the file stays as it was and the temporary file is removed. Lines of any length are
// copied whole; a line's name is its text up to the first "=", compared exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct parmset_logger;

struct parameter_request
{
    std::string name;
    std::string value; // empty: the name's lines are deleted
};

// Rewrites every line of each requested name with its value (deletes them for an empty
// value) and appends the names never found that have a value. When a name is requested
// twice, the later request holds. 9000, 9001 or 9002 (the last change), 1 when nothing
// changed, 200 or 300 with the reason in *message.
int configure_param(const std::string &file_name, const std::vector<parameter_request> &requests,
                    std::string *message, parmset_logger *logger);

// The number of lines whose name equals name into *count: 0, or 300.
int get_duplicate_count_of_param(const std::string &file_name, const std::string &name, uint32_t *count,
                                 std::string *message, parmset_logger *logger);

// Deletes every line of name: the number of lines deleted, or 200 or 300 with *message.
int remove_duplicate_params(const std::string &file_name, const std::string &name, std::string *message,
                            parmset_logger *logger);

// The name's value as the gateway reads it (the first line of that name; the value ends
// at the next "=" and a carriage return before the line end is not part of it): 0, -1
// when the name is missing, -2 when it has no value, -3 when the value is 1024 characters
// or longer, 300 when the file cannot be read.
int read_config_param(const std::string &file_name, const std::string &name, std::string *value,
                      std::string *message);
