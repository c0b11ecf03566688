// The gateway modules that the workstation and console fuzz entries feed: a configuration
// in a temporary folder, the link table, the box communication container (box logged on
// on every link) and a user session table. Built once per process; the user session
// table is built afresh for each input, so that one input never depends on the one before.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/shared/user_link_info.h"

enum : uint16_t
{
    FUZZ_GATEWAY_LINKS = 2,
    FUZZ_GATEWAY_CLIENTS = 4,
};

struct fuzz_gateway
{
    std::string folder;
    std::string config_path;
    ea_flag rate_control[FUZZ_GATEWAY_LINKS] = {};
    ea_flag base_rate_control{100};
    ea_flag logoff_flags[2 * FUZZ_GATEWAY_CLIENTS] = {};
    user_link_info *links = nullptr;
    box_comm_info_container *box = nullptr;

    fuzz_gateway()
    {
        char pattern[] = "/tmp/qel_fuzz_XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            abort();
        folder = pattern;
        config_path = folder + "/qel_ip.cfg";
        FILE *config = fopen(config_path.c_str(), "w");
        if (config == nullptr)
            abort();
        fprintf(
            config,
            "NUMBER_OF_LINKS=%d\nMAX_TWS_CLIENTS=%d\nBOX_ID=101\nBROKER_ID=12345\nFLOW_CONTROL_COUNT=1\n"
            "HOST_MACHINE_IP=127.0.0.1\nHOST_PORT_NUMBER=9\nMACHINE_WAN_IP=127.0.0.1\nMACHINE_LAN_IP=127.0.0.1\n"
            "PORT_NUMBER=9\nKOVA_EVENT_LOG_FILE=%s/kova_event_log.dat\nLOG_FILE_PATH=%s\n"
            "CONTRACT_EXPIRY_OFFSET=14:30:00\n",
            FUZZ_GATEWAY_LINKS, FUZZ_GATEWAY_CLIENTS, folder.c_str(), folder.c_str());
        fclose(config);
        links = user_link_info_create(config_path.c_str(), FUZZ_GATEWAY_LINKS, nullptr);
        if (links == nullptr)
            abort();
        box = box_comm_info_container_create(config_path.c_str(), FUZZ_GATEWAY_LINKS, rate_control, links,
                                             &base_rate_control, FUZZ_GATEWAY_CLIENTS, nullptr);
        if (box == nullptr)
            abort();
        // Every link logged on, with room for users and a rate allowance, as box
        // communication leaves them after a sign-on, so that a user's sign-on is admitted.
        for (uint16_t link = 0; link < FUZZ_GATEWAY_LINKS; ++link)
        {
            box->box_comm_info_array[link].box_status.store(LOGGED_ON);
            ea_flag_set(&box->box_comm_info_array[link].logon_complete, 1);
            box->box_comm_info_array[link].max_users_per_box.store(FUZZ_GATEWAY_CLIENTS);
            ea_flag_set(&rate_control[link], 100);
        }
    }

    ~fuzz_gateway()
    {
        box_comm_info_container_destroy(box);
        user_link_info_destroy(links);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    fuzz_gateway(const fuzz_gateway &) = delete;
    fuzz_gateway &operator=(const fuzz_gateway &) = delete;

    user_session_info_container *new_user_sessions()
    {
        for (ea_flag &flag : logoff_flags)
            ea_flag_set(&flag, 0);
        user_session_info_container *users = user_session_info_container_create(
            FUZZ_GATEWAY_CLIENTS, links, box, rate_control, logoff_flags, FUZZ_GATEWAY_LINKS, nullptr);
        if (users == nullptr)
            abort();
        return users;
    }

    // The process's one instance, removed with its folder when the process ends.
    static fuzz_gateway &instance()
    {
        static fuzz_gateway gateway;
        return gateway;
    }
};
