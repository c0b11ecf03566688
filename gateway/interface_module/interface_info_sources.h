// What the console interface reads of the other modules for its information requests:
// the user session table (user id and logon status of each slot), the box id and each
// link's box status, and the number of host links. Kept in one place so that the
// interface depends on those modules' records only here.
#pragma once

#include <cstdint>

struct user_session_info_container;
struct box_comm_info_container;
struct user_link_info;

struct interface_user_entry
{
    uint32_t user_id; // 0: no user in the slot
    uint16_t logon_status;
};

// A copy of every slot of the user session table in table order, or null on failure.
// Free with interface_info_free_user_table.
interface_user_entry *interface_info_copy_user_table(user_session_info_container *container, uint32_t *count);
void interface_info_free_user_table(interface_user_entry *table);
uint16_t interface_info_read_box_id(const box_comm_info_container *container);
uint16_t interface_info_read_box_status(const box_comm_info_container *container, uint16_t link_index);
uint16_t interface_info_read_number_of_links(const user_link_info *link_table);
