// qelmon's commands beside the running service: each command logs under the service's
// own logger name in the same folder, and its roll must leave the file the service writes
// under its "current" name, so that an operator's tail of it goes on.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/admin/pf_service.h"
#include "support/test_support.h"

using qel_test::child_process;
using qel_test::process_result;
using qel_test::temp_dir;

namespace
{

struct qelmon_folder
{
    temp_dir dir;
    std::string config = dir.file("qelmon.cfg");

    qelmon_folder()
    {
        mkdir(dir.file("service").c_str(), 0700);
        mkdir(dir.file("logs").c_str(), 0700);
        dir.write("qelmon.cfg", "LOG_FILE_PATH=" + dir.file("logs") + "\nSYSTEM_LOGGING_LEVEL=DEBUG\n");
        // One process whose executable is missing: the service holds it until control 130,
        // which makes the service write again.
        dir.write("registry",
                  "[SOFTWARE\\QEL_IP]\n\"SERVICESTATUS\"=dword:00000000\n[SOFTWARE\\QEL_IP\\COMMON]\n"
                  "[SOFTWARE\\QEL_IP\\1]\n\"path\"=\"" +
                      dir.file("qel_ip_gone") + "\"\n\"argument\"=\"-c qel_ip.cfg\"\n");
        setenv("QEL_REGISTRY_FILE", dir.file("registry").c_str(), 1);
        setenv("QEL_SERVICE_DIR", dir.file("service").c_str(), 1);
        setenv("QEL_SYSTEMD", "no", 1);
    }
    ~qelmon_folder()
    {
        unsetenv("QEL_REGISTRY_FILE");
        unsetenv("QEL_SERVICE_DIR");
    }
    process_result action(const std::string &name) const
    {
        return qel_test::run_process({QELMON_BINARY, "-w", dir.path(), "-c", config, "-a", name}, dir.path(),
                                     40000);
    }
    uint32_t state() const
    {
        pf_service_query_result result;
        return pf_service_query("QEL_IP", &result) == 0 ? result.status.current_state : 0;
    }
    // The service's text logs still named "current".
    std::vector<std::string> current_logs() const
    {
        std::vector<std::string> out;
        for (const std::string &name : dir.list("logs"))
        {
            if (name.rfind("qel_monitoring_thread_text.", 0) == 0 &&
                name.find(".current.") != std::string::npos)
                out.push_back("logs/" + name);
        }
        return out;
    }
};

bool same_file(int fd, const std::string &path)
{
    struct stat held, named;
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
           held.st_dev == named.st_dev;
}

TEST(QelmonLiveLog, CommandsBesideTheServiceLeaveItsCurrentLogWhereItIs)
{
    qelmon_folder f;
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    ASSERT_TRUE(f.current_logs().empty()) << "the command rolled its own file at its end";
    auto run = std::make_unique<child_process>(
        std::vector<std::string>{QELMON_BINARY, "-w", f.dir.path(), "-c", f.config, "-a", "RUN"},
        f.dir.path());
    ASSERT_TRUE(qel_test::wait_until([&] { return f.state() == PF_SERVICE_RUNNING; }, 15000));
    ASSERT_TRUE(qel_test::wait_until([&] { return f.current_logs().size() == 1; }, 10000));
    const std::string live = f.current_logs()[0];
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return f.dir.read(live).find("Not restarting the process") != std::string::npos; }, 10000))
        << f.dir.read(live);
    // What `tail -f` keeps: the file open by its name.
    FILE *tail = fopen(f.dir.file(live).c_str(), "r");
    ASSERT_NE(tail, nullptr);
    size_t before = f.dir.read(live).size();

    f.action("START"); // the service runs already: refused, but logged
    f.action("start"); // mistyped
    f.action("START");
    EXPECT_TRUE(same_file(fileno(tail), f.dir.file(live))) << live << " was renamed";

    // The service writes on into the same file.
    ASSERT_EQ(pf_service_control("QEL_IP", 130, nullptr), 0u);
    EXPECT_TRUE(qel_test::wait_until(
        [&] { return f.dir.read(live).find("Start event is set") != std::string::npos; }, 10000))
        << f.dir.read(live);
    EXPECT_GT(f.dir.read(live).size(), before);
    EXPECT_TRUE(same_file(fileno(tail), f.dir.file(live)));
    fclose(tail);

    run->signal(SIGTERM);
    EXPECT_EQ(run->wait(30000).exit_code, 0);
    EXPECT_TRUE(f.current_logs().empty()) << "the service rolls its own file at its end";
}

} // namespace
