// The validator threads: workstation receive and send (tws_validators.cpp), host send
// and receive (th_validators.cpp). They own no module object.
#pragma once

#include <cstdint>

#include "gateway/message_validators/th_validators.h"

uint32_t tws_receive_validate_thread(void *argument);
uint32_t tws_send_validate_thread(void *argument);
uint32_t th_send_validator_thread(void *argument);
uint32_t th_receive_validator_thread(void *argument);
