// Which shared queues each worker thread consumes and produces, and its module object.
// Queues are named by their producer and consumer (ea_global.h).
#include "gateway/qel_main/qel_threads.h"

#include <cstdlib>
#include <initializer_list>

#include "gateway/business_processing_layer/request_data_proc_info_container.h"
#include "gateway/business_processing_layer/response_data_proc_info_container.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/controller_module/state_controller_info.h"
#include "gateway/fix_network_handle/fix_nw_info.h"
#include "gateway/interface_module/interface_info.h"
#include "gateway/library/logger.h"
#include "gateway/message_validators/message_validators.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/qel_main/worker_thread_args.h"
#include "gateway/session_layer/th_session/host_session_info_container.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "gateway/tws_network_handle/tcp_nw_info.h"

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

static worker_thread_args *qel_worker_args(ea_global *g, int index, logger_object *logger, void *module,
                                           std::initializer_list<int> inputs,
                                           std::initializer_list<int> outputs)
{
    worker_thread_args *args = static_cast<worker_thread_args *>(calloc(1, sizeof(worker_thread_args)));
    if (args == nullptr)
        return nullptr;
    for (int q : inputs)
        args->inputs[args->input_count++] = g->array_of_shared_queues[q];
    for (int q : outputs)
        args->outputs[args->output_count++] = g->array_of_shared_queues[q];
    args->module = module;
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->shutdown_flag = &g->shutdown_flag;
    args->day_flag = &g->day_flags[index];
    args->logger = logger;
    return args;
}

static void *qel_state_controller_args(ea_global *g, logger_object *logger)
{
    state_controller_thread_args *args =
        static_cast<state_controller_thread_args *>(calloc(1, sizeof(state_controller_thread_args)));
    if (args == nullptr)
        return nullptr;
    args->controller = g->state_controller_info_p;
    args->to_interface = g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE];
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->shutdown_flag = &g->shutdown_flag;
    args->day_flag = &g->day_flags[11];
    args->logger = logger;
    return args;
}

static void *qel_request_processing_args(ea_global *g, logger_object *logger)
{
    request_data_processing_thread_args *args = static_cast<request_data_processing_thread_args *>(
        calloc(1, sizeof(request_data_processing_thread_args)));
    if (args == nullptr)
        return nullptr;
    args->from_user_session = g->array_of_shared_queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING];
    args->to_host_session = g->array_of_shared_queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION];
    args->pull_notifications = g->array_of_shared_queues[SQ_TH_NETWORK_TO_REQUEST_PROCESSING];
    args->container = g->request_data_proc_info_container_p;
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->shutdown_flag = &g->shutdown_flag;
    args->day_flag = &g->day_flags[4];
    args->logger = logger;
    return args;
}

static void *qel_response_processing_args(ea_global *g, logger_object *logger)
{
    response_data_processing_thread_args *args = static_cast<response_data_processing_thread_args *>(
        calloc(1, sizeof(response_data_processing_thread_args)));
    if (args == nullptr)
        return nullptr;
    args->from_host_session = g->array_of_shared_queues[SQ_HOST_SESSION_TO_RESPONSE_PROCESSING];
    args->to_user_session = g->array_of_shared_queues[SQ_RESPONSE_PROCESSING_TO_USER_SESSION];
    args->container = g->response_data_proc_info_container_p;
    args->wait_time_ms = WORKER_WAIT_TIME_MS;
    args->shutdown_flag = &g->shutdown_flag;
    args->day_flag = &g->day_flags[6];
    args->logger = logger;
    return args;
}

static void *qel_make_args(int index, ea_global *g, logger_object *logger)
{
    switch (index)
    {
    case 0:
        return qel_worker_args(
            g, index, logger, g->tcp_nw_info_p, {SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK},
            {SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, SQ_NOTIFICATIONS_TO_BOX_COMM, SQ_EVENTS_TO_INTERFACE});
    case 1:
        return qel_worker_args(g, index, logger, nullptr, {SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR},
                               {SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION, SQ_EVENTS_TO_INTERFACE});
    case 2:
        return qel_worker_args(g, index, logger, nullptr,
                               {SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR},
                               {SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK});
    case 3:
        return qel_worker_args(g, index, logger, g->user_session_info_container_p,
                               {SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION,
                                SQ_RESPONSE_PROCESSING_TO_USER_SESSION, SQ_FIX_TO_USER_SESSION},
                               {SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, SQ_USER_SESSION_TO_REQUEST_PROCESSING,
                                SQ_USER_SESSION_TO_FIX_SEND, SQ_EVENTS_TO_INTERFACE});
    case 4:
        return qel_request_processing_args(g, logger);
    case 5:
        return qel_worker_args(g, index, logger, g->host_session_container_p,
                               {SQ_REQUEST_PROCESSING_TO_HOST_SESSION,
                                SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION, SQ_TH_NETWORK_TO_HOST_SESSION,
                                SQ_BOX_COMM_TO_HOST_SESSION},
                               {SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR, SQ_HOST_SESSION_TO_RESPONSE_PROCESSING,
                                SQ_HOST_SESSION_TO_BOX_COMM, SQ_NOTIFICATIONS_TO_BOX_COMM});
    case 6:
        return qel_response_processing_args(g, logger);
    case 7:
        return qel_worker_args(g, index, logger, nullptr, {SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR},
                               {SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK});
    case 8:
        return qel_worker_args(g, index, logger, nullptr, {SQ_TH_NETWORK_TO_TH_RECEIVE_VALIDATOR},
                               {SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION, SQ_NOTIFICATIONS_TO_BOX_COMM});
    case 9:
        return qel_worker_args(g, index, logger, g->th_nw_info_p,
                               {SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK, SQ_BOX_COMM_TO_TH_NETWORK},
                               {SQ_TH_NETWORK_TO_TH_RECEIVE_VALIDATOR, SQ_TH_NETWORK_TO_REQUEST_PROCESSING,
                                SQ_TH_NETWORK_TO_HOST_SESSION, SQ_NOTIFICATIONS_TO_BOX_COMM});
    case 10:
        return qel_worker_args(g, index, logger, g->box_com_info_container_p,
                               {SQ_HOST_SESSION_TO_BOX_COMM, SQ_NOTIFICATIONS_TO_BOX_COMM},
                               {SQ_BOX_COMM_TO_HOST_SESSION, SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR,
                                SQ_BOX_COMM_TO_TH_NETWORK, SQ_BOX_COMM_TO_FIX_SEND, SQ_EVENTS_TO_INTERFACE});
    case 11:
        return qel_state_controller_args(g, logger);
    case 12:
        return qel_worker_args(g, index, logger, g->interface_info_p, {SQ_EVENTS_TO_INTERFACE}, {});
    case 13:
        return qel_worker_args(
            g, index, logger, g->fix_nw_info, {SQ_USER_SESSION_TO_FIX_SEND, SQ_BOX_COMM_TO_FIX_SEND},
            {SQ_NOTIFICATIONS_TO_BOX_COMM, SQ_EVENTS_TO_INTERFACE, SQ_FIX_TO_USER_SESSION});
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
