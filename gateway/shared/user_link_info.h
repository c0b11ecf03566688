// user_link_info: the link table. For each host link index, whether it is configured and
// the addresses that reach the trading host through it; and, under its own lock, the
// mapping of users to links. The reader configures link 0 only: every other index is
// reported as not configured.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/hash_table.h"

struct ea_sync_info;
struct logger_object;

enum
{
    LINK_RESERVED_SIZE = 32,
    LINK_ADDRESS_SIZE = 16,
    USER_LINK_MAPPING_BUCKETS = 10,
    USER_LINK_ALL_LINKS = 0xFFFF,
};

struct link_info_record
{
    uint8_t reserved[LINK_RESERVED_SIZE];
    char machine_wan_ip[LINK_ADDRESS_SIZE];
    char host_machine_ip[LINK_ADDRESS_SIZE];
    uint16_t host_port_number;
};

struct link_info_slot
{
    uint32_t in_use;
    link_info_record record;
};

struct user_link_mapping_entry
{
    uint16_t link_index;
    uint16_t second_word;
};

struct user_link_info
{
    link_info_slot *link_info;
    HashTable user_link_mapping;
    ea_sync_info *user_link_mapping_lock;
    ea_sync_info *link_info_lock;
    uint16_t number_of_links;
    uint16_t highest_link_index;
};

user_link_info *user_link_info_create(const char *config_file, uint16_t number_of_links,
                                      logger_object *logger);
ea_status user_link_info_init(user_link_info *table, const char *config_file, logger_object *logger);
ea_status user_link_info_get_link_info(user_link_info *table, uint16_t link_index,
                                       link_info_record *record_out);
ea_status user_link_info_is_link_valid(user_link_info *table, uint16_t link_index);
ea_status user_link_info_get_user_links(user_link_info *table, uint32_t user_id,
                                        user_link_mapping_entry *entry_out, logger_object *logger);
void user_link_info_destroy(user_link_info *table);
