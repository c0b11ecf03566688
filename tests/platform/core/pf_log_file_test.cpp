// The rule every logger of the system keeps for its files: two writers of one folder each
// keep their own file under its name through the other's roll, a file a crashed writer
// left still rolls, rolls at the same time never replace a repository file, a roll or a
// start that another program overtakes between two of its steps harms no file, files are
// their owner's alone whatever the umask, a line goes out whole or not at all (taking back
// only its own bytes), and a spell of failing writes is said once as it begins and once as
// it ends, or as its file is closed.
#include "platform/core/pf_log_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/pf_file.h"
#include "support/full_disk.h"
#include "support/test_support.h"

namespace
{

struct stat_result
{
    bool exists;
    ino_t inode;
    off_t size;
    mode_t mode;
};

stat_result status_of(const std::string &path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return {false, 0, 0, 0};
    return {true, info.st_ino, info.st_size, info.st_mode & 0777};
}

bool append(int descriptor, const std::string &text)
{
    return pf_log_file_append(descriptor, text.data(), text.size());
}

// The folder's "<name>_text.*.current.*" files rolled as a logger of that name rolls them.
int roll_logger(const qel_test::temp_dir &dir, const std::string &name)
{
    uint32_t counter = 1;
    return pf_log_files_roll(dir.file(name + "_text.*.current.*").c_str(), &counter);
}

// Another program's steps, taken at the first time the rule reaches the step `at`: the
// interleaving a scheduler gives only now and then, every time.
class step_once
{
  public:
    step_once(pf_log_step at, std::function<void(int descriptor)> act) : m_at(at), m_act(std::move(act))
    {
        pf_log_file_set_step_hook(call, this);
    }
    ~step_once() { pf_log_file_set_step_hook(nullptr, nullptr); }
    step_once(const step_once &) = delete;
    step_once &operator=(const step_once &) = delete;
    bool done() const { return m_done; }

  private:
    static void call(pf_log_step step, const char *, int descriptor, void *context)
    {
        step_once *self = static_cast<step_once *>(context);
        if (step != self->m_at || self->m_done)
            return;
        self->m_done = true; // the other program's own steps pass
        self->m_act(descriptor);
    }
    pf_log_step m_at;
    std::function<void(int)> m_act;
    bool m_done = false;
};

} // namespace

TEST(PfLogFile, TwoLoggersOfOneNameKeepTheirOwnFilesThroughEachOthersRolls)
{
    qel_test::temp_dir dir;
    // The gateway and qelstat both log as main, each under its own start's stamp.
    const std::string gateway = dir.file("main_text.20990101.000001.current.txt");
    const std::string qelstat = dir.file("main_text.20990101.000002.current.txt");
    int gateway_file = pf_log_file_open(gateway.c_str(), PF_LOG_START_EMPTY);
    ASSERT_GE(gateway_file, 0);
    ASSERT_TRUE(append(gateway_file, "gateway 1\n"));
    const stat_result gateway_before = status_of(gateway);

    // qelstat starts: its roll leaves the gateway's file, then it opens its own.
    ASSERT_EQ(roll_logger(dir, "main"), 0);
    int qelstat_file = pf_log_file_open(qelstat.c_str(), PF_LOG_APPEND);
    ASSERT_GE(qelstat_file, 0);
    ASSERT_TRUE(append(qelstat_file, "qelstat 1\n"));
    // The gateway restarts (its own file closed, so rolled) while qelstat writes on.
    pf_file_close(gateway_file);
    ASSERT_EQ(roll_logger(dir, "main"), 0);
    EXPECT_EQ(qel_test::read_file(dir.file("main_text.20990101.000001.repository.txt")), "gateway 1\n");
    EXPECT_FALSE(status_of(gateway).exists);
    const stat_result qelstat_before = status_of(qelstat);
    ASSERT_TRUE(qelstat_before.exists) << "qelstat's live file kept its name";
    ASSERT_TRUE(append(qelstat_file, "qelstat 2\n"));
    EXPECT_EQ(status_of(qelstat).inode, qelstat_before.inode);
    EXPECT_EQ(qel_test::read_file(qelstat), "qelstat 1\nqelstat 2\n");
    EXPECT_NE(gateway_before.inode, 0u);

    // qelstat's own roll at its end takes its file once it has let it go.
    pf_file_close(qelstat_file);
    ASSERT_EQ(roll_logger(dir, "main"), 0);
    EXPECT_EQ(qel_test::read_file(dir.file("main_text.20990101.000002.repository.txt")),
              "qelstat 1\nqelstat 2\n");
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"main_text.20990101.000001.repository.txt",
                                                    "main_text.20990101.000002.repository.txt"}));
}

