// The real gateway and the real qelstat in one folder, both logging as main into one log
// folder, as the shipped config/qel_ip.cfg and config/qelstat.cfg have them: each is
// restarted while the other runs, and each keeps writing into its own current file (the
// name keeps its inode, and the file grows), as an operator's `tail -f` of it sees.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/gateway_config.h"
#include "support/qel_stats_fixture.h"
#include "support/test_support.h"

namespace
{

const int k_wait_ms = 20000;

// An open file, as `tail -f` holds it.
class follower
{
  public:
    explicit follower(const std::string &path) : m_path(path), m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~follower()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    follower(const follower &) = delete;
    follower &operator=(const follower &) = delete;

    bool opened() const { return m_fd >= 0; }
    // The path still names the file followed.
    bool still_named() const
    {
        struct stat held, named;
        return fstat(m_fd, &held) == 0 && stat(m_path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
               held.st_dev == named.st_dev;
    }
    off_t size() const
    {
        struct stat held;
        return fstat(m_fd, &held) == 0 ? held.st_size : -1;
    }
    std::string content() const
    {
        std::string text;
        char buffer[4096];
        ssize_t got;
        off_t at = 0;
        while ((got = pread(m_fd, buffer, sizeof buffer, at)) > 0)
        {
            text.append(buffer, static_cast<size_t>(got));
            at += got;
        }
        return text;
    }
    const std::string &path() const { return m_path; }

  private:
    std::string m_path;
    int m_fd;
};

struct one_folder
{
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::string gateway_config;
    std::string qelstat_config = dir.file("qelstat.cfg");

    one_folder()
    {
        setenv("TZ", "UTC", 1);
        tzset();
        config.values["LOG_FILE_PATH"] = "logs";
        config.values["SYSTEM_LOGGING_LEVEL"] = "EVENT";
        gateway_config = config.write(dir);
        for (const char *folder :
             {"statistics", "statistics/current", "statistics/history", "statistics/offline"})
            mkdir(dir.file(folder).c_str(), 0700);
        // A statistic whose plug-in is missing: qelstat logs its idle line every second.
        dir.write("qelstat_online.txt", qel_test::parameter_line("no_such_plugin.so", "idle", 1, {"x"}));
        dir.write("qelstat_offline.txt", "");
        dir.write("qelstat.cfg", "ONLINE_PARAM_FILE_NAME=qelstat_online.txt\n"
                                 "OFFLINE_PARAM_FILE_NAME=qelstat_offline.txt\n"
                                 "CURRENT_FILES_PATH=statistics/current\n"
                                 "HISTORY_FILES_PATH=statistics/history\n"
                                 "OFFLINE_FILES_PATH=statistics/offline\n"
                                 "LOG_FILE_PATH=logs\n"
                                 "MAIN_LOGGING_LEVEL=ACTIVITY\n"
                                 "SYSTEM_LOGGING_LEVEL=EVENT\n");
    }

    std::set<std::string> current_main_logs() const
    {
        std::set<std::string> out;
        for (const std::string &name : dir.list("logs"))
        {
            if (name.rfind("main_text.", 0) == 0 && name.find(".current.") != std::string::npos)
                out.insert(dir.file("logs/" + name));
        }
        return out;
    }

