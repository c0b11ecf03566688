// The file searches of qelstat and pkeff over the shared file finder: every match of a
// pattern, in name order, however many there are.
#pragma once

#include <string>
#include <vector>

#include "common/ea_status.h"

// 0 with the matches (none: an empty list), 10000 when the search fails.
ea_status qel_stats_find_files(const std::string &pattern, std::vector<std::string> *names);
// A text that stands for itself in a pattern (a folder or a name holding "*", "?" or "[").
std::string qel_stats_pattern_literal(const char *text);
