// The test configuration mirrors config/qel_ip.cfg with ports reserved at run time.
#include "support/gateway_config.h"

#include <sys/stat.h>

namespace qel_test
{

gateway_config::gateway_config()
{
    values = {
        {"FIX_FILE_PATH", "fix_settings.cfg"},
        {"NUMBER_OF_LINKS", "1"},
        {"MAX_TWS_CLIENTS", "10"},
        {"INTERFACE_REALTIME_PORT_NUMBER", std::to_string(reserve_port())},
        {"INTERFACE_INTERACTIVE_PORT_NUMBER", std::to_string(reserve_port())},
        {"FLOW_CONTROL_COUNT", "1"},
        {"LOG_FILE_PATH", "logs"},
        {"SYSTEM_LOGGING_LEVEL", "DEBUG"},
        {"SYSTEM_BINARY_LOGGING_ENABLED", "TRUE"},
        {"HOST_MACHINE_IP", "127.0.0.1"},
        {"HOST_PORT_NUMBER", std::to_string(reserve_port())},
        {"MACHINE_WAN_IP", "127.0.0.1"},
        {"BOX_ID", "101"},
        {"BROKER_ID", "12345"},
        {"MACHINE_LAN_IP", "127.0.0.1"},
        {"PORT_NUMBER", std::to_string(reserve_port())},
        {"KOVA_EVENT_LOG_FILE", "logs/kova_event_log.dat"},
        {"CONTRACT_EXPIRY_OFFSET", "14:30:00"},
        {"FIX_LOGGING", "Y"},
    };
    fix_port = reserve_port();
}

uint16_t gateway_config::reserve_port()
{
    m_ports.push_back(std::make_shared<reserved_port>());
    return m_ports.back()->number();
}

std::string gateway_config::write(const temp_dir &dir) const
{
    std::string content;
    for (const auto &entry : values)
    {
        if (omitted.count(entry.first) == 0)
            content += entry.first + "=" + entry.second + "\n";
    }
    dir.write("qel_ip.cfg", content);
    dir.write("fix_settings.cfg",
              "[DEFAULT]\nConnectionType=acceptor\nSocketAcceptPort=" + std::to_string(fix_port) +
                  "\nFileStorePath=fix_store\nFileLogPath=logs\n");
    mkdir(dir.file("logs").c_str(), 0700);
    return dir.file("qel_ip.cfg");
}

} // namespace qel_test
