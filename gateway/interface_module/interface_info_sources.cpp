// The console interface's reads of the user session table, the box records and the link
// table. The box status is an atomic of the box communication thread; the user table is
// the copy that the user session layer hands out.
#include "gateway/interface_module/interface_info_sources.h"

#include <cstdlib>

#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/shared/user_link_info.h"

interface_user_entry *interface_info_copy_user_table(user_session_info_container *container, uint32_t *count)
{
    *count = 0;
    uint32_t slots = 0;
    user_session_info *copy = user_session_info_container_get_user_session_info_array(container, &slots);
    if (copy == nullptr)
        return nullptr;
    // One more than needed, so that an empty table is still a valid (non-null) copy.
    interface_user_entry *table =
        static_cast<interface_user_entry *>(calloc(slots + 1, sizeof(interface_user_entry)));
    if (table != nullptr)
    {
        for (uint32_t i = 0; i < slots; ++i)
        {
            table[i].user_id = static_cast<uint32_t>(copy[i].user_id);
            table[i].logon_status = static_cast<uint16_t>(copy[i].logon_status);
        }
        *count = slots;
    }
    user_session_info_list_destroy(copy);
    return table;
}

void interface_info_free_user_table(interface_user_entry *table)
{
    free(table);
}

uint16_t interface_info_read_box_id(const box_comm_info_container *container)
{
    return container->box_id;
}

uint16_t interface_info_read_box_status(const box_comm_info_container *container, uint16_t link_index)
{
    if (container->box_comm_info_array == nullptr || link_index >= container->number_of_links)
        return LOGGED_OFF;
    return static_cast<uint16_t>(container->box_comm_info_array[link_index].box_status.load());
}

uint16_t interface_info_read_number_of_links(const user_link_info *link_table)
{
    return link_table->number_of_links;
}
