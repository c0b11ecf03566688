// qelmon's actions on the service entry: CREATE, DELETE, START and STOP.
#pragma once

#include <cstdint>

#include "tools/service/service_logger.h"

namespace qel_service
{

enum
{
    QEL_CONTROL_START = 0,
    QEL_CONTROL_STOP = 1,
};

// CREATE: the entry runs qelmon's own executable with -w, -c and -a RUN; on a machine
// that runs systemd the unit is then linked and enabled.
int32_t create_qel_service_entry(const char *working_folder, const char *config_file, logger_object *logger);
int32_t delete_qel_service_entry(logger_object *logger);
// START (0) waits until the service runs (100 ms polls, 30 s at most); STOP (1) sends
// the stop control and does not wait.
int32_t control_qel_service(int action, logger_object *logger);

} // namespace qel_service
