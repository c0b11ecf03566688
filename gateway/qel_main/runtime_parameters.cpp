// The run-time parameter block that main writes at start-up and at each change of day:
// what the gateway was configured with, as its modules read it.
#include "gateway/qel_main/qel_main.h"

#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/controller_module/state_controller_info.h"
#include "gateway/interface_module/interface_info.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/logger.h"
#include "gateway/session_layer/th_session/host_session_info_container.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/shared/qel_version.h"
#include "gateway/shared/user_link_info.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "gateway/tws_network_handle/tcp_nw_info.h"

enum
{
    SESSION_RECOVERY_PROCESS_TIMEOUT_MS = 20000,
    SESSION_RECOVERY_RETRY_SLEEP_MS = 1000,
    BOX_RATE_CONTROL_TIME_INTERVAL_SECONDS = 1,
    LINK_INACTIVITY_TIMEOUT_MS = 10000,
};

#define HEADING(text) EA_LOG(logger, EA_LEVEL_EVENT, text)
#define VALUE(...) EA_LOG(logger, EA_LEVEL_CONTINUATION, __VA_ARGS__)

void print_runtime_parameters(ea_global *g, logger_object *logger)
{
    int32_t base = ea_flag_get(&g->base_rate_control);

    HEADING("============ QEL Parameters [START] ============");
    HEADING("    QEL versions");
    VALUE("        Qel Application Version: %s\nCompiled on %s at %s", QEL_VERSION_TEXT, __DATE__, __TIME__);
    VALUE("        QEL Box version: %d", QEL_VERSION_NUMBER);

    HEADING("    QEL configured to listen at");
    VALUE("        IP Address: %s", g->tcp_nw_info_p->listen_address);
    VALUE("        Port: %d", g->tcp_nw_info_p->port);

    link_info_record link;
    if (user_link_info_get_link_info(g->user_link_info_p, 0, &link) == EA_SUCCESS)
    {
        HEADING("    QEL configured to connect to");
        VALUE("        IP Address: %s", link.host_machine_ip);
        VALUE("        Port: %d", link.host_port_number);
        VALUE("        WAN IP Address: %s", link.machine_wan_ip);
    }

    HEADING("    QEL authentication details");
    VALUE("        Box ID: %d", g->box_com_info_container_p->box_id);
    VALUE("        Broker ID: %s", g->box_com_info_container_p->broker_id);

    HEADING("    Rate Control Parameters");
    VALUE("        Base Box Rate Control Count: %d", base);
    VALUE("        Box Rate Control Time Interval: %d sec", BOX_RATE_CONTROL_TIME_INTERVAL_SECONDS);
    VALUE("        Box Rate Control Heart Beat Time Interval: %d MilliSec",
          g->box_com_info_container_p->rate_control_heart_beat_time_interval);

    HEADING("    Response Timeouts");
    VALUE("        User Message Reply Timeout: %d MilliSec",
          static_cast<int32_t>(g->user_session_info_container_p->request_sent_timeout));
    VALUE("        Box Message Reply Timeout: %d MilliSec",
          static_cast<int32_t>(g->box_com_info_container_p->box_request_timeout));
    VALUE("        Host Response Timeout: %d MilliSec", g->host_session_container_p->host_response_timeout);

    HEADING("    Recovery Parameters");
    VALUE("        Recovery Queue Upper Threshold: %d", base);
    VALUE("        Recovery Queue Lower Threshold: %d", static_cast<int32_t>(base * 0.5));
    VALUE("        Session Recovery Process Timeout: %d MilliSec", SESSION_RECOVERY_PROCESS_TIMEOUT_MS);
    VALUE("        Session Recovery Retry Sleep: %d MilliSec", SESSION_RECOVERY_RETRY_SLEEP_MS);

    HEADING("    Shared Queue Monitoring Parameters");
    VALUE("        Shared Queue Timeout Factor: %f", static_cast<double>(STATE_CONTROLLER_TIMEOUT_FACTOR));
    VALUE("        Shared Queue Timeout Threshold Value: %d MilliSec",
          static_cast<int32_t>(g->state_controller_info_p->threshold));

    HEADING("    Flow Control Parameters");
    VALUE("        Trimmed Message Upper Threshold: %d",
          static_cast<int32_t>(g->th_nw_info_p->upper_threshold));
    VALUE("        Trimmed Message Lower Threshold: %d",
          static_cast<int32_t>(g->th_nw_info_p->lower_threshold));

    HEADING("    KOVA Interface Parameters");
    VALUE("        Interactive Port: %d", g->interface_interactive_port);
    VALUE("        Realtime Port: %d", g->interface_realtime_port);
    VALUE("        KOVA log message file: %s", g->interface_info_p->event_log_file);
    VALUE("        Interface Send Timeout: %u sec", g->interface_nw_info_realtime->send_timeout);

    HEADING("    Other Parameters");
    VALUE("        Host Heart Beat Time Interval: %d MilliSec",
          static_cast<int32_t>(g->th_nw_info_p->heart_beat_interval));
    VALUE("        Link Inactivity Timeout: %d MilliSec", LINK_INACTIVITY_TIMEOUT_MS);
    VALUE("        Maximum Allowed Pending Responses per Client: %d", g->tcp_nw_info_p->pending_limit);
    VALUE("        Maximum TWS Connections Allowed: %d", g->max_tws_clients);
    VALUE("        Maximum Links Supported: %d", g->number_of_links);
    HEADING("============= QEL Parameters [END] =============");
}
