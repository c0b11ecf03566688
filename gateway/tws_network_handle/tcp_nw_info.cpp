// The workstation server's configuration: listen address, port, flow-control count and
// the limit of pending responses. Reading the keys at creation keeps start-up failing on
// the same bad configuration as the full server will.
#include "gateway/tws_network_handle/tcp_nw_info.h"

#include <cstdlib>
#include <cstring>

#include "gateway/library/config_file.h"
#include "gateway/library/logger.h"
#include "gateway/qel_main/config_value.h"
#include "gateway/qel_main/worker_thread_args.h"

tcp_nw_info *tcp_nw_info_create(const char *config_file, uint16_t max_clients,
                                ea_flag *allow_invitations_flag, ea_flag *recovery_queue_overflow,
                                ea_flag *abnormal_state_flag, ea_flag *user_logoff_in_progress,
                                ea_flag *session_recovery_flag, logger_object *logger)
{
    tcp_nw_info *server = static_cast<tcp_nw_info *>(calloc(1, sizeof(tcp_nw_info)));
    if (server == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for tcp_nw_info object");
        return nullptr;
    }
    server->max_clients = max_clients;
    server->allow_invitations_flag = allow_invitations_flag;
    server->recovery_queue_overflow = recovery_queue_overflow;
    server->abnormal_state_flag = abnormal_state_flag;
    server->user_logoff_in_progress = user_logoff_in_progress;
    server->session_recovery_flag = session_recovery_flag;

    if (config_file_read_string(config_file, "MACHINE_LAN_IP", server->listen_address,
                                sizeof(server->listen_address)) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "[%s] Parameter not found in config file [%s]", "MACHINE_LAN_IP",
               config_file);
        strcpy(server->listen_address, "127.0.0.1");
    }

    int32_t port = 0;
    if (config_file_read_int(config_file, "PORT_NUMBER", &port) != EA_SUCCESS || port < 1025)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Valid [%s] Parameter not found in config file [%s]. Using [%u] as default", "PORT_NUMBER",
               config_file, static_cast<unsigned>(TCP_NW_INFO_DEFAULT_PORT));
        port = TCP_NW_INFO_DEFAULT_PORT;
    }
    else if (!config_value_is_port(port))
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "[%s] value [%d] in config file [%s] is not a valid port number", "PORT_NUMBER", port,
               config_file);
        free(server);
        return nullptr;
    }
    else
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "[%s] Parameter found in config file [%s]", "PORT_NUMBER",
               config_file);
    }
    server->port = static_cast<uint16_t>(port);

    int32_t count = 0;
    if (config_file_read_int(config_file, "FLOW_CONTROL_COUNT", &count) != EA_SUCCESS || count < 1)
        count = 1;
    server->invitation_count = count;

    int32_t limit = 0;
    if (config_file_read_int(config_file, "MAX_CLIENT_PENDING_MESG_COUNT", &limit) != EA_SUCCESS || limit < 1)
        limit = TCP_NW_INFO_DEFAULT_PENDING_LIMIT;
    server->pending_limit = limit;
    return server;
}

void tcp_nw_info_destroy(tcp_nw_info *server)
{
    free(server);
}

uint32_t tws_nw_handler_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}