TEST(PfLogFile, OpenHoldsCreatesWithTheModeAndEmptiesOnlyAFileNoOneElseHolds)
{
    qel_test::temp_dir dir;
    const std::string path = dir.file("main_text.20990101.000001.current.txt");
    mode_t old_mask = umask(0);
    int first = pf_log_file_open(path.c_str(), PF_LOG_START_EMPTY);
    umask(0277); // a mask that would leave the owner unable to write
    int other = pf_log_file_open(dir.file("other.current.txt").c_str(), PF_LOG_APPEND);
    umask(old_mask);
    ASSERT_GE(first, 0);
    ASSERT_GE(other, 0);
    EXPECT_EQ(status_of(path).mode, 0600u);
    EXPECT_EQ(status_of(dir.file("other.current.txt")).mode, 0600u);
    pf_file_close(other);
    ASSERT_TRUE(append(first, "first writer\n"));
    uint32_t counter = 1;
    EXPECT_EQ(
        pf_log_file_roll(path.c_str(), dir.file("main_text.20990101.000001.").c_str(), ".txt", &counter),
        PF_LOG_ROLL_HELD);

    // A second writer of the same name and second (two programs started together) writes
    // beside the first instead of wiping its lines.
    int second = pf_log_file_open(path.c_str(), PF_LOG_START_EMPTY);
    ASSERT_GE(second, 0);
    ASSERT_TRUE(append(second, "second writer\n"));
    ASSERT_TRUE(append(first, "first again\n"));
    EXPECT_EQ(qel_test::read_file(path), "first writer\nsecond writer\nfirst again\n");
    pf_file_close(first);
    pf_file_close(second);

    // Alone, a start empties what an earlier run left.
    int third = pf_log_file_open(path.c_str(), PF_LOG_START_EMPTY);
    ASSERT_GE(third, 0);
    ASSERT_TRUE(append(third, "third\n"));
    EXPECT_EQ(qel_test::read_file(path), "third\n");
    pf_file_close(third);

    EXPECT_EQ(pf_log_file_open(dir.file("no/such/folder/x.txt").c_str(), PF_LOG_APPEND), -1);
}

TEST(PfLogFile, AFileACrashedWriterLeftStillRolls)
{
    qel_test::temp_dir dir;
    const std::string path = dir.file("main_text.20990101.000001.current.txt");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        int file = pf_log_file_open(path.c_str(), PF_LOG_START_EMPTY);
        bool written = file >= 0 && append(file, "before the crash\n");
        char done = written ? 1 : 0;
        if (write(ready[1], &done, 1) != 1)
            _exit(2);
        pause(); // killed with the file open
        _exit(0);
    }
    close(ready[1]);
    char done = 0;
    ASSERT_EQ(read(ready[0], &done, 1), 1);
    close(ready[0]);
    ASSERT_EQ(done, 1);
    ASSERT_EQ(roll_logger(dir, "main"), 0);
    EXPECT_TRUE(status_of(path).exists) << "the live writer's file stays";

    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(roll_logger(dir, "main"), 0);
    EXPECT_FALSE(status_of(path).exists);
    EXPECT_EQ(qel_test::read_file(dir.file("main_text.20990101.000001.repository.txt")),
              "before the crash\n");
}

