// The four validator threads: workstation receive and send, host send and receive. They
// own no module object; in this build each waits on its queues and discards.
#pragma once

#include <cstdint>

uint32_t tws_receive_validate_thread(void *argument);
uint32_t tws_send_validate_thread(void *argument);
uint32_t th_send_validator_thread(void *argument);
uint32_t th_receive_validator_thread(void *argument);
