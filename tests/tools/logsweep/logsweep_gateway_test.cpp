// logsweep and the project's logs.bat over the folder a real gateway ran in: the archive
// holds every text, binary and CSV log the gateway wrote, by its name in that folder.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "end_to_end/main_road_fixture.h"
#include "support/tool_process.h"

using qel_test::kTimeoutMs;

namespace
{

bool collected(const std::string &name)
{
    for (const char *extension : {".txt", ".dat", ".csv"})
    {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, extension) == 0)
            return true;
    }
    return false;
}

// Relative names of the files under folder that logs.bat collects.
void walk(const std::string &folder, const std::string &prefix, std::vector<std::string> *names)
{
    DIR *dir = opendir(folder.c_str());
    ASSERT_NE(dir, nullptr) << folder;
    while (dirent *entry = readdir(dir))
    {
        std::string name = entry->d_name;
        struct stat info;
        if (name == "." || name == ".." || lstat((folder + "/" + name).c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            walk(folder + "/" + name, prefix + name + "/", names);
        else if (S_ISREG(info.st_mode) && collected(name))
            names->push_back(prefix + name);
    }
    closedir(dir);
}

TEST(LogsweepOnAGateway, ArchiveHoldsEveryLogTheGatewayWrote)
{
    qel_test::main_road road;
    qel_sim::workstation_client client;
    road.connect(client);
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(qel_test::answered(trader.sign_on(kTimeoutMs), 2301));
    client.close();
    ASSERT_EQ(road.stop().exit_code, 0);

    std::vector<std::string> expected;
    walk(road.dir.path(), "", &expected);
    std::sort(expected.begin(), expected.end());
    ASSERT_GE(std::count_if(expected.begin(), expected.end(),
                            [](const std::string &name) { return name.compare(0, 5, "logs/") == 0; }),
              2)
        << "the gateway wrote its logs";

    qel_test::temp_dir work;
    work.write("logs.bat", qel_test::read_file(LOGS_BAT_SCRIPT));
    work.write("registry", "[SOFTWARE\\QEL_IP]\n\"PATH\"=\"" + road.dir.path() + "\"\n");
    qel_test::tool_options options;
    options.folder = work.path();
    options.env["QEL_REGISTRY_FILE"] = work.file("registry");
    qel_test::tool_result r = qel_test::run_tool({LOGSWEEP_BINARY}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(work.read("logsweep_batch_errors.txt"), "");

    std::string archive;
    for (const std::string &name : work.list())
    {
        if (name.compare(0, 13, "QEL_ANALYSIS_") == 0)
            archive = work.file(name);
    }
    ASSERT_NE(archive, "");
    qel_test::tool_result listing = qel_test::run_tool(
        {"/bin/sh", "-c", "exec tar -tzf \"$0\" | LC_ALL=C sort", archive}, qel_test::tool_options());
    std::string expected_text;
    for (const std::string &name : expected)
        expected_text += name + "\n";
    EXPECT_EQ(listing.out, expected_text);
}

} // namespace