TEST(PfLogFile, RollsAtTheSameTimeNeverReplaceARepositoryFile)
{
    qel_test::temp_dir dir;
    // Two programs that restart in the same second make one "current" name again and
    // again, and each rolls what it finds under it: every file made must survive under a
    // name of its own.
    const std::string path = dir.file("main_text.20990101.000001.current.txt");
    const std::string head = dir.file("main_text.20990101.000001.");
    const int k_files_each = 150;
    std::atomic<int> failures{0};
    auto program = [&](char who)
    {
        for (int i = 0; i < k_files_each; ++i)
        {
            std::string line = std::string(1, who) + std::to_string(i) + "\n";
            int file = -1;
            while ((file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)) < 0)
            {
                uint32_t counter = 1;
                if (pf_log_file_roll(path.c_str(), head.c_str(), ".txt", &counter) == PF_LOG_ROLL_FAILED)
                    ++failures;
            }
            if (!append(file, line))
                ++failures;
            pf_file_close(file);
            uint32_t counter = 1;
            if (pf_log_file_roll(path.c_str(), head.c_str(), ".txt", &counter) == PF_LOG_ROLL_FAILED)
                ++failures;
        }
    };
    std::thread a(program, 'a');
    std::thread b(program, 'b');
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);

    std::multiset<std::string> lines;
    for (const std::string &name : dir.list())
    {
        EXPECT_NE(name.find(".repository."), std::string::npos) << name;
        lines.insert(dir.read(name));
    }
    EXPECT_EQ(lines.size(), 2u * k_files_each);
    for (char who : {'a', 'b'})
    {
        for (int i = 0; i < k_files_each; ++i)
            EXPECT_EQ(lines.count(std::string(1, who) + std::to_string(i) + "\n"), 1u) << who << i;
    }
}

TEST(PfLogFile, RollNumbersOnPastTakenNamesWithOneCounter)
{
    qel_test::temp_dir dir;
    dir.write("main_text.1.current.txt", "one");
    dir.write("main_text.1.repository.txt", "kept");
    dir.write("main_text.2.current.txt", "two");
    dir.write("main_text.2.repository.txt", "kept too");
    dir.write("main_text.3.current.txt", "three");
    ASSERT_EQ(roll_logger(dir, "main"), 0);
    EXPECT_EQ(dir.list(),
              (std::vector<std::string>{"main_text.1.repository.1.txt", "main_text.1.repository.txt",
                                        "main_text.2.repository.2.txt", "main_text.2.repository.txt",
                                        "main_text.3.repository.txt"}));
    EXPECT_EQ(dir.read("main_text.1.repository.txt"), "kept");
    EXPECT_EQ(dir.read("main_text.2.repository.2.txt"), "two");
}

TEST(PfLogFile, ALineThatCannotGoOutWholeLeavesNothingBehind)
{
    qel_test::temp_dir dir;
    const std::string path = dir.file("main_binary.20990101.000001.current.dat");
    int file = pf_log_file_open(path.c_str(), PF_LOG_APPEND);
    ASSERT_GE(file, 0);
    ASSERT_TRUE(append(file, "0123456789\n"));
    {
        // Room for five bytes more: the next line goes out in part, then fails.
        qel_test::file_size_cap cap(16);
        errno = 0;
        EXPECT_FALSE(append(file, "a line of twenty-six bytes\n"));
        EXPECT_EQ(errno, EFBIG);
        EXPECT_EQ(status_of(path).size, 11) << "the part that went out was taken back";
        cap.lift();
        EXPECT_TRUE(append(file, "after\n"));
    }
    pf_file_close(file);
    EXPECT_EQ(qel_test::read_file(path), "0123456789\nafter\n");
}

