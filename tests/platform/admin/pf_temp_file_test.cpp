// The rewriters' lock on a file: a second locker waits as long as it was told and then
// fails, and one that waited on a file that was replaced meanwhile locks the new file.
#include "platform/admin/pf_temp_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace
{

std::string read_all(FILE *file)
{
    std::string text;
    int c;
    while ((c = fgetc(file)) != EOF)
        text.push_back(static_cast<char>(c));
    return text;
}

class PfTempFileLock : public testing::Test
{
  protected:
    PfTempFileLock() { dir.write("qel_ip.cfg", "A=1\n"); }
    qel_test::temp_dir dir;
    const std::string path = dir.file("qel_ip.cfg");
};

TEST_F(PfTempFileLock, ASecondLockerWaitsItsBoundThenFails)
{
    FILE *first = pf_temp_file_open_locked(path.c_str(), 0);
    ASSERT_NE(first, nullptr);
    errno = 0;
    EXPECT_EQ(pf_temp_file_open_locked(path.c_str(), 20), nullptr);
    EXPECT_EQ(errno, EWOULDBLOCK);
    fclose(first);
    FILE *second = pf_temp_file_open_locked(path.c_str(), 0);
    ASSERT_NE(second, nullptr) << "closing the stream released the lock";
    EXPECT_EQ(read_all(second), "A=1\n");
    fclose(second);
    errno = 0;
    EXPECT_EQ(pf_temp_file_open_locked(dir.file("absent.cfg").c_str(), 0), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(PfTempFileLock, AWaiterOnAReplacedFileLocksTheNewOne)
{
    FILE *rewriter = pf_temp_file_open_locked(path.c_str(), 0);
    ASSERT_NE(rewriter, nullptr);

    std::string seen = "nothing";
    std::thread waiter(
        [&]
        {
            FILE *file = pf_temp_file_open_locked(path.c_str(), 60000);
            if (file == nullptr)
                return;
            seen = read_all(file);
            // Still the holder while the rewriter is done: no one else got in.
            EXPECT_EQ(pf_temp_file_open_locked(path.c_str(), 0), nullptr);
            fclose(file);
        });
    char temp[4096];
    FILE *out = pf_temp_file_create_beside(path.c_str(), temp, sizeof temp);
    ASSERT_NE(out, nullptr);
    fputs("A=1\nB=2\n", out);
    ASSERT_EQ(pf_temp_file_close_synced(out), 0);
    ASSERT_EQ(pf_temp_file_replace(temp, path.c_str()), 0);
    fclose(rewriter);
    waiter.join();
    EXPECT_EQ(seen, "A=1\nB=2\n") << "the waiter read the file as the rewrite left it";
}

} // namespace
