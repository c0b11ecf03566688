// Creation and destruction of the global context, in the gateway's fixed order: the 23
// shared queues, the global keys, the shared arrays, then one object per module. Any
// failure logs, takes down what was built and gives null, and start-up ends with 10003.
#include "gateway/qel_main/ea_global.h"

#include <cstring>
#include <new>

#include "common/config_file.h"
#include "gateway/business_processing_layer/request_data_proc_info_container.h"
#include "gateway/business_processing_layer/response_data_proc_info_container.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/controller_module/state_controller_info.h"
#include "gateway/fix_network_handle/fix_nw_info.h"
#include "gateway/interface_module/interface_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/session_layer/th_session/host_session_info_container.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/shared/config_value.h"
#include "gateway/shared/user_link_info.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "gateway/tws_network_handle/tcp_nw_info.h"

static bool ea_global_is_network_event_queue(int index)
{
    return index == SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK || index == SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK ||
           index == SQ_BOX_COMM_TO_TH_NETWORK;
}

// The helpers below log under the name of the function they work for, ea_global_create,
// which hands it down as `caller`.
static bool ea_global_key_missing(const char *key, const char *config_file, logger_object *logger,
                                  const char *caller)
{
    EA_LOG_IN(caller, logger, EA_LEVEL_SYSTEM_ERROR, "[%s] parameter not found in config file [%s]", key,
              config_file);
    return false;
}

// A required integer key that must lie in [minimum, maximum]: the fields that keep these
// values are 16 bits wide, so an out-of-range value fails start-up instead of wrapping.
static bool ea_global_read_bounded(const char *config_file, const char *key, int32_t minimum, int32_t maximum,
                                   int32_t *value, logger_object *logger, const char *caller)
{
    // A value below the minimum counts as missing, as it always has for these keys.
    if (config_file_read_int(config_file, key, value) != EA_SUCCESS || *value < minimum)
        return ea_global_key_missing(key, config_file, logger, caller);
    if (*value > maximum)
    {
        EA_LOG_IN(caller, logger, EA_LEVEL_SYSTEM_ERROR,
                  "[%s] value [%d] in config file [%s] is out of range [%d, %d]", key, *value, config_file,
                  minimum, maximum);
        return false;
    }
    return true;
}

static bool ea_global_read_keys(ea_global *global, const char *config_file, logger_object *logger,
                                const char *caller)
{
    if (config_file_read_string(config_file, "FIX_FILE_PATH", global->fix_file_path,
                                sizeof(global->fix_file_path)) != EA_SUCCESS)
        return ea_global_key_missing("FIX_FILE_PATH", config_file, logger, caller);

    int32_t links = 1;
    if (config_file_read_int(config_file, "NUMBER_OF_LINKS", &links) == EA_SUCCESS)
    {
        EA_LOG_IN(caller, logger, EA_LEVEL_EVENT, "[%s] parameter found in config file [%s]",
                  "NUMBER_OF_LINKS", config_file);
        if (links < 1 || links > 0xFFFF)
        {
            EA_LOG_IN(caller, logger, EA_LEVEL_SYSTEM_ERROR,
                      "[%s] value [%d] in config file [%s] is out of range [%d, %d]", "NUMBER_OF_LINKS",
                      links, config_file, 1, 0xFFFF);
            return false;
        }
    }
    global->number_of_links = static_cast<uint16_t>(links);

    // Workstation slots and FIX slots together number 2 x MAX_TWS_CLIENTS, and slot
    // indexes travel in 16-bit fields.
    int32_t clients = 0;
    if (!ea_global_read_bounded(config_file, "MAX_TWS_CLIENTS", 1, 0x7FFF, &clients, logger, caller))
        return false;
    global->max_tws_clients = static_cast<uint16_t>(clients);

    if (!ea_global_read_bounded(config_file, "INTERFACE_REALTIME_PORT_NUMBER", 1, 65535,
                                &global->interface_realtime_port, logger, caller) ||
        !ea_global_read_bounded(config_file, "INTERFACE_INTERACTIVE_PORT_NUMBER", 1, 65535,
                                &global->interface_interactive_port, logger, caller))
        return false;

    int32_t flow = 1;
    if (config_file_read_int(config_file, "FLOW_CONTROL_COUNT", &flow) == EA_SUCCESS)
    {
        EA_LOG_IN(caller, logger, EA_LEVEL_EVENT, "[%s] parameter found in config file [%s]",
                  "FLOW_CONTROL_COUNT", config_file);
        if (flow < 1)
        {
            EA_LOG_IN(caller, logger, EA_LEVEL_EVENT,
                      "FLOW_CONTROL_COUNT is [%d] so taking default value[%d]", flow, 1);
            flow = 1;
        }
        else if (flow > 0xFFFF)
        {
            EA_LOG_IN(caller, logger, EA_LEVEL_SYSTEM_ERROR,
                      "[%s] value [%d] in config file [%s] is out of range [%d, %d]", "FLOW_CONTROL_COUNT",
                      flow, config_file, 1, 0xFFFF);
            return false;
        }
    }
    global->flow_control_count = static_cast<uint16_t>(flow);
    return true;
}

