// A complete gateway configuration in a test's temporary folder, on reserved ports, with
// keys replaced or left out as a test needs.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qel_test
{

struct gateway_config
{
    std::map<std::string, std::string> values; // key to value, written in key order
    std::set<std::string> omitted;
    uint16_t fix_port = 0; // SocketAcceptPort of the FIX settings file that write() makes

    gateway_config();
    // A port kept for as long as this configuration (or a copy of it) lives.
    uint16_t reserve_port();
    // The port a key of the configuration names (PORT_NUMBER, INTERFACE_REALTIME_PORT_NUMBER, ...).
    uint16_t port(const std::string &key) const { return static_cast<uint16_t>(std::stoi(values.at(key))); }
    // Writes "qel_ip.cfg", the FIX settings file and the log folder; returns the file's path.
    std::string write(const temp_dir &dir) const;

  private:
    std::vector<std::shared_ptr<reserved_port>> m_ports;
};

} // namespace qel_test
