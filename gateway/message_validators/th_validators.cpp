// Thread routines of the host-side validators.
#include "gateway/message_validators/message_validators.h"
#include "gateway/qel_main/worker_thread_args.h"

uint32_t th_send_validator_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}

uint32_t th_receive_validator_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}