static ea_flag *ea_global_new_flags(uint32_t count, const char *name, logger_object *logger,
                                    const char *caller)
{
    ea_flag *flags = new (std::nothrow) ea_flag[count];
    if (flags == nullptr)
    {
        EA_LOG_IN(caller, logger, EA_LEVEL_SYSTEM_ERROR, "memory allocation failed for %s", name);
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i)
        flags[i].store(0, std::memory_order_relaxed);
    return flags;
}

static bool ea_global_allocate_arrays(ea_global *global, logger_object *logger, const char *caller)
{
    uint32_t links = global->number_of_links;
    return (global->box_rate_control_count =
                ea_global_new_flags(links, "box_rate_control_count", logger, caller)) &&
           (global->recovery_queue_overflow =
                ea_global_new_flags(links, "recovery_queue_overflow", logger, caller)) &&
           (global->allow_invitations_flag =
                ea_global_new_flags(links, "allow_invitations_flag", logger, caller)) &&
           (global->user_logoff_in_progress = ea_global_new_flags(
                2u * global->max_tws_clients, "user_logoff_in_progress", logger, caller)) &&
           (global->session_recovery_flag =
                ea_global_new_flags(links, "session_recovery_flag", logger, caller));
}

// Logs the field that could not be created; always false so it ends the creation chain.
static bool ea_global_module_failed(const char *text, logger_object *logger, const char *caller)
{
    EA_LOG_IN(caller, logger, EA_LEVEL_CONTINUATION, "%s", text);
    return false;
}

static bool ea_global_create_modules(ea_global *g, const char *config_file, logger_object *logger,
                                     logger_object *fix_logger, const char *caller)
{
    if (!(g->state_controller_info_p = state_controller_info_create(
              &g->abnormal_state_flag, &g->base_rate_control, g->array_of_shared_queues, logger)))
        return ea_global_module_failed("ea_global_ptr->state_controller_info: is NULL.", logger, caller);
    if (!(g->user_link_info_p = user_link_info_create(config_file, g->number_of_links, logger)))
        return ea_global_module_failed("ea_global_ptr->user_link_info: is NULL.", logger, caller);
    if (!(g->tcp_nw_info_p = tcp_nw_info_create(
              config_file, g->max_tws_clients, g->allow_invitations_flag, g->recovery_queue_overflow,
              &g->abnormal_state_flag, g->user_logoff_in_progress, g->session_recovery_flag, logger)))
        return ea_global_module_failed("ea_global_ptr->tcp_nw_info_p: is NULL.", logger, caller);
    if (!(g->th_nw_info_p = th_nw_info_create(config_file, g->number_of_links, g->box_rate_control_count,
                                              g->user_link_info_p, g->allow_invitations_flag, logger)))
        return ea_global_module_failed("ea_global_ptr->th_nw_info: is NULL.", logger, caller);
    if (!(g->box_com_info_container_p = box_comm_info_container_create(
              config_file, g->number_of_links, g->box_rate_control_count, g->user_link_info_p,
              &g->base_rate_control, g->max_tws_clients, logger)))
        return ea_global_module_failed("ea_global_ptr->box_com_info_container_p: is NULL.", logger, caller);
    if (!(g->user_session_info_container_p = user_session_info_container_create(
              g->max_tws_clients, g->user_link_info_p, g->box_com_info_container_p, g->box_rate_control_count,
              g->user_logoff_in_progress, g->number_of_links, logger)))
        return ea_global_module_failed("ea_global_ptr->user_session_info_container_p: is NULL", logger,
                                       caller);
    // The user session layer says which workstation connections signed on.
    user_session_info_container_set_connection_book(g->user_session_info_container_p, g->tcp_nw_info_p->book);
    if (!(g->host_session_container_p = host_session_info_container_create(
              config_file, g->number_of_links, g->box_com_info_container_p, g->recovery_queue_overflow,
              &g->base_rate_control, g->session_recovery_flag, logger)))
        return ea_global_module_failed("ea_global_ptr->host_session_container_p: is NULL.", logger, caller);
    if (!(g->request_data_proc_info_container_p =
              request_data_proc_info_container_create(g->number_of_links, g->box_rate_control_count, logger)))
        return ea_global_module_failed(
            "ea_global_ptr->ea_global_ptr->request_data_proc_info_container: is NULL.", logger, caller);
    if (!(g->response_data_proc_info_container_p = response_data_proc_info_container_create(logger)))
        return ea_global_module_failed("ea_global_ptr->response_data_proc_info_container:is NULL.", logger,
                                       caller);
    if (!(g->interface_info_p =
              interface_info_create(config_file, g->user_session_info_container_p,
                                    g->box_com_info_container_p, g->user_link_info_p, logger)))
        return ea_global_module_failed("ea_global_ptr->interface_info: is NULL.", logger, caller);
    if (!(g->interface_nw_info_interactive =
              interface_nw_info_create(1, static_cast<uint16_t>(g->interface_interactive_port), logger)))
        return ea_global_module_failed("ea_global_ptr->interface_nw_info_interactive: is NULL.", logger,
                                       caller);
    if (!(g->interface_nw_info_realtime =
              interface_nw_info_create(1, static_cast<uint16_t>(g->interface_realtime_port), logger)))
        return ea_global_module_failed("ea_global_ptr->interface_nw_info_realtime: is NULL.", logger, caller);
    if (!(g->fix_nw_info = fix_nw_info_create(
              g->flow_control_count, g->fix_file_path, config_file,
              g->array_of_shared_queues[SQ_FIX_TO_USER_SESSION],
              g->array_of_shared_queues[SQ_NOTIFICATIONS_TO_BOX_COMM],
              g->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE], g->max_tws_clients, &g->shutdown_flag,
              g->allow_invitations_flag, g->recovery_queue_overflow, &g->abnormal_state_flag,
              g->session_recovery_flag, g->user_logoff_in_progress, &g->day_flags[14], fix_logger)))
        return ea_global_module_failed("ea_global_ptr->fix_nw_info: is NULL.", logger, caller);
    return true;
}

