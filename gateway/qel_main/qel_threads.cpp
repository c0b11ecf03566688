// The argument record of each worker thread: the shared queues it consumes and produces
// (named by producer and consumer in ea_global.h), its module object, its wait time, the
// shutdown flag, its own day flag and its logger.
#include "gateway/qel_main/qel_threads.h"

#include <cstdlib>

#include "gateway/business_processing_layer/request_data_proc_info_container.h"
#include "gateway/business_processing_layer/response_data_proc_info_container.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/controller_module/state_controller_info.h"
#include "gateway/fix_network_handle/fix_nw_info.h"
#include "gateway/interface_module/interface_info.h"
#include "gateway/message_validators/message_validators.h"
#include "gateway/message_validators/tws_validators.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/logger.h"
#include "gateway/session_layer/th_session/host_session_info_container.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/session_layer/user_session/user_session_thread.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "gateway/tws_network_handle/tcp_nw_info.h"
#include "gateway/tws_network_handle/tws_nw_handler_thread.h"

enum
{
    WORKER_WAIT_TIME_MS = 10,
};

const char *const qel_logger_names[QEL_LOGGER_COUNT] = {
    "tws_network_handler_thread",
    "tws_receive_validator_thread",
    "tws_send_validator_thread",
    "user_session_thread",
    "request_data_processing_thread",
    "th_session_module_thread",
    "response_data_processing_thread",
    "th_send_validator_thread",
    "th_receive_validator_thread",
    "th_network_handler_thread",
    "box_communication_thread",
    "state_controller_thread",
    "interface_thread",
    "fix_network_handler_send_thread",
    "fix_network_handler_recv_thread",
    "main",
};

// Names used in the allocation-failure line; index 1 keeps its historical spelling.
static const char *const qel_args_names[QEL_WORKER_THREAD_COUNT] = {
    "tws_nw_handler_thread",
    "tws_recv_validate_thread",
    "tws_send_validate_thread",
    "user_session_thread",
    "request_data_processing_thread",
    "th_session_module_thread",
    "response_data_processing_thread",
    "th_send_validator_thread",
    "th_receive_validator_thread",
    "th_nw_handler_thread",
    "box_comm_thread",
    "state_controller_thread",
    "interface_thread",
    "fix_nw_handler_send_thread",
};

// Every argument record carries the shutdown flag, the thread's own day flag and its
// logger; the rest is the thread's own.
template <typename T> static T *qel_new_args(ea_global *g, int index, logger_object *logger)
{
    T *args = static_cast<T *>(calloc(1, sizeof(T)));
    if (args != nullptr)
    {
        args->shutdown_flag = &g->shutdown_flag;
        args->day_flag = &g->day_flags[index];
        args->logger = logger;
    }
    return args;
}

static void *qel_state_controller_args(ea_global *g, logger_object *logger)
{
    state_controller_thread_args *args = qel_new_args<state_controller_thread_args>(g, 11, logger);
    if (args == nullptr)
        return nullptr;
    args->controller = g->state_controller_info_p;
    args->to_interface = g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_tws_nw_handler_args(ea_global *g, logger_object *logger)
{
    tws_nw_handler_thread_args *args = qel_new_args<tws_nw_handler_thread_args>(g, 0, logger);
    if (args == nullptr)
        return nullptr;
    args->server = g->tcp_nw_info_p;
    args->input_queues[0] = g->array_of_shared_queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK];
    args->data_out = g->array_of_shared_queues[SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR];
    args->notifications_out = g->array_of_shared_queues[SQ_NOTIFICATIONS_TO_BOX_COMM];
    args->console_out = g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->receive_batch_limit = g->receive_count;
    args->number_of_links = g->number_of_links;
    return args;
}

static void *qel_tws_receive_validator_args(ea_global *g, logger_object *logger)
{
    tws_receive_validate_thread_args *args = qel_new_args<tws_receive_validate_thread_args>(g, 1, logger);
    if (args == nullptr)
        return nullptr;
    args->from_network = g->array_of_shared_queues[SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR];
    args->to_user_session = g->array_of_shared_queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->book = g->tcp_nw_info_p->book;
    args->slot_count = g->max_tws_clients;
    return args;
}

static void *qel_tws_send_validator_args(ea_global *g, logger_object *logger)
{
    tws_send_validate_thread_args *args = qel_new_args<tws_send_validate_thread_args>(g, 2, logger);
    if (args == nullptr)
        return nullptr;
    args->from_user_session = g->array_of_shared_queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR];
    args->from_box_comm = g->array_of_shared_queues[SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR];
    args->to_network = g->array_of_shared_queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK];
    args->invitation_count = g->flow_control_count;
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->book = g->tcp_nw_info_p->book;
    args->slot_count = g->max_tws_clients;
    return args;
}

