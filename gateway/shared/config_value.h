// Range checks for configuration values that are stored in narrower fields than the
// integer the reader returns: a value that does not fit fails start-up instead of
// being truncated into another valid-looking number.
#pragma once

#include <cstdint>

inline bool config_value_is_port(int32_t value)
{
    return value >= 1 && value <= 65535;
}

inline bool config_value_fits_u16(int32_t value)
{
    return value >= 0 && value <= 65535;
}
