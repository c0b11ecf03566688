// The link table: what its reader accepts, and how links and users are looked up.
#include "gateway/shared/user_link_info.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"

using qel_test::temp_dir;

namespace
{
std::string link_config(const temp_dir &dir, const std::string &content)
{
    dir.write("links.cfg", content);
    return dir.file("links.cfg");
}
} // namespace

TEST(UserLinkInfo, OnlyLinkZeroIsConfigured)
{
    temp_dir dir;
    std::string file =
        link_config(dir, "HOST_MACHINE_IP=10.1.2.3\nMACHINE_WAN_IP=127.0.0.1\nHOST_PORT_NUMBER=9801\n");
    user_link_info *table = user_link_info_create(file.c_str(), 2, nullptr);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(user_link_info_is_link_valid(table, 0), EA_SUCCESS);
    EXPECT_EQ(user_link_info_is_link_valid(table, 1), EA_NOT_FOUND);
    EXPECT_EQ(user_link_info_is_link_valid(table, 7), EA_NOT_FOUND);

    link_info_record record;
    memset(&record, 0xAB, sizeof(record));
    ASSERT_EQ(user_link_info_get_link_info(table, 0, &record), EA_SUCCESS);
    for (uint8_t byte : record.reserved)
        EXPECT_EQ(byte, 0);
    EXPECT_STREQ(record.host_machine_ip, "10.1.2.3");
    EXPECT_STREQ(record.machine_wan_ip, "127.0.0.1");
    EXPECT_EQ(record.host_port_number, 9801);
    EXPECT_EQ(user_link_info_get_link_info(table, 1, &record), EA_NOT_FOUND);
    user_link_info_destroy(table);
}

TEST(UserLinkInfo, EveryUserMapsToLinkZero)
{
    temp_dir dir;
    std::string file =
        link_config(dir, "HOST_MACHINE_IP=10.1.2.3\nMACHINE_WAN_IP=127.0.0.1\nHOST_PORT_NUMBER=9801\n");
    user_link_info *table = user_link_info_create(file.c_str(), 1, nullptr);
    ASSERT_NE(table, nullptr);
    for (uint32_t user : {0u, 42u, 0xFFFFFFFFu})
    {
        user_link_mapping_entry entry = {7, 7};
        EXPECT_EQ(user_link_info_get_user_links(table, user, &entry, nullptr), EA_SUCCESS);
        EXPECT_EQ(entry.link_index, 0);
        EXPECT_EQ(entry.second_word, 0xFFFF);
    }
    user_link_info_destroy(table);
}

TEST(UserLinkInfo, ReaderRefusesBadOrMissingKeys)
{
    const char *cases[] = {
        // an address of 16 characters does not fit its field
        "HOST_MACHINE_IP=10.1.2.3\nMACHINE_WAN_IP=127.000.000.001X\nHOST_PORT_NUMBER=9801\n",
        // the port is read after both addresses
        "HOST_MACHINE_IP=10.1.2.3\nMACHINE_WAN_IP=127.0.0.1\n",
        "MACHINE_WAN_IP=127.0.0.1\nHOST_PORT_NUMBER=9801\n",
        // a port that does not fit 16 bits would name another port
        "HOST_MACHINE_IP=10.1.2.3\nMACHINE_WAN_IP=127.0.0.1\nHOST_PORT_NUMBER=75337\n",
        "HOST_MACHINE_IP=10.1.2.3\nMACHINE_WAN_IP=127.0.0.1\nHOST_PORT_NUMBER=0\n",
    };
    for (const char *content : cases)
    {
        temp_dir dir;
        EXPECT_EQ(user_link_info_create(link_config(dir, content).c_str(), 1, nullptr), nullptr) << content;
    }
    temp_dir dir;
    EXPECT_EQ(user_link_info_create(dir.file("missing.cfg").c_str(), 1, nullptr), nullptr);
}