    // Starts a program once the clock has left the second of every live file's stamp, so
    // that its file is a file of its own, and waits for its main_text file.
    std::unique_ptr<qel_test::child_process> start(const std::vector<std::string> &argv, std::string *file)
    {
        const time_t seen = time(nullptr);
        EXPECT_TRUE(qel_test::wait_until([&] { return time(nullptr) > seen; }, 5000));
        const std::set<std::string> before = current_main_logs();
        std::unique_ptr<qel_test::child_process> program(new qel_test::child_process(argv, dir.path()));
        file->clear();
        EXPECT_TRUE(qel_test::wait_until(
            [&]
            {
                for (const std::string &path : current_main_logs())
                {
                    if (before.count(path) == 0)
                        *file = path;
                }
                return !file->empty() && qel_test::read_file(*file).size() > 0;
            },
            k_wait_ms));
        return program;
    }
    std::unique_ptr<qel_test::child_process> start_gateway(std::string *file)
    {
        return start({QEL_IP_BINARY, "-c", gateway_config}, file);
    }
    std::unique_ptr<qel_test::child_process> start_qelstat(std::string *file)
    {
        return start({QELSTAT_BINARY, "-c", qelstat_config}, file);
    }
};

// Waits until the followed file grows past `size` under its own name.
bool grows_in_place(const follower &file, off_t size)
{
    return qel_test::wait_until([&] { return file.size() > size && file.still_named(); }, k_wait_ms);
}

} // namespace

TEST(SharedLogFolder, GatewayAndQelstatEachRestartedKeepWritingTheirOwnCurrentFiles)
{
    one_folder f;
    std::string gateway_file, qelstat_file;
    std::unique_ptr<qel_test::child_process> gateway = f.start_gateway(&gateway_file);
    ASSERT_FALSE(gateway_file.empty());
    follower gateway_tail(gateway_file);
    ASSERT_TRUE(gateway_tail.opened());

    // qelstat starts beside the running gateway: its start leaves the gateway's file.
    std::unique_ptr<qel_test::child_process> qelstat = f.start_qelstat(&qelstat_file);
    ASSERT_FALSE(qelstat_file.empty());
    ASSERT_NE(qelstat_file, gateway_file);
    follower qelstat_tail(qelstat_file);
    EXPECT_TRUE(gateway_tail.still_named()) << gateway_file << " was renamed by qelstat's start";
    EXPECT_TRUE(grows_in_place(qelstat_tail, qelstat_tail.size()));

    // The gateway restarts (as every console save makes it): its end and its start leave
    // qelstat's file, and qelstat writes on into it.
    gateway->signal(SIGTERM);
    EXPECT_EQ(gateway->wait(k_wait_ms).exit_code, 0);
    EXPECT_FALSE(gateway_tail.still_named()) << "the gateway rolls its own file at its end";
    EXPECT_NE(gateway_tail.content().find("Exit value["), std::string::npos) << "its last lines went into it";
    EXPECT_TRUE(qelstat_tail.still_named()) << qelstat_file << " was renamed by the gateway's end";
    std::string second_gateway_file;
    gateway = f.start_gateway(&second_gateway_file);
    ASSERT_FALSE(second_gateway_file.empty());
    follower second_gateway_tail(second_gateway_file);
    EXPECT_TRUE(qelstat_tail.still_named()) << qelstat_file << " was renamed by the gateway's start";
    EXPECT_TRUE(grows_in_place(qelstat_tail, qelstat_tail.size())) << "qelstat writes on into its own file";

    // qelstat restarts: its end and its start leave the gateway's file.
    const off_t gateway_size = second_gateway_tail.size();
    qelstat->signal(SIGTERM);
    EXPECT_EQ(qelstat->wait(k_wait_ms).exit_code, 0);
    EXPECT_FALSE(qelstat_tail.still_named()) << "qelstat rolls its own file at its end";
    std::string second_qelstat_file;
    qelstat = f.start_qelstat(&second_qelstat_file);
    ASSERT_FALSE(second_qelstat_file.empty());
    follower second_qelstat_tail(second_qelstat_file);
    EXPECT_TRUE(second_gateway_tail.still_named()) << second_gateway_file << " was renamed by qelstat";
    EXPECT_TRUE(grows_in_place(second_qelstat_tail, second_qelstat_tail.size()));

    // The gateway's main logger writes again at its end: into the same file, which grows.
    EXPECT_TRUE(second_gateway_tail.still_named());
    gateway->signal(SIGTERM);
    EXPECT_EQ(gateway->wait(k_wait_ms).exit_code, 0);
    EXPECT_GT(second_gateway_tail.size(), gateway_size);
    EXPECT_NE(second_gateway_tail.content().find("Exit value["), std::string::npos);
    EXPECT_TRUE(second_qelstat_tail.still_named());
    qelstat->signal(SIGTERM);
    EXPECT_EQ(qelstat->wait(k_wait_ms).exit_code, 0);
    EXPECT_TRUE(f.current_main_logs().empty()) << "each program rolled its own file at its end";
}

TEST(SharedLogFolder, UnderUmaskZeroEveryLogFileOfBothProgramsIsItsOwnersAlone)
{
    one_folder f;
    // qelmon starts qelstat and the gateway in one second: whichever comes first makes
    // the main text log both write, holding the gateway's start-up lines.
    const mode_t old_mask = umask(0);
    qel_test::child_process qelstat({QELSTAT_BINARY, "-c", f.qelstat_config}, f.dir.path());
    qel_test::child_process gateway({QEL_IP_BINARY, "-c", f.gateway_config}, f.dir.path());
    umask(old_mask);
    // Both have written: the gateway's threads are up, and qelstat's idle line came.
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            std::string all;
            for (const std::string &path : f.current_main_logs())
                all += qel_test::read_file(path);
            return all.find("thread created") != std::string::npos &&
                   all.find("Function address not found") != std::string::npos;
        },
        k_wait_ms));
    auto modes = [&]
    {
        std::string wrong;
        for (const std::string &name : f.dir.list("logs"))
        {
            struct stat status;
            if (stat(f.dir.file("logs/" + name).c_str(), &status) == 0 && (status.st_mode & 0777) != 0600)
                wrong += " " + name;
        }
        return wrong;
    };
    EXPECT_EQ(modes(), "") << "files open";
    gateway.signal(SIGTERM);
    qelstat.signal(SIGTERM);
    EXPECT_EQ(gateway.wait(k_wait_ms).exit_code, 0);
    EXPECT_EQ(qelstat.wait(k_wait_ms).exit_code, 0);
    EXPECT_GE(f.dir.list("logs").size(), 3u);
    EXPECT_EQ(modes(), "") << "files rolled";
    struct stat status;
    ASSERT_EQ(stat(f.dir.file("qel_text_log_default.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}