ea_global *ea_global_create(const char *config_file, logger_object *logger, logger_object *fix_logger)
{
    ea_global *global = new (std::nothrow) ea_global();
    if (global == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_global_ptr:malloc fail.");
        return nullptr;
    }
    global->receive_count = 1;

    for (int i = 0; i < EA_SHARED_QUEUE_COUNT; ++i)
    {
        uint32_t type =
            ea_global_is_network_event_queue(i) ? SHARED_QUEUE_NETWORK_EVENT : SHARED_QUEUE_SEMAPHORE;
        global->array_of_shared_queues[i] = shared_queue_create(type);
        if (global->array_of_shared_queues[i] == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_create fail for array_of_shared_queues[%d]",
                   i);
            ea_global_destroy(global, logger);
            return nullptr;
        }
    }

    ea_flag_set(&global->base_rate_control, EA_INITIAL_BASE_RATE_CONTROL);
    if (!ea_global_read_keys(global, config_file, logger, __func__) ||
        !ea_global_allocate_arrays(global, logger, __func__) ||
        !ea_global_create_modules(global, config_file, logger, fix_logger, __func__))
    {
        ea_global_destroy(global, logger);
        return nullptr;
    }
    return global;
}

void ea_global_stop_fix(ea_global *global)
{
    if (global != nullptr && global->fix_nw_info != nullptr)
        fix_nw_info_stop(global->fix_nw_info);
}

template <typename T> static void ea_global_release(T *&object, void (*destroy)(T *))
{
    if (object != nullptr)
    {
        destroy(object);
        object = nullptr;
    }
}

static void ea_global_free_flags(ea_flag *&flags)
{
    delete[] flags;
    flags = nullptr;
}

// The FIX application is stopped before anything else goes, so that the engine's
// acceptor thread cannot use a queue that is already destroyed.
void ea_global_destroy(ea_global *global, logger_object *)
{
    if (global == nullptr)
        return;
    ea_global_stop_fix(global);
    for (shared_queue *&sq : global->array_of_shared_queues)
        ea_global_release(sq, shared_queue_destroy);
    ea_global_release(global->state_controller_info_p, state_controller_info_destroy);
    ea_global_release(global->user_link_info_p, user_link_info_destroy);
    ea_global_release(global->tcp_nw_info_p, tcp_nw_info_destroy);
    ea_global_release(global->th_nw_info_p, th_nw_info_destroy);
    ea_global_release(global->box_com_info_container_p, box_comm_info_container_destroy);
    ea_global_release(global->user_session_info_container_p, user_session_info_container_destroy);
    ea_global_release(global->host_session_container_p, host_session_info_container_destroy);
    ea_global_release(global->request_data_proc_info_container_p, request_data_proc_info_container_destroy);
    ea_global_release(global->response_data_proc_info_container_p, response_data_proc_info_container_destroy);
    ea_global_release(global->interface_info_p, interface_info_destroy);
    ea_global_release(global->interface_nw_info_interactive, interface_nw_info_destroy);
    ea_global_release(global->interface_nw_info_realtime, interface_nw_info_destroy);
    ea_global_release(global->fix_nw_info, fix_nw_info_destroy);
    ea_global_free_flags(global->box_rate_control_count);
    ea_global_free_flags(global->recovery_queue_overflow);
    ea_global_free_flags(global->allow_invitations_flag);
    ea_global_free_flags(global->user_logoff_in_progress);
    ea_global_free_flags(global->session_recovery_flag);
    delete global;
}
