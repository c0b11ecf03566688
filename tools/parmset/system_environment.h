// The one registry value parmset writes: QEL_VAL under SOFTWARE\QEL_IP, through which an
// installer reads a configuration value. (The names speak of an environment variable, as
// the installation's scripts do; only the registry value is touched.)
#pragma once

#include <cstdint>
#include <string>

struct parmset_logger;

// Opens or creates the key and writes the string value: 0, or the registry's error number
// (a failed write included).
uint32_t set_system_environment_variable(const char *name, const std::string &value, parmset_logger *logger);
// Deletes the value: 0, or the registry's error number (2 when there is no such value).
uint32_t remove_system_environment_variable(const char *name, parmset_logger *logger);