TEST(PfLogFile, ASpellOfFailingWritesIsSaidOnceAsItBeginsAndOnceAsItEnds)
{
    qel_test::stderr_capture capture;
    pf_log_write_watch watch = {};
    const char *path = "/logs/main_text.20990101.000001.current.txt";
    // The writes' results at given ticks.
    auto note = [&](uint32_t tick, bool written, int error = 0)
    { return pf_log_write_turn_at(&watch, path, written, error, tick); };
    EXPECT_EQ(pf_log_write_note(&watch, path, true, 0), PF_LOG_WRITES_AS_BEFORE);
    EXPECT_EQ(capture.text(), "");
    const uint32_t start = 0xFFFFFF00u; // the tick count wraps during the spell
    EXPECT_EQ(note(start, false, ENOSPC), PF_LOG_WRITES_FAILING);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(note(start + 10, false, ENOSPC), PF_LOG_WRITES_AS_BEFORE);
    EXPECT_EQ(capture.text(),
              "Log writes to [/logs/main_text.20990101.000001.current.txt] are failing ([No space "
              "left on device]): lines are lost until they succeed again\n");

    // A short line that fits in what a full disk has left, between longer ones that do
    // not, ends no spell.
    EXPECT_EQ(note(start + 10 + PF_LOG_SPELL_QUIET_MS - 1, true), PF_LOG_WRITES_AS_BEFORE);
    EXPECT_EQ(note(start + 2000, false, ENOSPC), PF_LOG_WRITES_AS_BEFORE);
    EXPECT_EQ(note(start + 2000 + PF_LOG_SPELL_QUIET_MS - 1, true), PF_LOG_WRITES_AS_BEFORE);
    EXPECT_EQ(qel_test::count_of(capture.text(), "Log writes to"), 1u);

    // Writes that go on succeeding for a second end it, with the lines lost.
    EXPECT_EQ(note(start + 2000 + PF_LOG_SPELL_QUIET_MS, true), PF_LOG_WRITES_RESUMED);
    EXPECT_EQ(watch.lost, 5u);
    EXPECT_EQ(pf_log_write_note(&watch, path, true, 0), PF_LOG_WRITES_AS_BEFORE);
    EXPECT_EQ(qel_test::count_of(capture.text(), "Log writes to"), 2u);
    EXPECT_NE(
        capture.text().find("Log writes to [/logs/main_text.20990101.000001.current.txt] succeed again: "
                            "[5] lines were lost\n"),
        std::string::npos)
        << capture.text();

    // A second spell counts afresh.
    EXPECT_EQ(note(7, false, EFBIG), PF_LOG_WRITES_FAILING);
    EXPECT_EQ(note(7 + PF_LOG_SPELL_QUIET_MS, true), PF_LOG_WRITES_RESUMED);
    EXPECT_EQ(watch.lost, 1u);
    char text[256];
    pf_log_writes_resumed_text(text, sizeof text, "x.txt", 7);
    EXPECT_STREQ(text, "Log writes to [x.txt] succeed again: [7] lines were lost");
}

// Standard error on the full disk too (the gateway's goes to a file beside its logs): what
// it cannot take is kept and said, in order, before the next line once it can, the first
// PF_LOG_SAID_KEPT lines whole and the rest counted.
TEST(PfLogFile, WhatStandardErrorCannotTakeIsSaidOnceItCan)
{
    qel_test::temp_dir dir;
    const std::string file = dir.file("qel_text_log_default.txt");
    fflush(stderr);
    const int saved = dup(2);
    const int redirected = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ASSERT_GE(redirected, 0);
    dup2(redirected, 2);
    close(redirected);
    std::vector<pf_log_write_watch> watches(PF_LOG_SAID_KEPT + 3);
    auto path = [](size_t i) { return "/logs/f" + std::to_string(i) + ".txt"; };
    {
        qel_test::file_size_cap cap(0);
        for (size_t i = 0; i < watches.size(); ++i)
            pf_log_write_turn_at(&watches[i], path(i).c_str(), false, ENOSPC, 0);
        EXPECT_EQ(status_of(file).size, 0);
    }
    EXPECT_EQ(pf_log_write_turn_at(&watches[0], path(0).c_str(), true, 0, PF_LOG_SPELL_QUIET_MS),
              PF_LOG_WRITES_RESUMED);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);

    std::string expected;
    for (size_t i = 0; i < PF_LOG_SAID_KEPT; ++i)
        expected += "Log writes to [" + path(i) +
                    "] are failing ([No space left on device]): lines are lost until they succeed again\n";
    expected += "[3] more lines were lost while standard error could not be written\n"
                "Log writes to [/logs/f0.txt] succeed again: [1] lines were lost\n";
    EXPECT_EQ(qel_test::read_file(file), expected);
}

