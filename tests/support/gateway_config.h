// A complete gateway configuration in a test's temporary folder, on free loopback
// ports, with keys replaced or left out as a test needs.
#pragma once

#include <map>
#include <set>
#include <string>

#include "support/test_support.h"

namespace qel_test
{

struct gateway_config
{
    std::map<std::string, std::string> values; // key to value, written in key order
    std::set<std::string> omitted;

    gateway_config();
    // Writes "qel_ip.cfg", the FIX settings file and the log folder; returns the file's path.
    std::string write(const temp_dir &dir) const;
};

} // namespace qel_test
