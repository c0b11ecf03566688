// tcp_nw_info: the gateway's TCP server for trader workstations. This build carries its
// configuration only; the workstation network thread waits on its queue and discards.
#pragma once

#include <cstdint>

#include "gateway/library/ea_flag.h"
#include "gateway/library/ea_status.h"

struct logger_object;

enum
{
    TCP_NW_INFO_ADDRESS_SIZE = 16,
    TCP_NW_INFO_DEFAULT_PORT = 9602,
    TCP_NW_INFO_DEFAULT_PENDING_LIMIT = 50000,
};

struct tcp_nw_info
{
    char listen_address[TCP_NW_INFO_ADDRESS_SIZE];
    uint16_t port;
    uint16_t max_clients;
    int32_t pending_limit;
    int32_t invitation_count;
    ea_flag *allow_invitations_flag;
    ea_flag *recovery_queue_overflow;
    ea_flag *abnormal_state_flag;
    ea_flag *user_logoff_in_progress;
    ea_flag *session_recovery_flag;
};

tcp_nw_info *tcp_nw_info_create(const char *config_file, uint16_t max_clients,
                                ea_flag *allow_invitations_flag, ea_flag *recovery_queue_overflow,
                                ea_flag *abnormal_state_flag, ea_flag *user_logoff_in_progress,
                                ea_flag *session_recovery_flag, logger_object *logger);
void tcp_nw_info_destroy(tcp_nw_info *server);

uint32_t tws_nw_handler_thread(void *argument);