// A file found without its name while standard error cannot take a line (a clean-up of a
// full disk) is said in its turn, once standard error takes lines again.
TEST(PfLogFile, AFileFoundWithoutItsNameIsSaidOnceStandardErrorCanTakeIt)
{
    qel_test::temp_dir dir;
    const std::string file = dir.file("qel_text_log_default.txt");
    fflush(stderr);
    const int saved = dup(2);
    const int redirected = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ASSERT_GE(redirected, 0);
    dup2(redirected, 2);
    close(redirected);
    char text[512];
    {
        qel_test::file_size_cap cap(0);
        pf_log_name_lost_say(text, sizeof text, "/logs/a.txt", 4, true);
        EXPECT_EQ(status_of(file).size, 0);
    }
    pf_log_write_watch watch = {};
    pf_log_write_turn_at(&watch, "/logs/b.txt", false, ENOSPC, 0);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);

    EXPECT_EQ(
        qel_test::read_file(file),
        "Log file [/logs/a.txt] no longer stood under its name (removed or moved by another program): the "
        "[4] lines written since it was last seen there went with it; written under its name again\n"
        "Log writes to [/logs/b.txt] are failing ([No space left on device]): lines are lost until they "
        "succeed again\n");
}

TEST(PfLogFile, ARollOvertakenByAnotherMovesNoFileItDoesNotHold)
{
    qel_test::temp_dir dir;
    const std::string path = dir.file("main_text.20990101.000001.current.txt");
    const std::string head = dir.file("main_text.20990101.000001.");
    uint32_t counter = 1;

    // The roll has the dead file open when another program rolls it and a writer of the
    // same name and second starts: the lock it then takes is the old file's.
    dir.write("main_text.20990101.000001.current.txt", "a dead writer's line\n");
    int writer = -1;
    {
        step_once other(PF_LOG_STEP_ROLL_OPENED,
                        [&](int)
                        {
                            uint32_t own = 1;
                            EXPECT_EQ(pf_log_file_roll(path.c_str(), head.c_str(), ".txt", &own),
                                      PF_LOG_ROLLED);
                            writer = pf_log_file_open(path.c_str(), PF_LOG_APPEND);
                        });
        EXPECT_EQ(pf_log_file_roll(path.c_str(), head.c_str(), ".txt", &counter), PF_LOG_ROLLED);
        EXPECT_TRUE(other.done());
    }
    ASSERT_GE(writer, 0);
    EXPECT_TRUE(pf_file_still_named(writer, path.c_str())) << "the live writer's file was moved";
    ASSERT_TRUE(append(writer, "the live writer's line\n"));
    EXPECT_EQ(qel_test::read_file(path), "the live writer's line\n");
    EXPECT_EQ(dir.read("main_text.20990101.000001.repository.txt"), "a dead writer's line\n");

    // The roll finds no file (another program rolled it after the search), and a writer
    // starts before the roll's next step.
    pf_file_close(writer);
    ASSERT_EQ(pf_log_file_roll(path.c_str(), head.c_str(), ".txt", &counter), PF_LOG_ROLLED);
    writer = -1;
    {
        step_once other(PF_LOG_STEP_ROLL_OPENED,
                        [&](int descriptor)
                        {
                            EXPECT_EQ(descriptor, -1);
                            writer = pf_log_file_open(path.c_str(), PF_LOG_APPEND);
                        });
        EXPECT_EQ(pf_log_file_roll(path.c_str(), head.c_str(), ".txt", &counter), PF_LOG_ROLLED);
    }
    ASSERT_GE(writer, 0);
    EXPECT_TRUE(pf_file_still_named(writer, path.c_str())) << "the live writer's file was moved";
    pf_file_close(writer);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"main_text.20990101.000001.current.txt",
                                                    "main_text.20990101.000001.repository.1.txt",
                                                    "main_text.20990101.000001.repository.txt"}));
}

