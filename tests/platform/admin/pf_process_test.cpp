// The process snapshot: gateways found by name (case and ".exe" ignored) and by path,
// hard links under their own name, symlinks under their target, zombies left out.
#include "platform/admin/pf_process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "support/test_support.h"

using qel_test::child_process;
using qel_test::temp_dir;

namespace
{
struct snapshot_holder
{
    pf_process_snapshot *snapshot = nullptr;
    snapshot_holder() { EXPECT_EQ(pf_process_snapshot_create(&snapshot), 0u); }
    ~snapshot_holder() { pf_process_snapshot_destroy(snapshot); }
    const pf_process_entry *by_pid(int pid) const
    {
        for (uint32_t i = 0; i < pf_process_snapshot_count(snapshot); ++i)
        {
            const pf_process_entry *entry = pf_process_snapshot_entry(snapshot, i);
            if (entry->pid == static_cast<uint32_t>(pid))
                return entry;
        }
        return nullptr;
    }
};

// A program that runs until it is killed, under the given name in the folder.
std::string copy_sleep(const temp_dir &dir, const std::string &name)
{
    dir.write(name, qel_test::read_file("/bin/sleep"));
    chmod(dir.file(name).c_str(), 0755);
    return dir.file(name);
}

std::string real(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}
} // namespace

TEST(ProcessNames, CompareIgnoringCaseAndATrailingExe)
{
    struct
    {
        const char *a;
        const char *b;
        bool equal;
    } cases[] = {
        {"qel_ip_tx", "qel_ip_tx", true},     {"qel_ip_tx.exe", "qel_ip_tx", true},
        {"QEL_IP_TX.EXE", "qel_ip_tx", true}, {"qel_ip_tx.Exe", "QEL_IP_TX.exe", true},
        {"qel_ip_tx", "qel_ip_t", false},     {"qel_ip_tx.exe.exe", "qel_ip_tx", false},
        {"qel_ip_txexe", "qel_ip_tx", false}, {".exe", "", false},
        {"qel_ip_tx.ex", "qel_ip_tx", false}, {"", "", true},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(pf_process_name_equal(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(pf_process_name_equal(c.b, c.a), c.equal) << c.b << " / " << c.a;
    }
    EXPECT_FALSE(pf_process_name_equal(nullptr, "x"));
}

TEST(ProcessSnapshot, FindsGatewaysByNameAndByPath)
{
    temp_dir dir;
    // The snapshot is the machine's: names of this process's own make the test's gateways
    // unique beside those that other suites run at the same time.
    const std::string id = std::to_string(getpid());
    const std::string tx_name = "qel_ip_tx" + id, hy_name = "qel_ip_hy" + id, kr_name = "qel_ip_kr" + id;
    std::string tx = copy_sleep(dir, tx_name);
    ASSERT_EQ(link(tx.c_str(), dir.file(hy_name).c_str()), 0);
    ASSERT_EQ(symlink(tx.c_str(), dir.file(kr_name).c_str()), 0);
    child_process hy({dir.file(hy_name), "60"}, dir.path());
    child_process kr({dir.file(kr_name), "60"}, dir.path());

    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            snapshot_holder s;
            const pf_process_entry *a = s.by_pid(hy.pid());
            const pf_process_entry *b = s.by_pid(kr.pid());
            return a != nullptr && b != nullptr && a->name == hy_name && b->name == tx_name;
        },
        5000));

    snapshot_holder s;
    EXPECT_EQ(s.by_pid(hy.pid())->path, real(dir.file(hy_name)));
    EXPECT_EQ(s.by_pid(kr.pid())->path, real(tx)); // a symlink shows its target

    const pf_process_entry *found = pf_process_find_by_name(s.snapshot, ("QEL_IP_HY" + id + ".exe").c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->pid, static_cast<uint32_t>(hy.pid()));
    found = pf_process_find_by_name(s.snapshot, (tx_name + ".EXE").c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->pid, static_cast<uint32_t>(kr.pid()));
    EXPECT_EQ(pf_process_find_by_name(s.snapshot, kr_name.c_str()), nullptr);

    // By path: the configured path's symlinks resolve before the comparison.
    found = pf_process_find_by_path(s.snapshot, dir.file(kr_name).c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->pid, static_cast<uint32_t>(kr.pid()));
    found = pf_process_find_by_path(s.snapshot, dir.file(hy_name).c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->pid, static_cast<uint32_t>(hy.pid()));
    EXPECT_EQ(pf_process_find_by_path(s.snapshot, dir.file("qel_ip_gv" + id).c_str()), nullptr);

    // This process too, ascending ids throughout.
    const pf_process_entry *self = s.by_pid(getpid());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(std::string(self->path), real("/proc/self/exe"));
    for (uint32_t i = 1; i < pf_process_snapshot_count(s.snapshot); ++i)
        EXPECT_LT(pf_process_snapshot_entry(s.snapshot, i - 1)->pid,
                  pf_process_snapshot_entry(s.snapshot, i)->pid);
    EXPECT_EQ(pf_process_snapshot_entry(s.snapshot, pf_process_snapshot_count(s.snapshot)), nullptr);
}

TEST(ProcessSnapshot, ReplacedExecutableKeepsItsPath)
{
    temp_dir dir;
    const std::string gone_name = "qel_ip_gone" + std::to_string(getpid());
    std::string gone = copy_sleep(dir, gone_name);
    child_process child({gone, "60"}, dir.path());
    // Until its exec the child is a copy of this program.
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            snapshot_holder s;
            const pf_process_entry *entry = s.by_pid(child.pid());
            return entry != nullptr && entry->name == gone_name;
        },
        5000));
    std::string shown = snapshot_holder().by_pid(child.pid())->path; // copied while the snapshot lives
    ASSERT_EQ(unlink(gone.c_str()), 0);
    snapshot_holder s;
    ASSERT_NE(s.by_pid(child.pid()), nullptr);
    EXPECT_EQ(std::string(s.by_pid(child.pid())->path), shown);
    EXPECT_EQ(s.by_pid(child.pid())->name, gone_name);
}

TEST(ProcessSnapshot, ZombiesAreNotRunning)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(0);
    // Until it is reaped the child is a zombie.
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            std::string stat = qel_test::read_file("/proc/" + std::to_string(child) + "/stat");
            size_t paren = stat.rfind(')');
            return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
        },
        5000));
    EXPECT_EQ(snapshot_holder().by_pid(child), nullptr);
    waitpid(child, nullptr, 0);
}