static void *qel_interface_args(ea_global *g, logger_object *logger)
{
    interface_thread_args *args = qel_new_args<interface_thread_args>(g, 12, logger);
    if (args == nullptr)
        return nullptr;
    args->interface_info_p = g->interface_info_p;
    args->realtime = g->interface_nw_info_realtime;
    args->interactive = g->interface_nw_info_interactive;
    args->receive_wait_ms = WORKER_WAIT_TIME_MS;
    args->notifications = g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE];
    args->queue_wait_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_fix_send_args(ea_global *g, logger_object *logger)
{
    fix_nw_handler_send_thread_args *args = qel_new_args<fix_nw_handler_send_thread_args>(g, 13, logger);
    if (args == nullptr)
        return nullptr;
    args->from_user_session = g->array_of_shared_queues[SQ_USER_SESSION_TO_FIX_SEND];
    args->to_box_comm = g->array_of_shared_queues[SQ_NOTIFICATIONS_TO_BOX_COMM];
    args->to_interface = g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE];
    args->from_box_comm = g->array_of_shared_queues[SQ_BOX_COMM_TO_FIX_SEND];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->fix_nw_info = g->fix_nw_info;
    args->number_of_links = g->number_of_links;
    return args;
}

static void *qel_user_session_args(ea_global *g, logger_object *logger)
{
    user_session_thread_args *args = qel_new_args<user_session_thread_args>(g, 3, logger);
    if (args == nullptr)
        return nullptr;
    args->container = g->user_session_info_container_p;
    args->fix_request_queue = g->array_of_shared_queues[SQ_FIX_TO_USER_SESSION];
    args->fix_send_queue = g->array_of_shared_queues[SQ_USER_SESSION_TO_FIX_SEND];
    args->tws_request_queue = g->array_of_shared_queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION];
    args->response_queue = g->array_of_shared_queues[SQ_RESPONSE_PROCESSING_TO_USER_SESSION];
    args->tws_send_queue = g->array_of_shared_queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR];
    args->request_processing_queue = g->array_of_shared_queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING];
    args->console_queue = g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_th_send_validator_args(ea_global *g, logger_object *logger)
{
    th_send_validator_thread_args *args = qel_new_args<th_send_validator_thread_args>(g, 7, logger);
    if (args == nullptr)
        return nullptr;
    args->input_queue = g->array_of_shared_queues[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR];
    args->output_queue = g->array_of_shared_queues[SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_th_receive_validator_args(ea_global *g, logger_object *logger)
{
    th_receive_validator_thread_args *args = qel_new_args<th_receive_validator_thread_args>(g, 8, logger);
    if (args == nullptr)
        return nullptr;
    args->input_queue = g->array_of_shared_queues[SQ_TH_NETWORK_TO_TH_RECEIVE_VALIDATOR];
    args->output_queue = g->array_of_shared_queues[SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION];
    args->notification_queue = g->array_of_shared_queues[SQ_NOTIFICATIONS_TO_BOX_COMM];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_th_nw_handler_args(ea_global *g, logger_object *logger)
{
    th_nw_handler_thread_args *args = qel_new_args<th_nw_handler_thread_args>(g, 9, logger);
    if (args == nullptr)
        return nullptr;
    args->th_nw_info_p = g->th_nw_info_p;
    args->box_comm_queue = g->array_of_shared_queues[SQ_BOX_COMM_TO_TH_NETWORK];
    args->send_validator_queue = g->array_of_shared_queues[SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK];
    args->receive_validator_queue = g->array_of_shared_queues[SQ_TH_NETWORK_TO_TH_RECEIVE_VALIDATOR];
    args->notification_queue = g->array_of_shared_queues[SQ_NOTIFICATIONS_TO_BOX_COMM];
    args->heart_beat_queue = g->array_of_shared_queues[SQ_TH_NETWORK_TO_HOST_SESSION];
    args->pull_queue = g->array_of_shared_queues[SQ_TH_NETWORK_TO_REQUEST_PROCESSING];
    args->interface_queue = g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->frame_limit = g->receive_count;
    return args;
}

static void *qel_box_comm_args(ea_global *g, logger_object *logger)
{
    box_comm_thread_args *args = qel_new_args<box_comm_thread_args>(g, 10, logger);
    if (args == nullptr)
        return nullptr;
    args->container = g->box_com_info_container_p;
    args->from_th_session = g->array_of_shared_queues[SQ_HOST_SESSION_TO_BOX_COMM];
    args->notifications = g->array_of_shared_queues[SQ_NOTIFICATIONS_TO_BOX_COMM];
    args->to_th_session = g->array_of_shared_queues[SQ_BOX_COMM_TO_HOST_SESSION];
    args->to_tws_send_validator = g->array_of_shared_queues[SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR];
    args->to_fix_send = g->array_of_shared_queues[SQ_BOX_COMM_TO_FIX_SEND];
    args->to_th_network = g->array_of_shared_queues[SQ_BOX_COMM_TO_TH_NETWORK];
    args->to_interface = g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_th_session_args(ea_global *g, logger_object *logger)
{
    th_session_module_thread_args *args = qel_new_args<th_session_module_thread_args>(g, 5, logger);
    if (args == nullptr)
        return nullptr;
    args->from_th_network = g->array_of_shared_queues[SQ_TH_NETWORK_TO_HOST_SESSION];
    args->from_request_processing = g->array_of_shared_queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION];
    args->from_box_comm = g->array_of_shared_queues[SQ_BOX_COMM_TO_HOST_SESSION];
    args->from_th_receive_validator = g->array_of_shared_queues[SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION];
    args->to_th_send_validator = g->array_of_shared_queues[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR];
    args->to_response_processing = g->array_of_shared_queues[SQ_HOST_SESSION_TO_RESPONSE_PROCESSING];
    args->to_box_comm = g->array_of_shared_queues[SQ_HOST_SESSION_TO_BOX_COMM];
    args->notifications = g->array_of_shared_queues[SQ_NOTIFICATIONS_TO_BOX_COMM];
    args->container = g->host_session_container_p;
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_request_processing_args(ea_global *g, logger_object *logger)
{
    request_data_processing_thread_args *args =
        qel_new_args<request_data_processing_thread_args>(g, 4, logger);
    if (args == nullptr)
        return nullptr;
    args->from_user_session = g->array_of_shared_queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING];
    args->to_host_session = g->array_of_shared_queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION];
    args->pull_notifications = g->array_of_shared_queues[SQ_TH_NETWORK_TO_REQUEST_PROCESSING];
    args->container = g->request_data_proc_info_container_p;
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_response_processing_args(ea_global *g, logger_object *logger)
{
    response_data_processing_thread_args *args =
        qel_new_args<response_data_processing_thread_args>(g, 6, logger);
    if (args == nullptr)
        return nullptr;
    args->from_host_session = g->array_of_shared_queues[SQ_HOST_SESSION_TO_RESPONSE_PROCESSING];
    args->to_user_session = g->array_of_shared_queues[SQ_RESPONSE_PROCESSING_TO_USER_SESSION];
    args->container = g->response_data_proc_info_container_p;
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    return args;
}

static void *qel_make_args(int index, ea_global *g, logger_object *logger)
{
    switch (index)
    {
    case 0:
        return qel_tws_nw_handler_args(g, logger);
    case 1:
        return qel_tws_receive_validator_args(g, logger);
    case 2:
        return qel_tws_send_validator_args(g, logger);
    case 3:
        return qel_user_session_args(g, logger);
    case 4:
        return qel_request_processing_args(g, logger);
    case 5:
        return qel_th_session_args(g, logger);
    case 6:
        return qel_response_processing_args(g, logger);
    case 7:
        return qel_th_send_validator_args(g, logger);
    case 8:
        return qel_th_receive_validator_args(g, logger);
    case 9:
        return qel_th_nw_handler_args(g, logger);
    case 10:
        return qel_box_comm_args(g, logger);
    case 11:
        return qel_state_controller_args(g, logger);
    case 12:
        return qel_interface_args(g, logger);
    case 13:
        return qel_fix_send_args(g, logger);
    default:
        return nullptr;
    }
}

static const ea_thread_routine qel_routines[QEL_WORKER_THREAD_COUNT] = {
    tws_nw_handler_thread,
    tws_receive_validate_thread,
    tws_send_validate_thread,
    user_session_thread,
    request_data_processing_thread,
    th_session_module_thread,
    response_data_processing_thread,
    th_send_validator_thread,
    th_receive_validator_thread,
    th_nw_handler_thread,
    box_comm_thread,
    state_controller_thread,
    interface_thread,
    fix_nw_handler_send_thread,
};

ea_status qel_threads_create_args(qel_thread_table *table, ea_global *global,
                                  logger_object_container *loggers, logger_object *main_logger)
{
    for (int i = 0; i < QEL_WORKER_THREAD_COUNT; ++i)
    {
        table->routines[i] = qel_routines[i];
        table->args[i] = qel_make_args(i, global, loggers->loggers[i]);
        if (table->args[i] == nullptr)
        {
            EA_LOG(main_logger, EA_LEVEL_SYSTEM_ERROR, "%s_args:malloc fail.", qel_args_names[i]);
            return EA_ERROR;
        }
    }
    return EA_SUCCESS;
}

void qel_threads_free_args(qel_thread_table *table)
{
    for (void *&args : table->args)
    {
        free(args);
        args = nullptr;
    }
}