TEST(PfLogFile, AStartThatEmptiesItsFileEmptiesNothingRolledAwayMeanwhile)
{
    qel_test::temp_dir dir;
    const std::string path = dir.file("main_text.20990101.000001.current.txt");
    dir.write("main_text.20990101.000001.current.txt", "an earlier run's lines\n");
    // Between the start's open and its lock, another program rolls the file it opened.
    step_once other(PF_LOG_STEP_WRITER_OPENED,
                    [&](int)
                    {
                        uint32_t counter = 1;
                        EXPECT_EQ(pf_log_file_roll(path.c_str(),
                                                   dir.file("main_text.20990101.000001.").c_str(), ".txt",
                                                   &counter),
                                  PF_LOG_ROLLED);
                    });
    int file = pf_log_file_open(path.c_str(), PF_LOG_START_EMPTY);
    ASSERT_GE(file, 0);
    EXPECT_TRUE(other.done());
    EXPECT_TRUE(pf_file_still_named(file, path.c_str()));
    ASSERT_TRUE(append(file, "this run\n"));
    pf_file_close(file);
    EXPECT_EQ(dir.read("main_text.20990101.000001.repository.txt"), "an earlier run's lines\n");
    EXPECT_EQ(qel_test::read_file(path), "this run\n");
}

TEST(PfLogFile, ATakeBackTouchesOnlyItsOwnBytesOfASharedFile)
{
    qel_test::temp_dir dir;
    const std::string path = dir.file("main_text.20990101.000001.current.txt");
    int mine = pf_log_file_open(path.c_str(), PF_LOG_APPEND);
    int theirs = pf_log_file_open(path.c_str(), PF_LOG_APPEND); // another program of the same name
    ASSERT_GE(mine, 0);
    ASSERT_GE(theirs, 0);
    ASSERT_TRUE(append(mine, "0123456789\n"));
    {
        // Five bytes of the line go out; the other program appends its line before the
        // take-back (its disk has room again).
        qel_test::file_size_cap cap(16);
        step_once other(PF_LOG_STEP_WRITE_CUT_SHORT,
                        [&](int)
                        {
                            cap.lift();
                            EXPECT_TRUE(append(theirs, "the other program's line\n"));
                        });
        EXPECT_FALSE(append(mine, "a line of twenty-six bytes\n"));
        EXPECT_TRUE(other.done());
    }
    EXPECT_EQ(qel_test::read_file(path), "0123456789\na linthe other program's line\n")
        << "only the part that is this writer's own may go, and only from the end";

    // Nothing after the part, but another program holds the file and may append after it
    // at any moment: the part stays.
    {
        qel_test::file_size_cap cap(status_of(path).size + 3);
        EXPECT_FALSE(append(mine, "cut short\n"));
    }
    EXPECT_EQ(qel_test::read_file(path), "0123456789\na linthe other program's line\ncut");
    ASSERT_TRUE(append(theirs, "\n"));
    pf_file_close(theirs);

    // Alone with the file again: the part is taken back.
    const off_t before = status_of(path).size;
    {
        qel_test::file_size_cap cap(before + 3);
        EXPECT_FALSE(append(mine, "cut short\n"));
    }
    EXPECT_EQ(status_of(path).size, before);
    pf_file_close(mine);
}

TEST(PfLogFile, AFileClosedWhileItsWritesFailSaysTheLinesLost)
{
    qel_test::stderr_capture capture;
    pf_log_write_watch watch = {};
    const char *path = "/logs/main_text.20990101.000001.current.txt";
    EXPECT_FALSE(pf_log_write_watch_close(&watch, path));
    EXPECT_EQ(pf_log_write_turn_at(&watch, path, false, ENOSPC, 10), PF_LOG_WRITES_FAILING);
    EXPECT_EQ(watch.error, ENOSPC);
    EXPECT_EQ(pf_log_write_turn_at(&watch, path, false, ENOSPC, 20), PF_LOG_WRITES_AS_BEFORE);
    EXPECT_TRUE(pf_log_write_watch_close(&watch, path));
    EXPECT_FALSE(watch.failing);
    EXPECT_FALSE(pf_log_write_watch_close(&watch, path)) << "said once";
    EXPECT_EQ(qel_test::count_of(capture.text(),
                                 "Log writes to [/logs/main_text.20990101.000001.current.txt] "
                                 "were still failing when it was closed: [2] lines were lost\n"),
              1u)
        << capture.text();
}

