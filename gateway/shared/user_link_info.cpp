// The link table: link 0's host address, port and local bind address from the
// configuration file, and the user-to-link mapping (every user on link 0).
#include "gateway/shared/user_link_info.h"

#include <cstdlib>
#include <cstring>

#include "common/config_file.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/shared/config_value.h"

user_link_info *user_link_info_create(const char *config_file, uint16_t number_of_links,
                                      logger_object *logger)
{
    user_link_info *table = static_cast<user_link_info *>(calloc(1, sizeof(user_link_info)));
    if (table == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for user_link_info object");
        return nullptr;
    }
    table->number_of_links = number_of_links;
    table->highest_link_index = 0;

    const char *failure = nullptr;
    table->link_info = static_cast<link_info_slot *>(
        calloc(number_of_links == 0 ? 1 : number_of_links, sizeof(link_info_slot)));
    if (table->link_info == nullptr)
        failure = "calloc failed for link_info object";
    else if ((table->link_info_lock = ea_sync_info_create(EA_SYNC_CRITICAL_SECTION, 0)) == nullptr)
        failure = "Allocation failed for link_info_lock object";
    else if (hashCreate(USER_LINK_MAPPING_BUCKETS, 0, &table->user_link_mapping) != 0)
        failure = "Allocation failed for user_link_mapping object";
    else if ((table->user_link_mapping_lock = ea_sync_info_create(EA_SYNC_CRITICAL_SECTION, 0)) == nullptr)
        failure = "Allocation failed for user_link_mapping_lock object";
    else if (user_link_info_init(table, config_file, logger) != EA_SUCCESS)
        failure = "user_link_info_init failed.";

    if (failure != nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", failure);
        user_link_info_destroy(table);
        return nullptr;
    }
    return table;
}

static ea_status user_link_info_read_address(const char *config_file, const char *key, char *out,
                                             logger_object *logger)
{
    if (config_file_read_string(config_file, key, out, LINK_ADDRESS_SIZE) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Parameter [%s] not found in config file [%s]", key,
               config_file);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status user_link_info_init(user_link_info *table, const char *config_file, logger_object *logger)
{
    link_info_record *record = &table->link_info[0].record;
    if (user_link_info_read_address(config_file, "HOST_MACHINE_IP", record->host_machine_ip, logger) !=
            EA_SUCCESS ||
        user_link_info_read_address(config_file, "MACHINE_WAN_IP", record->machine_wan_ip, logger) !=
            EA_SUCCESS)
        return EA_ERROR;

    int32_t port = 0;
    if (config_file_read_int(config_file, "HOST_PORT_NUMBER", &port) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Parameter [%s] not found in config file [%s]",
               "HOST_PORT_NUMBER", config_file);
        return EA_ERROR;
    }
    // The port is kept in 16 bits: a value that does not fit would silently name another port.
    if (!config_value_is_port(port))
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "[%s] value [%d] in config file [%s] is not a valid port number", "HOST_PORT_NUMBER", port,
               config_file);
        return EA_ERROR;
    }
    record->host_port_number = static_cast<uint16_t>(port);
    table->link_info[0].in_use = 1;
    return EA_SUCCESS;
}

static bool user_link_info_slot_valid(const user_link_info *table, uint16_t link_index)
{
    return link_index <= table->highest_link_index && link_index < table->number_of_links &&
           table->link_info[link_index].in_use == 1;
}

ea_status user_link_info_get_link_info(user_link_info *table, uint16_t link_index,
                                       link_info_record *record_out)
{
    ea_sync_info_enter_critical_section(table->link_info_lock);
    ea_status status = EA_NOT_FOUND;
    if (user_link_info_slot_valid(table, link_index))
    {
        *record_out = table->link_info[link_index].record;
        status = EA_SUCCESS;
    }
    ea_sync_info_leave_critical_section(table->link_info_lock);
    return status;
}

ea_status user_link_info_is_link_valid(user_link_info *table, uint16_t link_index)
{
    ea_sync_info_enter_critical_section(table->link_info_lock);
    ea_status status = user_link_info_slot_valid(table, link_index) ? EA_SUCCESS : EA_NOT_FOUND;
    ea_sync_info_leave_critical_section(table->link_info_lock);
    return status;
}

// Every user is served by link 0; the mapping table is kept for the day users are spread.
ea_status user_link_info_get_user_links(user_link_info *table, uint32_t, user_link_mapping_entry *entry_out,
                                        logger_object *)
{
    ea_sync_info_enter_critical_section(table->user_link_mapping_lock);
    entry_out->link_index = 0;
    entry_out->second_word = USER_LINK_ALL_LINKS;
    ea_sync_info_leave_critical_section(table->user_link_mapping_lock);
    return EA_SUCCESS;
}

void user_link_info_destroy(user_link_info *table)
{
    if (table == nullptr)
        return;
    if (table->user_link_mapping_lock != nullptr)
        ea_sync_info_destroy(table->user_link_mapping_lock);
    if (table->user_link_mapping != nullptr)
        hashDestroy(table->user_link_mapping);
    if (table->link_info_lock != nullptr)
        ea_sync_info_destroy(table->link_info_lock);
    free(table->link_info);
    free(table);
}