// A clean-up takes the folder of an open file: writers that open files in it at once (the
// gateway's threads, qelstat beside it) make it again, one of them says so, and the open
// file's next write looks at once, without waiting out the look's five seconds.
TEST(PfLogFile, AMissingFolderIsMadeAndSaidOnceAndEveryOpenFileLooksAtItsNextWrite)
{
    qel_test::temp_dir dir;
    const std::string folder = dir.file("logs/day");
    const std::string open_before = folder + "/main_text.current.txt";
    int before = -1;
    {
        qel_test::stderr_capture capture;
        before = pf_log_file_open_making_folder(open_before.c_str(), PF_LOG_APPEND, nullptr, 0);
        ASSERT_GE(before, 0) << "the folder and the one above it are made at the first open";
        EXPECT_EQ(capture.text(),
                  "Log folder [" + folder +
                      "] was missing (never made, or removed by a clean-up): made it to write [" +
                      open_before + "]\n");
    }
    EXPECT_EQ(status_of(dir.file("logs")).mode, 0700u);
    pf_log_name_watch watch;
    pf_log_name_watch_opened(&watch, 1000);
    EXPECT_FALSE(pf_log_name_watch_lost(&watch, before, open_before.c_str(), 1001));

    ASSERT_EQ(qel_test::run_process({"/bin/rm", "-rf", dir.file("logs")}, "/", 20000).exit_code, 0);
    const int writers = 8;
    std::vector<std::string> said(writers);
    std::vector<int> descriptors(writers, -1);
    {
        qel_test::stderr_capture capture;
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < writers; ++i)
            threads.emplace_back(
                [&, i]
                {
                    char text[1024];
                    const std::string path = folder + "/thread" + std::to_string(i) + "_text.current.txt";
                    ++ready;
                    while (ready.load() < writers)
                    {
                    }
                    descriptors[i] =
                        pf_log_file_open_making_folder(path.c_str(), PF_LOG_APPEND, text, sizeof text);
                    said[i] = text;
                });
        for (std::thread &thread : threads)
            thread.join();
        const std::string text = capture.text();
        EXPECT_EQ(
            qel_test::count_of(text, "Log folder [" + folder +
                                         "] was missing (never made, or removed by a clean-up): made it "
                                         "to write [" +
                                         folder + "/thread"),
            1u)
            << text;
        EXPECT_EQ(qel_test::count_of(text, "\n"), 1u) << text;
    }
    size_t saying = 0;
    for (int i = 0; i < writers; ++i)
    {
        EXPECT_GE(descriptors[i], 0) << i;
        saying += said[i].empty() ? 0 : 1;
        close(descriptors[i]);
    }
    EXPECT_EQ(saying, 1u) << "the writer that made it has the line for its own log";
    EXPECT_EQ(status_of(dir.file("logs")).mode, 0700u);
    EXPECT_EQ(status_of(folder).mode, 0700u);

    // Within its five seconds, the open file looks at once and finds its name gone.
    EXPECT_TRUE(pf_log_name_watch_lost(&watch, before, open_before.c_str(), 1002));
    EXPECT_FALSE(pf_log_name_watch_lost(&watch, before, open_before.c_str(), 1003)) << "one look";
    close(before);

    // A folder that cannot be made: the open fails with its reason, and nothing is said.
    dir.write("not_a_folder", "");
    qel_test::stderr_capture capture;
    char text[1024] = "left";
    errno = 0;
    EXPECT_EQ(pf_log_file_open_making_folder(dir.file("not_a_folder/x.txt").c_str(), PF_LOG_APPEND, text,
                                             sizeof text),
              -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(capture.text(), "");
}
